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

    // ---- Options (option_table.cpp) ------------------------------------------
    // Applies one named option to the job. Names outside the option table go to
    // the generic library options. Raises FFmpegException; a raised error leaves
    // every earlier change in place.
    void parse_option(const std::string& name, const std::string& value);

    // ---- Generic library options (generic_options.cpp) -----------------------
    // True when some library codec, container or scaler option took the value.
    bool set_generic_option(const std::string& name, const std::string& value);
    bool set_generic_option_int(const std::string& name, int value);
    // Copies every generic option set so far whose library flags contain all of
    // `flags` (AV_OPT_FLAG_*) from the option holder `source` to `target`.
    void apply_generic_options(void* target, void* source, int flags) const;

    // ---- Typed setters for the component (option_setters.cpp) ----------------
    // Each is the handler of the option of the same meaning; the guards that
    // exist only here are marked in the definitions.
    void set_input_format(const std::string& name);
    void set_output_format(const std::string& name);
    void set_verbosity(int value); // "v"; the generic option set's callback points here
    void set_start_time(int64_t microseconds);
    void set_program_id(int value);
    void set_recording_time(int64_t microseconds);
    void set_recording_time_ms(int milliseconds);
    void set_mux_max_delay(float seconds);
    void set_mux_preload(float seconds);
    void set_audio_volume(int value);
    void set_audio_sync(int value);
    void set_video_sync(int value);
    void set_audio_codec(const std::string& name);
    void set_video_codec(const std::string& name);
    void set_subtitle_codec(const std::string& name);
    void set_audio_tag(const std::string& tag);
    void set_video_tag(const std::string& tag);
    void set_audio_channels(int value);
    void set_audio_sample_rate(int value);
    void set_pad_color(int rgb);
    void set_vfilters(const std::string& text);
    void add_metadata(const std::string& key, const std::string& value);

    // ---- Value parsers (value_parsers.cpp) -----------------------------------
    void set_frame_rate(const std::string& text);
    void set_frame_size(const std::string& text);
    void set_aspect(const std::string& text);
    void set_crop_top(int value);
    void set_crop_bottom(int value);
    void set_crop_left(int value);
    void set_crop_right(int value);
    void set_pad_top(int value);
    void set_pad_bottom(int value);
    void set_pad_left(int value);
    void set_pad_right(int value);
    void set_video_qscale(float value);

    // ---- Option actions (option_actions.cpp) ---------------------------------
    void set_format(const std::string& name);
    void add_stream_map(const std::string& text);
    void add_meta_data_map(const std::string& text);
    void set_input_ts_scale(const std::string& text);
    void add_metadata_pair(const std::string& text);
    void set_bit_rate(const std::string& option, const std::string& value);
    void set_pixel_format(const std::string& name);
    void set_sample_format(const std::string& name);
    void add_bitstream_filter(const std::string& option, const std::string& value);
    void set_default_vstats_file();
    void set_vstats_file(const std::string& name);
    void apply_target_option(const std::string& value);
    void add_frame_hook(const std::string& value);
    void add_new_stream(const std::string& option);

protected:
    void create_generic_options();
    void free_generic_options();
    void close_output_files();
    void close_input_files();
    void free_job_texts();

private:
    enum class Band { top, bottom, left, right };
    void set_crop(Band band, int value);
    void set_pad(Band band, int value);
    static void choose_codec(std::string& name, int& stream_copy, const std::string& value);
    std::string replace_pgmyuv(const std::string& name);
    void log_pixel_formats();
    void log_sample_formats();
    BitstreamFilterChain& pending_bsf_for(const std::string& option);
};

} // namespace quillon
