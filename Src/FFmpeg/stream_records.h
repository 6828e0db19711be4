// Run-time records of one job run: one per input file, input stream and
// output stream. They exist from the set-up to free_stream_tables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/owners.h"

namespace quillon {

struct InputFileState {
    bool eof_reached = false;
    int first_stream = 0; // index in the input stream table of the file's stream 0
    int stream_count = 0;
};

struct InputStreamState {
    int file_index = 0;
    int index = 0;
    AVStream* stream = nullptr;
    AVCodecContext* decoder = nullptr; // owned by the engine's input_stream_contexts
    const AVCodec* decoder_codec = nullptr;
    bool discard = true;          // no output takes this stream: its packets are dropped
    bool decoding_needed = false; // some output re-encodes it
    bool decoder_open = false;    // in the decoder registry
    int64_t start_time = 0;       // wall clock at set-up, for rate emulation
    int64_t next_pts = AV_NOPTS_VALUE; // microseconds
    int64_t pts = 0;                   // microseconds
    bool is_start = true;  // until the audio path made its first correction
    bool flushed = false;  // join mode: drained at the end of its file
    int quality = 0;       // of the last decoded picture
    bool decoder_at_eof = false;
    // The video filter graph between the decoder and the encoders, when the job has one.
    FilterGraphPtr filter_graph;
    AVFilterContext* filter_source = nullptr; // "src", a "buffer" filter owned by the graph
    AVFilterContext* filter_sink = nullptr;   // "out", a "buffersink" owned by the graph
    int filtered_width = 0, filtered_height = 0; // the picture size the graph was set up to give
};

// Figures the encoder reports with each packet.
struct CodedFrameStats {
    int quality = 0; // lambda; divide by FF_QP2LAMBDA for the quantiser
    int picture_type = AV_PICTURE_TYPE_NONE;
    bool key_frame = false;
    uint64_t error[3] = {0, 0, 0}; // squared plane errors, when PSNR is on
    bool has_error = false;
};

struct OutputStreamState {
    int file_index = 0;
    int index = 0;
    int source_index = 0; // in the input stream table
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr; // owned by the engine's output_streams
    const AVCodec* encoder_codec = nullptr;
    bool stream_copy = false;
    bool encoding_needed = false;
    bool encoder_open = false; // in the encoder registry (first copy in join mode)
    bool encoder_drained = false;
    OutputStreamState* encoder_owner = nullptr; // the record that opens and drains the shared encoder
    OutputStreamState& library_stream() { return encoder_owner ? *encoder_owner : *this; }
    const OutputStreamState& library_stream() const { return encoder_owner ? *encoder_owner : *this; }
    int frame_number = 0;
    InputStreamState* sync_source = nullptr;
    int64_t sync_opts = 0; // encoder time base units (video: frames, audio: samples)
    // Of the library stream (kept on the first record in join mode).
    double mux_position = 0;               // seconds, end of the last packet muxed
    int64_t last_mux_dts = AV_NOPTS_VALUE; // stream time base
    std::vector<BsfPtr> bitstream_filters;
    CodedFrameStats coded;
    uint64_t total_error[3] = {0, 0, 0};

    // Video.
    bool video_resample = false;
    FramePtr temp_picture;
    ScalerPtr scaler;
    int resample_height = 0;
    // The decoded picture layout the picture path was set up for; a picture
    // of another size or format is first brought to it by `refit_scaler`.
    int source_width = 0;
    int source_height = 0;
    int source_format = -1;
    ScalerPtr refit_scaler;
    bool video_crop = false;
    int crop_top = 0, crop_left = 0;
    bool video_pad = false;
    int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;

    // Audio.
    bool audio_resample = false;
    ResamplerPtr resampler;
    // What the resampler was opened for; a frame that differs (a stream that
    // changes mid-way) opens a new one, as the old would read the wrong planes.
    AVSampleFormat resampler_in_format = AV_SAMPLE_FMT_NONE;
    int resampler_in_channels = 0;
    int resampler_in_rate = 0;
    AudioFifoPtr fifo;
    int64_t fifo_pts = AV_NOPTS_VALUE;

    // Two-pass statistics.
    FILE* pass_log = nullptr;
    char* stats_in = nullptr; // handed to the encoder, freed when it closes
};

} // namespace quillon
