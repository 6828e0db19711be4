// Opening input files: the format parameters, decoders by name, the start
// position, and what the job learns from the streams.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/loader.h"
#include "FFmpegLoader/owners.h"
#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {

bool TCustomFFmpeg::find_codec_id(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id)
{
    if (name.empty()) {
        id = AV_CODEC_ID_NONE;
        return true;
    }
    const AVCodec* codec = encoder ? lib::avcodec_find_encoder_by_name(name.c_str())
                                   : lib::avcodec_find_decoder_by_name(name.c_str());
    const char* side = encoder ? "encoder" : "decoder";
    if (!codec) {
        last_error = printf_text("Unknown %s '%s'", side, name.c_str());
        return false;
    }
    if (codec->type != type) {
        last_error = printf_text("Invalid %s type '%s'", side, name.c_str());
        return false;
    }
    id = codec->id;
    return true;
}

namespace {

std::string rate_text(AVRational rate) { return std::to_string(rate.num) + "/" + std::to_string(rate.den); }

} // namespace

// The values in force become the open call's options; demuxers take the ones
// they know (raw formats and capture devices) and ignore the rest.
DictionaryPtr TCustomFFmpeg::input_format_parameters() const
{
    AVDictionary* parameters = nullptr;
    const int width = frame_width + pad_left + pad_right;
    const int height = frame_height + pad_top + pad_bottom;
    if (width > 0 && height > 0)
        lib::av_dict_set(&parameters, "video_size", (std::to_string(width) + "x" + std::to_string(height)).c_str(), 0);
    if (frame_pix_fmt >= 0)
        if (const char* name = lib::av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame_pix_fmt)))
            lib::av_dict_set(&parameters, "pixel_format", name, 0);
    if (frame_rate.num > 0 && frame_rate.den > 0) lib::av_dict_set(&parameters, "framerate", rate_text(frame_rate).c_str(), 0);
    lib::av_dict_set_int(&parameters, "sample_rate", audio_sample_rate, 0);
    lib::av_dict_set_int(&parameters, "channels", audio_channels, 0);
    if (video_channel) lib::av_dict_set_int(&parameters, "channel", video_channel, 0);
    if (!video_standard.empty()) lib::av_dict_set(&parameters, "standard", video_standard.c_str(), 0);
    if (loop_input) lib::av_dict_set_int(&parameters, "loop", 1, 0);
    return DictionaryPtr(parameters);
}

// Values that describe only the next input file are dropped after each attempt.
void TCustomFFmpeg::reset_per_input_values()
{
    forced_input_format = nullptr;
    forced_output_format = nullptr;
    video_channel = 0;
    video_codec_name.clear();
    audio_codec_name.clear();
    subtitle_codec_name.clear();
}

bool TCustomFFmpeg::open_input_file(const std::string& file_name)
{
    check_list_limit(input_files.size(), MAX_FILES, "input files");
    InputFilePtr context;
    const bool opened = open_and_probe_input(file_name, context);
    if (opened) register_input(file_name, std::move(context));
    reset_per_input_values();
    return opened;
}

bool TCustomFFmpeg::open_and_probe_input(const std::string& file_name, InputFilePtr& owner)
{
    AVCodecID video_id{}, audio_id{}, subtitle_id{};
    if (!find_codec_id(video_codec_name, AVMEDIA_TYPE_VIDEO, false, video_id) ||
        !find_codec_id(audio_codec_name, AVMEDIA_TYPE_AUDIO, false, audio_id) ||
        !find_codec_id(subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false, subtitle_id))
        return false;
    if (pgmyuv_compat) video_id = AV_CODEC_ID_PGMYUV;

    AVFormatContext* context = lib::avformat_alloc_context();
    if (!context) {
        last_error = format_open_error(file_name, AVERROR(ENOMEM));
        return false;
    }
    apply_generic_options(context, generic_options.format, AV_OPT_FLAG_DECODING_PARAM);
    context->video_codec_id = video_id;
    context->audio_codec_id = audio_id;
    context->subtitle_codec_id = subtitle_id;

    DictionaryPtr parameters = input_format_parameters();
    AVDictionary* options = parameters.release();
    const int result = quillon::open_input_context(&context, file_name, forced_input_format, &options);
    lib::av_dict_free(&options);
    if (result < 0) { // the library freed the context
        last_error = format_open_error(file_name, result);
        return false;
    }
    owner.reset(context);
    discard_other_programs(context);

    int probed = 0;
    {
        std::lock_guard guard(codec_lock());
        probed = lib::avformat_find_stream_info(context, nullptr);
    }
    if (probed < 0 && verbose >= 0) {
        last_error = printf_text("%s: could not find codec parameters", file_name.c_str());
        return false;
    }
    return true;
}

void TCustomFFmpeg::discard_other_programs(AVFormatContext* context) const
{
    if (program_id == 0) return;
    for (unsigned i = 0; i < context->nb_programs; ++i)
        if (context->programs[i]->id != program_id) context->programs[i]->discard = AVDISCARD_ALL;
}

// Positions the file at the start time; returns the timestamp it was positioned at.
int64_t TCustomFFmpeg::seek_to_start(AVFormatContext* context)
{
    int64_t timestamp = start_time;
    // A start time near the largest value stays there rather than wrapping round.
    if (context->start_time != AV_NOPTS_VALUE && __builtin_add_overflow(start_time, context->start_time, &timestamp))
        timestamp = context->start_time < 0 ? INT64_MIN : INT64_MAX;
    if (start_time != 0) {
        lib::av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD); // a failed seek is not an error
        start_time = 0;
    }
    return timestamp;
}

void TCustomFFmpeg::register_input(const std::string& file_name, InputFilePtr owner)
{
    AVFormatContext* context = owner.get();
    const int64_t timestamp = seek_to_start(context);
    std::vector<CodecContextPtr> decoders = learn_input_streams(context);
    if (context->duration != AV_NOPTS_VALUE)
        total_duration_ms = std::max<int64_t>(total_duration_ms, context->duration / 1000);

    const int n = static_cast<int>(input_files.size());
    input_files.push_back(owner.release());
    input_file_names.push_back(file_name);
    input_ts_offsets.push_back(copy_ts ? input_ts_offset : input_ts_offset - timestamp);
    input_stream_contexts.push_back(std::move(decoders));
    if (verbose >= 0) lib::av_dump_format(context, n, ToLibraryFileName(file_name).c_str(), 0);
}

std::vector<CodecContextPtr> TCustomFFmpeg::learn_input_streams(AVFormatContext* context)
{
    std::vector<CodecContextPtr> decoders;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        CodecContextPtr decoder(lib::avcodec_alloc_context3(nullptr));
        if (!decoder || lib::avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
            throw FFmpegException("Cannot allocate a decoder context");
        decoder->pkt_timebase = stream->time_base;
        decoder->thread_count = thread_count;
        learn_input_stream(static_cast<int>(i), stream, decoder.get());
        decoders.push_back(std::move(decoder));
    }
    return decoders;
}

void TCustomFFmpeg::learn_input_stream(int index, AVStream* stream, AVCodecContext* decoder)
{
    switch (decoder->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        apply_generic_options(decoder, generic_options.codec[AVMEDIA_TYPE_VIDEO],
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        learn_video_stream(index, stream, decoder);
        add_input_codec(video_codec_name);
        if (video_disable) stream->discard = AVDISCARD_ALL;
        else if (video_discard) stream->discard = static_cast<AVDiscard>(video_discard);
        break;
    case AVMEDIA_TYPE_AUDIO:
        apply_generic_options(decoder, generic_options.codec[AVMEDIA_TYPE_AUDIO],
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        learn_audio_stream(decoder);
        add_input_codec(audio_codec_name);
        if (audio_disable) stream->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_DATA: break; // data streams take no decoder slot
    case AVMEDIA_TYPE_SUBTITLE:
        add_input_codec(subtitle_codec_name);
        if (subtitle_disable) stream->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_ATTACHMENT:
    case AVMEDIA_TYPE_UNKNOWN: add_input_codec({}); break;
    default: throw FFmpegException("invalid codec_type");
    }
}

void TCustomFFmpeg::add_input_codec(const std::string& decoder_name)
{
    check_list_limit(input_codecs.size(), MAX_CODEC_SLOTS, "decoder slots");
    input_codecs.push_back(decoder_name.empty() ? nullptr : lib::avcodec_find_decoder_by_name(decoder_name.c_str()));
}

void TCustomFFmpeg::learn_video_stream(int index, AVStream* stream, AVCodecContext* decoder)
{
    // A damaged header can claim a negative size: that is no size at all.
    frame_height = std::max(decoder->height, 0);
    frame_width = std::max(decoder->width, 0);
    const AVRational sample_aspect = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : decoder->sample_aspect_ratio;
    const double ratio = sample_aspect.num && sample_aspect.den ? double(sample_aspect.num) / sample_aspect.den : 0.0;
    if (frame_width != 0 && frame_height != 0)
        frame_aspect_ratio = static_cast<float>(ratio != 0 ? ratio * frame_width / frame_height : double(frame_width) / frame_height);
    else
        frame_aspect_ratio = static_cast<float>(ratio != 0 ? ratio : 4.0 / 3.0);
    if (decoder->pix_fmt == AV_PIX_FMT_NONE) decoder->pix_fmt = static_cast<AVPixelFormat>(0);
    frame_pix_fmt = decoder->pix_fmt;

    // The decoder's own rate is the stream's average rate in this generation.
    const AVRational container_rate = stream->r_frame_rate;
    const AVRational codec_rate = stream->avg_frame_rate;
    if ((codec_rate.num != container_rate.num || codec_rate.den != container_rate.den) && verbose > 0 && codec_rate.den &&
        container_rate.den)
        log(1, printf_text("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                           index, double(codec_rate.num) / codec_rate.den, codec_rate.num, codec_rate.den,
                           double(container_rate.num) / container_rate.den, container_rate.num, container_rate.den));
    frame_rate = container_rate;
}

void TCustomFFmpeg::learn_audio_stream(const AVCodecContext* decoder)
{
    audio_channels = decoder->ch_layout.nb_channels;
    channel_layout = decoder->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? decoder->ch_layout.u.mask : 0;
    audio_sample_rate = decoder->sample_rate;
    audio_sample_fmt = decoder->sample_fmt;
}

} // namespace quillon
