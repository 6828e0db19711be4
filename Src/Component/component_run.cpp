// Running the task list: starting tasks in order on the calling thread or on
// workers, stopping, pausing and resuming them.
#include "Component/conversion_component.h"
#include "Component/pending_lines.h"
#include "Component/serving_lock.h"

namespace quillon {

void TCustomConversionComponent::StartConvert(int thread_count)
{
    pending_log_lines().Clear();
    {
        ServingLock run(*this, run_lock_);
        {
            ServingLock events(*this, event_lock_);
            finished_count_ = 0;
            end_reported_ = false;
        }
        next_index_ = 0;
        threaded_ = thread_count > 0;
        paused_ = false;
        remaining_ = TaskCount();
    }
    while (remaining_ > 0) {
        StartNextTask();
        if (threaded_ && --thread_count <= 0) break;
    }
}

// Claims the next task and starts it. A worker is created and let go under
// the run lock, so the list order holds and a stop or pause on another thread
// sees every task either not started or started completely; a sequential run
// happens outside the lock.
void TCustomConversionComponent::StartNextTask()
{
    std::unique_lock run(run_lock_);
    if (remaining_ <= 0) return;
    --remaining_;
    TFFmpeg* task = tasks_.Find(next_index_++);
    if (!task) return; // removed meanwhile
    PrepareStart(*task);
    if (threaded_) {
        StartWorker(*task);
        return;
    }
    run.unlock();
    task->ThreadID = std::this_thread::get_id();
    task->start_job(false);
}

void TCustomConversionComponent::PrepareStart(TFFmpeg& task)
{
    task.Probe.CloseFile(); // lets go of the input the run is about to read and close
    task.progress_interval_us = static_cast<int64_t>(ProgressInterval()) * 1000;
    task.set_verbosity(static_cast<int>(LogLevel()) - 1);
}

// The worker waits at its start until resumed, so its thread identifier is
// known before it prints anything. A paused run leaves it waiting.
void TCustomConversionComponent::StartWorker(TFFmpeg& task)
{
    if (!task.start_job(true, ThreadPriority())) {
        task.ThreadID = std::thread::id();
        return;
    }
    task.ThreadID = task.worker_id();
    if (!paused_) task.resume_job();
}

void TCustomConversionComponent::StopConvert()
{
    {
        ServingLock run(*this, run_lock_);
        remaining_ = 0;
    }
    for (TFFmpeg* task : tasks_.Snapshot()) task->terminate_job();
}

void TCustomConversionComponent::PauseConvert()
{
    ServingLock run(*this, run_lock_);
    paused_ = true;
    tasks_.ForEach([](TFFmpeg& task) { task.pause_job(); });
}

void TCustomConversionComponent::ResumeConvert()
{
    ServingLock run(*this, run_lock_);
    paused_ = false;
    tasks_.ForEach([](TFFmpeg& task) { task.resume_job(); });
}

} // namespace quillon
