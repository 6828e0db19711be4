// Texts for a file that cannot be opened or created, chosen by the library's
// error code. The table maps each text to the codes of the same meaning in the
// installed libraries.
#include "Formatting/formatting.h"

namespace quillon {
namespace {

struct OpenErrorRow {
    int code;
    const char* format;
};

constexpr const char* image_name_syntax_format =
    "%s: Incorrect image filename syntax.\r\n"
    "Use '%%d' to specify the image number:\r\n"
    "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
    "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";

// No demuxer recognises the data: the libraries report invalid data.
// A demuxer that cannot use the header's values reports an invalid argument.
// An unknown protocol prefix means the named file cannot be found.
constexpr OpenErrorRow open_error_table[] = {
    {AVERROR_INVALIDDATA, "%s: Unknown format"},
    {AVERROR_DEMUXER_NOT_FOUND, "%s: Unknown format"},
    {OPEN_ERROR_IMAGE_NAME_SYNTAX, image_name_syntax_format},
    {AVERROR(EINVAL), "%s: Error while parsing header"},
    {AVERROR(ENOMEM), "%s: memory allocation error occurred"},
    {AVERROR(EIO),
     "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
    {AVERROR(ENOENT), "%s: no such file or directory"},
    {AVERROR_PROTOCOL_NOT_FOUND, "%s: no such file or directory"},
};

constexpr const char* other_error_format = "%s: Error while opening file";

const OpenErrorRow* open_error_row(int code)
{
    for (const OpenErrorRow& row : open_error_table)
        if (row.code == code) return &row;
    return nullptr;
}

const char* open_error_format(int code)
{
    const OpenErrorRow* row = open_error_row(code);
    return row ? row->format : other_error_format;
}

} // namespace

std::string format_open_error(std::string_view subject, int code)
{
    const std::string text(subject);
    return printf_text(open_error_format(code), text.c_str());
}

std::string format_run_error(std::string_view subject, int code)
{
    if (open_error_row(code)) return format_open_error(subject, code);
    return std::string(subject) + ": " + lib::error_text(code);
}

} // namespace quillon
