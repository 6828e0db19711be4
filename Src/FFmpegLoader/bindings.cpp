// Storage of the bound entry points and the per-library binding tables.
#include "FFmpegLoader/bindings.h"

namespace lib {
#define QUILLON_EXPORT(name) decltype(&::name) name = nullptr;
#include "FFmpegLoader/exports/avcodec.inc"
#include "FFmpegLoader/exports/avdevice.inc"
#include "FFmpegLoader/exports/avfilter.inc"
#include "FFmpegLoader/exports/avformat.inc"
#include "FFmpegLoader/exports/avutil.inc"
#include "FFmpegLoader/exports/swscale.inc"
#include "FFmpegLoader/exports/myutil.inc"
#include "FFmpegLoader/exports/swresample.inc"
#undef QUILLON_EXPORT

std::string error_text(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (!av_strerror || av_strerror(code, text, sizeof text) < 0)
        return "Error number " + std::to_string(code) + " occurred";
    return text;
}
} // namespace lib

namespace quillon::bindings {

#define QUILLON_EXPORT(name) \
    {#name, [](void* address) { lib::name = reinterpret_cast<decltype(lib::name)>(address); }},

namespace {
const Export avcodec_exports[] = {
#include "FFmpegLoader/exports/avcodec.inc"
};
const Export avdevice_exports[] = {
#include "FFmpegLoader/exports/avdevice.inc"
};
const Export avfilter_exports[] = {
#include "FFmpegLoader/exports/avfilter.inc"
};
const Export avformat_exports[] = {
#include "FFmpegLoader/exports/avformat.inc"
};
const Export avutil_exports[] = {
#include "FFmpegLoader/exports/avutil.inc"
};
const Export swscale_exports[] = {
#include "FFmpegLoader/exports/swscale.inc"
};
const Export myutil_exports[] = {
#include "FFmpegLoader/exports/myutil.inc"
};
const Export swresample_exports[] = {
#include "FFmpegLoader/exports/swresample.inc"
};
} // namespace
#undef QUILLON_EXPORT

std::span<const Export> exports_of(Library library)
{
    switch (library) {
    case Library::avcodec: return avcodec_exports;
    case Library::avdevice: return avdevice_exports;
    case Library::avfilter: return avfilter_exports;
    case Library::avformat: return avformat_exports;
    case Library::avutil: return avutil_exports;
    case Library::swscale: return swscale_exports;
    case Library::myutil: return myutil_exports;
    case Library::swresample: return swresample_exports;
    case Library::sdl: break;
    }
    return {};
}

} // namespace quillon::bindings
