#include "cli/json_text.h"

#include <cmath>
#include <cstdio>

namespace quillon::cli {

std::string json_string(std::string_view text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

void JsonObject::key(std::string_view name)
{
    if (body_.size() > 1) body_ += ",";
    body_ += json_string(name) + ":";
}

JsonObject& JsonObject::add(std::string_view name, std::string_view value)
{
    key(name);
    body_ += json_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, int64_t value)
{
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, double value)
{
    key(name);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    body_ += text;
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool value)
{
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add_raw(std::string_view name, std::string_view json)
{
    key(name);
    body_ += json;
    return *this;
}

} // namespace quillon::cli
