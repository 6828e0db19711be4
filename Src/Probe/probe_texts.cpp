// Texts and small stream helpers of the prober.
#include "Probe/probe_texts.h"

#include <strings.h>

#include <cmath>
#include <string_view>

#include "Formatting/formatting.h"

namespace quillon {

std::string size_text(int64_t size)
{
    constexpr double kilo = 1024.0, mega = 1048576.0, giga = 1073741824.0;
    if (size <= 1024) return printf_text("%lld Byte", static_cast<long long>(size));
    if (size <= 1048576) return printf_text("%.2f KB", static_cast<double>(size) / kilo);
    if (size <= 1073741824) return printf_text("%.2f MB", static_cast<double>(size) / mega);
    return printf_text("%.2f GB", static_cast<double>(size) / giga);
}

std::string rate_text(double value, const char* unit)
{
    const long long hundredths = std::llrint(value * 100);
    if (hundredths % 100 != 0) return printf_text(", %3.2f %s", value, unit);
    if (hundredths % 100000 != 0) return printf_text(", %1.0f %s", value, unit);
    return printf_text(", %1.0fk %s", value / 1000, unit);
}

// A negative time keeps its sign in front of the whole number.
std::string seconds_text(int64_t microseconds)
{
    const uint64_t magnitude = microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds) : microseconds;
    return printf_text("%s%llu.%.6llu", microseconds < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / 1000000),
                       static_cast<unsigned long long>(magnitude % 1000000));
}

void repair_time_base(AVStream* stream)
{
    if (stream->time_base.den == 0) stream->time_base.den = stream->time_base.num ? stream->time_base.num : 1;
}

int64_t stream_time_us(const AVStream* stream, int64_t time)
{
    if (time == AV_NOPTS_VALUE) return -1;
    return lib::av_rescale_q(time, stream->time_base, AVRational{1, 1000000});
}

bool is_still_image_format(const AVInputFormat* format)
{
    if (!format || !format->name) return false;
    const std::string_view name = format->name;
    return strcasecmp(format->name, "image2") == 0 || name == "image2pipe" || name.ends_with("_pipe");
}

void library_log(int level, const std::string& text)
{
    constexpr int levels[] = {AV_LOG_ERROR, AV_LOG_INFO, AV_LOG_DEBUG};
    const int library_level = level < 0 ? AV_LOG_QUIET : level > 2 ? AV_LOG_TRACE : levels[level];
    lib::av_log(nullptr, library_level, "%s", text.c_str());
}

} // namespace quillon
