// The audio output path: resampling and format conversion, synchronisation
// with the source clock, and framing into the encoder's frame size.
#include <cmath>
#include <cstdlib>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {

bool same_layout(const AVChannelLayout& a, const AVChannelLayout& b) { return lib::av_channel_layout_compare(&a, &b) == 0; }

// Encoders without a fixed frame size take each block whole.
bool takes_any_frame_size(const AVCodecContext* encoder)
{
    return encoder->frame_size <= 1 || (encoder->codec && (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
}

} // namespace

void TCustomFFmpeg::open_resampler(OutputStreamState& ost, const AVFrame* frame)
{
    const AVCodecContext* encoder = ost.encoder;
    SwrContext* resampler = nullptr;
    const int result = lib::swr_alloc_set_opts2(&resampler, const_cast<AVChannelLayout*>(&encoder->ch_layout), encoder->sample_fmt, encoder->sample_rate,
                                                const_cast<AVChannelLayout*>(&frame->ch_layout), static_cast<AVSampleFormat>(frame->format),
                                                frame->sample_rate, 0, nullptr);
    ost.resampler.reset(resampler);
    if (result < 0 || lib::swr_init(resampler) < 0) {
        if (ost.audio_resample)
            throw FFmpegException(printf_text("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                              frame->ch_layout.nb_channels, frame->sample_rate,
                                              encoder->ch_layout.nb_channels, encoder->sample_rate));
        throw FFmpegException(printf_text("Cannot convert %s sample format to %s sample format",
                                          lib::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format)),
                                          lib::av_get_sample_fmt_name(encoder->sample_fmt)));
    }
    ost.resampler_in_format = static_cast<AVSampleFormat>(frame->format);
    ost.resampler_in_channels = frame->ch_layout.nb_channels;
    ost.resampler_in_rate = frame->sample_rate;
}

bool TCustomFFmpeg::resampler_fits(const OutputStreamState& ost, const AVFrame* frame)
{
    return ost.resampler && ost.resampler_in_format == frame->format &&
           ost.resampler_in_channels == frame->ch_layout.nb_channels && ost.resampler_in_rate == frame->sample_rate;
}

// The samples in the encoder's format, layout and rate (a reference to the
// input when nothing differs).
FramePtr TCustomFFmpeg::convert_audio(OutputStreamState& ost, const AVFrame* frame)
{
    const AVCodecContext* encoder = ost.encoder;
    if (!same_layout(encoder->ch_layout, frame->ch_layout)) ost.audio_resample = true;
    const bool format_differs = encoder->sample_fmt != frame->format;
    if (!ost.audio_resample && !format_differs) return FramePtr(lib::av_frame_clone(frame));
    if (!resampler_fits(ost, frame)) open_resampler(ost, frame);

    FramePtr converted(lib::av_frame_alloc());
    if (!converted) throw FFmpegException("av_malloc failed");
    converted->format = encoder->sample_fmt;
    converted->sample_rate = encoder->sample_rate;
    lib::av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout);
    converted->nb_samples = lib::swr_get_out_samples(ost.resampler.get(), frame->nb_samples);
    if (converted->nb_samples <= 0) return nullptr;
    if (lib::av_frame_get_buffer(converted.get(), 0) < 0) throw FFmpegException("av_malloc failed");
    const int samples = lib::swr_convert(ost.resampler.get(), converted->extended_data, converted->nb_samples,
                                         const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (samples < 0) {
        if (exit_on_error) throw FFmpegException("av_audio_convert() failed");
        log(0, "av_audio_convert() failed");
        return nullptr;
    }
    converted->nb_samples = samples;
    return converted;
}

AVAudioFifo* TCustomFFmpeg::audio_queue(OutputStreamState& ost)
{
    if (!ost.fifo) {
        ost.fifo.reset(lib::av_audio_fifo_alloc(ost.encoder->sample_fmt, ost.encoder->ch_layout.nb_channels, 1024));
        if (!ost.fifo) throw FFmpegException("av_fifo_init fail");
    }
    return ost.fifo.get();
}

// Keeps the output in step with the source clock by dropping samples, adding
// silence or stretching through the resampler. Returns false when the whole
// block is dropped.
bool TCustomFFmpeg::synchronise_audio(OutputStreamState& ost, InputStreamState& ist, AVFrame*& frame, FramePtr& owned)
{
    const AVCodecContext* encoder = ost.encoder;
    const double position = double(ost.sync_source->pts - start_time) / 1e6;
    const int queued = ost.fifo ? lib::av_audio_fifo_size(ost.fifo.get()) : 0;
    if (audio_sync_method == 0) {
        ost.sync_opts = std::llround(encoder->sample_rate * position) - queued;
        return true;
    }
    const double delta = encoder->sample_rate * position - double(ost.sync_opts) - queued;
    const int rate_ratio_delta = static_cast<int>(delta * frame->sample_rate / encoder->sample_rate);
    if (std::fabs(delta) <= 50) return true;
    if (ist.is_start || std::fabs(delta) > encoder->sample_rate * audio_drift_threshold) {
        if (rate_ratio_delta < 0) return discard_samples(ist, frame, owned, -rate_ratio_delta, delta);
        insert_silence(ist, frame, owned, rate_ratio_delta, delta);
        return true;
    }
    if (audio_sync_method > 1 && ost.resampler) {
        const int compensation = std::clamp(static_cast<int>(delta), -audio_sync_method, audio_sync_method);
        if (verbose > 2)
            log(1, printf_text("compensating audio timestamp drift:%f compensation:%d in:%d", delta, compensation,
                               encoder->sample_rate));
        lib::swr_set_compensation(ost.resampler.get(), compensation, encoder->sample_rate);
    }
    return true;
}

bool TCustomFFmpeg::discard_samples(InputStreamState& ist, AVFrame*& frame, FramePtr& owned, int count, double delta)
{
    count = std::min(count, frame->nb_samples);
    if (verbose > 2) log(1, printf_text("discarding %d audio samples", static_cast<int>(-delta)));
    ist.is_start = false;
    if (count == frame->nb_samples) return false;
    FramePtr rest = audio_frame_like(frame, frame->nb_samples - count);
    lib::av_samples_copy(rest->extended_data, frame->extended_data, 0, count, rest->nb_samples, frame->ch_layout.nb_channels,
                         static_cast<AVSampleFormat>(frame->format));
    owned = std::move(rest);
    frame = owned.get();
    return true;
}

// Silence before the block; a block of more than the cap gets none, and a
// capped insertion leaves the start state set so the next block corrects again.
void TCustomFFmpeg::insert_silence(InputStreamState& ist, AVFrame*& frame, FramePtr& owned, int count, double delta)
{
    constexpr int max_block_bytes = 131072;
    const int bytes_per_sample = lib::av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format)) *
                                 frame->ch_layout.nb_channels;
    const int max_samples = bytes_per_sample > 0 ? max_block_bytes / bytes_per_sample : 0;
    if (frame->nb_samples + count <= max_samples) ist.is_start = false;
    else count = std::max(0, max_samples - frame->nb_samples);
    if (verbose > 2) log(1, printf_text("adding %d audio samples of silence", static_cast<int>(delta)));
    if (count == 0) return;
    FramePtr longer = audio_frame_like(frame, frame->nb_samples + count);
    const int channels = frame->ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    lib::av_samples_set_silence(longer->extended_data, 0, count, channels, format);
    lib::av_samples_copy(longer->extended_data, frame->extended_data, count, 0, frame->nb_samples, channels, format);
    owned = std::move(longer);
    frame = owned.get();
}

FramePtr TCustomFFmpeg::audio_frame_like(const AVFrame* frame, int samples) const
{
    FramePtr result(lib::av_frame_alloc());
    if (!result) throw FFmpegException("av_malloc failed");
    result->format = frame->format;
    result->sample_rate = frame->sample_rate;
    lib::av_channel_layout_copy(&result->ch_layout, &frame->ch_layout);
    result->nb_samples = samples;
    if (lib::av_frame_get_buffer(result.get(), 0) < 0) throw FFmpegException("av_malloc failed");
    result->pts = frame->pts;
    return result;
}

void TCustomFFmpeg::write_audio(AVFormatContext* file, OutputStreamState& ost, InputStreamState& ist, AVFrame* frame)
{
    FramePtr owned;
    if (!synchronise_audio(ost, ist, frame, owned)) return;
    FramePtr converted = convert_audio(ost, frame);
    if (!converted || converted->nb_samples == 0) return;
    AVCodecContext* encoder = ost.encoder;
    if (takes_any_frame_size(encoder) && (!ost.fifo || lib::av_audio_fifo_size(ost.fifo.get()) == 0)) {
        converted->pts = ost.sync_opts;
        ost.sync_opts += converted->nb_samples;
        encode_and_write(file, ost, converted.get());
        return;
    }
    AVAudioFifo* fifo = audio_queue(ost);
    if (lib::av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted->extended_data), converted->nb_samples) < 0)
        throw FFmpegException("av_fifo_realloc2() failed");
    const int frame_size = encoder->frame_size;
    while (lib::av_audio_fifo_size(fifo) >= frame_size) encode_from_queue(file, ost, frame_size);
}

void TCustomFFmpeg::encode_from_queue(AVFormatContext* file, OutputStreamState& ost, int samples)
{
    FramePtr block(lib::av_frame_alloc());
    if (!block) throw FFmpegException("av_malloc failed");
    block->format = ost.encoder->sample_fmt;
    block->sample_rate = ost.encoder->sample_rate;
    lib::av_channel_layout_copy(&block->ch_layout, &ost.encoder->ch_layout);
    block->nb_samples = samples;
    if (lib::av_frame_get_buffer(block.get(), 0) < 0) throw FFmpegException("av_malloc failed");
    const int read = lib::av_audio_fifo_read(ost.fifo.get(), reinterpret_cast<void**>(block->extended_data), samples);
    if (read < samples) {
        lib::av_samples_set_silence(block->extended_data, read, samples - read, block->ch_layout.nb_channels,
                                    static_cast<AVSampleFormat>(block->format));
    }
    block->pts = ost.sync_opts;
    ost.sync_opts += samples;
    encode_and_write(file, ost, block.get());
}

// At the end: the last partial frame reaches the encoder, as a smaller frame
// where the encoder allows it, else padded with silence so no sample is lost.
void TCustomFFmpeg::flush_audio_queue(AVFormatContext* file, OutputStreamState& ost)
{
    if (!ost.fifo) return;
    const int remaining = lib::av_audio_fifo_size(ost.fifo.get());
    if (remaining <= 0) return;
    const bool smaller_last = takes_any_frame_size(ost.encoder) ||
                              (ost.encoder->codec && (ost.encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME));
    encode_from_queue(file, ost, smaller_last ? remaining : ost.encoder->frame_size);
}

} // namespace quillon
