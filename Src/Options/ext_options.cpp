// Extra option lines "name=value", handed to the engine's option dispatcher.
#include <string_view>

#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"

namespace quillon {

namespace {

bool is_blank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The text without blanks and line breaks at its ends, with every line break
// (CR LF, CR, LF) made a single LF.
std::string normalised_lines(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && is_blank(text[begin])) ++begin;
    while (end > begin && is_blank(text[end - 1])) --end;
    std::string lines;
    lines.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] != '\r') lines += text[i];
        else {
            lines += '\n';
            if (i + 1 < end && text[i + 1] == '\n') ++i;
        }
    }
    return lines;
}

// These act on the output file, so they only make sense once it exists.
bool needs_output(std::string_view name) { return name == "newvideo" || name == "newaudio" || name == "newsubtitle"; }

} // namespace

void ApplyExtOptions(TCustomFFmpeg& engine, const std::string& text, bool after_output)
{
    const std::string lines = normalised_lines(text);
    std::size_t begin = 0;
    while (begin < lines.size()) {
        std::size_t end = lines.find('\n', begin);
        if (end == std::string::npos) end = lines.size();
        const std::string_view line(lines.data() + begin, end - begin);
        begin = end + 1;
        const std::size_t equals = line.find('=');
        const std::string name(line.substr(0, equals));
        const std::string value(equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1));
        if (needs_output(name) == after_output) engine.parse_option(name, value);
    }
}

} // namespace quillon
