#include "bench_limits.h"

#include <chrono>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswscale/swscale.h>
}

namespace quillon::bench {

namespace {
double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

AVCodecContext* open_decoder(const AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, stream->codecpar);
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) throw std::runtime_error("cannot open decoder");
    return context;
}

// A file opened with a single-threaded decoder for each of its streams.
struct DecodingInput {
    AVFormatContext* input = nullptr;
    std::vector<AVCodecContext*> decoders;

    explicit DecodingInput(const std::filesystem::path& file)
    {
        if (avformat_open_input(&input, file.c_str(), nullptr, nullptr) < 0) throw std::runtime_error("cannot open");
        avformat_find_stream_info(input, nullptr);
        for (unsigned i = 0; i < input->nb_streams; ++i) decoders.push_back(open_decoder(input->streams[i]));
    }
    ~DecodingInput()
    {
        for (AVCodecContext*& decoder : decoders) avcodec_free_context(&decoder);
        avformat_close_input(&input);
    }
};

void drain_encoder(AVCodecContext* encoder, AVPacket* packet)
{
    while (avcodec_receive_packet(encoder, packet) >= 0) av_packet_unref(packet);
}

AVCodecContext* open_mpeg2_encoder(int width, int height, int bit_rate)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    AVCodecContext* video = avcodec_alloc_context3(codec);
    video->width = width;
    video->height = height;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = {1, 25};
    video->framerate = {25, 1};
    video->bit_rate = bit_rate;
    video->gop_size = 15;
    video->thread_count = 1;
    if (avcodec_open2(video, codec, nullptr) < 0) throw std::runtime_error("cannot open mpeg2video");
    return video;
}

// Adds the time `work` takes to `total`.
template <class Work> void timed(double& total, Work&& work)
{
    const double start = now();
    work();
    total += now() - start;
}

// Scales and encodes each decoded picture, each stage on its own clock.
struct VideoStages {
    SwsContext* scaler = nullptr;
    AVFrame* scaled = nullptr;
    AVCodecContext* encoder = nullptr;
    AVPacket* packet = av_packet_alloc();
    int64_t next_pts = 0;

    VideoStages(int width, int height, int bit_rate)
        : encoder(open_mpeg2_encoder(width, height, bit_rate))
    {
        scaled = av_frame_alloc();
        scaled->format = AV_PIX_FMT_YUV420P;
        scaled->width = width;
        scaled->height = height;
        av_frame_get_buffer(scaled, 0);
    }
    ~VideoStages()
    {
        sws_freeContext(scaler);
        av_frame_free(&scaled);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
    }
    void take(const AVFrame* picture, PipelineTimes& times)
    {
        timed(times.scale, [&] {
            scaler = sws_getCachedContext(scaler, picture->width, picture->height, AVPixelFormat(picture->format),
                                          scaled->width, scaled->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                          nullptr, nullptr);
            av_frame_make_writable(scaled);
            sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, scaled->data, scaled->linesize);
        });
        timed(times.encode, [&] {
            scaled->pts = next_pts++;
            avcodec_send_frame(encoder, scaled);
            drain_encoder(encoder, packet);
        });
    }
    void finish(PipelineTimes& times)
    {
        timed(times.encode, [&] {
            avcodec_send_frame(encoder, nullptr);
            drain_encoder(encoder, packet);
        });
    }
};
} // namespace

DecodeResult decode_only(const std::filesystem::path& file)
{
    DecodeResult result;
    DecodingInput source(file);
    AVFormatContext* input = source.input;
    std::vector<AVCodecContext*>& decoders = source.decoders;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const double start = now();
    const auto receive = [&](AVCodecContext* decoder) {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) ++result.video_frames;
            else result.audio_samples += frame->nb_samples;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        AVCodecContext* decoder = decoders[packet->stream_index];
        avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        receive(decoder);
    }
    for (AVCodecContext* decoder : decoders) {
        avcodec_send_packet(decoder, nullptr);
        receive(decoder);
    }
    result.seconds = now() - start;
    av_frame_free(&frame);
    av_packet_free(&packet);
    return result;
}

PipelineTimes pipeline_limit(const std::filesystem::path& file, int width, int height, int bit_rate)
{
    PipelineTimes times;
    DecodingInput source(file);
    AVFormatContext* input = source.input;
    std::vector<AVCodecContext*>& decoders = source.decoders;
    VideoStages video(width, height, bit_rate);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto receive = [&](AVCodecContext* decoder) {
        for (;;) {
            int result = 0;
            timed(times.decode, [&] { result = avcodec_receive_frame(decoder, frame); });
            if (result < 0) return;
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
                ++times.video_frames;
                video.take(frame, times);
            } else {
                times.audio_samples += frame->nb_samples;
            }
            av_frame_unref(frame);
        }
    };
    for (;;) {
        int result = 0;
        timed(times.decode, [&] { result = av_read_frame(input, packet); });
        if (result < 0) break;
        AVCodecContext* decoder = decoders[packet->stream_index];
        timed(times.decode, [&] { avcodec_send_packet(decoder, packet); });
        av_packet_unref(packet);
        receive(decoder);
    }
    for (AVCodecContext* decoder : decoders) {
        avcodec_send_packet(decoder, nullptr);
        receive(decoder);
    }
    video.finish(times);
    av_frame_free(&frame);
    av_packet_free(&packet);
    return times;
}

double encode_only(int frames, int width, int height, int bit_rate, int samples)
{
    AVCodecContext* video = open_mpeg2_encoder(width, height, bit_rate);
    const AVCodec* audio_codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    AVCodecContext* audio = avcodec_alloc_context3(audio_codec);
    audio->sample_rate = 48000;
    audio->sample_fmt = audio_codec->sample_fmts[0];
    av_channel_layout_default(&audio->ch_layout, 2);
    audio->bit_rate = 448000;
    audio->time_base = {1, 48000};
    if (avcodec_open2(audio, audio_codec, nullptr) < 0) throw std::runtime_error("cannot open ac3");

    // A second of moving pictures, made before the clock starts and sent in turn.
    std::vector<AVFrame*> pictures;
    for (int i = 0; i < 25; ++i) {
        AVFrame* picture = av_frame_alloc();
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = width;
        picture->height = height;
        av_frame_get_buffer(picture, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) picture->data[0][y * picture->linesize[0] + x] = uint8_t(x + y + 3 * i);
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < height / 2; ++y)
                for (int x = 0; x < width / 2; ++x) picture->data[plane][y * picture->linesize[plane] + x] = uint8_t(128 + x - y);
        pictures.push_back(picture);
    }
    AVFrame* block = av_frame_alloc();
    block->format = audio->sample_fmt;
    block->nb_samples = audio->frame_size;
    av_channel_layout_copy(&block->ch_layout, &audio->ch_layout);
    av_frame_get_buffer(block, 0);
    AVPacket* packet = av_packet_alloc();

    const double start = now();
    for (int i = 0; i < frames; ++i) {
        AVFrame* picture = pictures[i % pictures.size()];
        picture->pts = i;
        avcodec_send_frame(video, picture);
        drain_encoder(video, packet);
    }
    for (int done = 0; done < samples; done += audio->frame_size) {
        av_frame_make_writable(block);
        block->pts = done;
        avcodec_send_frame(audio, block);
        drain_encoder(audio, packet);
    }
    avcodec_send_frame(video, nullptr);
    drain_encoder(video, packet);
    avcodec_send_frame(audio, nullptr);
    drain_encoder(audio, packet);
    const double seconds = now() - start;
    av_packet_free(&packet);
    av_frame_free(&block);
    for (AVFrame*& picture : pictures) av_frame_free(&picture);
    avcodec_free_context(&audio);
    avcodec_free_context(&video);
    return seconds;
}

} // namespace quillon::bench
