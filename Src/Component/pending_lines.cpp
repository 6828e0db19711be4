#include "Component/pending_lines.h"

namespace quillon {

std::string TLogList::Pending(std::thread::id thread)
{
    std::lock_guard guard(lock_);
    auto found = pending_.find(thread);
    return found == pending_.end() ? std::string() : found->second;
}

void TLogList::SetPending(std::thread::id thread, std::string text)
{
    std::lock_guard guard(lock_);
    pending_[thread] = std::move(text);
}

void TLogList::Clear()
{
    std::lock_guard guard(lock_);
    pending_.clear();
}

TLogList& pending_log_lines()
{
    static TLogList* store = new TLogList;
    return *store;
}

} // namespace quillon
