// The dispatchers: the engine's notifications turned into the component's
// events, each on its thread and under its lock.
#include "Component/conversion_component.h"
#include "Component/pending_lines.h"
#include "Component/serving_lock.h"

namespace quillon {

namespace {

int index_of(const TCustomFFmpeg* sender)
{
    return sender ? static_cast<const TFFmpeg*>(sender)->Index.load() : -1;
}

} // namespace

TLogLevel log_level_of(int level)
{
    if (level < 0) return llQuiet;
    if (level >= 4) return llAll;
    return static_cast<TLogLevel>(level + 1);
}

template <typename Slot>
Slot TCustomConversionComponent::handler(Slot Handlers::*slot) const
{
    std::lock_guard guard(handlers_lock_);
    return handlers_.*slot;
}

template <typename Slot>
void TCustomConversionComponent::set_handler(Slot Handlers::*slot, Slot value)
{
    std::lock_guard guard(handlers_lock_);
    handlers_.*slot = std::move(value);
}

void TCustomConversionComponent::SetOnBeforeHook(TBeforeHookEvent h) { set_handler(&Handlers::before_hook, std::move(h)); }
void TCustomConversionComponent::SetOnCustomHook(TCustomHookEvent h) { set_handler(&Handlers::custom_hook, std::move(h)); }
void TCustomConversionComponent::SetOnLog(TLogEvent h) { set_handler(&Handlers::log, std::move(h)); }
void TCustomConversionComponent::SetOnPreviewBitmap(TPreviewBitmapEvent h) { set_handler(&Handlers::preview_bitmap, std::move(h)); }
void TCustomConversionComponent::SetOnProgress(TProgressEvent h) { set_handler(&Handlers::progress, std::move(h)); }
void TCustomConversionComponent::SetOnTerminate(TTerminateEvent h) { set_handler(&Handlers::terminate, std::move(h)); }

void TCustomConversionComponent::DoBeforeHook(TCustomFFmpeg& sender, int64_t pts, THookAction& action)
{
    if (auto on_before_hook = handler(&Handlers::before_hook)) on_before_hook(index_of(&sender), pts, action);
}

void TCustomConversionComponent::DoCustomHook(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts,
                                              bool& update, bool& stop_hook)
{
    if (auto on_custom_hook = handler(&Handlers::custom_hook))
        on_custom_hook(index_of(&sender), bitmap, frame_number, pts, update, stop_hook);
}

void TCustomConversionComponent::DoLog(TCustomFFmpeg* sender, int level, const std::string& text)
{
    auto on_log = handler(&Handlers::log);
    if (!on_log) return;
    ServingLock events(*this, event_lock_);
    on_log(index_of(sender), log_level_of(level), text);
}

// The worker waits until the main thread has delivered the picture; the
// arguments travel with the call, so two workers never mix them.
void TCustomConversionComponent::DoPreviewBitmap(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts)
{
    auto on_preview_bitmap = handler(&Handlers::preview_bitmap);
    if (!on_preview_bitmap) return;
    const int index = index_of(&sender);
    std::shared_ptr<TMainThreadHandoff> handoff;
    {
        std::lock_guard guard(handlers_lock_);
        handoff = handoff_;
    }
    handoff->RunOnMain([&] { on_preview_bitmap(index, bitmap, frame_number, pts); });
}

void TCustomConversionComponent::DoProgress(TCustomFFmpeg& sender, const ProgressFigures& figures)
{
    auto on_progress = handler(&Handlers::progress);
    if (!on_progress) return;
    ServingLock events(*this, event_lock_);
    on_progress(index_of(&sender), figures.frame_number, figures.fps, figures.current_duration_ms, figures.quality,
                figures.bitrate_kbps, figures.current_size, figures.total_duration_ms);
}

// Reports the task's end and, when nothing is left to start and every task
// has ended, the end of the run. The next task of a threaded run starts after
// the event lock is released, on this same thread.
void TCustomConversionComponent::DoTerminate(TCustomFFmpeg& sender)
{
    const auto& task = static_cast<const TFFmpeg&>(sender);
    bool start_next = false;
    {
        auto on_terminate = handler(&Handlers::terminate);
        ServingLock events(*this, event_lock_);
        if (on_terminate) on_terminate(task.Index, task.finished, task.failed, task.error_message);
        ++finished_count_;
        if (remaining_ > 0)
            start_next = threaded_;
        else if (!end_reported_ && TaskCount() <= finished_count_)
            ReportEndOfRun(on_terminate);
    }
    if (start_next) StartNextTask();
}

void TCustomConversionComponent::ReportEndOfRun(const TTerminateEvent& on_terminate)
{
    end_reported_ = true;
    if (on_terminate) on_terminate(-1, true, false, std::string());
    pending_log_lines().Clear();
}

} // namespace quillon
