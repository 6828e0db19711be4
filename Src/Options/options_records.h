// The options records of a task: what the application fills for one input
// file and one output file. Unset values are -1, an empty text or false, so
// that the engine keeps its own default.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct TInputOptions {
    std::string FileName;   // AddTask fills it when empty
    std::string FileFormat; // forced input format
    int StartTimeMS = -1;
    int64_t StartTimeUS = -1; // wins over StartTimeMS
    int ProgramID = -1;
    std::string ExtOptions; // lines of name=value
};

struct TStreamInfo {
    double TimeStamp = -1.0; // days since 1899-12-30, local time; 0 = now, < 0 = none
    int Year = -1;
    int Track = -1;
    std::string Title, Author, Copyright, Comment, Album, Genre;
};

struct TOutputOptions {
    std::string FileName;   // AddOutput fills it when empty
    std::string FileFormat; // forced output format
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;
    float MuxPreload = -1.0f;
    std::string AudioCodec;
    bool DisableAudio = false;
    int AudioVolume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int AudioBitrate = -1;
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    uint32_t PadColor = 0; // 0xBBGGRR: red in bits 0-7, green 8-15, blue 16-23
    int GOPSize = -1;
    int VideoBitrate = -1;
    int VideoMaxRate = -1;
    int VideoMinRate = -1;
    int VideoBitrateTolerance = -1;
    int VideoBufSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int StartTimeMS = -1;
    int64_t StartTimeUS = -1;
    int RecordingTimeMS = -1;
    int64_t RecordingTimeUS = -1;
    TStreamInfo Info;
    int Target = 0;      // 1 vcd, 2 svcd, 3 dvd, else none
    int TargetNorm = 0;  // 0 auto, 1 pal, 2 ntsc
    int DefaultNorm = 1; // 1 pal, else ntsc
    bool CustomHook = false;
    bool BeforeHook = false;
    std::string HookTimeRanges; // "start-end" in milliseconds, comma-separated
    bool Join = false;
    std::string ExtOptions;
};

// The defaults routines: every field back to its default.
inline void DefaultInputOptions(TInputOptions& options) { options = TInputOptions{}; }
inline void DefaultOutputOptions(TOutputOptions& options) { options = TOutputOptions{}; }

} // namespace quillon
