// What a VCD, SVCD or DVD compatible file must keep whatever the user chose:
// the disc's audio, the norm's picture, and video bit rates within the
// disc's limits. The target preset sets these; the choices may only move
// the video bit rate inside the limits and pick the display aspect where the
// disc can show it.
#pragma once

#include <span>
#include <string_view>

namespace quillon {

struct DiscFormat {
    int Target;               // 1 vcd, 2 svcd, 3 dvd
    int SampleRate;           // Hz
    int AudioBitRate;         // bit/s
    int MinVideoBitRate;      // bit/s
    int MaxVideoBitRate;      // bit/s
    bool WideScreen;          // 16:9 can be shown (MPEG-1 has no exact 16:9 pixel shape for these sizes)
};

std::span<const DiscFormat> DiscFormats();
const DiscFormat* DiscFormatFor(int target); // none for 0

// The video bit rate kept within the disc's limits; values <= 0 stay (the
// preset's rate then applies).
int DiscVideoBitRate(const DiscFormat& disc, int bit_rate);

// The norm's frame rate for a TV type: "25" for PAL, "30000/1001" for NTSC,
// empty for "Auto" (the preset decides the norm from the source).
std::string_view DiscFrameRate(int tv_type);

} // namespace quillon
