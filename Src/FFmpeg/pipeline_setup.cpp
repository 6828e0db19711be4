// The set-up of a job run: stream tables, the source of every output stream,
// codec parameters, encoders, decoders, metadata and headers.
#include <cstring>
#include <mutex>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/stream_values.h"
#include "FFmpegLoader/loader.h"
#include "Formatting/formatting.h"

namespace quillon {

void TCustomFFmpeg::run_pipeline()
{
    try {
        build_input_tables();
        build_output_table();
        log_stream_mapping();
        open_encoders();
        open_decoders();
        init_input_timestamps();
        copy_metadata_maps();
        write_headers();
    } catch (...) {
        free_stream_tables();
        throw;
    }
    timer_start = lib::av_gettime();
    packets_written = 0;
    transcode_loop();
    wind_down();
    check_something_written();
}

void TCustomFFmpeg::build_input_tables()
{
    int first = 0;
    for (std::size_t f = 0; f < input_files.size(); ++f) {
        AVFormatContext* file = input_files[f];
        input_file_states.push_back({false, first, static_cast<int>(file->nb_streams)});
        for (unsigned s = 0; s < file->nb_streams; ++s) {
            auto ist = std::make_unique<InputStreamState>();
            ist->file_index = static_cast<int>(f);
            ist->index = static_cast<int>(s);
            ist->stream = file->streams[s];
            ist->decoder = input_stream_contexts[f][s].get();
            if (rate_emu) ist->start_time = lib::av_gettime();
            input_stream_states.push_back(std::move(ist));
        }
        first += static_cast<int>(file->nb_streams);
    }
}

std::vector<OutputStreamSetup>& TCustomFFmpeg::output_stream_setups(int file_index)
{
    return output_streams[join_mode ? 0 : file_index];
}

void TCustomFFmpeg::check_stream_maps(int output_stream_count) const
{
    if (!stream_maps.empty() && static_cast<int>(stream_maps.size()) != output_stream_count)
        throw FFmpegException("Number of stream maps must match number of output streams");
    const auto valid = [&](int file, int stream) {
        return file >= 0 && file < static_cast<int>(input_files.size()) && stream >= 0 &&
               stream < static_cast<int>(input_files[file]->nb_streams);
    };
    for (const StreamMap& map : stream_maps) {
        if (!valid(map.file_index, map.stream_index))
            throw FFmpegException(printf_text("Could not find input stream #%d.%d", map.file_index, map.stream_index));
        if (!valid(map.sync_file_index, map.sync_stream_index))
            throw FFmpegException(
                printf_text("Could not find sync stream #%d.%d", map.sync_file_index, map.sync_stream_index));
    }
}

void TCustomFFmpeg::build_output_table()
{
    int total = 0;
    for (std::size_t f = 0; f < output_files.size(); ++f) {
        AVFormatContext* file = output_files[f];
        if (file->nb_streams == 0) {
            lib::av_dump_format(file, static_cast<int>(f), file->url, 1);
            throw FFmpegException(printf_text("Output file #%d does not contain any stream", static_cast<int>(f)));
        }
        total += static_cast<int>(file->nb_streams);
    }
    streams_per_output = static_cast<int>(output_files[0]->nb_streams);
    check_stream_maps(total);

    int n = 0;
    for (std::size_t f = 0; f < output_files.size(); ++f) {
        AVFormatContext* file = output_files[f];
        for (unsigned s = 0; s < file->nb_streams; ++s, ++n) {
            auto ost = std::make_unique<OutputStreamState>();
            ost->file_index = static_cast<int>(f);
            ost->index = static_cast<int>(s);
            ost->stream = file->streams[s];
            OutputStreamSetup& setup = output_stream_setups(static_cast<int>(f))[s];
            ost->encoder = setup.encoder.get();
            ost->stream_copy = setup.stream_copy;
            ost->encoder_owner = join_mode ? nullptr : ost.get();
            ost->source_index = map_output_stream(*ost, n);
            InputStreamState& source = *input_stream_states[ost->source_index];
            source.discard = false;
            ost->sync_source = stream_maps.empty() ? &source : &sync_stream_of(stream_maps[n]);
            output_stream_states.push_back(std::move(ost));
        }
    }
    if (join_mode)
        for (std::size_t r = 0; r < output_stream_states.size(); ++r)
            output_stream_states[r]->encoder_owner = output_stream_states[r % streams_per_output].get();
    for (int i = 0; i < n; ++i) derive_stream_parameters(*output_stream_states[i], i);
}

InputStreamState& TCustomFFmpeg::sync_stream_of(const StreamMap& map)
{
    return *input_stream_states[input_file_states[map.sync_file_index].first_stream + map.sync_stream_index];
}

int TCustomFFmpeg::map_output_stream(const OutputStreamState& ost, int n)
{
    const AVMediaType type = ost.encoder->codec_type;
    AVFormatContext* file = output_files[ost.file_index];
    if (!stream_maps.empty()) {
        const StreamMap& map = stream_maps[n];
        const int source = input_file_states[map.file_index].first_stream + map.stream_index;
        const AVMediaType source_type = input_stream_states[source]->decoder->codec_type;
        if (source_type != type) {
            lib::av_dump_format(file, ost.file_index, file->url, 1);
            throw FFmpegException(printf_text("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                              map.file_index, map.stream_index, stream_type_name(source_type).c_str(), ost.file_index,
                                              ost.index, stream_type_name(type).c_str()));
        }
        return source;
    }
    const auto candidate = [&](int i) {
        const InputStreamState& ist = *input_stream_states[i];
        return ist.discard && ist.decoder->codec_type == type && (!join_mode || ist.file_index == ost.file_index);
    };
    if (program_id != 0) {
        for (std::size_t f = 0; f < input_files.size(); ++f)
            for (unsigned p = 0; p < input_files[f]->nb_programs; ++p) {
                const AVProgram* program = input_files[f]->programs[p];
                if (program->id != program_id) continue;
                for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
                    const int i = input_file_states[f].first_stream + static_cast<int>(program->stream_index[k]);
                    if (candidate(i)) return i;
                }
            }
    } else {
        for (std::size_t i = 0; i < input_stream_states.size(); ++i)
            if (candidate(static_cast<int>(i))) return static_cast<int>(i);
        if (!join_mode) // reuse the last stream of the type, even if another output uses it
            for (int i = static_cast<int>(input_stream_states.size()) - 1; i >= 0; --i)
                if (input_stream_states[i]->decoder->codec_type == type) return i;
    }
    lib::av_dump_format(file, ost.file_index, file->url, 1);
    throw FFmpegException(printf_text("Could not find input stream matching output stream #%d.%d (%s)", ost.file_index,
                                      ost.index, stream_type_name(type).c_str()));
}

void TCustomFFmpeg::derive_stream_parameters(OutputStreamState& ost, int n)
{
    InputStreamState& ist = *input_stream_states[ost.source_index];
    const AVDictionaryEntry* language = lib::av_dict_get(ist.stream->metadata, "language", nullptr, 0);
    if (language && !lib::av_dict_get(ost.stream->metadata, "language", nullptr, 0))
        lib::av_dict_set(&ost.stream->metadata, "language", language->value, 0);
    ost.stream->disposition = ist.stream->disposition;
    if (ost.stream_copy) {
        derive_copy_parameters(ost, ist);
    } else if (ost.encoder_owner == &ost || !join_mode) {
        derive_encode_parameters(ost, ist);
    } else {
        ost.encoding_needed = true;
        ist.decoding_needed = true;
    }
    if (ost.encoding_needed) open_pass_log(ost, n);
    if (ost.encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        bit_buffer_size = std::max(bit_buffer_size, 6 * ost.encoder->width * ost.encoder->height + 200);
}

void TCustomFFmpeg::derive_copy_parameters(OutputStreamState& ost, InputStreamState& ist)
{
    const AVCodecParameters* in = ist.stream->codecpar;
    AVCodecParameters* out = ost.stream->codecpar;
    if (ost.encoder_owner != &ost && join_mode) return; // the shared stream is described once
    const uint32_t requested_tag = ost.encoder->codec_tag;
    if (lib::avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
    out->codec_tag = requested_tag;
    if (!requested_tag) {
        const AVCodecTag* const* tags = output_files[ost.file_index]->oformat->codec_tag;
        if (!tags || lib::av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
            lib::av_codec_get_tag(tags, in->codec_id) == 0)
            out->codec_tag = in->codec_tag;
    }
    ost.stream->time_base = ist.stream->time_base;
    ost.stream->avg_frame_rate = ist.stream->avg_frame_rate;
    ost.stream->r_frame_rate = ist.stream->r_frame_rate;
    switch (in->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (audio_volume != 256) throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) || out->codec_id == AV_CODEC_ID_AC3)
            out->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO:
        check_video_copy_allowed();
        if (ost.stream->sample_aspect_ratio.num == 0) ost.stream->sample_aspect_ratio = ist.stream->sample_aspect_ratio;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT: break;
    default: throw FFmpegException("invalid codec_type of output stream");
    }
    lib::avcodec_parameters_to_context(ost.encoder, out);
}

void TCustomFFmpeg::check_video_copy_allowed() const
{
    if (custom_hook_sink) throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    if (vhook_active) throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
    if (preview_flags != 0) throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
}

void TCustomFFmpeg::derive_encode_parameters(OutputStreamState& ost, InputStreamState& ist)
{
    switch (ost.encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        ost.audio_resample = ost.encoder->sample_rate != ist.decoder->sample_rate || audio_sync_method > 1;
        break;
    case AVMEDIA_TYPE_VIDEO: derive_video_parameters(ost, ist); break;
    case AVMEDIA_TYPE_SUBTITLE: break;
    default: throw FFmpegException("invalid codec_type of output stream");
    }
    ost.encoding_needed = true;
    ist.decoding_needed = true;
    lib::avcodec_parameters_from_context(ost.stream->codecpar, ost.encoder); // for the format dump
}

void TCustomFFmpeg::derive_video_parameters(OutputStreamState& ost, InputStreamState& ist)
{
    const AVCodecContext* in = ist.decoder;
    AVCodecContext* out = ost.encoder;
    ost.source_width = in->width;
    ost.source_height = in->height;
    ost.source_format = in->pix_fmt;
    ost.video_crop = (crop_top | crop_bottom | crop_left | crop_right) != 0;
    ost.video_pad = (pad_top | pad_bottom | pad_left | pad_right) != 0;
    const int source_width = in->width - crop_left - crop_right;
    const int source_height = in->height - crop_top - crop_bottom;
    ost.video_resample = out->width != source_width + pad_left + pad_right ||
                         out->height != source_height + pad_top + pad_bottom || out->pix_fmt != in->pix_fmt;
    if (ost.video_crop) {
        ost.crop_top = crop_top;
        ost.crop_left = crop_left;
    }
    if (ost.video_pad) {
        ost.pad_top = pad_top;
        ost.pad_bottom = pad_bottom;
        ost.pad_left = pad_left;
        ost.pad_right = pad_right;
    }
    if (ost.video_pad || ost.video_resample) {
        ost.temp_picture = allocate_picture(out->pix_fmt, out->width, out->height);
        if (!ost.temp_picture)
            throw FFmpegException(ost.video_resample ? "Cannot allocate temp picture, check pix fmt" : "avpicture_alloc fail");
    }
    if (ost.video_resample && !using_vfilters) { // with filters the graph scales
        sws_flags = scaler_flags();
        ost.scaler.reset(lib::sws_getContext(source_width, source_height, in->pix_fmt, out->width - pad_left - pad_right,
                                             out->height - pad_top - pad_bottom, out->pix_fmt, sws_flags, nullptr,
                                             nullptr, nullptr));
        if (!ost.scaler) throw FFmpegException("Cannot get resampling context");
        ost.resample_height = source_height;
    }
    last_error.clear();
    if (using_vfilters && !build_filter_graph(ost, ist))
        throw FFmpegException(last_error.empty() ? "Error opening filters!" : "Error opening filters: " + last_error);
}

// The job's scaler flags: the generic "sws_flags" option when it was set.
int TCustomFFmpeg::scaler_flags() const
{
    int64_t flags = sws_flags;
    if (generic_options.scaler && lib::av_opt_get_int(generic_options.scaler, "sws_flags", 0, &flags) >= 0)
        return static_cast<int>(flags);
    return sws_flags;
}

FramePtr allocate_picture(AVPixelFormat format, int width, int height)
{
    FramePtr picture(lib::av_frame_alloc());
    if (!picture || format == AV_PIX_FMT_NONE || width <= 0 || height <= 0) return nullptr;
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (lib::av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
    return picture;
}

void TCustomFFmpeg::open_pass_log(OutputStreamState& ost, int n)
{
    const int flags = ost.encoder->flags;
    if (!(flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    const std::string prefix = pass_logfile_prefix.empty() ? "ffmpeg2pass" : pass_logfile_prefix;
    const std::string name = (prefix + "-" + std::to_string(n) + ".log").substr(0, 1023);
    if (flags & AV_CODEC_FLAG_PASS1) {
        ost.pass_log = lib::my_fopen(name.c_str(), "wb");
        if (!ost.pass_log) throw FFmpegException(printf_text("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    FILE* file = lib::my_fopen(name.c_str(), "rb");
    if (!file) throw FFmpegException(printf_text("Cannot read log file %s for pass-2 encoding", name.c_str()));
    lib::my_fseek(file, 0, SEEK_END);
    const long size = lib::my_ftell(file);
    lib::my_fseek(file, 0, SEEK_SET);
    char* buffer = size >= 0 ? static_cast<char*>(lib::av_malloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!buffer) {
        lib::my_fclose(file);
        throw FFmpegException("Could not allocate log buffer");
    }
    const size_t read = lib::my_fread(buffer, 1, static_cast<size_t>(size), file);
    buffer[read] = '\0';
    lib::my_fclose(file);
    // An empty log holds no statistics, and the encoders' parser reads past
    // the end of an empty text: refuse it as unreadable.
    if (read == 0) {
        lib::av_free(buffer);
        throw FFmpegException(printf_text("Cannot read log file %s for pass-2 encoding", name.c_str()));
    }
    ost.stats_in = buffer;
    ost.encoder->stats_in = buffer;
}

void TCustomFFmpeg::log_stream_mapping()
{
    for (std::size_t f = 0; f < output_files.size(); ++f) {
        lib::av_dump_format(output_files[f], static_cast<int>(f), output_files[f]->url, 1);
        if (join_mode) break;
    }
    if (verbose < 0 || !log_sink) return;
    log(1, "Stream mapping:");
    for (const auto& ost : output_stream_states) {
        const InputStreamState& source = *input_stream_states[ost->source_index];
        const std::string type = stream_type_name(ost->encoder->codec_type);
        log(1, printf_text("  Stream #%d.%d -> #%d.%d (%s)", source.file_index, source.index,
                           join_mode ? 0 : ost->file_index, ost->index, type.c_str()));
        if (ost->sync_source != &source)
            log(1, printf_text(" [sync #%d.%d (%s)]", ost->sync_source->file_index, ost->sync_source->index, type.c_str()));
    }
}

void TCustomFFmpeg::open_encoders()
{
    const std::size_t count = join_mode ? streams_per_output : output_stream_states.size();
    for (std::size_t r = 0; r < count; ++r) {
        OutputStreamState& ost = *output_stream_states[r];
        if (ost.encoding_needed) open_encoder(ost, static_cast<int>(r));
    }
    for (auto& ost : output_stream_states) {
        OutputStreamState& owner = *ost->encoder_owner;
        if (ost.get() == &owner) finish_stream_parameters(owner);
    }
}

void TCustomFFmpeg::open_encoder(OutputStreamState& ost, int r)
{
    const std::string type = stream_type_name(ost.encoder->codec_type);
    const AVCodec* codec = r < static_cast<int>(output_codecs.size()) && output_codecs[r] ? output_codecs[r]
                                                                                           : lib::avcodec_find_encoder(ost.encoder->codec_id);
    if (!codec)
        throw FFmpegException(printf_text("Unsupported codec for output stream #%d.%d (%s)", ost.file_index, ost.index, type.c_str()));
    int result = 0;
    {
        std::lock_guard guard(codec_lock());
        result = lib::avcodec_open2(ost.encoder, codec, nullptr);
        if (result >= 0) ost.encoder_open = true;
    }
    if (result < 0)
        throw FFmpegException(printf_text("Error while opening codec for output stream #%d.%d (%s) - maybe incorrect "
                                          "parameters such as bit_rate, rate, width or height",
                                          ost.file_index, ost.index, type.c_str()));
    ost.encoder_codec = codec;
    extra_size += ost.encoder->extradata_size;
}

// The muxer learns the opened encoder's parameters; bitstream filters may change them.
void TCustomFFmpeg::finish_stream_parameters(OutputStreamState& ost)
{
    if (ost.encoding_needed) {
        if (lib::avcodec_parameters_from_context(ost.stream->codecpar, ost.encoder) < 0)
            throw FFmpegException("av_mallocz fail");
        ost.stream->time_base = ost.encoder->time_base;
        // The encoder's buffer properties tell program stream muxers the video buffer size.
        for (int i = 0; i < ost.encoder->nb_coded_side_data; ++i) {
            const AVPacketSideData& data = ost.encoder->coded_side_data[i];
            if (uint8_t* copy = lib::av_stream_new_side_data(ost.stream, data.type, data.size))
                std::memcpy(copy, data.data, data.size);
        }
        if (ost.encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            ost.stream->avg_frame_rate = ost.encoder->framerate;
            ost.stream->r_frame_rate = ost.encoder->framerate;
        }
    }
    open_bitstream_filters(ost);
}

void TCustomFFmpeg::open_bitstream_filters(OutputStreamState& ost)
{
    const BitstreamFilterChain& chain = bitstream_filters[ost.file_index][ost.index];
    for (const std::string& name : chain) {
        const AVBitStreamFilter* filter = lib::av_bsf_get_by_name(name.c_str());
        AVBSFContext* context = nullptr;
        if (!filter || lib::av_bsf_alloc(filter, &context) < 0)
            throw FFmpegException(printf_text("Unknown bitstream filter %s", name.c_str()));
        BsfPtr owner(context);
        lib::avcodec_parameters_copy(context->par_in, ost.stream->codecpar);
        context->time_base_in = ost.stream->time_base;
        if (lib::av_bsf_init(context) < 0) throw FFmpegException(printf_text("Unknown bitstream filter %s", name.c_str()));
        lib::avcodec_parameters_copy(ost.stream->codecpar, context->par_out);
        ost.bitstream_filters.push_back(std::move(owner));
    }
}

void TCustomFFmpeg::open_decoders()
{
    int slot = 0;
    for (auto& ist : input_stream_states) {
        const AVMediaType type = ist->decoder->codec_type;
        const AVCodec* by_name = nullptr;
        if (type != AVMEDIA_TYPE_DATA) { // data streams take no decoder slot
            if (slot < static_cast<int>(input_codecs.size())) by_name = input_codecs[slot];
            ++slot;
        }
        if (ist->decoding_needed) open_decoder(*ist, by_name);
    }
}

void TCustomFFmpeg::open_decoder(InputStreamState& ist, const AVCodec* by_name)
{
    const std::string type = stream_type_name(ist.decoder->codec_type);
    const AVCodec* codec = by_name ? by_name : lib::avcodec_find_decoder(ist.decoder->codec_id);
    if (!codec)
        throw FFmpegException(printf_text("Unsupported codec (id=%d) for input stream #%d.%d (%s)",
                                          static_cast<int>(ist.decoder->codec_id), ist.file_index, ist.index, type.c_str()));
    int result = 0;
    {
        std::lock_guard guard(codec_lock());
        result = lib::avcodec_open2(ist.decoder, codec, nullptr);
        if (result >= 0) ist.decoder_open = true;
    }
    if (result < 0)
        throw FFmpegException(
            printf_text("Error while opening codec for input stream #%d.%d (%s)", ist.file_index, ist.index, type.c_str()));
    ist.decoder_codec = codec;
}

void TCustomFFmpeg::init_input_timestamps()
{
    for (auto& ist : input_stream_states) {
        ist->pts = 0;
        ist->next_pts = AV_NOPTS_VALUE;
        ist->is_start = true;
    }
}

void TCustomFFmpeg::copy_metadata_maps()
{
    for (const MetaDataMap& map : meta_data_maps) {
        if (map.out_file < 0 || map.out_file >= static_cast<int>(output_files.size()))
            throw FFmpegException(
                printf_text("Invalid output file index %d map_meta_data(%d,%d)", map.out_file, map.out_file, map.in_file));
        if (map.in_file < 0 || map.in_file >= static_cast<int>(input_files.size()))
            throw FFmpegException(
                printf_text("Invalid input file index %d map_meta_data(%d,%d)", map.in_file, map.out_file, map.in_file));
        lib::av_dict_copy(&output_files[map.out_file]->metadata, input_files[map.in_file]->metadata, 0);
    }
}

void TCustomFFmpeg::write_headers()
{
    bool all_rtp = true;
    for (std::size_t f = 0; f < output_files.size(); ++f) {
        AVFormatContext* file = output_files[f];
        if (lib::avformat_write_header(file, nullptr) < 0)
            throw FFmpegException(
                printf_text("Could not write header for output file #%d (incorrect codec parameters ?)", static_cast<int>(f)));
        all_rtp = all_rtp && std::string(file->oformat->name) == "rtp";
        if (join_mode) break;
    }
    if (all_rtp && log_sink) {
        char sdp[2048] = {};
        lib::av_sdp_create(output_files.data(), join_mode ? 1 : static_cast<int>(output_files.size()), sdp, sizeof sdp);
        std::string text = sdp;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        log(1, "SDP:\r\n" + text);
    }
}

// Closes the codecs that are still open, the encoder's statistics input first.
void TCustomFFmpeg::close_open_codecs()
{
    for (auto& ost : output_stream_states) {
        if (!ost->encoder_open) continue;
        std::lock_guard guard(codec_lock());
        ost->encoder->stats_in = nullptr;
        lib::av_freep(&ost->stats_in);
        lib::avcodec_close(ost->encoder);
        ost->encoder_open = false;
    }
    for (auto& ist : input_stream_states) {
        if (!ist->decoder_open) continue;
        std::lock_guard guard(codec_lock());
        lib::avcodec_close(ist->decoder);
        ist->decoder_open = false;
    }
}

void TCustomFFmpeg::free_stream_tables()
{
    close_open_codecs();
    for (auto& ost : output_stream_states) {
        if (ost->pass_log) lib::my_fclose(ost->pass_log);
        ost->pass_log = nullptr;
        lib::av_freep(&ost->stats_in);
    }
    free_filter_graphs();
    output_stream_states.clear();
    input_stream_states.clear();
    input_file_states.clear();
}

} // namespace quillon
