// One owner type per kind of library object; each frees through the bound calls.
#pragma once

#include <memory>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { lib::avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct FrameFree {
    void operator()(AVFrame* f) const { lib::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* p) const { lib::av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct InputFormatClose {
    void operator()(AVFormatContext* f) const { lib::avformat_close_input(&f); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatClose>;

struct FormatContextFree {
    void operator()(AVFormatContext* f) const { lib::avformat_free_context(f); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;

struct ScalerFree {
    void operator()(SwsContext* s) const { lib::sws_freeContext(s); }
};
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;

struct ResamplerFree {
    void operator()(SwrContext* s) const { lib::swr_free(&s); }
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;

struct DictionaryFree {
    void operator()(AVDictionary* d) const { lib::av_dict_free(&d); }
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryFree>;

struct BsfFree {
    void operator()(AVBSFContext* c) const { lib::av_bsf_free(&c); }
};
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;

struct AudioFifoFree {
    void operator()(AVAudioFifo* f) const { lib::av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

struct LibraryMemoryFree {
    void operator()(void* p) const { lib::av_free(p); }
};
template <typename T>
using LibraryMemoryPtr = std::unique_ptr<T, LibraryMemoryFree>;

struct FilterGraphFree {
    void operator()(AVFilterGraph* g) const { lib::avfilter_graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;

struct FilterInOutFree {
    void operator()(AVFilterInOut* l) const { lib::avfilter_inout_free(&l); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutFree>;

} // namespace quillon
