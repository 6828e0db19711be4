#include "FFmpeg/library_log_level.h"

#include <atomic>

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

namespace {
std::atomic<int> cached_level{AV_LOG_INFO};
}

int verbosity_of_library_level(int level)
{
    if (level <= AV_LOG_QUIET) return -1;
    if (level <= AV_LOG_WARNING) return 0;
    if (level <= AV_LOG_INFO) return 1;
    if (level <= AV_LOG_DEBUG) return 2;
    return 3;
}

void apply_library_log_level(int verbosity)
{
    if (!TFFmpegLoader::is_loaded(Library::avutil)) return;
    lib::av_log_set_level(library_log_level(verbosity));
    cached_level.store(lib::av_log_get_level(), std::memory_order_relaxed);
}

int cached_library_log_level() { return cached_level.load(std::memory_order_relaxed); }

} // namespace quillon
