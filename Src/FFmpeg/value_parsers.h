// Value parsers shared by the option handlers that need more than a number.
// The ones that write the job are TCustomFFmpeg members (value_parsers.cpp);
// these are the pure ones.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

constexpr int MATRIX_SIZE = 64;

// A quantiser matrix: 64 comma-separated decimal coefficients, each kept in 16
// bits; text after the 64th is ignored. Raises FFmpegException
// "Syntax error in matrix "<text>" at coeff <i>" when a comma is missing.
std::vector<uint16_t> parse_matrix(const std::string& text);

// A duration ([-]HH:MM:SS[.m...] or seconds) or a date, in microseconds, read by
// the library. Raises FFmpegException "Invalid duration|date specification for
// <option>: <text>" when the library rejects the text.
int64_t parse_time_value(std::string_view option, const std::string& text, bool duration);

// Microseconds to whole seconds, rounded to the nearest second, halves to the
// even second.
int64_t rounded_seconds(int64_t microseconds);

// The pad colour (Y, U, V) of an RGB value with red in bits 0-7, green in 8-15
// and blue in 16-23, with 10-bit fixed-point full-range weights.
std::array<int, 3> pad_color_of_rgb(int rgb);

} // namespace quillon
