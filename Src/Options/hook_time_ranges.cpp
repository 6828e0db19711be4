// Time ranges in which frame hooks run: "start-end" pieces in milliseconds,
// separated by commas.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"

namespace quillon {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

// Leading blanks, an optional sign and decimal digits, the whole text; -1 for
// anything else (an empty text included). Times in milliseconds become
// microseconds; one past the 64-bit range counts as no number.
int64_t milliseconds_to_us(std::string_view text)
{
    constexpr int64_t not_a_number = -1 * 1000;
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return not_a_number;
    constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 1000;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return not_a_number;
        if (value > (limit - (c - '0')) / 10) return not_a_number;
        value = value * 10 + (c - '0');
    }
    return (negative ? -value : value) * 1000;
}

} // namespace

void ApplyHookTimeRanges(TCustomFFmpeg& engine, const std::string& text)
{
    std::string_view rest = trimmed(text);
    std::vector<TimeSegment> ranges;
    ranges.reserve(std::count(rest.begin(), rest.end(), ',') + 1);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view piece = trimmed(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t minus = piece.find('-');
        const int64_t start = milliseconds_to_us(trimmed(piece.substr(0, minus)));
        const int64_t end = minus == std::string_view::npos ? milliseconds_to_us({}) : milliseconds_to_us(piece.substr(minus + 1));
        if (start <= end && end >= 0) ranges.push_back({start, end});
    }
    engine.set_segments(ranges);
}

} // namespace quillon
