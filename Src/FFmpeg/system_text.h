// The one place where engine texts become the 8-bit texts the libraries take.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Engine texts are UTF-8. The libraries take texts in the system's 8-bit
// character set, which is UTF-8 on the systems we run on, so the text passes
// unchanged; a layer for other character sets would convert here.
std::string to_system_8bit(std::string_view text);

// The text without surrounding blanks and control characters.
std::string trim_text(std::string_view text);

// Number of characters (code points) of a UTF-8 text: the bytes that are not
// continuation bytes.
std::size_t character_count(std::string_view text);

} // namespace quillon
