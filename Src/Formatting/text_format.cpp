// printf-style formatting into a std::string.
#include <cstdarg>
#include <cstdio>

#include "Formatting/formatting.h"

namespace quillon {

std::string printf_text(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int size = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(size));
    }
    va_end(args);
    return text;
}

} // namespace quillon
