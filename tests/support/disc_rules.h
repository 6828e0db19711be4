// The rules a VCD, SVCD or DVD compatible MPEG file must keep, checked by
// reading the file back: its pack layout, its video sequence header and
// groups of pictures, and its audio stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillon::test {

enum class DiscType { vcd, svcd, dvd };
enum class DiscNorm { pal, ntsc };
enum class DisplayAspect { four_three, sixteen_nine };

struct DiscRules {
    bool mpeg2 = true;               // MPEG-2 video and program stream; MPEG-1 for VCD
    int width = 0, height = 0;
    int rate_num = 0, rate_den = 1;  // frame rate
    int max_gop = 0;                 // frames from one key frame to the next, at most
    int64_t max_bit_rate = 0;        // bits/s in the sequence header
    int64_t buffer_size = 0;         // video buffer (VBV), bits
    bool scan_offset = false;        // SVCD scan-offset user data in every picture
    std::string audio_codec;
    int sample_rate = 0, channels = 0;
    int64_t audio_bit_rate = 0;
    int packet_size = 0;             // every pack, bytes
    int video_buffer_bound = 0;      // bytes, in the system headers (P-STD buffer of the video stream)
    int64_t mux_rate = 0;            // bits/s in the pack headers; 0 when the disc does not fix it
    DisplayAspect aspect = DisplayAspect::four_three;
};

// The rules of a disc type for a norm and display aspect, with the bit rates,
// buffer size and audio of the target presets.
DiscRules disc_rules(DiscType type, DiscNorm norm, DisplayAspect aspect);

// Every rule `file` breaks, one line each; empty when it keeps them all.
std::vector<std::string> disc_rule_violations(const std::filesystem::path& file, const DiscRules& rules);

} // namespace quillon::test
