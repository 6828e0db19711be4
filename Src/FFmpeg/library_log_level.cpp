#include "FFmpeg/library_log_level.h"

#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/loader.h"

namespace quillon {

int library_log_level(int verbosity)
{
    if (verbosity < 0) return AV_LOG_QUIET;
    switch (verbosity) {
    case 0: return AV_LOG_WARNING;
    case 1: return AV_LOG_INFO;
    case 2: return AV_LOG_DEBUG;
    default: return AV_LOG_TRACE;
    }
}

void apply_library_log_level(int verbosity)
{
    if (TFFmpegLoader::is_loaded(Library::avutil)) lib::av_log_set_level(library_log_level(verbosity));
}

} // namespace quillon
