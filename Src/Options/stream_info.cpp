// Time stamp and metadata of an output file.
#include "Options/stream_info.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "FFmpeg/custom_ffmpeg.h"

namespace quillon {

namespace {
constexpr double unix_epoch_day = 25569; // 1970-01-01 in days since 1899-12-30
constexpr double seconds_per_day = 86400;
} // namespace

int64_t DateTimeToUnixSeconds(double date_time, int bias_minutes)
{
    const double seconds = std::nearbyint((date_time - unix_epoch_day + bias_minutes / 1440.0) * seconds_per_day);
    // A date-time far outside any calendar is held at the ends of the range.
    constexpr double limit = 9.2e18;
    if (!(seconds < limit)) return std::numeric_limits<int64_t>::max();
    if (!(seconds > -limit)) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(seconds);
}

int StandardTimeBiasMinutes()
{
    tzset();
    return static_cast<int>(timezone / 60); // seconds west of UTC in standard time
}

double CurrentLocalDateTime()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double fraction = double(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000) / 1000.0;
    const double local_seconds = double(seconds + local.tm_gmtoff) + fraction;
    return local_seconds / seconds_per_day + unix_epoch_day;
}

void ApplyStreamInfo(TCustomFFmpeg& engine, const TStreamInfo& info)
{
    if (info.TimeStamp == 0) engine.rec_timestamp = DateTimeToUnixSeconds(CurrentLocalDateTime(), StandardTimeBiasMinutes());
    else if (info.TimeStamp > 0) engine.rec_timestamp = DateTimeToUnixSeconds(info.TimeStamp, StandardTimeBiasMinutes());

    if (info.Year > 0) engine.add_metadata("year", std::to_string(info.Year));
    if (info.Track > 0) engine.add_metadata("track", std::to_string(info.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
        {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
    for (const auto& [key, value] : texts)
        if (!value->empty()) engine.add_metadata(key, *value);
}

} // namespace quillon
