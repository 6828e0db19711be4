// Reading back what a conversion wrote, through the libraries, for assertions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillon::test {

struct StreamFacts {
    int type = -1; // AVMediaType
    std::string codec;
    int width = 0, height = 0;
    int sar_num = 0, sar_den = 1;
    double frame_rate = 0;
    int sample_rate = 0, channels = 0;
    std::string sample_format;
    int64_t packets = 0;
    double first_time = -1, last_end = 0; // seconds, from packet timestamps
    bool timestamps_monotonic = true;
    int64_t bit_rate = 0;
    std::string language;
};

struct MediaFacts {
    bool opened = false;
    std::string error;
    std::string format;
    double duration = 0; // seconds
    int programs = 0;
    std::vector<StreamFacts> streams;
    std::string title;

    const StreamFacts* first(int type) const;
    int count(int type) const;
};

// Opens the file, reads every packet, and reports what it holds.
MediaFacts read_media(const std::filesystem::path& file);

// Decodes the video frame nearest to `seconds` (after seeking) and reads the
// fixture's frame number from it; -1 when it cannot.
int frame_number_at(const std::filesystem::path& file, double seconds);

// The fixture's frame number shown by the k-th decoded picture (from 0); -1 when none.
int frame_number_of_picture(const std::filesystem::path& file, int k);

// Decodes every frame of the first video stream; counts them.
int count_decoded_video_frames(const std::filesystem::path& file);

// Decodes the first audio stream; the largest sample magnitude, 0..1.
double peak_audio_level(const std::filesystem::path& file);

// Decodes the first video frame and returns the Y, U, V values at (x, y).
bool pixel_yuv_at(const std::filesystem::path& file, int x, int y, int yuv[3]);

// A decoded picture in packed BGR 24-bit: rows of width * 3 bytes.
struct BgrPicture {
    int index = 0;     // decoding order, from 0
    double time = -1;  // seconds, -1 without a timestamp
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* at(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
    int stride() const { return width * 3; }
};

// Calls `use` with every decoded picture of the first video stream, in order,
// until it returns false. False when the file cannot be decoded.
bool for_each_bgr_picture(const std::filesystem::path& file, const std::function<bool(const BgrPicture&)>& use);

} // namespace quillon::test
