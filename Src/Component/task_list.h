// TFFmpegList: the component's tasks behind one lock, with a cached count.
// The list owns its tasks; removing hands a task back to the caller, who
// frees it outside the lock (freeing waits for the task's worker, and a
// worker may need the lock to report).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Component/ffmpeg_task.h"

namespace quillon {

class TFFmpegList {
public:
    int Count() const { return count_.load(); }

    // Appends the task; its Index becomes its position, which is returned.
    int Add(std::unique_ptr<TFFmpeg> task);
    // The task at the index; std::out_of_range when there is none.
    TFFmpeg& Get(int index) const;
    // The task at the index, or none.
    TFFmpeg* Find(int index) const;
    // The first task run by the thread, or none.
    TFFmpeg* FindByThread(std::thread::id thread) const;
    // Every task, in list order.
    std::vector<TFFmpeg*> Snapshot() const;
    // Calls the action for every task, in list order, under the lock.
    void ForEach(const std::function<void(TFFmpeg&)>& action) const;

    // Takes the task out of the list and renumbers those after it;
    // std::out_of_range when there is none.
    std::unique_ptr<TFFmpeg> Extract(int index);
    std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();

private:
    void check_index(int index) const;

    mutable std::mutex lock_;
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
    std::atomic<int> count_{0};
};

} // namespace quillon
