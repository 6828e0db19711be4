// Creating output files: the container, its streams, metadata, the byte
// stream, muxer timing and join mode.
#include <sys/stat.h>

#include <ctime>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/stream_values.h"
#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {

namespace {

// Raised inside open_output_file; becomes last_error and the result -1.
struct OutputFailure {
    std::string text;
};

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Filters that change the picture size cannot be combined with pad bands.
bool has_resizing_filter(const std::string& filters)
{
    const std::string text = lower(filters);
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(',', begin);
        if (end == std::string::npos) end = text.size();
        const std::string description = text.substr(begin, end - begin);
        const std::string name = description.substr(0, description.find('='));
        if (std::string(",crop,rotate,scale,transpose,").find("," + name + ",") != std::string::npos) return true;
        begin = end + 1;
    }
    return false;
}

bool same_file(const std::string& a, const std::string& b)
{
    struct stat first {}, second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string iso_time(int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &parts);
    return text;
}

} // namespace

int64_t mux_seconds_to_microseconds(float seconds)
{
    // The float is widened first, so 0.7f gives 699999 rather than a rounded 700000.
    return static_cast<int64_t>(static_cast<double>(seconds) * 1000000.0);
}

void TCustomFFmpeg::check_output_options() const
{
    if (join_mode) throw OutputFailure{"Cannot join more than one output file."};
    if (!vfilters.empty() && crop_left + crop_right + crop_top + crop_bottom != 0)
        throw OutputFailure{"Cannot enable crop options and filters at the same time."};
    if (pad_left + pad_right + pad_top + pad_bottom != 0 && has_resizing_filter(vfilters))
        throw OutputFailure{"Cannot enable pad options and the filters which resize frame at the same time. "
                            "(crop, rotate, scale, transpose, etc.)"};
}

int TCustomFFmpeg::open_output_file(const std::string& file_name, bool join)
{
    check_list_limit(output_files.size(), MAX_FILES, "output files");
    AVFormatContext* context = nullptr;
    bool registered = false;
    try {
        check_output_options();
        using_vfilters = !vfilters.empty();
        context = create_output_context(file_name);
        create_output_streams(context);
        output_files.push_back(context);
        registered = true;
        open_output_byte_stream(context, file_name);
        apply_muxer_timing(context);
        apply_generic_options(context, generic_options.format, AV_OPT_FLAG_ENCODING_PARAM);
        if (join) register_joined_inputs();
    } catch (const OutputFailure& failure) {
        return fail_output(failure.text, context, registered);
    } catch (const FFmpegException& e) {
        return fail_output(e.what(), context, registered);
    }
    forced_output_format = nullptr;
    forced_input_format = nullptr;
    return static_cast<int>(output_files.size());
}

AVFormatContext* TCustomFFmpeg::create_output_context(const std::string& file_name)
{
    const std::string library_name = ToLibraryFileName(file_name);
    if (!forced_output_format) forced_output_format = lib::av_guess_format(nullptr, library_name.c_str(), nullptr);
    if (!forced_output_format)
        throw OutputFailure{printf_text("Unable to find a suitable output format for '%s'", file_name.c_str())};
    AVFormatContext* context = nullptr;
    if (lib::avformat_alloc_output_context2(&context, forced_output_format, nullptr, library_name.substr(0, 1023).c_str()) < 0)
        throw OutputFailure{format_open_error(file_name, AVERROR(ENOMEM))};
    // The streaming-server layout ("ffm" over http) has no counterpart in this library generation.
    return context;
}

void TCustomFFmpeg::create_output_streams(AVFormatContext* context)
{
    const AVOutputFormat* format = context->oformat;
    bool use_video = format->video_codec != AV_CODEC_ID_NONE || video_stream_copy || !video_codec_name.empty();
    bool use_audio = format->audio_codec != AV_CODEC_ID_NONE || audio_stream_copy || !audio_codec_name.empty();
    bool use_subtitle = subtitle_stream_copy || format->subtitle_codec != AV_CODEC_ID_NONE || !subtitle_codec_name.empty();
    if (!input_files.empty()) {
        try {
            const InputMediaTypes inputs = check_audio_video_sub_inputs(false);
            use_video = use_video && inputs.has_video;
            use_audio = use_audio && inputs.has_audio;
            use_subtitle = use_subtitle && inputs.has_subtitle;
        } catch (const FFmpegException& e) {
            throw OutputFailure{printf_text("check_audio_video_sub_inputs fail: %s", e.what())};
        }
    }
    use_video = use_video && !video_disable;
    use_audio = use_audio && !audio_disable;
    use_subtitle = use_subtitle && !subtitle_disable;

    output_streams.emplace_back(); // the row of the file being created
    create_stream_or_fail(use_video, "new_video_stream fail: %s", [&] { new_video_stream(context); });
    create_stream_or_fail(use_audio, "new_audio_stream fail: %s", [&] { new_audio_stream(context); });
    create_stream_or_fail(use_subtitle, "new_subtitle_stream fail: %s", [&] { new_subtitle_stream(context); });

    if (rec_timestamp) lib::av_dict_set(&context->metadata, "creation_time", iso_time(rec_timestamp).c_str(), 0);
    while (!job_metadata.empty()) { // the library receives the last pair first
        lib::av_dict_set(&context->metadata, job_metadata.back().first.c_str(), job_metadata.back().second.c_str(), 0);
        job_metadata.pop_back();
    }
}

template <typename Create>
void TCustomFFmpeg::create_stream_or_fail(bool wanted, const char* failure_format, Create create)
{
    if (!wanted) return;
    try {
        create();
    } catch (const FFmpegException& e) {
        throw OutputFailure{printf_text(failure_format, e.what())};
    }
}

InputMediaTypes TCustomFFmpeg::check_audio_video_sub_inputs(bool first_input_only) const
{
    InputMediaTypes found;
    const std::size_t count = first_input_only ? std::min<std::size_t>(1, input_files.size()) : input_files.size();
    for (std::size_t f = 0; f < count; ++f) {
        for (unsigned s = 0; s < input_files[f]->nb_streams; ++s) {
            switch (input_files[f]->streams[s]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO: found.has_video = true; break;
            case AVMEDIA_TYPE_AUDIO: found.has_audio = true; break;
            case AVMEDIA_TYPE_SUBTITLE: found.has_subtitle = true; break;
            case AVMEDIA_TYPE_UNKNOWN:
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT: break;
            default: throw FFmpegException("invalid codec_type of input file");
            }
        }
    }
    return found;
}

void TCustomFFmpeg::open_output_byte_stream(AVFormatContext* context, const std::string& file_name)
{
    const AVOutputFormat* format = context->oformat;
    if ((format->flags & AVFMT_NEEDNUMBER) && !lib::av_filename_number_test(context->url))
        throw OutputFailure{format_open_error(file_name, OPEN_ERROR_IMAGE_NAME_SYNTAX)};
    if (format->flags & AVFMT_NOFILE) return;
    // Replacing an input would destroy it before it is read.
    for (const std::string& input : input_file_names)
        if (same_file(file_name, input))
            throw OutputFailure{printf_text("Output file '%s' is the same file as input file '%s'", file_name.c_str(),
                                            input.c_str())};
    install_unicode_io(context);
    if (open_byte_stream(&context->pb, file_name, AVIO_FLAG_WRITE) < 0)
        throw OutputFailure{printf_text("Could not open '%s'", file_name.c_str())};
}

void TCustomFFmpeg::apply_muxer_timing(AVFormatContext* context) const
{
    context->max_delay = static_cast<int>(mux_seconds_to_microseconds(mux_max_delay));
    // The program stream muxer keeps its preload as a private option; other muxers have none.
    lib::av_opt_set_int(context, "preload", mux_seconds_to_microseconds(mux_preload), AV_OPT_SEARCH_CHILDREN);
    if (loop_output >= 0) lib::av_opt_set_int(context, "loop", loop_output, AV_OPT_SEARCH_CHILDREN);
}

void TCustomFFmpeg::register_joined_inputs()
{
    if (input_files.size() <= 1) return;
    join_mode = true;
    int64_t sum_ms = 0;
    for (AVFormatContext* input : input_files)
        if (input->duration != AV_NOPTS_VALUE) sum_ms += input->duration / 1000;
    total_duration_ms = sum_ms == 0 ? -1 : static_cast<int>(sum_ms);
    AVFormatContext* joined = output_files.back();
    for (std::size_t i = 1; i < input_files.size(); ++i) {
        check_list_limit(output_files.size(), MAX_FILES, "output files");
        output_files.push_back(joined);
        output_streams.emplace_back(); // the joined copies share the first entry's streams
    }
}

// Undoes a failed open_output_file: the registration, the context, its byte
// stream and the empty file that stream created.
int TCustomFFmpeg::fail_output(const std::string& text, AVFormatContext* context, bool registered)
{
    last_error = text;
    while (registered && !output_files.empty() && output_files.back() == context) output_files.pop_back();
    if (output_streams.size() > output_files.size()) output_streams.resize(output_files.size());
    if (context) {
        if (context->pb) {
            close_byte_stream(&context->pb);
            delete_if_empty(FromLibraryFileName(context->url));
        }
        lib::avformat_free_context(context);
    }
    forced_output_format = nullptr;
    forced_input_format = nullptr;
    return -1;
}

} // namespace quillon
