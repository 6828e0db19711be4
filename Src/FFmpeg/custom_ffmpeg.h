// TCustomFFmpeg: the conversion engine. One instance holds one job: its option
// values, its input and output files, and the lists that tie streams together.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "FFmpeg/ffmpeg_exception.h"
#include "FFmpeg/job_limits.h"
#include "FFmpeg/job_state.h"
#include "FFmpeg/rgb_converter.h"
#include "FFmpeg/stream_records.h"
#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/owners.h"
#include "FrameHooks/frame_hook_chain.h"
#include "Previewer/previewer.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {

class TBitmap;

// Library contexts that hold generic (codec, container, scaler) options until
// they are copied into the real contexts of files and streams.
struct GenericOptions {
    static constexpr int media_type_count = 5; // video, audio, data, subtitle, attachment
    std::array<AVCodecContext*, media_type_count> codec{};
    AVFormatContext* format = nullptr;
    SwsContext* scaler = nullptr;
    std::vector<std::string> set_names; // every name set successfully, in order
    std::function<void(int)> verbosity_callback;
    // Private options of muxers and encoders (the program stream muxer's
    // "muxrate", the MPEG-2 encoder's "scan_offset"): each is held by a
    // library context made for its muxer or encoder, and the names set on
    // those holders' private objects are listed in order.
    std::vector<AVFormatContext*> muxer_holders;
    std::vector<AVCodecContext*> encoder_holders;
    std::vector<std::pair<void*, std::string>> private_names; // (private object, option name)
};

// An output stream as created by the option layer: its encoder context (owned
// from creation on) and whether it copies its source instead of encoding.
struct OutputStreamSetup {
    CodecContextPtr encoder;
    bool stream_copy = false;
    int stream_index = 0;
};

// An input file as the file-name layer opened it (its own I/O included).
struct InputFileClose {
    void operator()(AVFormatContext* context) const { close_input_context(&context); }
};
using InputFilePtr = std::unique_ptr<AVFormatContext, InputFileClose>;

struct InputMediaTypes {
    bool has_video = false;
    bool has_audio = false;
    bool has_subtitle = false;
};

// Priority of a job's worker thread.
enum TConvertPriority { tpIdle, tpLowest, tpLower, tpNormal };

// The figures of one progress report.
struct ProgressFigures {
    int frame_number = -1;        // first video stream's frames; -1 without video
    int fps = -1;                 // -1 without video
    int current_duration_ms = 0;  // output position
    float quality = -1;           // quantiser; -1 for copy or without video
    float bitrate_kbps = 0;
    int64_t current_size = 0;     // bytes of output file 0
    int total_duration_ms = -1;   // expected length, -1 when unknown
};

class TCustomFFmpeg : public JobState {
public:
    // Engine callback slots; the component fills them.
    using LogSink = std::function<void(TCustomFFmpeg& sender, int level, const std::string& text)>;
    using ProgressSink = std::function<void(TCustomFFmpeg& sender, const ProgressFigures& figures)>;
    using TerminateSink = std::function<void(TCustomFFmpeg& sender)>;
    // The custom picture hook (set: frames are decoded); it may change the
    // picture (update) and end hooking for the rest of the job (stop_hook).
    using CustomHookSink = std::function<void(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts,
                                              bool& update, bool& stop_hook)>;
    // Asked before the hooks run on a frame; it may change the action.
    using BeforeHookSink = std::function<void(TCustomFFmpeg& sender, int64_t pts, THookAction& action)>;
    using PreviewBitmapSink =
        std::function<void(TCustomFFmpeg& sender, TBitmap& bitmap, int frame_number, int64_t pts)>;

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
    // Sets or clears one preview bit in one step under preview_lock, so a bit
    // that the preview path clears meanwhile is not written back.
    void set_preview_bit(uint8_t bit, bool on);
    void set_segments(const std::vector<TimeSegment>& list);

    // Input and output files.
    bool find_codec_id(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id);
    bool open_input_file(const std::string& file_name);
    int open_output_file(const std::string& file_name, bool join = false);
    void new_video_stream(AVFormatContext* context);
    void new_audio_stream(AVFormatContext* context);
    void new_subtitle_stream(AVFormatContext* context);
    InputMediaTypes check_audio_video_sub_inputs(bool first_input_only) const;

    // Job lifecycle. start_job returns true when a worker thread was created for
    // the job; it waits, suspended, until resume_job lets it run.
    bool start_job(bool threaded, TConvertPriority priority = tpNormal);
    void run_job();
    void finish_job();
    void stop_job();
    void terminate_job();
    void pause_job();
    void resume_job();
    bool is_paused() const { return paused; }
    std::thread::id worker_id() const { return worker_thread.get_id(); }
    // Joins the worker once it has ended (frees its stack); false while it
    // still runs, or when called from the worker itself.
    bool reap_worker();

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
    ProgressSink progress_sink;
    TerminateSink terminate_sink;
    CustomHookSink custom_hook_sink;
    BeforeHookSink before_hook_sink;
    PreviewBitmapSink preview_bitmap_sink;
    // Called while the caller waits for a worker to end (serves hand-offs to the caller's thread).
    std::function<void()> wait_service;
    int total_duration_ms = -1;
    int64_t progress_interval_us = 500000;
    int64_t preview_interval_us = 100000;
    // Bit 0 preview window, bit 1 preview bitmaps. Changed under preview_lock
    // (set_preview_flags); the video path reads it without the lock.
    std::atomic<uint8_t> preview_flags{0};

    // Run flags; prepare_job clears them.
    bool join_mode = false;
    std::atomic<bool> running{false};
    std::atomic<bool> stop_requested{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> terminated{false};
    std::string error_message;

    // Run statistics.
    int64_t video_size = 0, audio_size = 0, extra_size = 0;
    int64_t packets_written = 0; // packets handed to the muxers in this run
    int dup_count = 0, drop_count = 0;
    int64_t timer_start = 0;

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

    // ---- Target presets (target_presets.cpp) ---------------------------------
    // Sets every option a VCD, SVCD, DVD or DV output needs. The norm is
    // "pal", "ntsc" or "film"; any other text detects it from the job's frame
    // rate, then the inputs' video streams, and else takes default_norm.
    // Raises FFmpegException ("frame_rate is invalid.", "Unknown target type",
    // or a setter's message; the steps before stay applied).
    void apply_target(const std::string& type, const std::string& norm, const std::string& default_norm);
    // The option "target": "pal-", "ntsc-" or "film-" may prefix the type.
    void parse_target(const std::string& value);

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
    void add_frame_hook(const std::string& value);
    void add_new_stream(const std::string& option);

protected:
    // Set-up of a run.
    void run_pipeline();
    void build_input_tables();
    void build_output_table();
    std::vector<OutputStreamSetup>& output_stream_setups(int file_index);
    void check_stream_maps(int output_stream_count) const;
    InputStreamState& sync_stream_of(const StreamMap& map);
    int map_output_stream(const OutputStreamState& ost, int n);
    void derive_stream_parameters(OutputStreamState& ost, int n);
    void derive_copy_parameters(OutputStreamState& ost, InputStreamState& ist);
    void check_video_copy_allowed() const;
    void derive_encode_parameters(OutputStreamState& ost, InputStreamState& ist);
    void derive_video_parameters(OutputStreamState& ost, InputStreamState& ist);
    int scaler_flags() const;
    void open_pass_log(OutputStreamState& ost, int n);
    void log_stream_mapping();
    void open_encoders();
    void open_encoder(OutputStreamState& ost, int r);
    void finish_stream_parameters(OutputStreamState& ost);
    void open_bitstream_filters(OutputStreamState& ost);
    void open_decoders();
    void open_decoder(InputStreamState& ist, const AVCodec* by_name);
    void init_input_timestamps();
    void copy_metadata_maps();
    void write_headers();
    void close_open_codecs();
    void free_stream_tables();

    // The packet loop and wind-down.
    double output_position(const OutputStreamState& ost) const;
    int frame_limit(AVMediaType type) const;
    int choose_input_file(int file_index, double& opts_min) const;
    bool output_size_exceeded() const;
    void transcode_loop();
    void handle_packet(int file_index, AVPacket* packet);
    void correct_discontinuity(int file_index, InputStreamState& ist, AVPacket* packet);
    bool change_join_file(int& file_index);
    void wind_down();
    void check_something_written();

    // Decoding and dispatch.
    int64_t frame_duration_us(const InputStreamState& ist, const AVPacket* packet) const;
    int process_packet(InputStreamState& ist, int ist_index, AVPacket* packet);
    void drain_decoder(InputStreamState& ist, int ist_index);
    int receive_frames(InputStreamState& ist, int ist_index, const AVPacket* packet);
    void advance_clock(InputStreamState& ist, const AVFrame* frame);
    void dispatch_frame(InputStreamState& ist, int ist_index, AVFrame* frame);
    void emulate_rate(const InputStreamState& ist) const;
    int decode_subtitle(InputStreamState& ist, int ist_index, AVPacket* packet);
    void copy_to_outputs(InputStreamState& ist, int ist_index, const AVPacket* packet);
    void write_packet(AVFormatContext* file, AVPacket* packet, OutputStreamState& ost);
    void keep_timestamps_increasing(const AVFormatContext* file, OutputStreamState& ost, AVPacket* packet);
    void note_muxed_position(OutputStreamState& ost, const AVPacket* packet);
    void write_subtitle(AVFormatContext* file, OutputStreamState& ost, const InputStreamState& ist,
                        const AVSubtitle& subtitle, int64_t pts);
    int encode_and_write(AVFormatContext* file, OutputStreamState& ost, const AVFrame* frame);
    std::string encode_failure_text(const OutputStreamState& ost) const;
    void count_encoded(OutputStreamState& ost, const AVPacket* packet);
    void drain_encoders();
    void apply_volume(AVFrame* frame) const;

    // Video output.
    int video_frame_count(AVFormatContext* file, OutputStreamState& ost);
    int duplicate_limit(const OutputStreamState& ost, double time_base) const;
    FramePtr picture_window(const AVFrame* source, int top, int left, int width, int height) const;
    void paint_pad_borders(AVFrame* picture, const OutputStreamState& ost) const;
    const AVFrame* fit_to_source_layout(OutputStreamState& ost, const AVFrame* input, FramePtr& holder);
    FramePtr prepare_video_picture(OutputStreamState& ost, const AVFrame* decoded);
    int write_video(AVFormatContext* file, OutputStreamState& ost, InputStreamState& ist, AVFrame* picture);

    // Audio output.
    void open_resampler(OutputStreamState& ost, const AVFrame* frame);
    static bool resampler_fits(const OutputStreamState& ost, const AVFrame* frame);
    FramePtr convert_audio(OutputStreamState& ost, const AVFrame* frame);
    AVAudioFifo* audio_queue(OutputStreamState& ost);
    bool synchronise_audio(OutputStreamState& ost, InputStreamState& ist, AVFrame*& frame, FramePtr& owned);
    bool discard_samples(InputStreamState& ist, AVFrame*& frame, FramePtr& owned, int count, double delta);
    void insert_silence(InputStreamState& ist, AVFrame*& frame, FramePtr& owned, int count, double delta);
    FramePtr audio_frame_like(const AVFrame* frame, int samples) const;
    void write_audio(AVFormatContext* file, OutputStreamState& ost, InputStreamState& ist, AVFrame* frame);
    void encode_from_queue(AVFormatContext* file, OutputStreamState& ost, int samples);
    void flush_audio_queue(AVFormatContext* file, OutputStreamState& ost);

    // Progress and statistics.
    int64_t output_file_size() const;
    float stream_quality(const OutputStreamState& ost) const;
    std::string psnr_text(const OutputStreamState& ost, bool last) const;
    std::string quantiser_histogram_text(float quality) const;
    void report_progress(bool last);
    void log_totals(int64_t total_size);
    void write_video_stats(const OutputStreamState& ost, int frame_size);

    // Hooks, preview and filters.
    void hook_video_frame(InputStreamState& ist, AVFrame* frame);
    void choose_hook_action(int64_t pts);
    FramePtr make_work_picture(const AVFrame* frame);
    void run_custom_hook(AVFrame* picture, int64_t pts);
    void run_frame_hooks(AVFrame* picture, int64_t pts);
    void release_hooks();
    void deliver_preview(const AVFrame* picture, const OutputStreamState& ost);
    struct PreviewTurn;
    PreviewTurn claim_preview_turn();
    bool show_preview(const PreviewTurn& turn, int64_t pts);
    void end_preview_turn(const PreviewTurn& turn, bool ok);
    std::shared_ptr<TPreviewer> store_preview_flags(uint8_t flags);
    bool build_filter_graph(OutputStreamState& ost, InputStreamState& ist);
    bool link_user_filters(AVFilterGraph* graph, AVFilterContext* current, AVFilterContext* sink);
    AVFilterContext* add_scale_filter(AVFilterGraph* graph, AVFilterContext* current, const AVCodecContext* encoder);
    bool adopt_filter_output(OutputStreamState& ost, const InputStreamState& ist);
    int pull_filtered_picture(InputStreamState& ist, AVFrame* picture);
    void filter_and_send(InputStreamState& ist, int ist_index, AVFrame* frame);
    void send_filtered_pictures(InputStreamState& ist, int ist_index);
    void send_to_outputs(InputStreamState& ist, int ist_index, AVFrame* frame);
    void free_filter_graphs();

    // Frame hooks: the modules loaded by "vhook" and the two RGB converters.
    FrameHookChain frame_hooks;
    RgbConverter hook_converter, preview_converter;
    // Guarded by preview_lock. A copy is taken for each show, so the window
    // never goes away while a frame is shown; the last holder frees it.
    std::shared_ptr<TPreviewer> previewer;
    int64_t last_preview = 0; // wall clock of the last preview, microseconds

    // Lifecycle internals.
    void fail_job(const std::string& message);
    void wait_for_worker();
    void join_worker();
    void wait_while_paused();
    void report_end_from_short_thread();

    // Run tables (from set-up to free_stream_tables).
    std::vector<InputFileState> input_file_states;
    std::vector<std::unique_ptr<InputStreamState>> input_stream_states;
    std::vector<std::unique_ptr<OutputStreamState>> output_stream_states;
    int streams_per_output = 0;
    std::vector<uint8_t> subtitle_buffer;

    // Worker thread and pause gate. The lifecycle lock makes the start checks,
    // the claim of a never-run job's end report and the worker handle one step
    // each against callers on other threads; the worker handle is joined
    // and replaced only under it.
    std::mutex lifecycle_mutex;
    std::thread worker_thread;
    std::mutex worker_mutex;
    std::condition_variable worker_done;
    bool worker_active = false;
    std::mutex pause_mutex;
    std::condition_variable pause_changed;
    std::atomic<bool> paused{false};

    // Input file steps.
    DictionaryPtr input_format_parameters() const;
    bool open_and_probe_input(const std::string& file_name, InputFilePtr& owner);
    void discard_other_programs(AVFormatContext* context) const;
    int64_t seek_to_start(AVFormatContext* context);
    void register_input(const std::string& file_name, InputFilePtr owner);
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
    void adopt_encoder_defaults(OutputStreamSetup& setup, const AVCodec* codec);
    void setup_video_encoder(AVFormatContext* context, AVStream* stream, OutputStreamSetup& setup);
    void choose_pixel_format(const AVCodec* codec, AVCodecContext* encoder) const;
    void set_encoder_matrices(AVCodecContext* encoder) const;
    void set_rate_control_overrides(AVCodecContext* encoder) const;
    void setup_audio_encoder(AVFormatContext* context, OutputStreamSetup& setup);

    void create_generic_options();
    void free_generic_options();

    // Private options of muxers and encoders (private_options.cpp): the option
    // found (none when no candidate has it) and the library's result.
    std::pair<const AVOption*, int> set_private_option(const std::string& name, const std::string& value);
    void apply_private_options(void* target, int flags) const;
    void* private_holder(const AVCodec* codec);
    void* private_holder(const AVOutputFormat* format);
    std::pair<const AVOption*, int> set_on_first_accepting(const std::string& name, const std::string& value);
    std::pair<const AVOption*, int> set_private_on(void* holder, const std::string& name, const std::string& value);
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
