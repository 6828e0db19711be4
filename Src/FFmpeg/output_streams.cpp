// The stream creators: each output stream gets its encoder context, codec,
// sizes, rates, quality settings and language from the values in force.
#include <cmath>
#include <cstring>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"
#include "FFmpeg/stream_values.h"

namespace quillon {

namespace {

// The language in force goes to the stream and is used up.
void take_language(AVStream* stream, std::string& language)
{
    if (language.empty()) return;
    lib::av_dict_set(&stream->metadata, "language", language.c_str(), 0);
    language.clear();
}

// Halves go to the even neighbour, as the rate and aspect arithmetic expects.
int64_t round_half_even(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

} // namespace

AVRational aspect_to_ratio(double d)
{
    int64_t e = round_half_even(std::log10(std::fabs(d) + 1e-20) / 0.69314718055994530942);
    if (e < 0) e = 0;
    const int64_t denominator = int64_t(1) << ((61 - e) % 32);
    const int64_t numerator = round_half_even(d * double(denominator) + 0.5);
    AVRational ratio{0, 1};
    lib::av_reduce(&ratio.num, &ratio.den, numerator, denominator, 255);
    return ratio;
}

std::vector<RcOverride> parse_rc_override(const std::string& text)
{
    std::vector<RcOverride> overrides;
    const char* p = text.c_str();
    const auto bounded_integer = [&]() {
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (end == p || *end == '\0') throw FFmpegException("error parsing rc_override");
        p = end + 1; // the separator after the number
        return static_cast<int>(value);
    };
    while (true) {
        RcOverride entry{};
        entry.start_frame = bounded_integer();
        entry.end_frame = bounded_integer();
        const char* q_text = p;
        const int q = static_cast<int>(std::strtol(q_text, nullptr, 10));
        entry.qscale = q > 0 ? q : 0;
        entry.quality_factor = q > 0 ? 1.0f : static_cast<float>(-q / 100.0);
        overrides.push_back(entry);
        const char* slash = std::strchr(q_text, '/');
        if (!slash) break;
        p = slash + 1;
    }
    return overrides;
}

std::size_t TCustomFFmpeg::stream_row_of(const AVFormatContext* context) const
{
    for (std::size_t i = 0; i < output_files.size(); ++i)
        if (output_files[i] == context) return i;
    return output_files.size(); // the file being created
}

// Creates the library stream, its encoder context and its row entry; the
// pending bitstream chain of the media type goes with it.
OutputStreamSetup& TCustomFFmpeg::add_output_stream(AVFormatContext* context, AVMediaType type,
                                                    BitstreamFilterChain& pending, std::string& codec_name)
{
    const std::size_t row = stream_row_of(context);
    if (context->nb_streams >= static_cast<unsigned>(MAX_STREAMS) || output_codecs.size() >= MAX_CODEC_SLOTS) {
        codec_name.clear();
        throw FFmpegException("Could not alloc stream");
    }
    AVStream* stream = lib::avformat_new_stream(context, nullptr);
    CodecContextPtr encoder(lib::avcodec_alloc_context3(nullptr));
    if (!stream || !encoder) {
        codec_name.clear();
        throw FFmpegException("Could not alloc stream");
    }
    encoder->codec_type = type;
    bitstream_filters[row][stream->index] = std::move(pending);
    pending.clear();
    if (output_streams.size() <= row) output_streams.resize(row + 1);
    output_streams[row].push_back({std::move(encoder), false, stream->index});
    return output_streams[row].back();
}

// Finds the encoder for the stream: by name when one was given (its slot in
// output_codecs records it), else guessed from the format and file name.
// Encoders keep their own defaults (a library context made without the
// encoder lacks them); what the stream already carries moves over.
void TCustomFFmpeg::adopt_encoder_defaults(OutputStreamSetup& setup, const AVCodec* codec)
{
    if (!codec) return;
    CodecContextPtr fresh(lib::avcodec_alloc_context3(codec));
    if (!fresh) throw FFmpegException("Could not alloc stream");
    const AVCodecContext* old = setup.encoder.get();
    fresh->codec_type = old->codec_type;
    fresh->codec_tag = old->codec_tag;
    fresh->flags |= old->flags;
    fresh->flags2 |= old->flags2;
    fresh->thread_count = old->thread_count;
    setup.encoder = std::move(fresh);
}

const AVCodec* TCustomFFmpeg::choose_encoder(AVFormatContext* context, AVMediaType type, std::string& codec_name)
{
    if (!codec_name.empty()) {
        AVCodecID id{};
        if (!find_codec_id(codec_name, type, true, id)) {
            codec_name.clear();
            throw FFmpegException(last_error);
        }
        const AVCodec* encoder = lib::avcodec_find_encoder_by_name(codec_name.c_str());
        output_codecs.push_back(encoder);
        return encoder;
    }
    output_codecs.push_back(nullptr);
    const AVCodecID id = lib::av_guess_codec(context->oformat, nullptr, context->url, nullptr, type);
    return lib::avcodec_find_encoder(id);
}

void TCustomFFmpeg::new_video_stream(AVFormatContext* context)
{
    OutputStreamSetup& setup = add_output_stream(context, AVMEDIA_TYPE_VIDEO, pending_video_bsf, video_codec_name);
    AVCodecContext* encoder = setup.encoder.get();
    AVStream* stream = context->streams[setup.stream_index];
    if (video_codec_tag) encoder->codec_tag = video_codec_tag;
    apply_video_header_flags(context, encoder);
    if (video_stream_copy) {
        setup.stream_copy = true;
        output_codecs.push_back(nullptr);
        encoder->sample_aspect_ratio = stream->sample_aspect_ratio = copy_sample_aspect();
    } else {
        setup_video_encoder(context, stream, setup);
    }
    video_disable = false;
    video_codec_name.clear();
    video_stream_copy = 0;
}

void TCustomFFmpeg::apply_video_header_flags(AVFormatContext* context, AVCodecContext* encoder)
{
    AVCodecContext* holder = generic_options.codec[AVMEDIA_TYPE_VIDEO];
    if ((video_global_header & 1) || (video_global_header == 0 && (context->oformat->flags & AVFMT_GLOBALHEADER))) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (holder) holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (video_global_header & 2) {
        encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (holder) holder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
}

AVRational TCustomFFmpeg::copy_sample_aspect() const
{
    if (frame_width * frame_height == 0) return aspect_to_ratio(frame_aspect_ratio * 3.0 / 4.0);
    return aspect_to_ratio(double(frame_aspect_ratio) * frame_height / frame_width);
}

void TCustomFFmpeg::setup_video_encoder(AVFormatContext* context, AVStream* stream, OutputStreamSetup& setup)
{
    AVRational fps = frame_rate.num ? frame_rate : AVRational{25, 1};
    const AVCodec* codec = choose_encoder(context, AVMEDIA_TYPE_VIDEO, video_codec_name);
    adopt_encoder_defaults(setup, codec);
    AVCodecContext* encoder = setup.encoder.get();
    encoder->codec_id = codec ? codec->id : lib::av_guess_codec(context->oformat, nullptr, context->url, nullptr, AVMEDIA_TYPE_VIDEO);
    apply_generic_options(encoder, generic_options.codec[AVMEDIA_TYPE_VIDEO],
                          AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (codec && codec->supported_framerates && !force_fps)
        fps = codec->supported_framerates[lib::av_find_nearest_q_idx(fps, codec->supported_framerates)];
    encoder->time_base = {fps.den, fps.num};
    encoder->framerate = fps;
    encoder->width = frame_width + pad_right + pad_left;
    encoder->height = frame_height + pad_top + pad_bottom;
    const int area = encoder->width * encoder->height;
    encoder->sample_aspect_ratio = area == 0 ? aspect_to_ratio(frame_aspect_ratio * 3.0 / 4.0)
                                             : aspect_to_ratio(double(frame_aspect_ratio) * encoder->height / encoder->width);
    stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    encoder->pix_fmt = static_cast<AVPixelFormat>(frame_pix_fmt);
    choose_pixel_format(codec, encoder);
    if (intra_only) encoder->gop_size = 0;
    if (video_qscale != 0 || same_quality) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * video_qscale);
    }
    set_encoder_matrices(encoder);
    encoder->thread_count = thread_count;
    set_rate_control_overrides(encoder);
    if (encoder->rc_initial_buffer_occupancy == 0)
        encoder->rc_initial_buffer_occupancy = static_cast<int>(int64_t{encoder->rc_buffer_size} * 3 / 4);
    encoder->intra_dc_precision = intra_dc_precision - 8; // the motion threshold has no successor
    if (do_psnr) encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (do_pass == 1) encoder->flags |= AV_CODEC_FLAG_PASS1;
    else if (do_pass != 0) encoder->flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::choose_pixel_format(const AVCodec* codec, AVCodecContext* encoder) const
{
    if (!codec || !codec->pix_fmts) return;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == encoder->pix_fmt) return;
    encoder->pix_fmt = codec->pix_fmts[0];
}

// A coefficient the encoders cannot take: they divide by it, and the stream
// holds 8 bits of it.
static void check_matrix(const char* which, const std::vector<uint16_t>& matrix)
{
    for (std::size_t i = 0; i < matrix.size(); ++i)
        if (matrix[i] < 1 || matrix[i] > 255)
            throw FFmpegException(printf_text("Invalid %s matrix: coefficient %d is %d (1 to 255 allowed)", which,
                                              int(i), int(matrix[i])));
}

// The context frees its matrices, so it gets its own copies.
void TCustomFFmpeg::set_encoder_matrices(AVCodecContext* encoder) const
{
    check_matrix("intra", intra_matrix);
    check_matrix("inter", inter_matrix);
    const auto copy = [](const std::vector<uint16_t>& matrix) -> uint16_t* {
        if (matrix.size() != 64) return nullptr;
        auto* memory = static_cast<uint16_t*>(lib::av_malloc(64 * sizeof(uint16_t)));
        if (memory) std::copy(matrix.begin(), matrix.end(), memory);
        return memory;
    };
    if (!intra_matrix.empty()) encoder->intra_matrix = copy(intra_matrix);
    if (!inter_matrix.empty()) encoder->inter_matrix = copy(inter_matrix);
}

void TCustomFFmpeg::set_rate_control_overrides(AVCodecContext* encoder) const
{
    if (rc_override_text.empty()) return;
    const std::vector<RcOverride> overrides = parse_rc_override(rc_override_text);
    auto* list = static_cast<RcOverride*>(lib::av_malloc_array(overrides.size(), sizeof(RcOverride)));
    if (!list) throw FFmpegException("Could not alloc stream");
    std::copy(overrides.begin(), overrides.end(), list);
    encoder->rc_override = list;
    encoder->rc_override_count = static_cast<int>(overrides.size());
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext* context)
{
    OutputStreamSetup& setup = add_output_stream(context, AVMEDIA_TYPE_AUDIO, pending_audio_bsf, audio_codec_name);
    AVCodecContext* encoder = setup.encoder.get();
    AVStream* stream = context->streams[setup.stream_index];
    encoder->thread_count = thread_count;
    if (audio_codec_tag) encoder->codec_tag = audio_codec_tag;
    if (context->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (AVCodecContext* holder = generic_options.codec[AVMEDIA_TYPE_AUDIO]) holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (audio_stream_copy) {
        setup.stream_copy = true;
        output_codecs.push_back(nullptr);
        lib::av_channel_layout_default(&encoder->ch_layout, audio_channels);
    } else {
        setup_audio_encoder(context, setup);
        encoder = setup.encoder.get();
    }
    encoder->sample_rate = audio_sample_rate;
    encoder->time_base = {1, audio_sample_rate};
    take_language(stream, audio_language);
    audio_disable = false;
    audio_codec_name.clear();
    audio_stream_copy = 0;
}

void TCustomFFmpeg::setup_audio_encoder(AVFormatContext* context, OutputStreamSetup& setup)
{
    const AVCodec* codec = choose_encoder(context, AVMEDIA_TYPE_AUDIO, audio_codec_name);
    adopt_encoder_defaults(setup, codec);
    AVCodecContext* encoder = setup.encoder.get();
    apply_generic_options(encoder, generic_options.codec[AVMEDIA_TYPE_AUDIO],
                          AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    encoder->codec_id = codec ? codec->id : lib::av_guess_codec(context->oformat, nullptr, context->url, nullptr, AVMEDIA_TYPE_AUDIO);
    if (audio_qscale > AUDIO_QSCALE_NOT_SET) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * audio_qscale);
    }
    encoder->thread_count = thread_count;
    lib::av_channel_layout_uninit(&encoder->ch_layout);
    if (channel_layout && lib::av_get_channel_layout_nb_channels(channel_layout) == audio_channels)
        lib::av_channel_layout_from_mask(&encoder->ch_layout, channel_layout);
    else
        lib::av_channel_layout_default(&encoder->ch_layout, audio_channels);
    encoder->sample_fmt = static_cast<AVSampleFormat>(audio_sample_fmt);
    if (codec && codec->sample_fmts) {
        bool listed = false;
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) listed = listed || *f == encoder->sample_fmt;
        if (!listed) encoder->sample_fmt = codec->sample_fmts[0];
    }
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext* context)
{
    OutputStreamSetup* setup = nullptr;
    try {
        setup = &add_output_stream(context, AVMEDIA_TYPE_SUBTITLE, pending_subtitle_bsf, subtitle_codec_name);
    } catch (const FFmpegException&) {
        subtitle_language.clear();
        throw;
    }
    AVCodecContext* encoder = setup->encoder.get();
    AVStream* stream = context->streams[setup->stream_index];
    if (subtitle_stream_copy) {
        setup->stream_copy = true;
        output_codecs.push_back(nullptr);
    } else {
        // Subtitle options set by name reach the stream as they do for video and audio.
        apply_generic_options(encoder, generic_options.codec[AVMEDIA_TYPE_SUBTITLE],
                              AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        AVCodecID id{};
        if (!find_codec_id(subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, true, id)) {
            subtitle_codec_name.clear();
            subtitle_language.clear();
            throw FFmpegException(last_error);
        }
        encoder->codec_id = id;
        output_codecs.push_back(subtitle_codec_name.empty() ? nullptr
                                                            : lib::avcodec_find_encoder_by_name(subtitle_codec_name.c_str()));
    }
    take_language(stream, subtitle_language);
    subtitle_disable = false;
    subtitle_codec_name.clear();
    subtitle_stream_copy = 0;
}

} // namespace quillon
