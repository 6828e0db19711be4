// TEMPORARY stand-ins until the formatting, file-name and option modules land.
#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"
namespace quillon {
std::string format_open_error(const std::string& subject, int code) { return subject + ": error " + std::to_string(code); }
namespace unicode {
std::string to_library_file_name(const std::string& name) { return name; }
int open_input(AVFormatContext** c, const std::string& n, const AVInputFormat* f, AVDictionary** o) { return lib::avformat_open_input(c, n.c_str(), f, o); }
void close_input(AVFormatContext** c) { lib::avformat_close_input(c); }
int open_output(AVIOContext** pb, const std::string& n) { return lib::avio_open(pb, n.c_str(), AVIO_FLAG_WRITE); }
void close_output(AVIOContext** pb) { lib::avio_closep(pb); }
}
void TCustomFFmpeg::apply_generic_options(void* target, void* source, int flags)
{
    for (const std::string& name : generic_options.set_names) {
        const AVOption* option = lib::av_opt_find(source, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
        if (!option || (option->flags & flags) != flags) continue;
        uint8_t* value = nullptr;
        if (lib::av_opt_get(source, name.c_str(), AV_OPT_SEARCH_CHILDREN, &value) >= 0 && value)
            lib::av_opt_set(target, name.c_str(), reinterpret_cast<char*>(value), AV_OPT_SEARCH_CHILDREN);
        lib::av_free(value);
    }
}
}
namespace quillon {
std::string stream_type_name(int type) { static const char* n[] = {"Video","Audio","Data","Subtitle","Attachment"}; return type >= 0 && type < 5 ? n[type] : "Unknown"; }
}
