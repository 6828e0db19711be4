// The packet loop: read from the input the output is most behind on, fix the
// timestamps, hand the packet on; then the wind-down.
#include <cmath>
#include <cstdlib>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {
constexpr double no_minimum = 1e100;
constexpr AVRational microseconds{1, 1000000};
} // namespace

double TCustomFFmpeg::output_position(const OutputStreamState& ost) const
{
    if (ost.encoder->codec_type == AVMEDIA_TYPE_VIDEO && ost.encoding_needed)
        return double(ost.sync_opts) * ost.encoder->time_base.num / ost.encoder->time_base.den;
    return ost.library_stream().mux_position;
}

int TCustomFFmpeg::frame_limit(AVMediaType type) const
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return max_frames[0];
    case AVMEDIA_TYPE_AUDIO: return max_frames[1];
    case AVMEDIA_TYPE_DATA: return max_frames[2];
    case AVMEDIA_TYPE_SUBTITLE: return max_frames[3];
    default: return NO_FRAME_LIMIT;
    }
}

// Picks the input to read next; -1 ends the loop. Sets opts_min.
int TCustomFFmpeg::choose_input_file(int file_index, double& opts_min) const
{
    opts_min = no_minimum;
    if (join_mode) {
        const int n = streams_per_output;
        for (int r = file_index * n; r < (file_index + 1) * n; ++r) {
            const OutputStreamState& ost = *output_stream_states[r];
            opts_min = std::min(opts_min, output_position(ost));
            if (ost.frame_number >= frame_limit(ost.encoder->codec_type)) return -1;
        }
        return file_index;
    }
    int chosen = -1;
    double ipts_min = no_minimum;
    for (const auto& ost : output_stream_states) {
        const InputStreamState& source = *input_stream_states[ost->source_index];
        const double opts = output_position(*ost);
        const double ipts = double(source.pts);
        if (!input_file_states[source.file_index].eof_reached) {
            if (ipts < ipts_min) {
                ipts_min = ipts;
                if (input_sync) chosen = source.file_index;
            }
            if (opts < opts_min) {
                opts_min = opts;
                if (!input_sync) chosen = source.file_index;
            }
        }
        if (ost->frame_number >= frame_limit(ost->encoder->codec_type)) return -1;
    }
    return chosen;
}

bool TCustomFFmpeg::output_size_exceeded() const
{
    if (limit_filesize == 0) return false;
    AVIOContext* pb = output_files[0]->pb;
    return pb && lib::avio_seek(pb, 0, SEEK_CUR) > limit_filesize;
}

void TCustomFFmpeg::transcode_loop()
{
    PacketPtr packet(lib::av_packet_alloc());
    if (!packet) throw FFmpegException("av_mallocz fail");
    int64_t last_report = timer_start;
    int file_index = 0;
    while (!stop_requested) {
        wait_while_paused();
        double opts_min = no_minimum;
        file_index = choose_input_file(file_index, opts_min);
        if (file_index < 0) break;
        if (recording_time != NO_RECORDING_LIMIT && double(recording_time) / 1e6 <= opts_min) break;
        if (output_size_exceeded()) break;

        const int result = lib::av_read_frame(input_files[file_index], packet.get());
        if (result == AVERROR(EAGAIN)) continue;
        if (result < 0) {
            input_file_states[file_index].eof_reached = true;
            if (join_mode) {
                if (!change_join_file(file_index)) break;
                continue;
            }
            if (shortest) break;
            continue;
        }
        handle_packet(file_index, packet.get());
        lib::av_packet_unref(packet.get());

        const int64_t now = lib::av_gettime();
        if (now - last_report > progress_interval_us) {
            last_report = now;
            report_progress(false);
        }
    }
}

// Offsets, scales and discontinuity correction, then decoding and dispatch.
void TCustomFFmpeg::handle_packet(int file_index, AVPacket* packet)
{
    if (do_pkt_dump) lib::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, do_hex_dump, input_files[file_index]->streams[packet->stream_index]);
    const InputFileState& file = input_file_states[file_index];
    if (packet->stream_index >= file.stream_count) return;
    const int ist_index = file.first_stream + packet->stream_index;
    InputStreamState& ist = *input_stream_states[ist_index];
    if (ist.discard) return;

    const AVRational time_base = ist.stream->time_base;
    const int64_t offset = lib::av_rescale_q(input_ts_offsets[file_index], microseconds, time_base);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    const double scale = packet->stream_index < MAX_STREAMS ? input_ts_scales[file_index][packet->stream_index] : 0;
    if (scale != 0) {
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llround(double(packet->pts) * scale);
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llround(double(packet->dts) * scale);
    }
    correct_discontinuity(file_index, ist, packet);

    if (process_packet(ist, ist_index, packet) < 0) {
        const std::string text = printf_text("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.index,
                                             stream_type_name(ist.decoder->codec_type).c_str());
        if (exit_on_error) throw FFmpegException(text);
        if (verbose >= 0) log(1, text);
    }
}

void TCustomFFmpeg::correct_discontinuity(int file_index, InputStreamState& ist, AVPacket* packet)
{
    if (packet->dts == AV_NOPTS_VALUE || ist.next_pts == AV_NOPTS_VALUE) return;
    if (!(input_files[file_index]->iformat->flags & AVFMT_TS_DISCONT) || copy_ts) return;
    const AVRational time_base = ist.stream->time_base;
    const int64_t packet_dts = lib::av_rescale_q(packet->dts, time_base, microseconds);
    const int64_t delta = packet_dts - ist.next_pts;
    if (std::llabs(delta) <= int64_t(double(dts_delta_threshold) * 1e6) && packet_dts + 1 >= ist.pts) return;
    input_ts_offsets[file_index] -= delta;
    if (verbose > 2)
        log(1, printf_text("timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(delta),
                           static_cast<long long>(input_ts_offsets[file_index])));
    const int64_t shift = lib::av_rescale_q(delta, microseconds, time_base);
    packet->dts -= shift;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
}

// Join mode: the file k ended. Its decoders are drained into the shared
// encoders, and the next file continues where this one stopped.
bool TCustomFFmpeg::change_join_file(int& file_index)
{
    const int k = file_index;
    const int n = streams_per_output;
    for (std::size_t i = 0; i < input_stream_states.size(); ++i) {
        InputStreamState& ist = *input_stream_states[i];
        if (ist.file_index != k || !ist.decoding_needed) continue;
        drain_decoder(ist, static_cast<int>(i));
        lib::avcodec_flush_buffers(ist.decoder);
        ist.decoder_at_eof = false;
        ist.flushed = true;
    }
    const int records = static_cast<int>(output_stream_states.size());
    for (int r = (k + 1) * n; r < records; ++r) {
        output_stream_states[r]->sync_opts = output_stream_states[k * n + r % n]->sync_opts;
        output_stream_states[r]->frame_number = output_stream_states[k * n + r % n]->frame_number;
    }
    double max_opts = 0;
    for (int r = k * n; r < (k + 1) * n && r + n < records; ++r)
        max_opts = std::max(max_opts, output_position(*output_stream_states[r]));
    if (k >= static_cast<int>(input_files.size()) - 1) return false;
    input_ts_offsets[k + 1] += std::llround(max_opts * 1e6);
    file_index = k + 1;
    return true;
}

void TCustomFFmpeg::wind_down()
{
    for (std::size_t i = 0; i < input_stream_states.size(); ++i) {
        InputStreamState& ist = *input_stream_states[i];
        if (ist.decoding_needed && !ist.flushed) drain_decoder(ist, static_cast<int>(i));
    }
    drain_encoders();
    // The trailer flushes what the byte stream still holds: a write that fails
    // here (a full disk) fails the job like any other write.
    int trailer_result = 0;
    for (AVFormatContext* file : output_files) {
        const int result = lib::av_write_trailer(file);
        if (trailer_result == 0 && result < 0) trailer_result = result;
        if (join_mode) break;
    }
    if (trailer_result < 0) throw FFmpegException(format_run_error("av_write_trailer()", trailer_result));
    report_progress(true);
    close_open_codecs();
    finished = !stop_requested;
    free_stream_tables();
}

// A run that went to its end without writing a single packet produced nothing
// to play (an input whose every frame fails to decode, say): that is a failure,
// not a finished conversion. A run the caller stopped is left as it is.
void TCustomFFmpeg::check_something_written()
{
    if (!finished || packets_written > 0) return;
    finished = false;
    throw FFmpegException("Nothing was written to the output: no frame of the input could be converted");
}

} // namespace quillon
