// Number reading for option values: the strict whole-text forms of the option
// table, and the C runtime's strtol/strtod forms used by the map options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Whole text as an integer in [min, max]: leading blanks, an optional sign,
// then decimal digits or hexadecimal digits after "$", "x" or "0x". Anything
// else, an empty text included, gives nothing.
std::optional<int64_t> parse_integer(std::string_view text, int64_t min, int64_t max);

// Whole text, surrounding blanks allowed, as a finite decimal number. The
// decimal separator is always "." (the C locale), whatever the user's locale,
// so an option line means the same on every machine.
std::optional<double> parse_decimal(std::string_view text);

// The same, raising FFmpegException naming the option and the text when the
// text is not a number of the kind asked for.
int32_t read_int32(std::string_view text, std::string_view option);
int64_t read_int64(std::string_view text, std::string_view option);
float read_float(std::string_view text, std::string_view option);

// Reads numbers one after another from a text with the C runtime's rules
// (myutil's my_strtol in base 0 and my_strtod): leading blanks skipped, reading
// stops at the first character that does not fit, no digits give 0.
class RuntimeNumberReader {
public:
    explicit RuntimeNumberReader(std::string text) : text_(std::move(text)), at_(text_.c_str()) {}
    RuntimeNumberReader(const RuntimeNumberReader&) = delete;
    RuntimeNumberReader& operator=(const RuntimeNumberReader&) = delete;

    int next_int(); // saturated to 32 bits, as a 32-bit strtol would
    double next_double();
    bool at_end() const { return *at_ == '\0'; }
    void skip_one()
    {
        if (*at_) ++at_;
    }

private:
    std::string text_;
    const char* at_;
};

} // namespace quillon
