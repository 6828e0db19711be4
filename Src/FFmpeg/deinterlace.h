// A small deinterlacer: the top field is kept and the lines of the bottom
// field are rebuilt from the lines above and below them.
#pragma once

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

// Writes the deinterlaced source into target (same format and size, own
// buffers). False for formats it cannot work on (paletted, bit-packed,
// hardware, or more than 8 bits per component); target is then untouched.
bool deinterlace_picture(AVFrame* target, const AVFrame* source);

} // namespace quillon
