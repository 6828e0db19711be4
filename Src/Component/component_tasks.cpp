// The component's life, its task list (adding, removing, clearing), library
// loading and properties.
#include <stdexcept>

#include "Component/component_registry.h"
#include "Component/conversion_component.h"
#include "Component/library_log.h"
#include "Component/pending_lines.h"
#include "Component/serving_lock.h"
#include "FFmpeg/library_log_level.h"
#include "FFmpeg/preview_lock.h"
#include "FFmpegLoader/loader.h"
#include "Options/options_apply.h"

namespace quillon {

TCustomConversionComponent::TCustomConversionComponent() : handoff_(std::make_shared<TDirectHandoff>())
{
    install_library_log_callback();
    ComponentRegistry::Add(this);
}

TCustomConversionComponent::~TCustomConversionComponent() { Shutdown(); }

void TCustomConversionComponent::Shutdown()
{
    if (shut_down_) return;
    shut_down_ = true;
    ComponentRegistry::Remove(this);
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        ServingLock run(*this, run_lock_);
        remaining_ = 0;
        tasks = tasks_.ExtractAll();
    }
    free_tasks(std::move(tasks));
    probe_.reset();
    // No delivery may still be inside the event lock when it goes.
    ServingLock last(*this, event_lock_);
}

bool TCustomConversionComponent::LoadFFmpeg(const std::string& library_folder)
{
    TFFmpegLoader::set_library_folder(library_folder);
    if (!TFFmpegLoader::load(required_libraries)) {
        last_error_ = TFFmpegLoader::last_error();
        return false;
    }
    install_library_log_callback();
    apply_library_log_level(static_cast<int>(LogLevel()) - 1);
    return true;
}

void TCustomConversionComponent::UnloadFFmpeg() { TFFmpegLoader::unload(required_libraries); }

// A task with the sinks it has from the start: log and preview bitmaps (so
// messages from opening the input arrive with index -1), and the main-thread
// service for its waits.
std::unique_ptr<TFFmpeg> TCustomConversionComponent::new_task()
{
    auto task = std::make_unique<TFFmpeg>();
    task->log_sink = [this](TCustomFFmpeg& sender, int level, const std::string& text) { DoLog(&sender, level, text); };
    task->wait_service = [this] { ServeMainThread(); };
    return task;
}

void TCustomConversionComponent::open_task_input(TFFmpeg& task, const std::string& file_name, TInputOptions* options)
{
    if (!TFFmpegLoader::all_loaded(required_libraries)) throw FFmpegException("The media libraries are not loaded");
    task.prepare_job();
    task.set_verbosity(static_cast<int>(LogLevel()) - 1);
    task.set_preview_flags(preview_flags());
    task.preview_bitmap_sink = [this](TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts) {
        DoPreviewBitmap(sender, bitmap, frame_number, pts);
    };
    if (options) {
        if (options->FileName.empty()) options->FileName = file_name;
        task.InputOptions = *options;
        ApplyInputOptions(task, *options);
    } else {
        DefaultInputOptions(task.InputOptions);
    }
}

int TCustomConversionComponent::AddTask(const std::string& file_name, TInputOptions* options)
{
    try {
        std::unique_ptr<TFFmpeg> task = new_task();
        open_task_input(*task, file_name, options);
        if (!task->open_input_file(file_name)) {
            task->log_sink = nullptr;
            last_error_ = task->last_error;
            return -1;
        }
        task->Probe.AttachContext(task->input_files.back());
        task->progress_sink = [this](TCustomFFmpeg& sender, const ProgressFigures& figures) {
            DoProgress(sender, figures);
        };
        task->terminate_sink = [this](TCustomFFmpeg& sender) { DoTerminate(sender); };
        return tasks_.Add(std::move(task));
    } catch (const std::exception& e) {
        last_error_ = e.what();
        return -1;
    }
}

// The record's settings and the hook mode; without a record the defaults,
// which change nothing.
void TCustomConversionComponent::configure_task_output(TFFmpeg& task, const std::string& file_name,
                                                       TOutputOptions* options)
{
    if (!options) {
        DefaultOutputOptions(task.OutputOptions);
        return;
    }
    if (options->FileName.empty()) options->FileName = file_name;
    task.OutputOptions = *options;
    ApplyOutputOptions(task, *options);
    if (options->CustomHook) {
        task.custom_hook_sink = [this](TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts,
                                       bool& update, bool& stop_hook) {
            DoCustomHook(sender, bitmap, frame_number, pts, update, stop_hook);
        };
    } else if (options->BeforeHook) {
        task.before_hook_sink = [this](TCustomFFmpeg& sender, int64_t pts, THookAction& action) {
            DoBeforeHook(sender, pts, action);
        };
    } else {
        ApplyHookTimeRanges(task, options->HookTimeRanges);
    }
}

bool TCustomConversionComponent::AddOutput(int index, const std::string& file_name, TOutputOptions* options)
{
    TFFmpeg& task = tasks_.Get(index);
    try {
        configure_task_output(task, file_name, options);
        if (task.open_output_file(file_name, task.OutputOptions.Join) < 0) {
            last_error_ = task.last_error;
            return false;
        }
        ApplyExtOptions(task, task.OutputOptions.ExtOptions, true);
        return true;
    } catch (const std::exception& e) {
        last_error_ = e.what();
        return false;
    }
}

// Frees tasks in list order, each after its worker has ended; no lock is held,
// since a worker may need any of them to report its end.
void TCustomConversionComponent::free_tasks(std::vector<std::unique_ptr<TFFmpeg>> tasks)
{
    for (std::unique_ptr<TFFmpeg>& task : tasks) task.reset();
}

void TCustomConversionComponent::RemoveTask(int index)
{
    std::vector<std::unique_ptr<TFFmpeg>> removed;
    {
        ServingLock run(*this, run_lock_);
        removed.push_back(tasks_.Extract(index));
    }
    free_tasks(std::move(removed));
}

void TCustomConversionComponent::ClearTasks()
{
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        ServingLock run(*this, run_lock_);
        tasks = tasks_.ExtractAll();
    }
    free_tasks(std::move(tasks));
    last_error_.clear();
    threaded_ = false;
}

void TCustomConversionComponent::SetLogLevel(TLogLevel value)
{
    log_level_ = value;
    apply_library_log_level(static_cast<int>(value) - 1);
}

void TCustomConversionComponent::SetProgressInterval(int milliseconds)
{
    progress_interval_ = milliseconds <= 100 ? 100 : milliseconds;
}

uint8_t TCustomConversionComponent::preview_flags() const
{
    return static_cast<uint8_t>((preview_ ? 1 : 0) | (preview_bitmap_ ? 2 : 0));
}

void TCustomConversionComponent::set_preview_bit(uint8_t bit, bool value)
{
    tasks_.ForEach([&](TFFmpeg& task) {
        uint8_t flags;
        {
            std::lock_guard guard(preview_lock());
            flags = task.preview_flags;
        }
        task.set_preview_flags(value ? flags | bit : flags & ~bit);
    });
}

void TCustomConversionComponent::SetPreview(bool value)
{
    set_preview_bit(1, value);
    preview_ = value;
}

void TCustomConversionComponent::SetPreviewBitmap(bool value)
{
    set_preview_bit(2, value);
    preview_bitmap_ = value;
}

void TCustomConversionComponent::SetMainThreadHandoff(std::shared_ptr<TMainThreadHandoff> handoff)
{
    std::lock_guard guard(handlers_lock_);
    handoff_ = handoff ? std::move(handoff) : std::make_shared<TDirectHandoff>();
}

bool TCustomConversionComponent::IsMainThread() const
{
    std::lock_guard guard(handlers_lock_);
    return handoff_->IsMainThread();
}

void TCustomConversionComponent::ServeMainThread()
{
    std::shared_ptr<TMainThreadHandoff> handoff;
    {
        std::lock_guard guard(handlers_lock_);
        handoff = handoff_;
    }
    if (handoff->IsMainThread() && !inside_library_log_callback()) handoff->Serve();
}

void TCustomConversionComponent::RouteLogLine(std::thread::id thread, int level, const std::string& line)
{
    TFFmpeg* task = tasks_.FindByThread(thread);
    if (task || IsMainThread()) DoLog(task, level, line);
}

} // namespace quillon
