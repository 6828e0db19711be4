// Reading back what a conversion wrote, through the libraries, for assertions.
#pragma once

#include <filesystem>
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

} // namespace quillon::test
