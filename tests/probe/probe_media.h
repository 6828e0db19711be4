// Clips the prober suites share, generated once per test program.
#pragma once

#include <filesystem>
#include <string>

#include "Bitmap/bitmap.h"
#include "fixtures/fixture.h"

namespace quillon::test {

struct ProbeMedia {
    std::filesystem::path folder;
    std::filesystem::path mp4;        // 320x240, 25 fps, 2 s, H.264 + AAC
    std::filesystem::path ntsc_mp4;   // 30000/1001 fps
    std::filesystem::path wav;        // audio only
    std::filesystem::path ts_two;     // transport stream with two programmes
    std::filesystem::path png;        // one still picture
    std::filesystem::path bgr_even;   // raw BGR 24-bit, 320x240
    std::filesystem::path bgr_odd;    // raw BGR 24-bit, 321x240
};

// Writes the clips on first use; they live until the program ends.
const ProbeMedia& probe_media();

// The frame number a picture of a generated clip shows.
int frame_number_of(const TBitmap& bitmap);

// True when every pixel byte is 0.
bool all_black(const TBitmap& bitmap);

} // namespace quillon::test
