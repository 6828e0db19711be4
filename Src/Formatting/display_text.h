// The texts the conversion list shows for times and sizes.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// hh:mm:ss from whole seconds; the hours are never cut (100:00:00).
std::string FormatTime(int64_t seconds);

// "1.5 MB": GB, MB or KB above 1 GiB, 1 MiB and 1 KiB (strictly), else
// bytes; at most two decimals, no trailing zeros.
std::string FormatSize(int64_t bytes);

} // namespace quillon
