// Preview delivery: at most one encoded picture per preview interval goes to
// the preview-bitmap sink or to the engine's preview window.
//
// The sink and the window both wait for the main thread, and the main thread
// takes preview_lock when it changes the preview flags. So the lock is held
// only to read and store the flags, never while a picture is shown: the two
// waits cannot meet.
#include <mutex>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/preview_lock.h"

namespace quillon {

namespace {
constexpr uint8_t preview_window_bit = 1;
constexpr uint8_t preview_bitmap_bit = 2;
} // namespace

// What one delivery does: which flag bit it serves, and the window to show
// it in (a copy of the engine's, so it stays alive while it is shown).
struct TCustomFFmpeg::PreviewTurn {
    uint8_t bit = 0; // 0: no delivery this time
    std::shared_ptr<TPreviewer> window;
};

void TCustomFFmpeg::deliver_preview(const AVFrame* picture, const OutputStreamState& ost)
{
    const PreviewTurn turn = claim_preview_turn();
    if (!turn.bit) return;
    const AVCodecContext* encoder = ost.encoder;
    const int64_t pts = picture->pts == AV_NOPTS_VALUE
                            ? AV_NOPTS_VALUE
                            : lib::av_rescale_q(picture->pts, encoder->time_base, AVRational{1, 1000000});
    bool ok = preview_converter.to_rgb(picture);
    if (!ok) log(0, "Cannot initialize the toRGB conversion context");
    else ok = show_preview(turn, pts);
    end_preview_turn(turn, ok);
}

// Under the lock: is a preview due, and where does it go? Bitmaps take
// precedence over the window.
TCustomFFmpeg::PreviewTurn TCustomFFmpeg::claim_preview_turn()
{
    std::lock_guard guard(preview_lock());
    const uint8_t flags = preview_flags;
    PreviewTurn turn;
    if ((flags & preview_bitmap_bit) && preview_bitmap_sink) turn.bit = preview_bitmap_bit;
    else if (flags & preview_window_bit) turn.bit = preview_window_bit;
    else return turn;
    const int64_t now = lib::av_gettime();
    if (now - last_preview <= preview_interval_us) return PreviewTurn{};
    last_preview = now;
    if (turn.bit == preview_window_bit) {
        if (!previewer) previewer = CreatePreviewer();
        turn.window = previewer;
    }
    return turn;
}

// Outside the lock: hands the bitmap over and waits for it to be shown.
bool TCustomFFmpeg::show_preview(const PreviewTurn& turn, int64_t pts)
{
    TBitmap& bitmap = preview_converter.bitmap();
    if (turn.bit == preview_bitmap_bit) {
        preview_bitmap_sink(*this, bitmap, hook_frame_counter, pts);
        return true;
    }
    return turn.window && turn.window->ShowFrame(bitmap, hook_frame_counter, pts);
}

// A failed delivery clears its own bit, whatever else changed meanwhile. A
// window freed here is destroyed after the lock is released.
void TCustomFFmpeg::end_preview_turn(const PreviewTurn& turn, bool ok)
{
    if (ok) return;
    std::shared_ptr<TPreviewer> retired;
    {
        std::lock_guard guard(preview_lock());
        retired = store_preview_flags(static_cast<uint8_t>(preview_flags & ~turn.bit));
    }
}

// Stores the flags (the caller holds preview_lock). When the window bit goes
// from set to clear, the engine lets go of its window and returns it, so the
// caller frees it once the lock is released.
std::shared_ptr<TPreviewer> TCustomFFmpeg::store_preview_flags(uint8_t flags)
{
    const bool window_closed = (preview_flags & preview_window_bit) && !(flags & preview_window_bit);
    preview_flags = flags;
    return window_closed ? std::move(previewer) : nullptr;
}

void TCustomFFmpeg::set_preview_flags(uint8_t flags)
{
    std::shared_ptr<TPreviewer> retired;
    std::lock_guard guard(preview_lock());
    retired = store_preview_flags(flags);
}

void TCustomFFmpeg::set_preview_bit(uint8_t bit, bool on)
{
    std::shared_ptr<TPreviewer> retired;
    std::lock_guard guard(preview_lock());
    const uint8_t flags = preview_flags;
    retired = store_preview_flags(static_cast<uint8_t>(on ? flags | bit : flags & ~bit));
}

} // namespace quillon
