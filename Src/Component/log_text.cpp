#include "Component/log_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace quillon {

namespace {

// Drops an incomplete UTF-8 sequence at the end of a cut text.
void trim_partial_character(std::string& text)
{
    std::size_t start = text.size();
    int continuation = 0;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 && continuation < 3) {
        --start;
        ++continuation;
    }
    if (start == 0) return;
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > 1 && continuation + 1 < length) text.resize(start - 1);
}

} // namespace

std::string log_prefix(const AVClass* descriptor, void* context)
{
    const char* name = descriptor->item_name ? descriptor->item_name(context) : descriptor->class_name;
    char address[2 * sizeof(uintptr_t) + 1];
    std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(descriptor));
    return std::string("[") + (name ? name : "") + " @ " + address + "]";
}

LogText compose_log_text(const std::string& start, const char* format, va_list args)
{
    char buffer[log_buffer_size] = {};
    const std::size_t length = std::min(start.size(), log_buffer_size - 1);
    std::memcpy(buffer, start.data(), length);
    const int written = std::vsnprintf(buffer + length, log_buffer_size - length, format ? format : "", args);
    const bool cut = length < start.size() ||
                     (written >= 0 && length + static_cast<std::size_t>(written) >= log_buffer_size);
    std::string text(buffer); // up to the first zero byte
    if (cut) trim_partial_character(text);
    return split_log_text(text, cut);
}

LogText split_log_text(const std::string& text, bool cut)
{
    LogText result;
    std::size_t from = 0;
    for (std::size_t feed = text.find('\n'); feed != std::string::npos; feed = text.find('\n', from)) {
        result.lines.push_back(text.substr(from, feed - from));
        from = feed + 1;
    }
    result.rest = text.substr(from);
    if (cut && !result.rest.empty()) {
        result.lines.push_back(std::move(result.rest));
        result.rest.clear();
    }
    return result;
}

} // namespace quillon
