// Decoding one picture of a video stream into the prober's 24-bit picture.
#include <cassert>
#include <cstring>
#include <mutex>

#include "FFmpegLoader/loader.h"
#include "Formatting/formatting.h"
#include "Probe/av_probe.h"
#include "Probe/probe_texts.h"

namespace quillon {
namespace {

// Room after the converted rows for converters that write whole vectors.
constexpr int rgb_buffer_padding = 64;

} // namespace

bool TAVProbe::open_decoder(int stream)
{
    AVStream* s = context_->streams[stream];
    const AVCodecParameters* parameters = s->codecpar;
    assert(parameters->codec_type == AVMEDIA_TYPE_VIDEO);
    if (parameters->width == 0 || parameters->height == 0) {
        set_empty("frame size of codec is invalid.");
        last_error_ = "frame size of codec is invalid";
        return false;
    }
    if (decoder_ && decoder_stream_ == stream) return true;
    close_decoder();
    const AVCodec* codec = lib::avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        set_empty(printf_text("Unsupported codec (id=%d) for input file stream #%d", parameters->codec_id, stream));
        return false;
    }
    CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
    {
        std::lock_guard lock(codec_lock());
        if (decoder && lib::avcodec_parameters_to_context(decoder.get(), parameters) >= 0) {
            decoder->pkt_timebase = s->time_base;
            if (lib::avcodec_open2(decoder.get(), codec, nullptr) < 0) decoder.reset();
        } else {
            decoder.reset();
        }
    }
    if (!decoder) {
        set_empty(printf_text("Error while opening codec for input file stream #%d", stream));
        return false;
    }
    decoder_ = std::move(decoder);
    decoder_stream_ = stream;
    return true;
}

void TAVProbe::close_decoder()
{
    if (decoder_) {
        std::lock_guard lock(codec_lock());
        decoder_.reset();
    }
    decoder_stream_ = -1;
}

// In skip mode, pictures before the wanted time are dropped; a picture
// without a time is taken.
bool TAVProbe::picture_wanted(const AVFrame* frame, int64_t target) const
{
    if (!skip_before_target_) return true;
    return frame->best_effort_timestamp == AV_NOPTS_VALUE || frame->best_effort_timestamp >= target;
}

// Reads packets of the stream and decodes until a wanted picture comes out or
// the stream ends. At the end of the file the decoder gives up the pictures it
// still holds.
void TAVProbe::decode_picture(int stream, int64_t position, int64_t target)
{
    if (!frame_) frame_.reset(lib::av_frame_alloc());
    if (!packet_) packet_.reset(lib::av_packet_alloc());
    if (!frame_ || !packet_) {
        set_empty("memory allocation error occurred");
        return;
    }
    {
        std::lock_guard canvas(bitmap_.CanvasLock());
        bitmap_.SetSize(context_->streams[stream]->codecpar->width, context_->streams[stream]->codecpar->height);
    }
    bool draining = false;
    while (true) {
        const int received = lib::avcodec_receive_frame(decoder_.get(), frame_.get());
        if (received >= 0) {
            const bool wanted = picture_wanted(frame_.get(), target);
            if (wanted) show_frame(stream, position, frame_.get());
            lib::av_frame_unref(frame_.get());
            if (wanted) return;
            continue;
        }
        if (received == AVERROR_EOF || draining) break;
        if (lib::av_read_frame(context_, packet_.get()) < 0) {
            lib::avcodec_send_packet(decoder_.get(), nullptr);
            draining = true;
            continue;
        }
        // A damaged packet is refused by the decoder and simply skipped.
        if (packet_->stream_index == stream) lib::avcodec_send_packet(decoder_.get(), packet_.get());
        lib::av_packet_unref(packet_.get());
    }
    reached_end(stream, position);
}

// The decoder's picture as BGR rows: the picture itself when it already has
// the bitmap's layout, else a conversion into the RGB buffer. Null when no
// converter can be made.
const uint8_t* TAVProbe::bgr_rows(const AVFrame* frame, int& line_size)
{
    const bool direct = frame->format == AV_PIX_FMT_BGR24 && frame->width % 2 == 0 && frame->height % 2 == 0 &&
                        TBitmap::StrideFor(frame->width) == frame->linesize[0];
    if (direct) {
        line_size = frame->linesize[0];
        return frame->data[0];
    }
    const int needed = lib::av_image_get_buffer_size(AV_PIX_FMT_BGR24, frame->width, frame->height, 1);
    if (needed < 0) return nullptr;
    if (!rgb_buffer_ || rgb_buffer_size_ < needed) {
        if (rgb_buffer_) lib::av_free(rgb_buffer_);
        rgb_buffer_ = static_cast<uint8_t*>(lib::av_malloc(static_cast<std::size_t>(needed) + rgb_buffer_padding));
        rgb_buffer_size_ = rgb_buffer_ ? needed : 0;
        if (!rgb_buffer_) return nullptr;
    }
    uint8_t* planes[4] = {};
    int line_sizes[4] = {};
    lib::av_image_fill_arrays(planes, line_sizes, rgb_buffer_, AV_PIX_FMT_BGR24, frame->width, frame->height, 1);
    scaler_ = lib::sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                        frame->width, frame->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr,
                                        nullptr);
    if (!scaler_) return nullptr;
    lib::sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, line_sizes);
    line_size = line_sizes[0];
    return rgb_buffer_;
}

void TAVProbe::show_frame(int stream, int64_t position, const AVFrame* frame)
{
    int line_size = 0;
    const uint8_t* rows = bgr_rows(frame, line_size);
    if (!rows) {
        fail(0, "Cannot initialize the toRGB conversion context");
        paint_black();
        return;
    }
    {
        std::scoped_lock canvas(bitmap_.CanvasLock(), kept_.CanvasLock());
        bitmap_.SetSize(frame->width, frame->height);
        for (int y = 0; y < frame->height; ++y)
            std::memcpy(bitmap_.ScanLine(y), rows + static_cast<std::ptrdiff_t>(y) * line_size,
                        static_cast<std::size_t>(frame->width) * 3);
        kept_.Assign(bitmap_);
    }
    const AVStream* s = context_->streams[stream];
    int64_t time = frame->best_effort_timestamp;
    if (time != AV_NOPTS_VALUE && s->start_time != AV_NOPTS_VALUE) time -= s->start_time;
    last_frame_pts_ = stream_time_us(s, time);
    last_from_still_ = is_still_image_format(context_->iformat);
    cached_ = true;
    last_position_ = position;
    last_stream_ = stream;
}

} // namespace quillon
