// Test-only: reads media with the libraries linked directly.
#include "support/media_check.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/samplefmt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>

#include "fixtures/fixture.h"

namespace quillon::test {

const StreamFacts* MediaFacts::first(int type) const
{
    for (const StreamFacts& s : streams)
        if (s.type == type) return &s;
    return nullptr;
}

int MediaFacts::count(int type) const
{
    int n = 0;
    for (const StreamFacts& s : streams) n += s.type == type;
    return n;
}

namespace {

StreamFacts describe(const AVStream* stream)
{
    const AVCodecParameters* par = stream->codecpar;
    StreamFacts facts;
    facts.type = par->codec_type;
    facts.codec = avcodec_get_name(par->codec_id);
    facts.width = par->width;
    facts.height = par->height;
    facts.sar_num = par->sample_aspect_ratio.num;
    facts.sar_den = par->sample_aspect_ratio.den;
    const AVRational rate = stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
    facts.frame_rate = rate.den ? av_q2d(rate) : 0;
    facts.sample_rate = par->sample_rate;
    facts.channels = par->ch_layout.nb_channels;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->format >= 0)
        facts.sample_format = av_get_sample_fmt_name(static_cast<AVSampleFormat>(par->format));
    facts.bit_rate = par->bit_rate;
    if (const AVDictionaryEntry* e = av_dict_get(stream->metadata, "language", nullptr, 0)) facts.language = e->value;
    return facts;
}

} // namespace

MediaFacts read_media(const std::filesystem::path& file)
{
    MediaFacts facts;
    AVFormatContext* context = nullptr;
    int result = avformat_open_input(&context, file.c_str(), nullptr, nullptr);
    if (result < 0) {
        facts.error = "cannot open";
        return facts;
    }
    if (avformat_find_stream_info(context, nullptr) < 0) facts.error = "no stream info";
    facts.opened = true;
    facts.format = context->iformat->name;
    facts.duration = context->duration != AV_NOPTS_VALUE ? context->duration / 1e6 : 0;
    facts.programs = static_cast<int>(context->nb_programs);
    if (const AVDictionaryEntry* e = av_dict_get(context->metadata, "title", nullptr, 0)) facts.title = e->value;
    std::vector<int64_t> last_dts(context->nb_streams, AV_NOPTS_VALUE);
    for (unsigned i = 0; i < context->nb_streams; ++i) facts.streams.push_back(describe(context->streams[i]));
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        StreamFacts& s = facts.streams[packet->stream_index];
        const AVRational base = context->streams[packet->stream_index]->time_base;
        s.packets++;
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE) {
            const double t = ts * av_q2d(base);
            if (s.first_time < 0 || t < s.first_time) s.first_time = t;
            s.last_end = std::max(s.last_end, (ts + std::max<int64_t>(packet->duration, 0)) * av_q2d(base));
        }
        int64_t& previous = last_dts[packet->stream_index];
        if (packet->dts != AV_NOPTS_VALUE) {
            if (previous != AV_NOPTS_VALUE && packet->dts < previous) s.timestamps_monotonic = false;
            previous = packet->dts;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return facts;
}

namespace {

// Calls `use` with each decoded frame of the first video stream until it returns false.
template <typename Use>
bool decode_video(const std::filesystem::path& file, double seek_seconds, Use use)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(context, nullptr);
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    bool ok = false;
    if (index >= 0) {
        AVStream* stream = context->streams[index];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        AVCodecContext* decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, stream->codecpar);
        if (codec && avcodec_open2(decoder, codec, nullptr) >= 0) {
            ok = true;
            if (seek_seconds > 0) av_seek_frame(context, -1, static_cast<int64_t>(seek_seconds * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
            AVPacket* packet = av_packet_alloc();
            AVFrame* frame = av_frame_alloc();
            bool more = true;
            bool draining = false;
            while (more) {
                if (!draining) {
                    if (av_read_frame(context, packet) < 0) {
                        draining = true;
                        avcodec_send_packet(decoder, nullptr);
                    } else if (packet->stream_index == index) {
                        avcodec_send_packet(decoder, packet);
                    }
                    av_packet_unref(packet);
                }
                while (more && avcodec_receive_frame(decoder, frame) >= 0) {
                    const double t = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                         ? frame->best_effort_timestamp * av_q2d(stream->time_base)
                                         : -1;
                    more = use(frame, t);
                    av_frame_unref(frame);
                }
                if (draining) break;
            }
            av_frame_free(&frame);
            av_packet_free(&packet);
        }
        avcodec_free_context(&decoder);
    }
    avformat_close_input(&context);
    return ok;
}

int read_number(const AVFrame* frame)
{
    SwsContext* scaler = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                                        frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) return -1;
    uint8_t* data[4];
    int linesize[4];
    av_image_alloc(data, linesize, frame->width, frame->height, AV_PIX_FMT_RGB24, 1);
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, data, linesize);
    const int number = fixtures::read_frame_number(data[0], frame->width, frame->height, linesize[0]);
    av_freep(&data[0]);
    sws_freeContext(scaler);
    return number;
}

} // namespace

int frame_number_at(const std::filesystem::path& file, double seconds)
{
    int number = -1;
    decode_video(file, seconds, [&](const AVFrame* frame, double t) {
        if (t + 0.001 < seconds && t >= 0) return true;
        number = read_number(frame);
        return false;
    });
    return number;
}

int frame_number_of_picture(const std::filesystem::path& file, int k)
{
    int index = 0, number = -1;
    decode_video(file, 0, [&](const AVFrame* frame, double) {
        if (index++ < k) return true;
        number = read_number(frame);
        return false;
    });
    return number;
}

int count_decoded_video_frames(const std::filesystem::path& file)
{
    int count = 0;
    decode_video(file, 0, [&](const AVFrame*, double) {
        ++count;
        return true;
    });
    return count;
}

double peak_audio_level(const std::filesystem::path& file)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return -1;
    avformat_find_stream_info(context, nullptr);
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    double peak = -1;
    if (index >= 0) {
        const AVCodec* codec = avcodec_find_decoder(context->streams[index]->codecpar->codec_id);
        AVCodecContext* decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, context->streams[index]->codecpar);
        if (codec && avcodec_open2(decoder, codec, nullptr) >= 0) {
            peak = 0;
            AVPacket* packet = av_packet_alloc();
            AVFrame* frame = av_frame_alloc();
            const auto take = [&] {
                while (avcodec_receive_frame(decoder, frame) >= 0) {
                    const auto format = static_cast<AVSampleFormat>(frame->format);
                    const bool planar = av_sample_fmt_is_planar(format);
                    const int planes = planar ? frame->ch_layout.nb_channels : 1;
                    const int count = frame->nb_samples * (planar ? 1 : frame->ch_layout.nb_channels);
                    for (int p = 0; p < planes; ++p)
                        for (int i = 0; i < count; ++i) {
                            double v = 0;
                            switch (av_get_packed_sample_fmt(format)) {
                            case AV_SAMPLE_FMT_S16: v = reinterpret_cast<int16_t*>(frame->extended_data[p])[i] / 32768.0; break;
                            case AV_SAMPLE_FMT_S32: v = reinterpret_cast<int32_t*>(frame->extended_data[p])[i] / 2147483648.0; break;
                            case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<float*>(frame->extended_data[p])[i]; break;
                            default: break;
                            }
                            peak = std::max(peak, std::abs(v));
                        }
                    av_frame_unref(frame);
                }
            };
            while (av_read_frame(context, packet) >= 0) {
                if (packet->stream_index == index) avcodec_send_packet(decoder, packet);
                av_packet_unref(packet);
                take();
            }
            avcodec_send_packet(decoder, nullptr);
            take();
            av_frame_free(&frame);
            av_packet_free(&packet);
        }
        avcodec_free_context(&decoder);
    }
    avformat_close_input(&context);
    return peak;
}

bool for_each_bgr_picture(const std::filesystem::path& file, const std::function<bool(const BgrPicture&)>& use)
{
    BgrPicture picture;
    SwsContext* scaler = nullptr;
    const bool ok = decode_video(file, 0, [&](const AVFrame* frame, double t) {
        scaler = sws_getCachedContext(scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                      frame->width, frame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                      nullptr);
        if (!scaler) return false;
        picture.time = t;
        picture.width = frame->width;
        picture.height = frame->height;
        picture.pixels.resize(static_cast<size_t>(frame->width) * frame->height * 3);
        uint8_t* data[4] = {picture.pixels.data()};
        int linesize[4] = {picture.stride()};
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, data, linesize);
        const bool more = use(picture);
        ++picture.index;
        return more;
    });
    sws_freeContext(scaler);
    return ok;
}

bool pixel_yuv_at(const std::filesystem::path& file, int x, int y, int yuv[3])
{
    bool found = false;
    decode_video(file, 0, [&](const AVFrame* frame, double) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
        yuv[0] = frame->data[0][y * frame->linesize[0] + x];
        yuv[1] = frame->data[1][(y >> d->log2_chroma_h) * frame->linesize[1] + (x >> d->log2_chroma_w)];
        yuv[2] = frame->data[2][(y >> d->log2_chroma_h) * frame->linesize[2] + (x >> d->log2_chroma_w)];
        found = true;
        return false;
    });
    return found;
}

} // namespace quillon::test
