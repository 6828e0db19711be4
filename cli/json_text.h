// A JSON object written as one line, field by field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::cli {

std::string json_string(std::string_view text);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, int64_t value);
    JsonObject& add(std::string_view key, int value) { return add(key, int64_t(value)); }
    JsonObject& add(std::string_view key, double value);
    JsonObject& add(std::string_view key, bool value);
    // A value that is already JSON (an object or an array).
    JsonObject& add_raw(std::string_view key, std::string_view json);
    std::string text() const { return body_ + "}"; }

private:
    void key(std::string_view name);
    std::string body_ = "{";
};

} // namespace quillon::cli
