// The user's output choices (format, quality, picture, audio) and their
// mapping onto a task's options records. The options window and the command
// line both read these tables and call the same builders.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "Options/options_records.h"

namespace quillon {

// A format's file-name stem and video codec.
struct TTip {
    std::string_view ShortName; // "MPEG", "M1V", "M2V", "VCD", "SVCD", "DVD"
    std::string_view Codec;     // video codec, or empty
};

// A quality preset in kbit/s.
struct TBitRate {
    int VideoKbps;
    int AudioKbps;
};

// Item 0 of every quality list is "Auto": the source's bit rates.
struct QualityItem {
    std::string_view Text;
    TBitRate Preset; // {-1, -1} for "Auto"
};

struct FormatItem {
    std::string_view Text;
    TTip Tip;
    std::string_view Name;                // the command line's name: "mpeg1", ..., "dvd"
    std::span<const QualityItem> Quality; // the list shown for this format
    int Target;                           // 1 vcd, 2 svcd, 3 dvd, 0 none
};

std::span<const FormatItem> OutputFormats();
std::span<const std::string_view> FrameSizes();  // item 0 "Auto - Original"
std::span<const std::string_view> FrameRates();  // "Auto", "23.976", "24", "25", "29.97", "30"
std::span<const std::string_view> AspectRatios(); // "Auto", "4:3 - Standard TV", "16:9 - Wide TV"
std::span<const std::string_view> TVTypes();      // "Auto", "PAL", "NTSC"
std::span<const std::string_view> SampleRates();  // "Auto", "8000", "11025", "22050", "44100"
std::span<const std::string_view> AudioChannelItems(); // "Auto", "Mono", "Stereo"

// The frame size a disc format's TV type fixes (empty for "Auto" and for
// other formats): VCD 352x288 / 352x240, SVCD 480x576 / 480x480, DVD
// 720x576 / 720x480 for PAL / NTSC.
std::string_view DiscFrameSize(int format, int tv_type);

// What the options window shows, as list indices and slider values.
struct TOutputChoices {
    int Format = 0;
    int Quality = 0;        // index into the format's quality list
    std::string FrameSize{}; // a FrameSizes item or "WxH"; empty or "Auto - Original": the source's
    int FrameRate = 0;      // index into FrameRates
    int Aspect = 0;         // index into AspectRatios
    int TVType = 0;         // index into TVTypes, disc formats only
    bool AdjustVolume = false;
    int Volume = 256;       // 0..512, 256 = unchanged
    bool SetVideoBitRate = false;
    int VideoKbps = 200;
    bool SetAudioBitRate = false;
    int AudioKbps = 64;
    int SampleRate = 0;     // index into SampleRates
    int Channels = 0;       // index into AudioChannelItems
    bool AviContainer = false;
};

// What the mapping needs of the probed source.
struct TChoiceSource {
    std::string FileName{};
    std::string FormatName{};  // the format the file was probed with; empty: detected
    int VideoBitRate = -1;     // bit/s; <= 0 unknown
    int AudioBitRate = -1;
    float DisplayAspect = -1; // width / height as shown; <= 0 unknown
};

// Tells whether an output name is taken; the default looks at the disk.
using NameTaken = std::function<bool(const std::string& file_name)>;
bool FileExists(const std::string& file_name);

// The output record for the choices. The output goes into `output_folder`
// (a separator is added when missing), or next to the source when the folder
// is empty; a taken name gets "_(1)", "_(2)", ... before its extension.
// Choices outside their lists count as "Auto".
TOutputOptions BuildOutputOptions(const TOutputChoices& choices, const std::string& output_folder,
                                  const TChoiceSource& source, const NameTaken& taken = FileExists);

TInputOptions BuildInputOptions(const TChoiceSource& source);

// Naming pieces, exposed for the window's name preview and for tests.
std::string OutputExtension(int format); // ".mpeg", ".m1v", ".m2v", "_vcd.mpg", "_svcd.mpg", "_dvd.mpg"
std::string OutputBaseName(const std::string& source_file, const std::string& output_folder);
std::string FreeOutputName(const std::string& base, const std::string& extension, const NameTaken& taken);

} // namespace quillon
