// printf-style formatting into a std::string, for the engine's fixed message texts.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

template <typename... Args>
std::string text_format(const char* format, Args... args)
{
    const int size = std::snprintf(nullptr, 0, format, args...);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

} // namespace quillon
