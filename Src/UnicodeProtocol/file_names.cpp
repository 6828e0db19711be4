// Conversion of file names between the program and the media libraries.
//
// On this platform the file system addresses a file by the bytes of its name,
// which the program keeps in UTF-8. A name can therefore go to the libraries
// as plain 8-bit text only when the locale's character set writes it with the
// very same bytes; every other name takes the "unicode:utf8:" form, so the
// layer opens exactly the file the program means.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>

#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {
namespace {

bool is_utf8_codeset(std::string codeset)
{
    codeset.erase(std::remove(codeset.begin(), codeset.end(), '-'), codeset.end());
    std::transform(codeset.begin(), codeset.end(), codeset.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return codeset == "UTF8";
}

bool is_ascii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The name converted to the character set gives the same bytes. The output
// buffer is as long as the name: a longer conversion cannot be equal anyway.
bool same_bytes_in(const char* codeset, const std::string& name)
{
    iconv_t converter = iconv_open(codeset, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return is_ascii(name);
    std::string input = name;
    std::string output(name.size(), '\0');
    char* in = input.data();
    char* out = output.data();
    std::size_t in_left = input.size(), out_left = output.size();
    const bool converted = iconv(converter, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) &&
                           iconv(converter, nullptr, nullptr, &out, &out_left) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    return converted && in_left == 0 && out_left == 0 && output == name;
}

bool fits_code_page(const std::string& name)
{
    const std::string codeset = nl_langinfo(CODESET);
    return is_utf8_codeset(codeset) || same_bytes_in(codeset.c_str(), name);
}

bool is_known_protocol_url(const std::string& name)
{
    const auto colon = name.find(':');
    if (colon == std::string::npos) return false;
    const std::string scheme = ":" + name.substr(0, colon) + ":";
    return KNOWN_PROTOCOLS.find(scheme) != std::string_view::npos;
}

} // namespace

bool NeedsUnicodeProtocol(const std::string& file_name)
{
    if (is_known_protocol_url(file_name)) return false;
    return !fits_code_page(file_name);
}

std::string ToLibraryFileName(const std::string& file_name)
{
    if (NeedsUnicodeProtocol(file_name)) return std::string(UNICODE_PROTOCOL_PREFIX) + file_name;
    return file_name;
}

std::string FromLibraryFileName(const std::string& library_name)
{
    if (library_name.size() > UNICODE_PROTOCOL_PREFIX.size() && library_name.starts_with(UNICODE_PROTOCOL_PREFIX))
        return library_name.substr(UNICODE_PROTOCOL_PREFIX.size());
    return library_name;
}

} // namespace quillon
