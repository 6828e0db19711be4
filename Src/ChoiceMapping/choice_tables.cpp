// The lists of the output options: formats, quality presets, sizes, rates.
#include "ChoiceMapping/output_choices.h"

#include <array>

namespace quillon {
namespace {

constexpr QualityItem quality_mpeg1[] = {
    {"Auto", {-1, -1}},
    {"1. Low Quality    Video:512kbps /Audio:96kbps", {512, 96}},
    {"2. Normal Quality  Video:640kbps /Audio:128kbps", {640, 128}},
    {"3. Medium Quality  Video:800kbps /Audio:128kbps", {800, 128}},
    {"4. Good Quality   Video:1000kbps /Audio:192kbps", {1000, 192}},
    {"5. SuperB Quality Video:1152kbps /Audio:192kbps", {1152, 192}},
};

constexpr QualityItem quality_vcd_svcd[] = {
    {"Auto", {-1, -1}},
    {"1. Low Quality  Video:800kbps/Audio:128kbps", {800, 128}},
    {"2. Normal Quality  Video:1200kbps/Audio:192kbps", {1200, 192}},
    {"3. Medium Quality  Video:1600kbps/Audio:224kbps", {1600, 224}},
    {"4. Good Quality  Video:2000kbps/Audio:224kbps", {2000, 224}},
    {"5. SuperB Quality  Video:2500kbps/Audio:224kbps", {2500, 224}},
};

constexpr QualityItem quality_mpeg2[] = {
    {"Auto", {-1, -1}},
    {"1. Lower Quality  Video:800kbps/Audio:96kbps", {800, 96}},
    {"2. Low Quality  Video:1200kbps/Audio:112kbps", {1200, 112}},
    {"3. Normal Quality  Video:1600kbps/Audio:128kbps", {1600, 128}},
    {"4. Medium Quality  Video:2000kbps/Audio:160kbps", {2000, 160}},
    {"5. Good Quality  Video:3000kbps/Audio:224kbps", {3000, 224}},
    {"6. SuperB Quality  Video:5000kbps/Audio:224kbps", {5000, 224}},
};

constexpr FormatItem formats[] = {
    {"MPEG1 Format (*.mpeg)", {"MPEG", "mpeg1video"}, "mpeg1", quality_mpeg1, 0},
    {"MPEG2 Format (*.mpeg)", {"MPEG", "mpeg2video"}, "mpeg2", quality_mpeg2, 0},
    {"M1V Format no audio (*.m1v)", {"M1V", "mpeg1video"}, "m1v", quality_mpeg1, 0},
    {"M2V Format no audio (*.m2v)", {"M2V", "mpeg2video"}, "m2v", quality_mpeg2, 0},
    {"VCD compartible MPEG1 Format (*.mpg)", {"VCD", ""}, "vcd", quality_vcd_svcd, 1},
    {"SVCD compartible MPEG2 Format (*.mpg)", {"SVCD", ""}, "svcd", quality_vcd_svcd, 2},
    {"DVD compartible MPEG2 Format (*.mpg)", {"DVD", ""}, "dvd", quality_mpeg2, 3},
};

constexpr std::string_view frame_sizes[] = {
    "Auto - Original", "80x60", "96x72", "128x96", "160x120", "176x120", "176x144",
    "192x144", "240x180", "320x200", "320x240", "352x240", "352x288", "480x272",
    "480x480", "480x576", "642x352", "640x480", "720x480", "720x576",
};

constexpr std::string_view frame_rates[] = {"Auto", "23.976", "24", "25", "29.97", "30"};
constexpr std::string_view aspect_ratios[] = {"Auto", "4:3 - Standard TV", "16:9 - Wide TV"};
constexpr std::string_view tv_types[] = {"Auto", "PAL", "NTSC"};
constexpr std::string_view sample_rates[] = {"Auto", "8000", "11025", "22050", "44100"};
constexpr std::string_view channel_items[] = {"Auto", "Mono", "Stereo"};

// Rows: VCD, SVCD, DVD; columns: PAL, NTSC.
constexpr std::array<std::array<std::string_view, 2>, 3> disc_sizes = {{
    {"352x288", "352x240"},
    {"480x576", "480x480"},
    {"720x576", "720x480"},
}};

} // namespace

std::span<const FormatItem> OutputFormats() { return formats; }
std::span<const std::string_view> FrameSizes() { return frame_sizes; }
std::span<const std::string_view> FrameRates() { return frame_rates; }
std::span<const std::string_view> AspectRatios() { return aspect_ratios; }
std::span<const std::string_view> TVTypes() { return tv_types; }
std::span<const std::string_view> SampleRates() { return sample_rates; }
std::span<const std::string_view> AudioChannelItems() { return channel_items; }

std::string_view DiscFrameSize(int format, int tv_type)
{
    if (format < 0 || format >= int(std::size(formats)) || tv_type < 1 || tv_type > 2) return {};
    const int target = formats[format].Target;
    if (target < 1) return {};
    return disc_sizes[target - 1][tv_type - 1];
}

} // namespace quillon
