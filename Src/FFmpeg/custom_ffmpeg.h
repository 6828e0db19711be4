// TCustomFFmpeg: the conversion engine. One instance holds one job: its option
// values, its input and output files, and the lists that tie streams together.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "FFmpeg/ffmpeg_exception.h"
#include "FFmpeg/job_limits.h"
#include "FFmpeg/job_state.h"
#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

// Library contexts that hold generic (codec, container, scaler) options until
// they are copied into the real contexts of files and streams.
struct GenericOptions {
    static constexpr int media_type_count = 5; // video, audio, data, subtitle, attachment
    std::array<AVCodecContext*, media_type_count> codec{};
    AVFormatContext* format = nullptr;
    SwsContext* scaler = nullptr;
    std::vector<std::string> set_names; // every name set successfully, in order
    std::function<void(int)> verbosity_callback;
};

class TCustomFFmpeg : public JobState {
public:
    // Engine callback slots; the component fills them.
    using LogSink = std::function<void(TCustomFFmpeg& sender, int level, const std::string& text)>;

    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Lifecycle.
    void prepare_job();
    void reset_job_state();
    void release_job();
    bool prepared() const { return generic_options.format != nullptr; }

    void set_preview_flags(uint8_t flags);
    void set_segments(const std::vector<TimeSegment>& list);

    // The engine's own messages: level -1 job failure, 0 errors and warnings, 1 information.
    void log(int level, const std::string& text);

    GenericOptions generic_options;

    // ---- Bookkeeping -------------------------------------------------------
    std::string last_error;
    LogSink log_sink;
    int total_duration_ms = -1;
    int64_t progress_interval_us = 500000;
    int64_t preview_interval_us = 100000;
    uint8_t preview_flags = 0;

    // Run flags; prepare_job clears them.
    bool join_mode = false;
    std::atomic<bool> running{false};
    std::atomic<bool> stop_requested{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> terminated{false};

    // Verbosity setter ("v"); the generic option set's callback points here.
    void set_verbosity(int value) { verbose = value; }

protected:
    void create_generic_options();
    void free_generic_options();
    void close_output_files();
    void close_input_files();
    void free_job_texts();
};

} // namespace quillon
