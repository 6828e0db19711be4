// Seeking and frame requests: the answers from the kept picture, the seek
// rules, the end-of-stream memory, and closing.
#include "Probe/av_probe.h"

#include <algorithm>
#include <stdexcept>

#include "Formatting/formatting.h"
#include "Probe/probe_texts.h"

namespace quillon {

TAVProbe::~TAVProbe()
{
    TAVProbe::CloseFile();
}

bool TAVProbe::Seek(int stream, int64_t position)
{
    if (!require_context()) return false;
    if (!owns_context_) {
        fail(1, "file cannot be seeked, handle is readonly.");
        throw std::runtime_error(last_error_);
    }
    return seek_to(stream, position, false);
}

bool TAVProbe::seek_to(int stream, int64_t position, bool backward_retry)
{
    skip_before_target_ = false;
    if (is_still_image_format(context_->iformat)) {
        library_log(1, "\"image2\" format cannot to be seeked.\n");
        return true;
    }
    if (stream >= StreamCount()) {
        fail(0, printf_text("stream index #%d is invalid.", stream));
        return false;
    }
    if (stream < 0) {
        for (int first : {FirstVideoStream(), FirstAudioStream(), FirstSubtitleStream()})
            if (stream < 0) stream = first;
    }
    int64_t target = std::max<int64_t>(position, 0);
    int64_t start = context_->start_time;
    if (stream >= 0) {
        AVStream* s = context_->streams[stream];
        repair_time_base(s);
        target = lib::av_rescale_q(target, AVRational{1, 1000000}, s->time_base);
        start = s->start_time;
    }
    if (start != AV_NOPTS_VALUE) target += start;
    if (decoder_) lib::avcodec_flush_buffers(decoder_.get());
    last_position_ = -1;
    end_of_stream_ = false;

    int result;
    if (position > 0) {
        result = lib::av_seek_frame(context_, stream, target, 0);
        if (result < 0 && backward_retry) {
            skip_before_target_ = true;
            result = lib::av_seek_frame(context_, stream, target, AVSEEK_FLAG_BACKWARD);
        }
    } else {
        result = lib::av_seek_frame(context_, stream, 0, AVSEEK_FLAG_BACKWARD);
        if (result < 0) result = lib::av_seek_frame(context_, stream, target, 0);
    }
    if (result >= 0) return true;
    fail(0, printf_text("could not seek to position %0.3f", static_cast<double>(static_cast<float>(position / 1e6))));
    return false;
}

TBitmap& TAVProbe::GetFrameBitmap(int stream, int64_t position)
{
    const bool was_cached = cached_;
    cached_ = false;
    last_frame_pts_ = -1;
    if (context_ && !owns_context_) {
        fail(1, "frame cannot be read, handle is readonly.");
        throw std::runtime_error(last_error_);
    }
    if (!check_frame_request(stream) || answer_without_decoding(stream, position, was_cached)) return bitmap_;
    int64_t target = -1;
    if (position >= 0) {
        // Ahead of a picture reached by decoding forward: keep decoding instead of seeking.
        const bool continue_forward = was_cached && skip_before_target_ && last_position_ >= 0 &&
                                      position > last_position_ && stream == last_stream_;
        if (!continue_forward && !seek_to(stream, position, true)) {
            library_log(0, last_error_ + "\n");
            return bitmap_;
        }
        const AVStream* s = context_->streams[stream];
        target = lib::av_rescale_q(position, AVRational{1, 1000000}, s->time_base);
        if (s->start_time != AV_NOPTS_VALUE) target += s->start_time;
    }
    if (open_decoder(stream)) decode_picture(stream, position, target);
    return bitmap_;
}

bool TAVProbe::check_frame_request(int& stream)
{
    if (!context_) {
        set_empty("file not loaded.");
        return false;
    }
    if (stream < 0) {
        if (FirstVideoStream() < 0) {
            set_empty("no video stream.");
            return false;
        }
        stream = FirstVideoStream();
    }
    if (stream >= StreamCount()) {
        set_empty(printf_text("stream index #%d is invalid.", stream));
        return false;
    }
    if (context_->streams[stream]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        set_empty(printf_text("stream #%d is not video stream.", stream));
        return false;
    }
    return true;
}

// Still pictures, repeated requests and requests that ran into the end
// before are answered without reading the file.
bool TAVProbe::answer_without_decoding(int stream, int64_t position, bool was_cached)
{
    const bool same_request = position == last_position_ && stream == last_stream_;
    const bool from_kept = (last_from_still_ && is_still_image_format(context_->iformat)) ||
                           (position >= 0 && was_cached && same_request);
    if (from_kept) {
        std::scoped_lock canvas(bitmap_.CanvasLock(), kept_.CanvasLock());
        bitmap_.Assign(kept_);
        cached_ = true;
        return true;
    }
    if (position >= 0 && end_of_stream_ && same_request) {
        library_log(2, "stream eof reached.\n");
        last_error_ = "stream eof reached.";
        paint_black();
        return true;
    }
    return false;
}

void TAVProbe::reached_end(int stream, int64_t position)
{
    library_log(2, "stream eof reached.\n");
    last_error_ = "stream eof reached.";
    paint_black();
    last_position_ = position;
    last_stream_ = stream;
    end_of_stream_ = true;
}

void TAVProbe::set_empty(const std::string& text)
{
    fail(0, text);
    std::lock_guard canvas(bitmap_.CanvasLock());
    bitmap_.SetSize(0, 0);
}

void TAVProbe::paint_black()
{
    std::lock_guard canvas(bitmap_.CanvasLock());
    bitmap_.FillBlack();
}

void TAVProbe::CloseFile()
{
    last_from_still_ = cached_ = skip_before_target_ = end_of_stream_ = false;
    last_frame_pts_ = last_position_ = -1;
    last_stream_ = -1;
    for (TBitmap* bitmap : {&bitmap_, &kept_}) {
        std::lock_guard canvas(bitmap->CanvasLock());
        bitmap->SetSize(0, 0);
    }
    if (scaler_) lib::sws_freeContext(scaler_);
    scaler_ = nullptr;
    close_decoder();
    if (rgb_buffer_) lib::av_free(rgb_buffer_);
    rgb_buffer_ = nullptr;
    rgb_buffer_size_ = 0;
    TCustomAVProbe::CloseFile();
}

} // namespace quillon
