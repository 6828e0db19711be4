// TCustomAVProbe: opens a media file (or takes a task's open input) and
// answers questions about the file and its streams.
#pragma once

#include <cstdint>
#include <string>

#include "FFmpegLoader/ffmpeg_api.h"
#include "Probe/probe_records.h"

namespace quillon {

class TCustomAVProbe {
public:
    TCustomAVProbe() = default;
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Opens and probes the file; the format name forces a container format.
    // Throws std::runtime_error when a required library is not loaded.
    bool LoadFile(const std::string& file_name, const std::string& format_name = {});
    // Takes an input opened elsewhere; it is never closed, seeked or decoded here.
    virtual void AttachContext(AVFormatContext* context);
    virtual void CloseFile();

    std::string FileName();
    std::string FormatName();
    int64_t FileSize();
    void GetFileStreamInfo(TFileStreamInfo& info);
    void GetAudioStreamInfo(int stream, TAudioStreamInfo& info); // -1: the first audio stream
    void GetVideoStreamInfo(int stream, TVideoStreamInfo& info); // -1: the first video stream
    std::string InfoText();

    int StreamCount() const { return stream_count_; }
    int ProgramCount() const { return program_count_; }
    int AudioStreamCount() const { return audio_stream_count_; }
    int VideoStreamCount() const { return video_stream_count_; }
    int SubtitleStreamCount() const { return subtitle_stream_count_; }
    int FirstAudioStream() const { return first_audio_stream_; }
    int FirstVideoStream() const { return first_video_stream_; }
    int FirstSubtitleStream() const { return first_subtitle_stream_; }
    const std::string& LastError() const { return last_error_; }
    const std::string& ForcedFormat() const { return forced_format_; }

    AVFormatContext* FormatContext() const { return context_; }
    bool OwnsContext() const { return context_ && owns_context_; }

protected:
    // Logs the text with a line feed through the library log at the given
    // level (0 error, 1 information, 2 debugging) and keeps it as LastError.
    void fail(int level, const std::string& text);
    // True with an open context; otherwise the "file not loaded." path.
    bool require_context();
    // The index of a stream of the type: -1 picks the first one. False with
    // the failure texts when there is none or the index does not fit.
    bool resolve_stream(int& stream, AVMediaType type);

    AVFormatContext* context_ = nullptr;
    bool owns_context_ = false;
    std::string last_error_;

private:
    void check_libraries() const;
    void count_streams();
    std::string stream_line(int index);

    std::string forced_format_;
    int stream_count_ = -1, program_count_ = -1;
    int audio_stream_count_ = -1, video_stream_count_ = -1, subtitle_stream_count_ = -1;
    int first_audio_stream_ = -1, first_video_stream_ = -1, first_subtitle_stream_ = -1;
};

} // namespace quillon
