// TEMPORARY stand-in until the formatting module lands.
#pragma once
#include <string>
namespace quillon {
std::string format_open_error(const std::string& subject, int code);
constexpr int image_name_syntax_error = -33;
}
namespace quillon { std::string stream_type_name(int type); }
