// The option values and lists of one job, with their defaults. reset_job_state
// assigns a default-constructed JobState; releasing library objects is
// release_job's work, not this struct's.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "FFmpeg/job_limits.h"
#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

constexpr int64_t NO_RECORDING_LIMIT = std::numeric_limits<int64_t>::max();
constexpr int32_t NO_FRAME_LIMIT = std::numeric_limits<int32_t>::max();
constexpr float AUDIO_QSCALE_NOT_SET = -99999.0f;
constexpr int SWS_FLAGS_DEFAULT = 4; // bicubic

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

struct StreamMap {
    int file_index = 0;
    int stream_index = 0;
    int sync_file_index = 0;
    int sync_stream_index = 0;
};

struct MetaDataMap {
    int out_file = 0;
    int in_file = 0;
};

struct TimeSegment {
    int64_t start = 0; // microseconds
    int64_t end = 0;
};

// A bitstream filter chain: filter names with their arguments, applied in order.
using BitstreamFilterChain = std::vector<std::string>;

struct JobState {
    // ---- Files and formats ------------------------------------------------
    const AVInputFormat* forced_input_format = nullptr;
    const AVOutputFormat* forced_output_format = nullptr;
    int pgmyuv_compat = 0;
    bool loop_input = false;
    int loop_output = -1;
    int program_id = 0;
    bool input_sync = false;

    // ---- Picture -----------------------------------------------------------
    int frame_width = 0, frame_height = 0;
    float frame_aspect_ratio = 0;
    int frame_pix_fmt = -1;
    AVRational frame_rate{0, 0};
    int crop_top = 0, crop_bottom = 0, crop_left = 0, crop_right = 0;
    int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;
    std::array<int, 3> pad_color{16, 128, 128}; // Y, U, V
    std::array<int, 4> max_frames{NO_FRAME_LIMIT, NO_FRAME_LIMIT, NO_FRAME_LIMIT, NO_FRAME_LIMIT}; // video, audio, data, subtitle
    float video_qscale = 0;
    std::vector<uint16_t> intra_matrix, inter_matrix; // 64 coefficients when set
    std::string rc_override_text;
    bool video_disable = false;
    int video_discard = 0;
    std::string video_codec_name;
    int video_stream_copy = 0;
    uint32_t video_codec_tag = 0;
    bool same_quality = false;
    bool deinterlace = false;
    int top_field_first = -1;
    int me_threshold = 0;
    int intra_dc_precision = 8;
    bool intra_only = false;
    bool qp_hist = false;
    bool force_fps = false;
    int video_global_header = 0;
    int video_channel = 0;
    std::string video_standard;
    std::string vfilters;
    bool using_vfilters = false;
    bool vhook_active = false;
    int sws_flags = SWS_FLAGS_DEFAULT;

    // ---- Audio -------------------------------------------------------------
    int audio_sample_rate = 44100;
    int audio_channels = 2;
    int audio_sample_fmt = -1;
    uint64_t channel_layout = 0;
    float audio_qscale = AUDIO_QSCALE_NOT_SET;
    bool audio_disable = false;
    std::string audio_codec_name;
    int audio_stream_copy = 0;
    uint32_t audio_codec_tag = 0;
    std::string audio_language;
    int audio_volume = 256;
    int audio_sync_method = 0;
    float audio_drift_threshold = 0.1f;

    // ---- Subtitles ---------------------------------------------------------
    bool subtitle_disable = false;
    std::string subtitle_codec_name;
    int subtitle_stream_copy = 0;
    std::string subtitle_language;

    // ---- Timing and muxing -------------------------------------------------
    int64_t recording_time = NO_RECORDING_LIMIT; // microseconds
    int64_t start_time = 0;                      // microseconds
    int64_t rec_timestamp = 0;                   // seconds since 1970
    int64_t input_ts_offset = 0;                 // microseconds
    float mux_preload = 0.5f;
    float mux_max_delay = 0.7f;
    int64_t limit_filesize = 0;
    float dts_delta_threshold = 10.0f;
    int video_sync_method = -1;
    bool copy_ts = false;
    bool shortest = false;
    int copy_initial_nonkeyframes = 0;
    bool rate_emu = false;

    // ---- Diagnostics and passes --------------------------------------------
    int verbose = 1;
    int thread_count = 1;
    bool exit_on_error = false;
    bool do_pkt_dump = false, do_hex_dump = false;
    bool do_psnr = false;
    int do_pass = 0;
    std::string pass_logfile_prefix;
    std::string vstats_filename;
    FILE* vstats_file = nullptr; // opened with my_fopen by the statistics writer

    // ---- Job lists ---------------------------------------------------------
    std::vector<AVFormatContext*> input_files;
    std::vector<int64_t> input_ts_offsets;
    std::array<std::array<double, MAX_STREAMS>, MAX_FILES> input_ts_scales{};
    std::vector<const AVCodec*> input_codecs;
    std::vector<AVFormatContext*> output_files;
    std::vector<const AVCodec*> output_codecs;
    std::vector<StreamMap> stream_maps;
    std::vector<MetaDataMap> meta_data_maps;
    std::array<std::array<BitstreamFilterChain, MAX_STREAMS>, MAX_FILES> bitstream_filters{};
    BitstreamFilterChain pending_video_bsf, pending_audio_bsf, pending_subtitle_bsf;
    std::vector<std::pair<std::string, std::string>> job_metadata;
    std::vector<TimeSegment> segments;
    std::size_t segment_index = 0;

    // Hook state.
    int hook_frame_counter = 0;
    THookAction hook_action = haContinue;
    bool failed = false;

    // Pipeline bookkeeping that the job state resets.
    static constexpr int default_bit_buffer_size = 262144;
    int bit_buffer_size = default_bit_buffer_size;

};

} // namespace quillon
