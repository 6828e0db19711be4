// Construction, preparation, reset and release of an engine's job.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/stream_values.h"
#include "FFmpegLoader/loader.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {

void check_list_limit(std::size_t count, int limit, const char* what)
{
    if (count >= static_cast<std::size_t>(limit))
        throw FFmpegException("Too many " + std::string(what) + " (at most " + std::to_string(limit) + ")");
}

TCustomFFmpeg::TCustomFFmpeg()
{
    generic_options.verbosity_callback = [this](int value) { set_verbosity(value); };
    reset_job_state();
}

TCustomFFmpeg::~TCustomFFmpeg()
{
    stop_job();
    release_job();
}

void TCustomFFmpeg::prepare_job()
{
    if (!TFFmpegLoader::all_loaded(required_libraries)) return;
    release_job();
    reset_job_state();
    join_mode = false;
    running = stop_requested = finished = terminated = false;
    total_duration_ms = -1;
    create_generic_options();
}

void TCustomFFmpeg::reset_job_state()
{
    static_cast<JobState&>(*this) = JobState{};
    total_duration_ms = -1;
}

void TCustomFFmpeg::create_generic_options()
{
    for (AVCodecContext*& context : generic_options.codec) context = lib::avcodec_alloc_context3(nullptr);
    generic_options.format = lib::avformat_alloc_context();
    generic_options.scaler =
        lib::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, sws_flags, nullptr, nullptr, nullptr);
}

void TCustomFFmpeg::free_generic_options()
{
    for (AVCodecContext*& context : generic_options.codec) lib::avcodec_free_context(&context);
    lib::avformat_free_context(generic_options.format);
    generic_options.format = nullptr;
    lib::sws_freeContext(generic_options.scaler);
    generic_options.scaler = nullptr;
    generic_options.set_names.clear();
    generic_options.private_names.clear();
    for (AVCodecContext*& holder : generic_options.encoder_holders) lib::avcodec_free_context(&holder);
    generic_options.encoder_holders.clear();
    for (AVFormatContext* holder : generic_options.muxer_holders) lib::avformat_free_context(holder);
    generic_options.muxer_holders.clear();
}

// An output that never received a byte is not worth keeping.
void delete_if_empty(const std::string& file_name)
{
    struct stat info {};
    if (!file_name.empty() && stat(file_name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
        unlink(file_name.c_str());
}

void TCustomFFmpeg::close_output_files()
{
    output_streams.clear(); // the encoder contexts go before the files they describe
    for (AVFormatContext* output : output_files) {
        if (output->oformat && !(output->oformat->flags & AVFMT_NOFILE) && output->pb) close_byte_stream(&output->pb);
        if (output->url) delete_if_empty(FromLibraryFileName(output->url));
        lib::avformat_free_context(output); // frees streams, programmes, chapters and metadata
        if (join_mode) break;               // the other entries are the same context
    }
    output_files.clear();
}

void TCustomFFmpeg::close_input_files()
{
    input_stream_contexts.clear();
    for (AVFormatContext*& input : input_files) close_input_context(&input);
    input_files.clear();
    input_file_names.clear();
}

void TCustomFFmpeg::free_job_texts()
{
    intra_matrix.clear();
    inter_matrix.clear();
    if (vstats_file) {
        lib::my_fclose(vstats_file);
        vstats_file = nullptr;
    }
    vstats_filename.clear();
    video_codec_name.clear();
    audio_codec_name.clear();
    subtitle_codec_name.clear();
    video_standard.clear();
    rc_override_text.clear();
    audio_language.clear();
    subtitle_language.clear();
}

// Frees every library object of the job, in a fixed order.
void TCustomFFmpeg::release_job()
{
    if (!TFFmpegLoader::all_loaded(required_libraries)) return;
    free_generic_options();
    close_output_files();
    close_input_files();
    free_job_texts();
    release_hooks();
}

void TCustomFFmpeg::set_segments(const std::vector<TimeSegment>& list)
{
    segments = list;
    segment_index = 0;
    std::sort(segments.begin(), segments.end(),
              [](const TimeSegment& a, const TimeSegment& b) { return a.end < b.end; });
}

void TCustomFFmpeg::log(int level, const std::string& text)
{
    if (log_sink) log_sink(*this, level, text);
}

} // namespace quillon
