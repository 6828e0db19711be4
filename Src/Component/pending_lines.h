// TLogList: the start of a library log line per thread, kept until a later
// piece from the same thread ends the line. One store for the process; it is
// cleared when a run starts and when it ends, so a half line of an earlier run
// is never glued to a new one.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace quillon {

class TLogList {
public:
    // The thread's pending text (empty when it has none).
    std::string Pending(std::thread::id thread);
    void SetPending(std::thread::id thread, std::string text);
    void Clear();

private:
    std::mutex lock_;
    std::unordered_map<std::thread::id, std::string> pending_;
};

// The process's store, never freed (the libraries may log until the end).
TLogList& pending_log_lines();

} // namespace quillon
