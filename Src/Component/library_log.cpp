#include "Component/library_log.h"

#include <mutex>
#include <thread>

#include "Component/component_registry.h"
#include "Component/conversion_component.h"
#include "Component/log_text.h"
#include "Component/pending_lines.h"
#include "FFmpeg/library_log_level.h"
#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/loader.h"

namespace quillon {

namespace {

thread_local bool in_callback = false;

void offer_line(std::thread::id thread, int verbosity, const std::string& line)
{
    ComponentRegistry::ForEach(
        [&](TCustomConversionComponent& component) { component.RouteLogLine(thread, verbosity, line); });
}

void handle_message(void* context, int level, const char* format, va_list args)
{
    std::lock_guard registry(ComponentRegistry::Lock());
    in_callback = true;
    struct Leave {
        ~Leave() { in_callback = false; }
    } leave;
    const AVClass* descriptor = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    const std::thread::id thread = std::this_thread::get_id();
    std::string start = pending_log_lines().Pending(thread);
    if (start.empty() && descriptor) start = log_prefix(descriptor, context);
    LogText text = compose_log_text(start, format, args);
    const int verbosity = verbosity_of_library_level(level);
    for (const std::string& line : text.lines) offer_line(thread, verbosity, line);
    pending_log_lines().SetPending(thread, std::move(text.rest));
}

void install_now() { lib::av_log_set_callback(&library_log_callback); }

} // namespace

void library_log_callback(void* context, int level, const char* format, va_list args)
{
    // The level check comes before any lock: filtered messages cost one comparison.
    if (level > cached_library_log_level()) return;
    try {
        handle_message(context, level, format, args);
    } catch (...) {
        // The libraries call us from C: nothing may escape.
    }
}

bool inside_library_log_callback() { return in_callback; }

void install_library_log_callback()
{
    static std::once_flag once;
    std::call_once(once, [] { TFFmpegLoader::set_log_callback_hook(&install_now); });
    if (TFFmpegLoader::is_loaded(Library::avutil)) install_now();
}

} // namespace quillon
