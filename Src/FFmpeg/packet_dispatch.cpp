// Decoding one packet, keeping the stream's clock, and handing every decoded
// frame (or the packet itself, for stream copy) to the outputs it feeds.
#include <thread>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {
constexpr AVRational microseconds{1, 1000000};

bool is_again_or_eof(int result) { return result == AVERROR(EAGAIN) || result == AVERROR_EOF; }
} // namespace

// Duration of one frame of the stream in microseconds, when it is known.
int64_t TCustomFFmpeg::frame_duration_us(const InputStreamState& ist, const AVPacket* packet) const
{
    const AVCodecParameters* par = ist.stream->codecpar;
    if (packet && packet->duration > 0) return lib::av_rescale_q(packet->duration, ist.stream->time_base, microseconds);
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0)
        return int64_t(1000000) * par->frame_size / par->sample_rate;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        AVRational rate = ist.stream->avg_frame_rate.num ? ist.stream->avg_frame_rate : ist.stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) return lib::av_rescale_q(1, AVRational{rate.den, rate.num}, microseconds);
    }
    return 0;
}

int TCustomFFmpeg::process_packet(InputStreamState& ist, int ist_index, AVPacket* packet)
{
    if (ist.next_pts == AV_NOPTS_VALUE) ist.next_pts = ist.pts;
    if (packet->dts != AV_NOPTS_VALUE)
        ist.next_pts = ist.pts = lib::av_rescale_q(packet->dts, ist.stream->time_base, microseconds);
    if (packet->size == 0) return 0;
    if (!ist.decoding_needed) {
        ist.pts = ist.next_pts;
        ist.next_pts += frame_duration_us(ist, packet);
        emulate_rate(ist);
        if (start_time == 0 || ist.pts >= start_time) copy_to_outputs(ist, ist_index, packet);
        return 0;
    }
    if (ist.decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) return decode_subtitle(ist, ist_index, packet);
    if (lib::avcodec_send_packet(ist.decoder, packet) < 0) return -1;
    return receive_frames(ist, ist_index, packet);
}

void TCustomFFmpeg::drain_decoder(InputStreamState& ist, int ist_index)
{
    if (ist.decoder_at_eof || ist.decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) return;
    ist.decoder_at_eof = true;
    if (lib::avcodec_send_packet(ist.decoder, nullptr) < 0) return;
    receive_frames(ist, ist_index, nullptr);
    if (ist.filter_graph && lib::av_buffersrc_add_frame_flags(ist.filter_source, nullptr, 0) >= 0)
        send_filtered_pictures(ist, ist_index); // what the filters still hold
}

// Takes every frame the decoder has ready and dispatches it.
int TCustomFFmpeg::receive_frames(InputStreamState& ist, int ist_index, const AVPacket* packet)
{
    FramePtr frame(lib::av_frame_alloc());
    if (!frame) return -1;
    int frames = 0;
    while (true) {
        const int result = lib::avcodec_receive_frame(ist.decoder, frame.get());
        if (is_again_or_eof(result)) return 0;
        if (result < 0) return -1;
        if (++frames > 1 && packet && verbose > 0)
            log(0, printf_text("Multiple frames in a packet from stream %d", packet->stream_index));
        advance_clock(ist, frame.get());
        dispatch_frame(ist, ist_index, frame.get());
        lib::av_frame_unref(frame.get());
        if (stop_requested && !packet) return 0;
    }
}

// The stream's clock: the frame's own timestamp when it has one, else the
// expected time; the next frame is expected one frame duration later.
void TCustomFFmpeg::advance_clock(InputStreamState& ist, const AVFrame* frame)
{
    int64_t timestamp = frame->best_effort_timestamp;
    if (timestamp != AV_NOPTS_VALUE) {
        ist.pts = lib::av_rescale_q(timestamp, ist.stream->time_base, microseconds);
    } else {
        ist.pts = ist.next_pts;
    }
    int64_t duration = 0;
    if (frame->nb_samples > 0 && frame->sample_rate > 0) duration = int64_t(1000000) * frame->nb_samples / frame->sample_rate;
    else if (frame->pkt_duration > 0) duration = lib::av_rescale_q(frame->pkt_duration, ist.stream->time_base, microseconds);
    else duration = frame_duration_us(ist, nullptr);
    ist.next_pts = ist.pts + duration;
}

void TCustomFFmpeg::dispatch_frame(InputStreamState& ist, int ist_index, AVFrame* frame)
{
    if (ist.decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        ist.quality = frame->quality;
        hook_video_frame(ist, frame);
    }
    if (ist.decoder->codec_type == AVMEDIA_TYPE_AUDIO && audio_volume != 256) apply_volume(frame);
    emulate_rate(ist);
    if (start_time != 0 && ist.pts < start_time) return; // decoded, but before the start
    if (ist.filter_graph) filter_and_send(ist, ist_index, frame);
    else send_to_outputs(ist, ist_index, frame);
}

void TCustomFFmpeg::send_to_outputs(InputStreamState& ist, int ist_index, AVFrame* frame)
{
    for (auto& ost : output_stream_states) {
        if (ost->source_index != ist_index || !ost->encoding_needed) continue;
        AVFormatContext* file = output_files[ost->file_index];
        if (ost->encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
            write_audio(file, *ost, ist, frame);
        } else if (ost->encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            const int size = write_video(file, *ost, ist, frame);
            if (!vstats_filename.empty() && size > 0) write_video_stats(*ost, size);
        } else {
            throw FFmpegException("invalid codec_type");
        }
    }
}

void TCustomFFmpeg::emulate_rate(const InputStreamState& ist) const
{
    if (!rate_emu) return;
    const int64_t elapsed = lib::av_gettime() - ist.start_time;
    if (ist.pts - elapsed > 1000) std::this_thread::sleep_for(std::chrono::microseconds(ist.pts - elapsed));
}

int TCustomFFmpeg::decode_subtitle(InputStreamState& ist, int ist_index, AVPacket* packet)
{
    AVSubtitle subtitle{};
    int got = 0;
    if (lib::avcodec_decode_subtitle2(ist.decoder, &subtitle, &got, packet) < 0) return -1;
    if (!got) return 0;
    ist.pts = ist.next_pts;
    if (start_time == 0 || ist.pts >= start_time) {
        for (auto& ost : output_stream_states)
            if (ost->source_index == ist_index && ost->encoding_needed)
                write_subtitle(output_files[ost->file_index], *ost, ist, subtitle, packet->pts);
    }
    lib::avsubtitle_free(&subtitle);
    return 0;
}

// Stream copy: the packet goes to every output that copies this stream, with
// its timestamps in the output stream's time base.
void TCustomFFmpeg::copy_to_outputs(InputStreamState& ist, int ist_index, const AVPacket* packet)
{
    for (auto& ost : output_stream_states) {
        if (ost->source_index != ist_index || ost->encoding_needed) continue;
        if (ost->frame_number == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !copy_initial_nonkeyframes) continue;
        if (ist.decoder->codec_type == AVMEDIA_TYPE_AUDIO) audio_size += packet->size;
        if (ist.decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            video_size += packet->size;
            ost->sync_opts++;
        }
        PacketPtr copy(lib::av_packet_clone(packet));
        if (!copy) throw FFmpegException("av_mallocz fail");
        copy->stream_index = ost->index;
        const AVRational out_base = ost->stream->time_base;
        copy->pts = packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : lib::av_rescale_q(packet->pts, ist.stream->time_base, out_base);
        copy->dts = packet->dts == AV_NOPTS_VALUE ? lib::av_rescale_q(ist.pts, microseconds, out_base)
                                                  : lib::av_rescale_q(packet->dts, ist.stream->time_base, out_base);
        copy->duration = lib::av_rescale_q(packet->duration, ist.stream->time_base, out_base);
        copy->time_base = out_base;
        write_packet(output_files[ost->file_index], copy.get(), *ost);
        ost->frame_number++;
    }
}

// Bitstream filters in order, then the muxer. A filter that fails leaves the
// packet as it was (or fails the job with "xerror").
void TCustomFFmpeg::write_packet(AVFormatContext* file, AVPacket* packet, OutputStreamState& ost)
{
    for (BsfPtr& filter : ost.bitstream_filters) {
        int result = lib::av_bsf_send_packet(filter.get(), packet);
        if (result >= 0) result = lib::av_bsf_receive_packet(filter.get(), packet);
        if (result == AVERROR(EAGAIN)) return; // the filter holds the packet back for now
        if (result < 0 && (log_sink || exit_on_error)) {
            const char* codec = ost.encoder_codec ? ost.encoder_codec->name : "copy";
            const std::string text = printf_text("%s failed for stream %d, codec %s", filter->filter->name,
                                                 packet->stream_index, codec) + ": " + lib::error_text(result);
            if (exit_on_error) throw FFmpegException(text);
            log(0, text);
        }
    }
    keep_timestamps_increasing(file, ost, packet);
    note_muxed_position(ost, packet);
    const int result = lib::av_interleaved_write_frame(file, packet);
    if (result < 0) throw FFmpegException(format_run_error("av_interleaved_write_frame()", result));
    ++packets_written;
}

// Muxers refuse a decoding time that does not move forward; where joined files
// or a source's own timestamps overlap, the packet moves to just after the last.
void TCustomFFmpeg::keep_timestamps_increasing(const AVFormatContext* file, OutputStreamState& ost, AVPacket* packet)
{
    if (packet->dts == AV_NOPTS_VALUE || (file->oformat->flags & AVFMT_NOTIMESTAMPS)) return;
    OutputStreamState& track = ost.library_stream(); // joined copies share one stream
    if (track.last_mux_dts != AV_NOPTS_VALUE) {
        const int64_t least = track.last_mux_dts + ((file->oformat->flags & AVFMT_TS_NONSTRICT) ? 0 : 1);
        if (packet->dts < least) {
            if (verbose > 1)
                log(0, printf_text("Non-monotonous timestamp in stream %d: %lld moved to %lld", ost.index,
                                   static_cast<long long>(packet->dts), static_cast<long long>(least)));
            if (packet->pts != AV_NOPTS_VALUE && packet->pts >= packet->dts)
                packet->pts += least - packet->dts;
            packet->dts = least;
        }
    }
    track.last_mux_dts = packet->dts;
}

void TCustomFFmpeg::note_muxed_position(OutputStreamState& ost, const AVPacket* packet)
{
    const int64_t timestamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (timestamp == AV_NOPTS_VALUE) return;
    const AVRational base = ost.stream->time_base;
    const double end = double(timestamp + std::max<int64_t>(packet->duration, 0)) * base.num / base.den;
    OutputStreamState& track = ost.library_stream();
    track.mux_position = std::max(track.mux_position, end);
}

void TCustomFFmpeg::write_subtitle(AVFormatContext* file, OutputStreamState& ost, const InputStreamState& ist,
                                   const AVSubtitle& subtitle, int64_t pts)
{
    if (pts == AV_NOPTS_VALUE) {
        if (exit_on_error) throw FFmpegException("Subtitle packets must have a pts");
        log(0, "Subtitle packets must have a pts");
        return;
    }
    constexpr int buffer_size = 65536;
    if (subtitle_buffer.empty()) subtitle_buffer.resize(buffer_size);
    const bool dvb = ost.encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    for (int i = 0; i < (dvb ? 2 : 1); ++i) {
        const int size = lib::avcodec_encode_subtitle(ost.encoder, subtitle_buffer.data(), buffer_size, &subtitle);
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        PacketPtr packet(lib::av_packet_alloc());
        if (!packet || lib::av_new_packet(packet.get(), size) < 0) throw FFmpegException("av_mallocz fail");
        std::copy(subtitle_buffer.begin(), subtitle_buffer.begin() + size, packet->data);
        packet->stream_index = ost.index;
        packet->pts = lib::av_rescale_q(pts, ist.stream->time_base, ost.stream->time_base);
        if (dvb)
            packet->pts += lib::av_rescale_q(90 * int64_t(i == 0 ? subtitle.start_display_time : subtitle.end_display_time),
                                             AVRational{1, 90000}, ost.stream->time_base);
        packet->dts = packet->pts;
        write_packet(file, packet.get(), ost);
        ost.frame_number++;
    }
}

// Sends a frame (or the end, with none) to the encoder and writes every packet
// it gives back; returns the size of the last packet written.
int TCustomFFmpeg::encode_and_write(AVFormatContext* file, OutputStreamState& ost, const AVFrame* frame)
{
    const int sent = lib::avcodec_send_frame(ost.encoder, frame);
    if (sent < 0 && !(sent == AVERROR_EOF && !frame)) throw FFmpegException(encode_failure_text(ost));
    PacketPtr packet(lib::av_packet_alloc());
    if (!packet) throw FFmpegException("av_mallocz fail");
    int last_size = 0;
    while (true) {
        const int result = lib::avcodec_receive_packet(ost.encoder, packet.get());
        if (is_again_or_eof(result)) return last_size;
        if (result < 0) throw FFmpegException(encode_failure_text(ost));
        last_size = packet->size;
        count_encoded(ost, packet.get());
        packet->stream_index = ost.index;
        lib::av_packet_rescale_ts(packet.get(), ost.encoder->time_base, ost.stream->time_base);
        write_packet(file, packet.get(), ost);
        lib::av_packet_unref(packet.get());
    }
}

std::string TCustomFFmpeg::encode_failure_text(const OutputStreamState& ost) const
{
    return ost.encoder->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed" : "Video encoding failed";
}

// Byte totals, the quality figures the encoder attached, and first-pass statistics.
void TCustomFFmpeg::count_encoded(OutputStreamState& ost, const AVPacket* packet)
{
    if (ost.encoder->codec_type == AVMEDIA_TYPE_AUDIO) audio_size += packet->size;
    else video_size += packet->size;
    size_t side_size = 0;
    const uint8_t* stats = lib::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &side_size);
    ost.coded.key_frame = packet->flags & AV_PKT_FLAG_KEY;
    if (stats && side_size >= 6) {
        ost.coded.quality = int(stats[0] | stats[1] << 8 | stats[2] << 16 | uint32_t(stats[3]) << 24);
        ost.coded.picture_type = stats[4];
        const int errors = stats[5];
        ost.coded.has_error = errors > 0;
        for (int i = 0; i < 3 && i < errors && side_size >= size_t(8 + 8 * (i + 1)); ++i) {
            uint64_t value = 0;
            for (int b = 7; b >= 0; --b) value = value << 8 | stats[8 + 8 * i + b];
            ost.coded.error[i] = value;
            ost.total_error[i] += value;
        }
    }
    if (ost.pass_log && ost.encoder->stats_out) lib::my_fprintf(ost.pass_log, "%s", ost.encoder->stats_out);
}

void TCustomFFmpeg::drain_encoders()
{
    for (auto& ost : output_stream_states) {
        if (!ost->encoding_needed || ost->encoder_owner != ost.get() || ost->encoder_drained || !ost->encoder_open) continue;
        if (ost->encoder->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;
        ost->encoder_drained = true;
        AVFormatContext* file = output_files[ost->file_index];
        if (ost->encoder->codec_type == AVMEDIA_TYPE_AUDIO) flush_audio_queue(file, *ost);
        encode_and_write(file, *ost, nullptr);
    }
}

void TCustomFFmpeg::apply_volume(AVFrame* frame) const
{
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = lib::av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
    const int planes = planar ? channels : 1;
    const int per_plane = frame->nb_samples * (planar ? 1 : channels);
    const double factor = audio_volume / 256.0;
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        switch (frame->format) {
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            for (int i = 0; i < per_plane; ++i) {
                auto* s = reinterpret_cast<int16_t*>(data) + i;
                *s = static_cast<int16_t>(std::clamp<int64_t>((int64_t{*s} * audio_volume + 128) >> 8, -32768, 32767));
            }
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            for (int i = 0; i < per_plane; ++i) {
                auto* s = reinterpret_cast<int32_t*>(data) + i;
                *s = static_cast<int32_t>(std::clamp<int64_t>((int64_t(*s) * audio_volume + 128) >> 8, INT32_MIN, INT32_MAX));
            }
            break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            for (int i = 0; i < per_plane; ++i) reinterpret_cast<float*>(data)[i] *= static_cast<float>(factor);
            break;
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            for (int i = 0; i < per_plane; ++i) reinterpret_cast<double*>(data)[i] *= factor;
            break;
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            for (int i = 0; i < per_plane; ++i)
                data[i] = static_cast<uint8_t>(
                    std::clamp<int64_t>((int64_t{data[i] - 128} * audio_volume + 128) / 256 + 128, 0, 255));
            break;
        default: break;
        }
    }
}

} // namespace quillon
