// Timestamps as HH:MM:SS.mmm.
#include "Formatting/formatting.h"

namespace quillon {

std::string format_timestamp(int64_t microseconds)
{
    const long long seconds = microseconds / 1000000;
    const long long hours = seconds / 60 / 60;
    const long long minutes = (seconds / 60) % 60;
    const long long milliseconds = (microseconds % 1000000) * 1000 / 1000000;
    return printf_text("%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, seconds % 60, milliseconds);
}

} // namespace quillon
