// The FFmpeg declarations and the run-time bound entry points.
//
// Product code calls lib::name(...), never the header's own ::name: our
// libraries do not link the FFmpeg libraries, so a direct call fails to link.
#pragma once

#ifndef __STDC_CONSTANT_MACROS
#define __STDC_CONSTANT_MACROS
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>

#include "MyUtil/myutil.h"
}

#include <string>

namespace lib {
#define QUILLON_EXPORT(name) extern decltype(&::name) name;
#include "FFmpegLoader/exports/avcodec.inc"
#include "FFmpegLoader/exports/avdevice.inc"
#include "FFmpegLoader/exports/avfilter.inc"
#include "FFmpegLoader/exports/avformat.inc"
#include "FFmpegLoader/exports/avutil.inc"
#include "FFmpegLoader/exports/swscale.inc"
#include "FFmpegLoader/exports/myutil.inc"
#include "FFmpegLoader/exports/swresample.inc"
#undef QUILLON_EXPORT

// The headers' av_err2str calls an export; this one goes through the binding.
std::string error_text(int code);
} // namespace lib
