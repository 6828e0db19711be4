// Fixed limits of one job's lists.
#pragma once

#include <cstddef>

namespace quillon {

constexpr int MAX_FILES = 20;         // input files, and output files, per job
constexpr int MAX_STREAMS = 20;       // streams per file
constexpr int MAX_STREAM_MAPS = 400;  // 20 x 20
constexpr int MAX_CODEC_SLOTS = 400;  // decoders or encoders chosen by name
constexpr int MAX_META_DATA_MAPS = 20;

// Raises FFmpegException naming the list when adding one more element to a
// list of `count` elements would pass `limit`.
void check_list_limit(std::size_t count, int limit, const char* what);

} // namespace quillon
