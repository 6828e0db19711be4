// The disc formats' fixed values, the same as the target presets use.
#include "ChoiceMapping/disc_formats.h"

#include <algorithm>

namespace quillon {
namespace {

constexpr DiscFormat discs[] = {
    // VCD video is constant-rate: minimum and maximum are both 1150 kbit/s.
    {1, 44100, 224000, 1150000, 1150000, false},
    {2, 44100, 224000, 1, 2516000, true},
    {3, 48000, 448000, 1, 9000000, true},
};

} // namespace

std::span<const DiscFormat> DiscFormats() { return discs; }

const DiscFormat* DiscFormatFor(int target)
{
    for (const DiscFormat& disc : discs)
        if (disc.Target == target) return &disc;
    return nullptr;
}

int DiscVideoBitRate(const DiscFormat& disc, int bit_rate)
{
    if (bit_rate <= 0) return bit_rate;
    return std::clamp(bit_rate, disc.MinVideoBitRate, disc.MaxVideoBitRate);
}

std::string_view DiscFrameRate(int tv_type)
{
    if (tv_type == 1) return "25";
    if (tv_type == 2) return "30000/1001";
    return {};
}

} // namespace quillon
