// The prober's information records. Numbers are -1 and texts empty until filled.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct TFileStreamInfo {
    int64_t StartTime = -1; // microseconds
    int64_t Duration = -1;  // microseconds
    int32_t BitRate = -1;   // bit/s
    int64_t TimeStamp = -1; // seconds since 1970-01-01 UTC
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title, Author, Copyright, Comment, Album, Genre;
};

struct TAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;   // stream time base
    int64_t StartTimeUS = -1; // microseconds
    int64_t Duration = -1;    // stream time base
    int64_t DurationUS = -1;  // microseconds
    int32_t BitRate = -1;
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t SampleFormat = -1; // AVSampleFormat
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;
    int64_t StartTimeUS = -1;
    int64_t Duration = -1;
    int64_t DurationUS = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float DisplayAspectRatio = -1.0f;
    int32_t PixelFormat = -1; // AVPixelFormat
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
};

} // namespace quillon
