// The option actions that do more than store a value: formats, maps,
// timestamp scales, metadata, bit rates, pixel and sample formats, bitstream
// filters, statistics files and the entries that act on files and streams.
#include <ctime>
#include <filesystem>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/option_numbers.h"
#include "FFmpeg/system_text.h"

namespace quillon {

// "pgmyuv" is read and written by the image2 format in pgmyuv mode.
std::string TCustomFFmpeg::replace_pgmyuv(const std::string& name)
{
    if (name != "pgmyuv") return name;
    pgmyuv_compat = 1;
    log(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}

// The format is checked before anything is stored, so a rejected name keeps
// the formats forced earlier.
void TCustomFFmpeg::set_format(const std::string& name)
{
    if (name.empty()) return;
    const std::string format = to_system_8bit(replace_pgmyuv(name));
    const AVInputFormat* input = lib::av_find_input_format(format.c_str());
    const AVOutputFormat* output = lib::av_guess_format(format.c_str(), nullptr, nullptr);
    if (!input && !output) throw FFmpegException("Unknown input or output format: " + format);
    forced_input_format = input;
    forced_output_format = output;
}

// "file.stream[:sync_file.stream]", any one separator character between the numbers.
void TCustomFFmpeg::add_stream_map(const std::string& text)
{
    check_list_limit(stream_maps.size(), MAX_STREAM_MAPS, "stream maps");
    RuntimeNumberReader reader(text);
    StreamMap map;
    map.file_index = reader.next_int();
    reader.skip_one();
    map.stream_index = reader.next_int();
    if (reader.at_end()) {
        map.sync_file_index = map.file_index;
        map.sync_stream_index = map.stream_index;
    } else {
        reader.skip_one();
        map.sync_file_index = reader.next_int();
        reader.skip_one();
        map.sync_stream_index = reader.next_int();
    }
    stream_maps.push_back(map);
}

void TCustomFFmpeg::add_meta_data_map(const std::string& text)
{
    check_list_limit(meta_data_maps.size(), MAX_META_DATA_MAPS, "metadata maps");
    RuntimeNumberReader reader(text);
    MetaDataMap map;
    map.out_file = reader.next_int();
    reader.skip_one();
    map.in_file = reader.next_int();
    meta_data_maps.push_back(map);
}

// "stream:scale" for the next input file to be opened.
void TCustomFFmpeg::set_input_ts_scale(const std::string& text)
{
    RuntimeNumberReader reader(text);
    const int stream = reader.next_int();
    reader.skip_one();
    const double scale = reader.next_double();
    if (stream >= MAX_STREAMS) throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(MAX_STREAMS) + ")");
    if (stream < 0) throw FFmpegException("Negative stream index " + std::to_string(stream) + " for option itsscale");
    check_list_limit(input_files.size(), MAX_FILES, "input files");
    input_ts_scales[input_files.size()][stream] = scale;
}

// "key=value", split at the first "=".
void TCustomFFmpeg::add_metadata_pair(const std::string& text)
{
    const auto equals = text.find('=');
    if (equals == std::string::npos) throw FFmpegException("Missing =");
    add_metadata(text.substr(0, equals), text.substr(equals + 1));
}

// Bit rates go to the library's "b" options; a value that looks like kbit/s is
// worth a warning.
void TCustomFFmpeg::set_bit_rate(const std::string& option, const std::string& value)
{
    if (option.empty() || value.empty()) return;
    if (!set_generic_option(option, value) || !log_sink) return;
    AVCodecContext* holder = generic_options.codec[option.front() == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
    int64_t rate = 0;
    if (lib::av_opt_get_int(holder, "b", 0, &rate) >= 0 && rate < 1000)
        log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::set_pixel_format(const std::string& name)
{
    if (name == "list") return log_pixel_formats();
    frame_pix_fmt = lib::av_get_pix_fmt(name.c_str());
}

void TCustomFFmpeg::set_sample_format(const std::string& name)
{
    if (name == "list") return log_sample_formats();
    audio_sample_fmt = lib::av_get_sample_fmt(name.c_str());
}

namespace {
constexpr int format_line_size = 128;
}

// A header line, then one line per pixel format the installed libraries know.
void TCustomFFmpeg::log_pixel_formats()
{
    if (!log_sink) return;
    char line[format_line_size];
    log(1, trim_text(lib::av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE)));
    for (const AVPixFmtDescriptor* format = lib::av_pix_fmt_desc_next(nullptr); format;
         format = lib::av_pix_fmt_desc_next(format))
        log(1, trim_text(lib::av_get_pix_fmt_string(line, sizeof line, lib::av_pix_fmt_desc_get_id(format))));
}

void TCustomFFmpeg::log_sample_formats()
{
    if (!log_sink) return;
    char line[format_line_size];
    log(1, trim_text(lib::av_get_sample_fmt_string(line, sizeof line, AV_SAMPLE_FMT_NONE)));
    for (int format = 0; lib::av_get_sample_fmt_name(AVSampleFormat(format)); ++format)
        log(1, trim_text(lib::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(format))));
}

BitstreamFilterChain& TCustomFFmpeg::pending_bsf_for(const std::string& option)
{
    if (option.front() == 'v') return pending_video_bsf;
    if (option.front() == 'a') return pending_audio_bsf;
    return pending_subtitle_bsf;
}

// "name" or "name=arguments"; only the name is used. The filter joins the
// chain handed to the next stream of the option's media type.
void TCustomFFmpeg::add_bitstream_filter(const std::string& option, const std::string& value)
{
    if (option.empty() || value.empty() || value.front() == '=') return;
    const std::string name = to_system_8bit(value.substr(0, value.find('=')));
    if (!lib::av_bsf_get_by_name(name.c_str())) throw FFmpegException("Unknown bitstream filter " + trim_text(value));
    pending_bsf_for(option).push_back(name);
}

namespace {

// The running program's folder with its trailing separator; empty when unknown.
std::string executable_folder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !program.has_parent_path()) return {};
    return (program.parent_path() / "").string();
}

std::string local_time_hhnnss()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16] = {};
    std::strftime(text, sizeof text, "%H%M%S", &local);
    return text;
}

} // namespace

void TCustomFFmpeg::set_default_vstats_file()
{
    set_vstats_file(executable_folder() + "vstats_" + local_time_hhnnss() + ".log");
}

void TCustomFFmpeg::set_vstats_file(const std::string& name)
{
    vstats_filename = to_system_8bit(name);
}

namespace {
// The words of a "vhook" value: split at "|" when it holds one, else at
// spaces; runs of separators give no empty words.
std::vector<std::string> hook_words(const std::string& value)
{
    const char separator = value.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> words;
    std::size_t begin = 0;
    while (begin < value.size()) {
        std::size_t end = value.find(separator, begin);
        if (end == std::string::npos) end = value.size();
        if (end > begin) words.push_back(value.substr(begin, end - begin));
        begin = end + 1;
    }
    return words;
}

constexpr std::size_t max_hook_words = 63;
} // namespace

// "vhook": the first word names a frame-hook module, the rest are its
// arguments. More words than the module's argument list holds are refused
// rather than cut.
void TCustomFFmpeg::add_frame_hook(const std::string& value)
{
    const std::vector<std::string> words = hook_words(value);
    if (words.size() > max_hook_words || frame_hooks.add_module(words) != fhOk)
        throw FFmpegException("Failed to add video hook function: " + value);
    vhook_active = true;
}

// "newvideo", "newaudio", "newsubtitle": one more stream in the last output file.
void TCustomFFmpeg::add_new_stream(const std::string& option)
{
    if (output_files.empty()) throw FFmpegException("At least one output file must be specified");
    AVFormatContext* last = output_files.back();
    if (option == "newvideo") new_video_stream(last);
    else if (option == "newaudio") new_audio_stream(last);
    else new_subtitle_stream(last);
}

} // namespace quillon
