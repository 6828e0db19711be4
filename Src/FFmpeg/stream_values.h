// Values derived when streams and muxers are set up.
#pragma once

#include <string>
#include <vector>

#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/owners.h"

namespace quillon {

// A sample aspect ratio with terms of at most 255 for a decimal ratio.
AVRational aspect_to_ratio(double ratio);

// Rate-control overrides "start,end,q/start,end,q..."; raises "error parsing rc_override".
std::vector<RcOverride> parse_rc_override(const std::string& text);

// Muxer delays are whole microseconds, truncated.
int64_t mux_seconds_to_microseconds(float seconds);

// Deletes the file when it exists and is empty.
void delete_if_empty(const std::string& file_name);

} // namespace quillon

namespace quillon {
// A picture with its own buffers; none when the format or size is unusable.
FramePtr allocate_picture(AVPixelFormat format, int width, int height);
} // namespace quillon
