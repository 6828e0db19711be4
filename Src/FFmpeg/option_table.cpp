// The option table and the dispatcher parse_option.
#include "FFmpeg/option_table.h"

#include <type_traits>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/option_numbers.h"
#include "FFmpeg/system_text.h"
#include "FFmpeg/value_parsers.h"
#include "FFmpegLoader/loader.h"

namespace quillon {
namespace {

using E = TCustomFFmpeg;
using V = const OptionValue&;
using K = ValueKind;

// Stores the value, read as the row's kind, in one job field.
template <auto Field>
void store(E& engine, V value)
{
    using T = std::remove_reference_t<decltype(engine.*Field)>;
    if constexpr (std::is_same_v<T, bool>) engine.*Field = value.flag;
    else if constexpr (std::is_same_v<T, std::string>) engine.*Field = value.text;
    else if constexpr (std::is_floating_point_v<T>) engine.*Field = T(value.number);
    else engine.*Field = T(value.integer);
}

// Options of the classic transcoder that mean nothing here.
void do_nothing(E& engine, V value)
{
    engine.log(1, "Do nothing: option - " + std::string(value.name));
}

int as_int(V value) { return int(value.integer); }

constexpr OptionRow rows[] = {
    {"L", K::none, do_nothing},
    {"h", K::none, do_nothing},
    {"version", K::none, do_nothing},
    {"formats", K::none, do_nothing},
    {"f", K::text, [](E& e, V v) { e.set_format(v.text); }},
    {"i", K::none, do_nothing},
    {"y", K::none, do_nothing}, // output files are always overwritten
    {"map", K::text8, [](E& e, V v) { e.add_stream_map(v.text); }},
    {"map_meta_data", K::text8, [](E& e, V v) { e.add_meta_data_map(v.text); }},
    {"t", K::duration, [](E& e, V v) { e.set_recording_time(v.integer); }},
    {"fs", K::int64, store<&JobState::limit_filesize>},
    {"ss", K::duration, store<&JobState::start_time>},
    {"itsoffset", K::duration, store<&JobState::input_ts_offset>},
    {"itsscale", K::text8, [](E& e, V v) { e.set_input_ts_scale(v.text); }},
    {"timestamp", K::date, [](E& e, V v) { e.rec_timestamp = rounded_seconds(v.integer); }},
    {"metadata", K::text8, [](E& e, V v) { e.add_metadata_pair(v.text); }},
    {"dframes", K::int32, [](E& e, V v) { e.max_frames[AVMEDIA_TYPE_DATA] = as_int(v); }},
    {"benchmark", K::none, do_nothing},
    {"dump", K::flag, store<&JobState::do_pkt_dump>},
    {"hex", K::flag, store<&JobState::do_hex_dump>},
    {"re", K::flag, store<&JobState::rate_emu>},
    {"loop_input", K::flag, store<&JobState::loop_input>},
    {"loop_output", K::int32, store<&JobState::loop_output>},
    {"v", K::int32, [](E& e, V v) { e.set_verbosity(as_int(v)); }},
    {"target", K::text8, [](E& e, V v) { e.parse_target(v.text); }},
    {"threads", K::none, [](E&, V v) { throw FFmpegException("TODO: option - " + std::string(v.name)); }},
    {"vsync", K::int32, [](E& e, V v) { e.set_video_sync(as_int(v)); }},
    {"async", K::int32, [](E& e, V v) { e.set_audio_sync(as_int(v)); }},
    {"adrift_threshold", K::float32, store<&JobState::audio_drift_threshold>},
    {"vglobal", K::int32, store<&JobState::video_global_header>},
    {"copyts", K::set, store<&JobState::copy_ts>},
    {"shortest", K::flag, store<&JobState::shortest>},
    {"dts_delta_threshold", K::float32, store<&JobState::dts_delta_threshold>},
    {"programid", K::int32, store<&JobState::program_id>},
    {"xerror", K::set, store<&JobState::exit_on_error>},
    {"copyinkf", K::int32, store<&JobState::copy_initial_nonkeyframes>},
    {"b", K::text, [](E& e, V v) { e.set_bit_rate(std::string(v.name), v.text); }},
    {"vb", K::text, [](E& e, V v) { e.set_bit_rate(std::string(v.name), v.text); }},
    {"vframes", K::int32, [](E& e, V v) { e.max_frames[AVMEDIA_TYPE_VIDEO] = as_int(v); }},
    {"r", K::text, [](E& e, V v) { e.set_frame_rate(v.text); }},
    {"s", K::text, [](E& e, V v) { e.set_frame_size(v.text); }},
    {"aspect", K::text, [](E& e, V v) { e.set_aspect(v.text); }},
    {"pix_fmt", K::text8, [](E& e, V v) { e.set_pixel_format(v.text); }},
    {"croptop", K::int32, [](E& e, V v) { e.set_crop_top(as_int(v)); }},
    {"cropbottom", K::int32, [](E& e, V v) { e.set_crop_bottom(as_int(v)); }},
    {"cropleft", K::int32, [](E& e, V v) { e.set_crop_left(as_int(v)); }},
    {"cropright", K::int32, [](E& e, V v) { e.set_crop_right(as_int(v)); }},
    {"padtop", K::int32, [](E& e, V v) { e.set_pad_top(as_int(v)); }},
    {"padbottom", K::int32, [](E& e, V v) { e.set_pad_bottom(as_int(v)); }},
    {"padleft", K::int32, [](E& e, V v) { e.set_pad_left(as_int(v)); }},
    {"padright", K::int32, [](E& e, V v) { e.set_pad_right(as_int(v)); }},
    {"padcolor", K::int32, [](E& e, V v) { e.set_pad_color(as_int(v)); }},
    {"intra", K::flag, store<&JobState::intra_only>},
    {"vn", K::flag, store<&JobState::video_disable>},
    {"vdt", K::int32, store<&JobState::video_discard>},
    {"qscale", K::float32, [](E& e, V v) { e.set_video_qscale(float(v.number)); }},
    {"rc_override", K::text8, store<&JobState::rc_override_text>},
    {"vcodec", K::text, [](E& e, V v) { e.set_video_codec(v.text); }},
    {"me_threshold", K::int32, store<&JobState::me_threshold>},
    {"sameq", K::flag, store<&JobState::same_quality>},
    {"pass", K::int32,
     [](E& e, V v) {
         if (v.integer != 1 && v.integer != 2) throw FFmpegException("pass number can be only 1 or 2");
         e.do_pass = as_int(v);
     }},
    {"passlogfile", K::text8, store<&JobState::pass_logfile_prefix>},
    {"deinterlace", K::flag, store<&JobState::deinterlace>},
    {"psnr", K::flag, store<&JobState::do_psnr>},
    {"vstats", K::none, [](E& e, V) { e.set_default_vstats_file(); }},
    {"vstats_file", K::text8, [](E& e, V v) { e.set_vstats_file(v.text); }},
    {"vhook", K::text8, [](E& e, V v) { e.add_frame_hook(v.text); }},
    {"vfilters", K::text, [](E& e, V v) { e.set_vfilters(v.text); }},
    {"intra_matrix", K::text8, [](E& e, V v) { e.intra_matrix = parse_matrix(v.text); }},
    {"inter_matrix", K::text8, [](E& e, V v) { e.inter_matrix = parse_matrix(v.text); }},
    {"top", K::int32, store<&JobState::top_field_first>},
    {"dc", K::int32, store<&JobState::intra_dc_precision>},
    {"vtag", K::text, [](E& e, V v) { e.set_video_tag(v.text); }},
    {"newvideo", K::none, [](E& e, V v) { e.add_new_stream(std::string(v.name)); }},
    {"qphist", K::flag, store<&JobState::qp_hist>},
    {"force_fps", K::flag, store<&JobState::force_fps>},
    {"ab", K::text, [](E& e, V v) { e.set_bit_rate(std::string(v.name), v.text); }},
    {"aframes", K::int32, [](E& e, V v) { e.max_frames[AVMEDIA_TYPE_AUDIO] = as_int(v); }},
    {"aq", K::float32, store<&JobState::audio_qscale>},
    {"ar", K::int32, [](E& e, V v) { e.set_audio_sample_rate(as_int(v)); }},
    {"ac", K::int32, [](E& e, V v) { e.set_audio_channels(as_int(v)); }},
    {"an", K::flag, store<&JobState::audio_disable>},
    {"acodec", K::text, [](E& e, V v) { e.set_audio_codec(v.text); }},
    {"atag", K::text, [](E& e, V v) { e.set_audio_tag(v.text); }},
    {"vol", K::int32, store<&JobState::audio_volume>},
    {"newaudio", K::none, [](E& e, V v) { e.add_new_stream(std::string(v.name)); }},
    {"alang", K::text, store<&JobState::audio_language>},
    {"sample_fmt", K::text8, [](E& e, V v) { e.set_sample_format(v.text); }},
    {"sn", K::flag, store<&JobState::subtitle_disable>},
    {"scodec", K::text, [](E& e, V v) { e.set_subtitle_codec(v.text); }},
    {"newsubtitle", K::none, [](E& e, V v) { e.add_new_stream(std::string(v.name)); }},
    {"slang", K::text, store<&JobState::subtitle_language>},
    {"vc", K::int32, store<&JobState::video_channel>},
    {"tvstd", K::text8, store<&JobState::video_standard>},
    {"isync", K::flag, store<&JobState::input_sync>},
    {"muxdelay", K::float32, store<&JobState::mux_max_delay>},
    {"muxpreload", K::float32, store<&JobState::mux_preload>},
    {"absf", K::text, [](E& e, V v) { e.add_bitstream_filter(std::string(v.name), v.text); }},
    {"vbsf", K::text, [](E& e, V v) { e.add_bitstream_filter(std::string(v.name), v.text); }},
    {"sbsf", K::text, [](E& e, V v) { e.add_bitstream_filter(std::string(v.name), v.text); }},
    {"apre", K::none, do_nothing},
    {"vpre", K::none, do_nothing},
    {"spre", K::none, do_nothing},
};

} // namespace

std::span<const OptionRow> option_table()
{
    return rows;
}

const OptionRow* find_option(std::string_view name)
{
    for (const OptionRow& row : rows)
        if (row.name == name) return &row;
    return nullptr;
}

OptionValue read_option_value(std::string_view name, ValueKind kind, const std::string& text)
{
    OptionValue value{name, text};
    switch (kind) {
    case K::none: break;
    case K::flag: value.flag = text != "0"; break;
    case K::set: value.flag = true; break;
    case K::int32: value.integer = read_int32(text, name); break;
    case K::int64: value.integer = read_int64(text, name); break;
    case K::float32: value.number = read_float(text, name); break;
    case K::text: break;
    case K::text8: value.text = to_system_8bit(text); break;
    case K::duration:
    case K::date:
        value.text = to_system_8bit(text);
        value.integer = parse_time_value(name, value.text, kind == K::duration);
        break;
    }
    return value;
}

void TCustomFFmpeg::parse_option(const std::string& name, const std::string& value)
{
    // The handlers call into the libraries; without them nothing can be applied.
    if (!TFFmpegLoader::all_loaded(required_libraries)) throw FFmpegException("The media libraries are not loaded");
    const std::string option = to_system_8bit(name);
    const OptionRow* row = find_option(option);
    if (!row) {
        set_generic_option(option, to_system_8bit(value));
        return;
    }
    row->apply(*this, read_option_value(row->name, row->kind, value));
}

} // namespace quillon
