#include "Component/task_list.h"

#include <stdexcept>
#include <string>

namespace quillon {

void TFFmpegList::check_index(int index) const
{
    if (index < 0 || index >= static_cast<int>(tasks_.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task)
{
    std::lock_guard guard(lock_);
    const int index = static_cast<int>(tasks_.size());
    task->Index = index;
    tasks_.push_back(std::move(task));
    count_ = static_cast<int>(tasks_.size());
    return index;
}

TFFmpeg& TFFmpegList::Get(int index) const
{
    std::lock_guard guard(lock_);
    check_index(index);
    return *tasks_[index];
}

TFFmpeg* TFFmpegList::Find(int index) const
{
    std::lock_guard guard(lock_);
    if (index < 0 || index >= static_cast<int>(tasks_.size())) return nullptr;
    return tasks_[index].get();
}

TFFmpeg* TFFmpegList::FindByThread(std::thread::id thread) const
{
    std::lock_guard guard(lock_);
    for (const auto& task : tasks_)
        if (task->ThreadID.load() == thread) return task.get();
    return nullptr;
}

std::vector<TFFmpeg*> TFFmpegList::Snapshot() const
{
    std::lock_guard guard(lock_);
    std::vector<TFFmpeg*> tasks;
    for (const auto& task : tasks_) tasks.push_back(task.get());
    return tasks;
}

void TFFmpegList::ForEach(const std::function<void(TFFmpeg&)>& action) const
{
    std::lock_guard guard(lock_);
    for (const auto& task : tasks_) action(*task);
}

std::unique_ptr<TFFmpeg> TFFmpegList::Extract(int index)
{
    std::lock_guard guard(lock_);
    check_index(index);
    std::unique_ptr<TFFmpeg> task = std::move(tasks_[index]);
    tasks_.erase(tasks_.begin() + index);
    for (std::size_t i = index; i < tasks_.size(); ++i) tasks_[i]->Index = static_cast<int>(i);
    count_ = static_cast<int>(tasks_.size());
    return task;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::ExtractAll()
{
    std::lock_guard guard(lock_);
    std::vector<std::unique_ptr<TFFmpeg>> tasks = std::move(tasks_);
    tasks_.clear();
    count_ = 0;
    return tasks;
}

} // namespace quillon
