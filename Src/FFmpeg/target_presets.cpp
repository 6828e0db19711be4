// Target presets: every option a VCD, SVCD, DVD or DV output needs, for the
// PAL, NTSC or NTSC film norm, applied through the ordinary setters so that
// later options can still override single values.
#include <cmath>
#include <optional>
#include <span>
#include <string_view>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/system_text.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {

enum class Norm { pal, ntsc, film };

// The frame rate each norm gives the frame rate setter.
const char* norm_rate(Norm norm)
{
    switch (norm) {
    case Norm::pal: return "25";
    case Norm::ntsc: return "30000/1001";
    case Norm::film: return "24000/1001";
    }
    return "25";
}

// A rate in thousandths of a frame per second (halves to even) decides PAL
// at 25000 and NTSC at 29970 or 23976; NTSC film is only chosen by name.
std::optional<Norm> norm_of_rate(int64_t numerator, int64_t denominator)
{
    if (denominator == 0) return std::nullopt;
    const double milli = std::nearbyint(double(numerator) * 1000.0 / double(denominator));
    if (milli == 25000) return Norm::pal;
    if (milli == 29970 || milli == 23976) return Norm::ntsc;
    return std::nullopt;
}

std::optional<Norm> norm_of_name(const std::string& name)
{
    if (name == "pal") return Norm::pal;
    if (name == "ntsc") return Norm::ntsc;
    if (name == "film") return Norm::film;
    return std::nullopt;
}

// One step of a preset; each preset lists its steps in the order they run.
enum class Step {
    video_codec,
    audio_codec,
    format,
    size,
    pixel_format,
    rate,
    gop,
    bitrate,
    max_rate,
    min_rate,
    buffer_size,
    scan_offset,
    audio_bitrate,
    sample_rate,
    channels,
    packet_size,
    mux_rate,
    preload,
    aspect,
};

using S = Step;

constexpr Step vcd_steps[] = {
    S::video_codec, S::audio_codec, S::format,   S::size,        S::rate,        S::gop,
    S::bitrate,     S::max_rate,    S::min_rate, S::buffer_size, S::audio_bitrate, S::sample_rate,
    S::channels,    S::packet_size, S::mux_rate, S::preload,     S::aspect};
constexpr Step svcd_steps[] = {
    S::video_codec, S::audio_codec, S::format,   S::size,        S::rate,          S::gop,
    S::bitrate,     S::max_rate,    S::min_rate, S::buffer_size, S::scan_offset,   S::audio_bitrate,
    S::sample_rate, S::packet_size, S::channels, S::aspect};
constexpr Step dvd_steps[] = {
    S::video_codec, S::audio_codec, S::format,   S::size,        S::rate,          S::gop,
    S::bitrate,     S::max_rate,    S::min_rate, S::buffer_size, S::packet_size,   S::mux_rate,
    S::audio_bitrate, S::sample_rate, S::channels, S::aspect};
constexpr Step dv_steps[] = {S::format, S::size, S::pixel_format, S::rate, S::sample_rate, S::channels};

struct TargetPreset {
    std::string_view type;
    std::span<const Step> steps;
    const char* video_codec;
    const char* audio_codec;
    const char* format;
    const char* size_pal;
    const char* size_ntsc;
    const char* pixel_format_pal;
    const char* pixel_format_ntsc;
    const char* bitrate;
    const char* max_rate;
    const char* min_rate;
    const char* buffer_size;
    const char* audio_bitrate;
    int sample_rate;
    bool stereo_from_mono_only; // channels: 2 only when mono, else always 2
    const char* packet_size;
    const char* mux_rate;
    const char* default_aspect;
};

// The AC-3 encoder of DVD audio runs at 48000 Hz; VCD and SVCD carry MPEG
// audio layer II at 44100 Hz.
constexpr TargetPreset presets[] = {
    {"vcd", vcd_steps, "mpeg1video", "mp2", "vcd", "352x288", "352x240", nullptr, nullptr, "1150000", "1150000",
     "1150000", "327680", "224000", 44100, false, "2324", "1411200", "4:3"},
    {"svcd", svcd_steps, "mpeg2video", "mp2", "svcd", "480x576", "480x480", nullptr, nullptr, "2040000", "2516000", "0",
     "1835008", "224000", 44100, true, "2324", nullptr, "4:3"},
    {"dvd", dvd_steps, "mpeg2video", "ac3", "dvd", "720x576", "720x480", nullptr, nullptr, "6000000", "9000000", "0",
     "1835008", "448000", 48000, true, "2048", "10080000", "16:9"},
    {"dv", dv_steps, nullptr, nullptr, "dv", "720x576", "720x480", "yuv420p", "yuv411p", nullptr, nullptr, nullptr,
     nullptr, nullptr, 48000, false, nullptr, nullptr, nullptr},
    {"dv50", dv_steps, nullptr, nullptr, "dv", "720x576", "720x480", "yuv422p", "yuv422p", nullptr, nullptr, nullptr,
     nullptr, nullptr, 48000, false, nullptr, nullptr, nullptr},
};

const TargetPreset* find_preset(const std::string& type)
{
    for (const TargetPreset& preset : presets)
        if (preset.type == type) return &preset;
    return nullptr;
}

// The norm from the job's frame rate, then from the inputs' video streams,
// else the default norm.
Norm detect_norm(const TCustomFFmpeg& engine, const std::string& default_norm)
{
    if (engine.frame_rate.den == 0) throw FFmpegException("frame_rate is invalid.");
    if (auto norm = norm_of_rate(engine.frame_rate.num, engine.frame_rate.den)) return *norm;
    for (const AVFormatContext* input : engine.input_files) {
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* stream = input->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            // The decoder's rate is the stream's average rate in this library generation.
            const AVRational rate = stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
            if (rate.num == 0) continue;
            if (auto norm = norm_of_rate(rate.num, rate.den)) return *norm;
        }
    }
    if (default_norm == "film") return Norm::film;
    if (default_norm == "ntsc") return Norm::ntsc;
    return Norm::pal;
}

// Option names of the older library generation that are named differently
// here: "flags" "+scan_offset" is the MPEG-2 encoder's private option
// "scan_offset"; "muxrate" is the program stream muxer's private option of the
// same name. "g", "b", "maxrate", "minrate", "bufsize", "ab" and "packetsize"
// keep their names.
void apply_target_step(TCustomFFmpeg& e, Step step, const TargetPreset& preset, Norm norm)
{
    const bool ntsc_like = norm != Norm::pal;
    switch (step) {
    case Step::video_codec: e.set_video_codec(preset.video_codec); break;
    case Step::audio_codec: e.set_audio_codec(preset.audio_codec); break;
    case Step::format: e.set_output_format(preset.format); break;
    case Step::size: e.set_frame_size(ntsc_like ? preset.size_ntsc : preset.size_pal); break;
    case Step::pixel_format: e.set_pixel_format(ntsc_like ? preset.pixel_format_ntsc : preset.pixel_format_pal); break;
    case Step::rate: e.set_frame_rate(norm_rate(norm)); break;
    case Step::gop: e.set_generic_option("g", ntsc_like ? "18" : "15"); break;
    case Step::bitrate: e.set_generic_option("b", preset.bitrate); break;
    case Step::max_rate: e.set_generic_option("maxrate", preset.max_rate); break;
    case Step::min_rate: e.set_generic_option("minrate", preset.min_rate); break;
    case Step::buffer_size: e.set_generic_option("bufsize", preset.buffer_size); break;
    case Step::scan_offset: e.set_generic_option("scan_offset", "1"); break;
    case Step::audio_bitrate: e.set_generic_option("ab", preset.audio_bitrate); break;
    case Step::sample_rate: e.audio_sample_rate = preset.sample_rate; break;
    case Step::channels:
        if (!preset.stereo_from_mono_only || e.audio_channels == 1) e.audio_channels = 2;
        break;
    case Step::packet_size: e.set_generic_option("packetsize", preset.packet_size); break;
    case Step::mux_rate: e.set_generic_option("muxrate", preset.mux_rate); break;
    case Step::preload: e.mux_preload = 0.44f; break;
    case Step::aspect:
        if (e.frame_aspect_ratio == 0) {
            e.log(1, std::string("Assuming ") + preset.default_aspect + " for aspect ratio");
            e.set_aspect(preset.default_aspect);
        }
        break;
    }
}

} // namespace

void TCustomFFmpeg::parse_target(const std::string& value)
{
    const std::string text = trim_text(value);
    const auto after = [&](std::string_view prefix) { return text.substr(prefix.size()); };
    if (text.starts_with("pal-")) apply_target(after("pal-"), "pal", "ntsc");
    else if (text.starts_with("ntsc-")) apply_target(after("ntsc-"), "ntsc", "ntsc");
    else if (text.starts_with("film-")) apply_target(after("film-"), "film", "ntsc");
    else apply_target(text, "auto", "ntsc");
}

void TCustomFFmpeg::apply_target(const std::string& type, const std::string& norm_name, const std::string& default_norm)
{
    std::optional<Norm> norm = norm_of_name(norm_name);
    if (!norm) {
        norm = detect_norm(*this, default_norm);
        if (verbose > 0) log(1, printf_text("Assuming %s for target.", *norm == Norm::pal ? "PAL" : "NTSC"));
    }
    const TargetPreset* preset = find_preset(type);
    if (!preset) throw FFmpegException("Unknown target type");
    for (const Step step : preset->steps) apply_target_step(*this, step, *preset, *norm);
}

} // namespace quillon
