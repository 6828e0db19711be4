// Starting, running, stopping, pausing and ending a job.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <pthread.h>
#include <sched.h>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/loader.h"

namespace quillon {

namespace {

// Idle runs under the idle scheduler; lowest and lower are nice values.
void apply_priority(TConvertPriority priority)
{
    switch (priority) {
    case tpIdle: {
        sched_param parameters{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters);
        break;
    }
    case tpLowest: setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 15); break;
    case tpLower: setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5); break;
    case tpNormal: break;
    }
}

} // namespace

bool TCustomFFmpeg::start_job(bool threaded, TConvertPriority priority)
{
    std::unique_lock lifecycle(lifecycle_mutex);
    if (running || terminated) return false;
    const char* missing = output_files.empty() ? "At least one output file must be specified"
                          : input_files.empty() ? "At least one input file must be specified"
                                                : nullptr;
    if (missing) {
        terminated = true; // the end report below is this job's only one
        lifecycle.unlock();
        release_job();
        fail_job(missing);
        finish_job();
        return false;
    }
    running = true;
    stop_requested = finished = terminated = false;
    if (!threaded) {
        lifecycle.unlock();
        run_job();
        return false;
    }
    join_worker();
    worker_active = true;
    {
        std::lock_guard guard(pause_mutex);
        paused = true; // created suspended: the caller resumes it with resume_job
    }
    worker_thread = std::thread([this, priority] {
        apply_float_setting();
        apply_priority(priority);
        wait_while_paused();
        run_job();
    });
    return true;
}

void TCustomFFmpeg::fail_job(const std::string& message)
{
    log(-1, message);
    failed = true;
    error_message = message;
}

void TCustomFFmpeg::run_job()
{
    finished = false;
    try {
        run_pipeline();
    } catch (const std::exception& e) {
        fail_job(e.what());
    }
    try {
        close_open_codecs();
        free_stream_tables();
        release_job();
    } catch (const std::exception& e) {
        if (!failed) fail_job(e.what());
    }
    finish_job();
}

void TCustomFFmpeg::finish_job()
{
    running = false;
    terminated = true;
    if (terminate_sink) terminate_sink(*this);
    // The worker's last act: from here on its owner may join it.
    std::lock_guard guard(worker_mutex);
    worker_active = false;
    worker_done.notify_all();
}

// Waits until the worker has reported its end, serving the caller's
// hand-offs meanwhile, then joins it.
void TCustomFFmpeg::wait_for_worker()
{
    std::unique_lock lock(worker_mutex);
    while (worker_active) {
        lock.unlock();
        if (wait_service) wait_service();
        lock.lock();
        worker_done.wait_for(lock, std::chrono::milliseconds(10));
    }
    lock.unlock();
    join_worker();
}

void TCustomFFmpeg::join_worker()
{
    if (worker_thread.joinable() && worker_thread.get_id() != std::this_thread::get_id()) worker_thread.join();
}

void TCustomFFmpeg::stop_job()
{
    stop_requested = true;
    {
        std::lock_guard lifecycle(lifecycle_mutex);
        if (!worker_thread.joinable()) return;
        if (worker_thread.get_id() == std::this_thread::get_id()) return; // a sink may stop its own job
    }
    resume_job();
    wait_for_worker();
}

void TCustomFFmpeg::terminate_job()
{
    std::unique_lock lifecycle(lifecycle_mutex);
    if (running) {
        lifecycle.unlock();
        stop_job();
        return;
    }
    if (terminated) return;
    terminated = true; // claims the end report: start_job now refuses the job
    lifecycle.unlock();
    report_end_from_short_thread();
}

// A job that never ran reports its end from a short-lived thread; the caller
// waits for it and serves its hand-offs meanwhile.
void TCustomFFmpeg::report_end_from_short_thread()
{
    std::mutex done_mutex;
    std::condition_variable done_changed;
    bool done = false;
    std::thread reporter([&] {
        apply_float_setting();
        finish_job();
        std::lock_guard guard(done_mutex);
        done = true;
        done_changed.notify_all();
    });
    std::unique_lock lock(done_mutex);
    while (!done) {
        lock.unlock();
        if (wait_service) wait_service();
        lock.lock();
        done_changed.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; });
    }
    lock.unlock();
    reporter.join();
}

void TCustomFFmpeg::pause_job()
{
    std::lock_guard lifecycle(lifecycle_mutex);
    std::lock_guard guard(pause_mutex);
    if (worker_thread.joinable() && running) paused = true;
}

void TCustomFFmpeg::resume_job()
{
    std::lock_guard guard(pause_mutex);
    paused = false;
    pause_changed.notify_all();
}

// The worker's pause gate, checked between packets and before each duplicate.
void TCustomFFmpeg::wait_while_paused()
{
    std::unique_lock lock(pause_mutex);
    pause_changed.wait(lock, [this] { return !paused || stop_requested; });
}

} // namespace quillon
