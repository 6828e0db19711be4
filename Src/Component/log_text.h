// Building library log lines: the "[name @ ADDRESS]" prefix, the formatted
// message in a fixed buffer, and the split into whole lines.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

constexpr std::size_t log_buffer_size = 2048;

// "[" + the context's item name + " @ " + the class descriptor's address in
// upper-case hexadecimal (at least 8 digits) + "]".
std::string log_prefix(const AVClass* descriptor, void* context);

struct LogText {
    std::vector<std::string> lines; // complete lines, without their line feeds
    std::string rest;               // the start of the next line
};

// Formats the message after `start` in a buffer of log_buffer_size bytes and
// splits the result at its line feeds. A text that does not fit is cut at the
// end of the buffer (never inside a UTF-8 character) and its last piece is
// delivered as a whole line.
LogText compose_log_text(const std::string& start, const char* format, va_list args);

// Splits at line feeds; a cut text also delivers its last piece.
LogText split_log_text(const std::string& text, bool cut);

} // namespace quillon
