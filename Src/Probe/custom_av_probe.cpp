// Opening, attaching and closing the prober's input, and the questions about
// the file as a whole.
#include "Probe/custom_av_probe.h"

#include <sys/stat.h>

#include <mutex>
#include <stdexcept>

#include "FFmpegLoader/loader.h"
#include "Formatting/formatting.h"
#include "Probe/probe_texts.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {

TCustomAVProbe::~TCustomAVProbe()
{
    TCustomAVProbe::CloseFile();
}

void TCustomAVProbe::check_libraries() const
{
    if (!TFFmpegLoader::is_loaded(Library::avcodec)) throw std::runtime_error("LibAVCodec not loaded.");
    if (!TFFmpegLoader::is_loaded(Library::avformat)) throw std::runtime_error("LibAVFormat not loaded.");
    if (!TFFmpegLoader::is_loaded(Library::avutil)) throw std::runtime_error("LibAVUtil not loaded.");
    if (!TFFmpegLoader::is_loaded(Library::swscale)) throw std::runtime_error("LibSwScale not loaded.");
}

bool TCustomAVProbe::LoadFile(const std::string& file_name, const std::string& format_name)
{
    check_libraries();
    CloseFile();
    const AVInputFormat* format = nullptr;
    if (!format_name.empty() && !(format = lib::av_find_input_format(format_name.c_str()))) {
        last_error_ = "Unknown input format: " + format_name;
        return false;
    }
    context_ = lib::avformat_alloc_context();
    owns_context_ = true;
    if (const int result = open_input_context(&context_, file_name, format, nullptr); result < 0) {
        last_error_ = format_open_error(file_name, result);
        CloseFile();
        return false;
    }
    int result;
    {
        std::lock_guard lock(codec_lock());
        result = lib::avformat_find_stream_info(context_, nullptr);
    }
    if (result < 0) {
        last_error_ = file_name + ": could not find codec parameters";
        CloseFile();
        return false;
    }
    count_streams();
    forced_format_ = format_name;
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* context)
{
    check_libraries();
    CloseFile();
    context_ = context;
    owns_context_ = false;
    count_streams();
}

void TCustomAVProbe::CloseFile()
{
    forced_format_.clear();
    if (context_ && owns_context_) close_input_context(&context_);
    context_ = nullptr;
    owns_context_ = false;
    count_streams();
}

void TCustomAVProbe::count_streams()
{
    stream_count_ = program_count_ = -1;
    audio_stream_count_ = video_stream_count_ = subtitle_stream_count_ = -1;
    first_audio_stream_ = first_video_stream_ = first_subtitle_stream_ = -1;
    if (!context_) return;
    stream_count_ = static_cast<int>(context_->nb_streams);
    program_count_ = static_cast<int>(context_->nb_programs);
    audio_stream_count_ = video_stream_count_ = subtitle_stream_count_ = 0;
    for (int i = 0; i < stream_count_; ++i) {
        const auto count = [i](int& count, int& first) {
            ++count;
            if (first < 0) first = i;
        };
        switch (context_->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: count(video_stream_count_, first_video_stream_); break;
        case AVMEDIA_TYPE_AUDIO: count(audio_stream_count_, first_audio_stream_); break;
        case AVMEDIA_TYPE_SUBTITLE: count(subtitle_stream_count_, first_subtitle_stream_); break;
        default: break;
        }
    }
}

void TCustomAVProbe::fail(int level, const std::string& text)
{
    library_log(level, text + "\n");
    last_error_ = text;
}

bool TCustomAVProbe::require_context()
{
    if (context_) return true;
    fail(1, "file not loaded.");
    return false;
}

std::string TCustomAVProbe::FileName()
{
    if (!require_context()) return {};
    return FromLibraryFileName(context_->url ? context_->url : "");
}

std::string TCustomAVProbe::FormatName()
{
    if (!require_context()) return {};
    return context_->iformat ? context_->iformat->name : "";
}

// The size the library knows; else the file system's; else what the library said.
int64_t TCustomAVProbe::FileSize()
{
    if (!require_context()) return -1;
    const int64_t library_size = context_->pb ? lib::avio_size(context_->pb) : -1;
    if (library_size > 0) return library_size;
    struct stat info {};
    if (stat(FileName().c_str(), &info) == 0 && S_ISREG(info.st_mode)) return static_cast<int64_t>(info.st_size);
    return library_size >= 0 ? library_size : -1;
}

} // namespace quillon
