// The engine's exception: carries one message text.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

class FFmpegException : public std::runtime_error {
public:
    explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quillon
