// The hook stage: every decoded picture may be deinterlaced and then changed
// by the custom hook (on an RGB bitmap) or by the frame-hook modules.
#include <exception>

#include "Bitmap/bitmap.h"
#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/deinterlace.h"
#include "FFmpeg/stream_values.h"

namespace quillon {

namespace {

std::string exception_text()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

} // namespace

void TCustomFFmpeg::hook_video_frame(InputStreamState& ist, AVFrame* frame)
{
    ++hook_frame_counter;
    const int64_t pts = ist.pts;
    if (!custom_hook_sink && vhook_active) choose_hook_action(pts);
    const bool modules = vhook_active && hook_action == haContinue;
    if (!deinterlace && !custom_hook_sink && !modules) return;
    // Hooks work on a copy with its own buffers: the decoder may still use
    // the decoded picture, and encoders may keep the hooked one.
    FramePtr work = make_work_picture(frame);
    if (!work) return;
    if (custom_hook_sink) run_custom_hook(work.get(), pts);
    else if (modules) run_frame_hooks(work.get(), pts);
    lib::av_frame_unref(frame);
    lib::av_frame_move_ref(frame, work.get());
}

// The before-hook decides per frame; without one, the time segments do.
void TCustomFFmpeg::choose_hook_action(int64_t pts)
{
    if (before_hook_sink) {
        try {
            before_hook_sink(*this, pts, hook_action);
        } catch (...) {
            log(0, "Error occurs OnBeforeHook: " + exception_text());
            hook_action = haStop;
        }
        if (hook_action == haStop) vhook_active = false;
        return;
    }
    if (segments.empty()) return;
    hook_action = haIgnore;
    for (std::size_t i = segment_index; i < segments.size(); ++i) {
        if (segments[i].start <= pts && pts <= segments[i].end) {
            segment_index = i;
            hook_action = haContinue;
            return;
        }
        if (i + 1 == segments.size() && pts > segments[i].end) {
            hook_action = haStop;
            vhook_active = false;
        }
    }
}

// A writable copy of the picture, deinterlaced when the job asks for it.
FramePtr TCustomFFmpeg::make_work_picture(const AVFrame* frame)
{
    FramePtr work = allocate_picture(static_cast<AVPixelFormat>(frame->format), frame->width, frame->height);
    if (!work || lib::av_frame_copy_props(work.get(), frame) < 0) {
        log(0, "hook buf malloc error.");
        return nullptr;
    }
    if (deinterlace && deinterlace_picture(work.get(), frame)) return work;
    if (deinterlace) log(0, "Deinterlacing failed.");
    if (lib::av_frame_copy(work.get(), frame) < 0) {
        log(0, "hook buf malloc error.");
        return nullptr;
    }
    return work;
}

void TCustomFFmpeg::run_custom_hook(AVFrame* picture, int64_t pts)
{
    bool stop = !hook_converter.to_rgb(picture);
    if (stop) {
        log(0, "Cannot initialize the toRGB conversion context");
    } else {
        bool update = true;
        TBitmap& bitmap = hook_converter.bitmap();
        try {
            std::lock_guard canvas(bitmap.CanvasLock());
            custom_hook_sink(*this, bitmap, hook_frame_counter, pts, update, stop);
        } catch (...) {
            log(0, "Error occurs OnCustomHook: " + exception_text());
            update = false;
        }
        if (update && !hook_converter.from_rgb(picture)) {
            log(0, "Cannot initialize the fromRGB conversion context");
            stop = true;
        }
    }
    if (stop) { // no hook of any kind runs again in this job
        custom_hook_sink = nullptr;
        hook_action = haStop;
        vhook_active = false;
    }
}

void TCustomFFmpeg::run_frame_hooks(AVFrame* picture, int64_t pts)
{
    FrameHookPicture planes{};
    for (int i = 0; i < 4; ++i) {
        planes.data[i] = picture->data[i];
        planes.linesize[i] = picture->linesize[i];
    }
    frame_hooks.process(planes, picture->format, picture->width, picture->height, pts);
}

// The module chain and both converters go with the job.
void TCustomFFmpeg::release_hooks()
{
    frame_hooks.release();
    hook_converter.reset();
    preview_converter.reset();
}

} // namespace quillon
