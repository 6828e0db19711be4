#include "FFmpeg/option_numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "FFmpeg/ffmpeg_exception.h"
#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

int digit_value(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

// Skips a hexadecimal prefix at `i`; returns the base of the digits that follow.
int read_base_prefix(std::string_view text, std::size_t& i)
{
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        ++i;
        return 16;
    }
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
        return 16;
    }
    return 10;
}

[[noreturn]] void conversion_error(std::string_view text, std::string_view kind, std::string_view option)
{
    throw FFmpegException("'" + std::string(text) + "' is not a valid " + std::string(kind) + " value for option " +
                          std::string(option));
}

} // namespace

std::optional<int64_t> parse_integer(std::string_view text, int64_t min, int64_t max)
{
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int base = read_base_prefix(text, i);
    if (i == text.size()) return std::nullopt;

    // Largest magnitude allowed for this sign.
    const uint64_t limit = negative ? uint64_t(-(min + 1)) + 1 : uint64_t(std::max<int64_t>(max, 0));
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = digit_value(text[i], base);
        if (digit < 0 || uint64_t(digit) > limit || magnitude > (limit - digit) / base) return std::nullopt;
        magnitude = magnitude * base + digit;
    }
    if (!negative) return int64_t(magnitude);
    if (magnitude == 0) return 0;
    return -int64_t(magnitude - 1) - 1;
}

std::optional<double> parse_decimal(std::string_view text)
{
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int32_t read_int32(std::string_view text, std::string_view option)
{
    const auto value = parse_integer(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (!value) conversion_error(text, "integer", option);
    return int32_t(*value);
}

int64_t read_int64(std::string_view text, std::string_view option)
{
    const auto value = parse_integer(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    if (!value) conversion_error(text, "64-bit integer", option);
    return *value;
}

float read_float(std::string_view text, std::string_view option)
{
    const auto value = parse_decimal(text);
    if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) conversion_error(text, "number", option);
    return float(*value);
}

int RuntimeNumberReader::next_int()
{
    char* end = nullptr;
    const long value = lib::my_strtol(at_, &end, 0);
    at_ = end;
    return int(std::clamp<long>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

double RuntimeNumberReader::next_double()
{
    char* end = nullptr;
    const double value = lib::my_strtod(at_, &end);
    at_ = end;
    return value;
}

} // namespace quillon
