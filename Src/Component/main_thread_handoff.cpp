#include "Component/main_thread_handoff.h"

namespace quillon {

void TDirectHandoff::RunOnMain(const std::function<void()>& call)
{
    if (IsMainThread()) {
        call();
        return;
    }
    std::lock_guard guard(serial_);
    call();
}

void TQueuedHandoff::RunOnMain(const std::function<void()>& call)
{
    if (IsMainThread()) {
        call();
        return;
    }
    Call item{&call, false, nullptr};
    std::unique_lock lock(lock_);
    calls_.push_back(&item);
    queued_.notify_all();
    lock.unlock();
    Pending();
    lock.lock();
    finished_.wait(lock, [&] { return item.done; });
    if (item.failure) std::rethrow_exception(item.failure);
}

// Runs every queued call, the lock released around each; true when one ran.
bool TQueuedHandoff::run_queued(std::unique_lock<std::mutex>& lock)
{
    bool ran = false;
    while (!calls_.empty()) {
        Call* item = calls_.front();
        calls_.pop_front();
        lock.unlock();
        try {
            (*item->call)();
        } catch (...) {
            item->failure = std::current_exception();
        }
        lock.lock();
        item->done = true;
        finished_.notify_all();
        ran = true;
    }
    return ran;
}

void TQueuedHandoff::Serve()
{
    if (!IsMainThread()) return;
    std::unique_lock lock(lock_);
    run_queued(lock);
}

bool TQueuedHandoff::ServeFor(std::chrono::milliseconds time)
{
    if (!IsMainThread()) return false;
    std::unique_lock lock(lock_);
    queued_.wait_for(lock, time, [this] { return !calls_.empty(); });
    return run_queued(lock);
}

} // namespace quillon
