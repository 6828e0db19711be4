// The conversion component: a list of conversion tasks (one per input file),
// run one after another on the calling thread or on worker threads with a
// limit on how many run at once, and the engine's notifications turned into
// events that carry the task's index.
//
// Threads: OnLog, OnProgress and OnTerminate run on the thread that runs the
// task (a worker in threaded runs), one at a time per component (the event
// lock); OnBeforeHook and OnCustomHook run on the worker without a lock;
// OnPreviewBitmap always runs on the main thread, handed over through the
// component's TMainThreadHandoff while the worker waits.
//
// Freeing tasks (RemoveTask, ClearTasks, destruction) waits for their workers,
// end reports included, so it must never be called from an event handler
// running on a task's worker: hand that work to the main thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Component/component_events.h"
#include "Component/ffmpeg_task.h"
#include "Component/main_thread_handoff.h"
#include "Component/task_list.h"
#include "Options/options_records.h"

namespace quillon {

class TCustomConversionComponent {
public:
    TCustomConversionComponent();
    virtual ~TCustomConversionComponent();
    TCustomConversionComponent(const TCustomConversionComponent&) = delete;
    TCustomConversionComponent& operator=(const TCustomConversionComponent&) = delete;

    // Loads and binds the required libraries from the folder (empty: the
    // system's search order). False with LastError on failure.
    bool LoadFFmpeg(const std::string& library_folder);
    void UnloadFFmpeg();

    // Creates a task and opens its input; the task's index, or -1 with
    // LastError. A record with an empty FileName gets the file name.
    int AddTask(const std::string& file_name, TInputOptions* options = nullptr);
    // Configures and adds the output file of a task; false with LastError.
    // An index out of range raises std::out_of_range.
    bool AddOutput(int index, const std::string& file_name, TOutputOptions* options = nullptr);

    // Thread count <= 0: every task runs to its end inside this call, in list
    // order. N > 0: at most N tasks run at once on worker threads, in list
    // order; the call returns at once. OnTerminate with index -1 ends the run.
    void StartConvert(int thread_count);
    // No further task starts; running tasks are stopped and waited for, and
    // tasks that never ran report their end.
    void StopConvert();
    // Running tasks make no progress and raise no events until resumed.
    void PauseConvert();
    void ResumeConvert();

    // Frees the task (stopping it) and renumbers the tasks after it.
    void RemoveTask(int index);
    // Frees every task, empties LastError.
    void ClearTasks();

    int TaskCount() const { return tasks_.Count(); }
    // The prober of a task (index out of range: std::out_of_range).
    TAVProbe& AVProbes(int index) { return tasks_.Get(index).Probe; }
    // The component's own prober, for looking at files before adding them.
    TAVProbe& AVProbe() { return *probe_; }
    // The task itself (index out of range: std::out_of_range).
    TFFmpeg& Task(int index) { return tasks_.Get(index); }
    std::string Version() const { return "2.4"; }
    const std::string& LastError() const { return last_error_; }
    std::string About;

    // Where OnPreviewBitmap calls go. The default suits programs without a
    // main loop (see TDirectHandoff). Set it before adding tasks.
    void SetMainThreadHandoff(std::shared_ptr<TMainThreadHandoff> handoff);
    bool IsMainThread() const;
    // Runs the hand-offs waiting for the main thread (nothing elsewhere).
    void ServeMainThread();

    // Called by the library log callback for every complete line (level on
    // the engine's scale): delivered through DoLog when the line's thread runs
    // a task of this component (the first such task) or is the main thread.
    void RouteLogLine(std::thread::id thread, int level, const std::string& line);

protected:
    // Properties.
    TLogLevel LogLevel() const { return log_level_; }
    void SetLogLevel(TLogLevel value); // applies the library level at once
    int ProgressInterval() const { return progress_interval_; }
    void SetProgressInterval(int milliseconds); // 100 at least
    TConvertPriority ThreadPriority() const { return thread_priority_; }
    void SetThreadPriority(TConvertPriority value) { thread_priority_ = value; }
    bool Preview() const { return preview_; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return preview_bitmap_; }
    void SetPreviewBitmap(bool value);

    // Event slots; set them before a run.
    void SetOnBeforeHook(TBeforeHookEvent handler);
    void SetOnCustomHook(TCustomHookEvent handler);
    void SetOnLog(TLogEvent handler);
    void SetOnPreviewBitmap(TPreviewBitmapEvent handler);
    void SetOnProgress(TProgressEvent handler);
    void SetOnTerminate(TTerminateEvent handler);

    // The dispatchers every task's engine is given.
    virtual void DoBeforeHook(TCustomFFmpeg& sender, int64_t pts, THookAction& action);
    virtual void DoCustomHook(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts,
                              bool& update, bool& stop_hook);
    virtual void DoLog(TCustomFFmpeg* sender, int level, const std::string& text);
    virtual void DoPreviewBitmap(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts);
    virtual void DoProgress(TCustomFFmpeg& sender, const ProgressFigures& figures);
    virtual void DoTerminate(TCustomFFmpeg& sender);

    // Stops and frees every task and leaves the registry. A class that
    // overrides a dispatcher calls it first in its destructor, so that no
    // worker calls into a half-destroyed object.
    void Shutdown();

private:
    struct Handlers {
        TBeforeHookEvent before_hook;
        TCustomHookEvent custom_hook;
        TLogEvent log;
        TPreviewBitmapEvent preview_bitmap;
        TProgressEvent progress;
        TTerminateEvent terminate;
    };
    template <typename Slot>
    Slot handler(Slot Handlers::*slot) const;
    template <typename Slot>
    void set_handler(Slot Handlers::*slot, Slot value);

    std::unique_ptr<TFFmpeg> new_task();
    void open_task_input(TFFmpeg& task, const std::string& file_name, TInputOptions* options);
    void configure_task_output(TFFmpeg& task, const std::string& file_name, TOutputOptions* options);
    void set_preview_bit(uint8_t bit, bool value);
    uint8_t preview_flags() const;
    void free_tasks(std::vector<std::unique_ptr<TFFmpeg>> tasks);

    void StartNextTask();
    void StartWorker(TFFmpeg& task);
    void PrepareStart(TFFmpeg& task);
    void ReportEndOfRun(const TTerminateEvent& on_terminate);

    std::string last_error_;
    std::atomic<TLogLevel> log_level_{llInfo};
    std::atomic<int> progress_interval_{500};
    std::atomic<TConvertPriority> thread_priority_{tpNormal};
    std::atomic<bool> preview_{false};
    std::atomic<bool> preview_bitmap_{false};

    std::unique_ptr<TAVProbe> probe_ = std::make_unique<TAVProbe>();
    TFFmpegList tasks_;
    bool shut_down_ = false;

    // Run state. The run lock makes claiming and starting a task one step
    // against stops, pauses and removals on other threads.
    std::recursive_mutex run_lock_;
    std::atomic<int> next_index_{-1};
    std::atomic<int> remaining_{0};
    std::atomic<bool> threaded_{false};
    std::atomic<bool> paused_{false};
    // Guarded by the event lock.
    std::recursive_mutex event_lock_;
    int finished_count_ = 0;
    bool end_reported_ = false;

    mutable std::mutex handlers_lock_;
    Handlers handlers_;
    std::shared_ptr<TMainThreadHandoff> handoff_;
};

// The component as programs use it: the properties and events made public.
class TConversionComponent : public TCustomConversionComponent {
public:
    TConversionComponent() = default;
    ~TConversionComponent() override { Shutdown(); }

    using TCustomConversionComponent::LogLevel;
    using TCustomConversionComponent::Preview;
    using TCustomConversionComponent::PreviewBitmap;
    using TCustomConversionComponent::ProgressInterval;
    using TCustomConversionComponent::SetLogLevel;
    using TCustomConversionComponent::SetPreview;
    using TCustomConversionComponent::SetPreviewBitmap;
    using TCustomConversionComponent::SetProgressInterval;
    using TCustomConversionComponent::SetThreadPriority;
    using TCustomConversionComponent::ThreadPriority;

    using TCustomConversionComponent::SetOnBeforeHook;
    using TCustomConversionComponent::SetOnCustomHook;
    using TCustomConversionComponent::SetOnLog;
    using TCustomConversionComponent::SetOnPreviewBitmap;
    using TCustomConversionComponent::SetOnProgress;
    using TCustomConversionComponent::SetOnTerminate;
};

} // namespace quillon
