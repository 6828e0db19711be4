// The "limit" of a conversion: how long the libraries alone take to decode the
// source and to encode the same number of frames, with nothing in between.
// Encoding synthetic pictures is cheaper than encoding real ones, so the
// pipeline limit also encodes the decoded pictures themselves.
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

// The libraries' own work for one conversion of this very content, each
// stage on its own clock: demuxing and decoding every stream, scaling each
// picture to width x height (bicubic, as the engine does) and encoding it as
// MPEG-2 at `bit_rate`, on one thread, with nothing else between the stages.
struct PipelineTimes {
    double decode = 0, scale = 0, encode = 0; // seconds
    int video_frames = 0;
    int audio_samples = 0;
};
PipelineTimes pipeline_limit(const std::filesystem::path& file, int width, int height, int bit_rate);

// Encodes `frames` pictures of width x height as MPEG-2 at `bit_rate`, and
// `samples` of stereo 48 kHz audio as AC-3, on one thread; returns seconds.
double encode_only(int frames, int width, int height, int bit_rate, int samples);

} // namespace quillon::bench
