// The engine's option table: one row per option name, walked top to bottom by
// parse_option. The first row whose name equals the option decides.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillon {

class TCustomFFmpeg;

// How an option's text is read before its handler sees it.
enum class ValueKind {
    none,     // not read
    flag,     // true unless the text is exactly "0"
    set,      // always true
    int32,    // whole text as a 32-bit integer (decimal, or hexadecimal after "$", "x", "0x")
    int64,    // the same, 64-bit
    float32,  // whole text as a decimal number with "." as separator
    text,     // the text as given
    text8,    // the text in the libraries' 8-bit character set
    duration, // 8-bit text read as a duration, microseconds
    date,     // 8-bit text read as a date, microseconds since 1970
};

// An option's value as its handler receives it; the field that matters
// depends on the row's kind (flag; integer for int32, int64, duration and
// date; number for float32; text for the rest, given for every kind).
struct OptionValue {
    std::string_view name;
    std::string text;
    bool flag = false;
    int64_t integer = 0;
    double number = 0;
};

using OptionHandler = void (*)(TCustomFFmpeg& engine, const OptionValue& value);

struct OptionRow {
    std::string_view name;
    ValueKind kind;
    OptionHandler apply;
};

// Every row, in the order the names are tested.
std::span<const OptionRow> option_table();

// The first row named `name`, or none.
const OptionRow* find_option(std::string_view name);

// Reads `text` as the given kind; raises FFmpegException naming the option
// when a number or time cannot be read.
OptionValue read_option_value(std::string_view name, ValueKind kind, const std::string& text);

} // namespace quillon
