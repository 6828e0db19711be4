// Clips the prober suites share: each is generated on first use and lives
// until the test program ends.
#pragma once

#include <filesystem>

#include "Bitmap/bitmap.h"
#include "fixtures/fixture.h"

namespace quillon::test {

enum class Clip {
    mp4,      // 320x240, 25 fps, 2 s, H.264 + AAC
    ntsc_mp4, // 30000/1001 fps, 1 s
    wav,      // audio only
    ts_two,   // transport stream with two programmes
    png,      // one still picture
    bgr_even, // raw BGR 24-bit in AVI, 320x240, 1 s
    bgr_odd,  // the same, 321x240
};

const std::filesystem::path& probe_clip(Clip clip);
// The folder of the clips, for files a test makes beside them.
const std::filesystem::path& probe_media_folder();

// The frame number a picture of a generated clip shows.
int frame_number_of(const TBitmap& bitmap);

// True when every pixel byte is 0.
bool all_black(const TBitmap& bitmap);

} // namespace quillon::test
