// Texts of the prober's information lines.
#pragma once

#include <cstdint>
#include <string>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

// "1024 Byte", "1.00 KB", "1024.00 KB", "3.50 MB", "1.20 GB".
std::string size_text(int64_t size);
// ", 25 tbr", ", 29.97 tbr", ", 90k tbn": two decimals unless the value is whole.
std::string rate_text(double value, const char* unit);
// "%d.%.6d" of microseconds: seconds and microseconds.
std::string seconds_text(int64_t microseconds);

// A stream whose time base has a zero denominator gets the numerator (or 1).
void repair_time_base(AVStream* stream);
// Microseconds of a time in the stream's time base; -1 for no time.
int64_t stream_time_us(const AVStream* stream, int64_t time);

// An input of still pictures: the image file demuxer and the picture pipes.
bool is_still_image_format(const AVInputFormat* format);

// The library log, at 0 error, 1 information, 2 debugging.
void library_log(int level, const std::string& text);

} // namespace quillon
