// The "limit" of a conversion: how long the libraries alone take to decode the
// source and to encode the same number of frames, with nothing in between.
#pragma once

#include <filesystem>

namespace quillon::bench {

struct DecodeResult {
    double seconds = 0;
    int video_frames = 0;
    int audio_samples = 0;
};

// Decodes every video and audio frame of the file on one thread.
DecodeResult decode_only(const std::filesystem::path& file);

// Encodes `frames` pictures of width x height as MPEG-2 at `bit_rate`, and
// `samples` of stereo 48 kHz audio as AC-3, on one thread; returns seconds.
double encode_only(int frames, int width, int height, int bit_rate, int samples);

} // namespace quillon::bench
