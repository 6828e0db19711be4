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
#include "FFmpegLoader/owners.h"
#include "UnicodeProtocol/unicode_protocol.h"

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

// An output stream as created by the option layer: its encoder context (owned
// from creation on) and whether it copies its source instead of encoding.
struct OutputStreamSetup {
    CodecContextPtr encoder;
    bool stream_copy = false;
    int stream_index = 0;
};

struct InputMediaTypes {
    bool has_video = false;
    bool has_audio = false;
    bool has_subtitle = false;
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

    // Input and output files.
    bool find_codec_id(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id);
    bool open_input_file(const std::string& file_name);
    int open_output_file(const std::string& file_name, bool join = false);
    void new_video_stream(AVFormatContext* context);
    void new_audio_stream(AVFormatContext* context);
    void new_subtitle_stream(AVFormatContext* context);
    InputMediaTypes check_audio_video_sub_inputs(bool first_input_only) const;

    void apply_generic_options(void* target, void* source, int flags); // TEMPORARY until the option module lands

    // The engine's own messages: level -1 job failure, 0 errors and warnings, 1 information.
    void log(int level, const std::string& text);

    GenericOptions generic_options;

    // What the pipeline needs of the opened files: the names given, one
    // decoder context per input stream, and the output streams per file row
    // (a joined file's repeated rows are empty and use the first row).
    std::vector<std::string> input_file_names;
    std::vector<std::vector<CodecContextPtr>> input_stream_contexts;
    std::vector<std::vector<OutputStreamSetup>> output_streams;

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
    // Input file steps.
    DictionaryPtr input_format_parameters() const;
    bool open_input_context(const std::string& file_name, unicode::InputFormatPtr& owner);
    void discard_other_programs(AVFormatContext* context) const;
    int64_t seek_to_start(AVFormatContext* context);
    void register_input(const std::string& file_name, unicode::InputFormatPtr owner);
    std::vector<CodecContextPtr> learn_input_streams(AVFormatContext* context);
    void learn_input_stream(int index, AVStream* stream, AVCodecContext* decoder);
    void learn_video_stream(int index, AVStream* stream, AVCodecContext* decoder);
    void learn_audio_stream(const AVCodecContext* decoder);
    void add_input_codec(const std::string& decoder_name);
    void reset_per_input_values();

    // Output file steps.
    void check_output_options() const;
    AVFormatContext* create_output_context(const std::string& file_name);
    void create_output_streams(AVFormatContext* context);
    template <typename Create>
    void create_stream_or_fail(bool wanted, const char* failure_format, Create create);
    void open_output_byte_stream(AVFormatContext* context, const std::string& file_name);
    void apply_muxer_timing(AVFormatContext* context) const;
    void register_joined_inputs();
    int fail_output(const std::string& text, AVFormatContext* context, bool registered);

    // Stream creation steps.
    std::size_t stream_row_of(const AVFormatContext* context) const;
    OutputStreamSetup& add_output_stream(AVFormatContext* context, AVMediaType type, BitstreamFilterChain& pending,
                                         std::string& codec_name);
    const AVCodec* choose_encoder(AVFormatContext* context, AVMediaType type, std::string& codec_name);
    void apply_video_header_flags(AVFormatContext* context, AVCodecContext* encoder);
    AVRational copy_sample_aspect() const;
    void setup_video_encoder(AVFormatContext* context, AVStream* stream, AVCodecContext* encoder);
    void choose_pixel_format(const AVCodec* codec, AVCodecContext* encoder) const;
    void set_encoder_matrices(AVCodecContext* encoder) const;
    void set_rate_control_overrides(AVCodecContext* encoder) const;
    void setup_audio_encoder(AVFormatContext* context, AVCodecContext* encoder);

    void create_generic_options();
    void free_generic_options();
    void close_output_files();
    void close_input_files();
    void free_job_texts();
};

} // namespace quillon
