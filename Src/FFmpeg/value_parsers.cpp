// Frame rate, frame size, aspect, crop and pad bands, quality scale, matrices
// and time values.
#include "FFmpeg/value_parsers.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/option_numbers.h"
#include "FFmpeg/system_text.h"

namespace quillon {

void TCustomFFmpeg::set_frame_rate(const std::string& text)
{
    if (text.empty()) return;
    AVRational rate{0, 0};
    if (lib::av_parse_video_rate(&rate, to_system_8bit(text).c_str()) < 0) throw FFmpegException("Incorrect frame rate");
    frame_rate = rate;
}

void TCustomFFmpeg::set_frame_size(const std::string& text)
{
    if (text.empty()) return;
    int width = 0, height = 0;
    if (lib::av_parse_video_size(&width, &height, to_system_8bit(text).c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    // The odd size stays stored; the caller fails the job anyway.
    frame_width = width;
    frame_height = height;
    if (width % 2 != 0 || height % 2 != 0) throw FFmpegException("Frame size must be a multiple of 2");
}

namespace {

// "W:H" with integer parts (a part that is not an integer counts as 0), or a
// decimal number; 0 when the text is neither.
double aspect_ratio_of(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos) return parse_decimal(text).value_or(0);
    constexpr int64_t low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
    const int64_t width = parse_integer(std::string_view(text).substr(0, colon), low, high).value_or(0);
    const int64_t height = parse_integer(std::string_view(text).substr(colon + 1), low, high).value_or(0);
    return height > 0 ? double(width) / double(height) : 0;
}

} // namespace

void TCustomFFmpeg::set_aspect(const std::string& text)
{
    if (text.empty()) return;
    const double ratio = aspect_ratio_of(text);
    // A ratio a 32-bit float cannot hold would be stored as 0 ("not set") or infinity.
    const bool fits = std::fabs(ratio) <= std::numeric_limits<float>::max() && float(ratio) != 0;
    if (!fits) throw FFmpegException("Incorrect aspect ratio specification.");
    frame_aspect_ratio = float(ratio);
}

namespace {

struct BandRow {
    const char* crop_message;
    const char* pad_message;
    bool vertical;
    int JobState::*crop;
    int JobState::*pad;
};

// Indexed by TCustomFFmpeg::Band.
constexpr BandRow band_rows[] = {
    {"Top crop size must be a multiple of 2", "Top pad size must be a multiple of 2", true, &JobState::crop_top,
     &JobState::pad_top},
    {"Bottom crop size must be a multiple of 2", "Bottom pad size must be a multiple of 2", true,
     &JobState::crop_bottom, &JobState::pad_bottom},
    {"Left crop size must be a multiple of 2", "Left pad size must be a multiple of 2", false, &JobState::crop_left,
     &JobState::pad_left},
    {"Right crop size must be a multiple of 2", "Right pad size must be a multiple of 2", false,
     &JobState::crop_right, &JobState::pad_right},
};

constexpr const char* vertical_crop_message =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
constexpr const char* horizontal_crop_message =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";

} // namespace

// A crop band is taken from the frame size in force when it is given.
void TCustomFFmpeg::set_crop(Band band, int value)
{
    const BandRow& row = band_rows[static_cast<int>(band)];
    if (value < 0) return;
    if (value % 2 != 0) throw FFmpegException(row.crop_message);
    int& size = row.vertical ? frame_height : frame_width;
    if (value >= size) throw FFmpegException(row.vertical ? vertical_crop_message : horizontal_crop_message);
    this->*row.crop = value;
    size -= value;
}

void TCustomFFmpeg::set_pad(Band band, int value)
{
    const BandRow& row = band_rows[static_cast<int>(band)];
    if (value < 0) return;
    if (value % 2 != 0) throw FFmpegException(row.pad_message);
    this->*row.pad = value;
}

void TCustomFFmpeg::set_crop_top(int value) { set_crop(Band::top, value); }
void TCustomFFmpeg::set_crop_bottom(int value) { set_crop(Band::bottom, value); }
void TCustomFFmpeg::set_crop_left(int value) { set_crop(Band::left, value); }
void TCustomFFmpeg::set_crop_right(int value) { set_crop(Band::right, value); }
void TCustomFFmpeg::set_pad_top(int value) { set_pad(Band::top, value); }
void TCustomFFmpeg::set_pad_bottom(int value) { set_pad(Band::bottom, value); }
void TCustomFFmpeg::set_pad_left(int value) { set_pad(Band::left, value); }
void TCustomFFmpeg::set_pad_right(int value) { set_pad(Band::right, value); }

void TCustomFFmpeg::set_video_qscale(float value)
{
    if (!(value > 0 && value <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
    video_qscale = value;
}

namespace {

// The decimal integer at `at` (leading blanks, optional sign; no digits give
// 0), keeping the low 16 bits however long the digit string is.
uint16_t matrix_coefficient(const char* at)
{
    while (*at == ' ' || *at == '\t') ++at;
    const bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    uint16_t value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) value = uint16_t(value * 10u + unsigned(*at - '0'));
    return negative ? uint16_t(-value) : value;
}

} // namespace

std::vector<uint16_t> parse_matrix(const std::string& text)
{
    std::vector<uint16_t> matrix(MATRIX_SIZE, 0);
    const char* at = text.c_str();
    for (int i = 0; i < MATRIX_SIZE; ++i) {
        matrix[i] = matrix_coefficient(at);
        if (i == MATRIX_SIZE - 1) break;
        at = std::strchr(at, ',');
        if (!at) throw FFmpegException("Syntax error in matrix \"" + text + "\" at coeff " + std::to_string(i));
        ++at;
    }
    return matrix;
}

int64_t parse_time_value(std::string_view option, const std::string& text, bool duration)
{
    int64_t result = 0;
    if (lib::av_parse_time(&result, text.c_str(), duration ? 1 : 0) < 0)
        throw FFmpegException("Invalid " + std::string(duration ? "duration" : "date") + " specification for " +
                              std::string(option) + ": " + text);
    return result;
}

int64_t rounded_seconds(int64_t microseconds)
{
    constexpr int64_t second = 1000000;
    int64_t seconds = microseconds / second;
    int64_t rest = microseconds % second;
    if (rest < 0) { // make the division round toward minus infinity
        --seconds;
        rest += second;
    }
    if (rest > second / 2 || (rest == second / 2 && seconds % 2 != 0)) ++seconds;
    return seconds;
}

namespace {
// Division by 1024 rounding toward minus infinity.
int floor_div_1024(int value)
{
    return value >= 0 ? value / 1024 : -((-value + 1023) / 1024);
}
} // namespace

std::array<int, 3> pad_color_of_rgb(int rgb)
{
    const auto bits = uint32_t(rgb);
    const int r = int(bits & 0xFF), g = int((bits >> 8) & 0xFF), b = int((bits >> 16) & 0xFF);
    return {floor_div_1024(307 * r + 602 * g + 117 * b + 512),
            floor_div_1024(-173 * r - 340 * g + 512 * b + 511) + 128,
            floor_div_1024(512 * r - 429 * g - 84 * b + 511) + 128};
}

} // namespace quillon
