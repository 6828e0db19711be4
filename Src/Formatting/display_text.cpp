#include "Formatting/display_text.h"

#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

std::string two_digits(int64_t value)
{
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

// Up to two decimals with the trailing zeros (and a bare point) removed.
std::string short_number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string result = text;
    while (result.back() == '0') result.pop_back();
    if (result.back() == '.') result.pop_back();
    return result;
}

} // namespace

std::string FormatTime(int64_t seconds)
{
    if (seconds < 0) seconds = 0;
    const int64_t hours = seconds / 3600;
    return two_digits(hours) + ":" + two_digits(seconds / 60 - hours * 60) + ":" + two_digits(seconds % 60);
}

std::string FormatSize(int64_t bytes)
{
    constexpr int64_t kib = 1024, mib = kib * 1024, gib = mib * 1024;
    if (bytes > gib) return short_number(double(bytes) / gib) + " GB";
    if (bytes > mib) return short_number(double(bytes) / mib) + " MB";
    if (bytes > kib) return short_number(double(bytes) / kib) + " KB";
    return short_number(double(bytes)) + " bytes";
}

} // namespace quillon
