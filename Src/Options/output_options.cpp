// A task's output options: the target preset, the extra lines of the first
// pass, every field in record order, then the stream information. A later
// setting of the same option wins, so fields override extra lines, and both
// override the preset.
#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"
#include "Options/stream_info.h"

namespace quillon {

namespace {

using E = TCustomFFmpeg;
using R = const TOutputOptions&;

struct OutputField {
    const char* field;
    void (*apply)(E& engine, R options);
};

// Generic library options get the value as decimal text, only when positive.
template <auto Field>
void generic_when_positive(E& engine, R options, const char* name)
{
    if (options.*Field > 0) engine.set_generic_option_int(name, options.*Field);
}

// "gop" and "vb" of the older library generation: here the group-of-pictures
// size is "g", and "vb" reaches the video bit rate "b" by its media-type letter.
constexpr OutputField output_fields[] = {
    {"FileFormat", [](E& e, R o) { e.set_output_format(o.FileFormat); }},
    {"PacketSize", [](E& e, R o) { generic_when_positive<&TOutputOptions::PacketSize>(e, o, "packetsize"); }},
    {"MuxRate", [](E& e, R o) { generic_when_positive<&TOutputOptions::MuxRate>(e, o, "muxrate"); }},
    {"MuxDelay", [](E& e, R o) { e.set_mux_max_delay(o.MuxDelay); }},
    {"MuxPreload", [](E& e, R o) { e.set_mux_preload(o.MuxPreload); }},
    {"AudioCodec", [](E& e, R o) { e.set_audio_codec(o.AudioCodec); }},
    {"DisableAudio", [](E& e, R o) { e.audio_disable = o.DisableAudio; }},
    {"AudioVolume", [](E& e, R o) { e.set_audio_volume(o.AudioVolume); }},
    {"AudioChannels", [](E& e, R o) { e.set_audio_channels(o.AudioChannels); }},
    {"AudioSampleRate", [](E& e, R o) { e.set_audio_sample_rate(o.AudioSampleRate); }},
    {"AudioBitrate", [](E& e, R o) { generic_when_positive<&TOutputOptions::AudioBitrate>(e, o, "ab"); }},
    {"AudioBitrateTolerance", [](E& e, R o) { generic_when_positive<&TOutputOptions::AudioBitrateTolerance>(e, o, "abt"); }},
    {"AudioLanguage", [](E& e, R o) { e.audio_language = o.AudioLanguage; }},
    {"AudioSync", [](E& e, R o) { e.set_audio_sync(o.AudioSync); }},
    {"AudioTag", [](E& e, R o) { e.set_audio_tag(o.AudioTag); }},
    {"VideoCodec", [](E& e, R o) { e.set_video_codec(o.VideoCodec); }},
    {"DisableVideo", [](E& e, R o) { e.video_disable = o.DisableVideo; }},
    {"FrameRate", [](E& e, R o) { e.set_frame_rate(o.FrameRate); }},
    {"FrameSize", [](E& e, R o) { e.set_frame_size(o.FrameSize); }},
    {"FrameAspectRatio", [](E& e, R o) { e.set_aspect(o.FrameAspectRatio); }},
    {"CropTop", [](E& e, R o) { e.set_crop_top(o.CropTop); }},
    {"CropBottom", [](E& e, R o) { e.set_crop_bottom(o.CropBottom); }},
    {"CropLeft", [](E& e, R o) { e.set_crop_left(o.CropLeft); }},
    {"CropRight", [](E& e, R o) { e.set_crop_right(o.CropRight); }},
    {"PadTop", [](E& e, R o) { e.set_pad_top(o.PadTop); }},
    {"PadBottom", [](E& e, R o) { e.set_pad_bottom(o.PadBottom); }},
    {"PadLeft", [](E& e, R o) { e.set_pad_left(o.PadLeft); }},
    {"PadRight", [](E& e, R o) { e.set_pad_right(o.PadRight); }},
    {"PadColor", [](E& e, R o) { e.set_pad_color(int(o.PadColor & 0xFFFFFF)); }},
    {"GOPSize", [](E& e, R o) { generic_when_positive<&TOutputOptions::GOPSize>(e, o, "g"); }},
    {"VideoBitrate", [](E& e, R o) { generic_when_positive<&TOutputOptions::VideoBitrate>(e, o, "vb"); }},
    {"VideoMaxRate", [](E& e, R o) { generic_when_positive<&TOutputOptions::VideoMaxRate>(e, o, "maxrate"); }},
    {"VideoMinRate", [](E& e, R o) { generic_when_positive<&TOutputOptions::VideoMinRate>(e, o, "minrate"); }},
    {"VideoBitrateTolerance", [](E& e, R o) { generic_when_positive<&TOutputOptions::VideoBitrateTolerance>(e, o, "bt"); }},
    {"VideoBufSize", [](E& e, R o) { generic_when_positive<&TOutputOptions::VideoBufSize>(e, o, "bufsize"); }},
    {"VideoSync", [](E& e, R o) { e.set_video_sync(o.VideoSync); }},
    {"VideoTag", [](E& e, R o) { e.set_video_tag(o.VideoTag); }},
    {"VideoFilters", [](E& e, R o) { e.set_vfilters(o.VideoFilters); }},
    {"DisableSubtitle", [](E& e, R o) { e.subtitle_disable = o.DisableSubtitle; }},
    {"SubtitleLanguage", [](E& e, R o) { e.subtitle_language = o.SubtitleLanguage; }},
    {"CopyTimestamps", [](E& e, R o) { e.copy_ts = o.CopyTimestamps; }},
    {"StartTimeMS", [](E& e, R o) { if (o.StartTimeMS > 0) e.set_start_time(int64_t(o.StartTimeMS) * 1000); }},
    {"StartTimeUS", [](E& e, R o) { if (o.StartTimeUS > 0) e.set_start_time(o.StartTimeUS); }},
    {"RecordingTimeMS", [](E& e, R o) { e.set_recording_time_ms(o.RecordingTimeMS); }},
    {"RecordingTimeUS", [](E& e, R o) { e.set_recording_time(o.RecordingTimeUS); }},
};

const char* target_name(int target)
{
    switch (target) {
    case 1: return "vcd";
    case 2: return "svcd";
    case 3: return "dvd";
    default: return nullptr;
    }
}

const char* norm_name(int norm)
{
    switch (norm) {
    case 1: return "pal";
    case 2: return "ntsc";
    default: return "auto";
    }
}

} // namespace

void ApplyOutputOptions(TCustomFFmpeg& engine, const TOutputOptions& options)
{
    if (const char* target = target_name(options.Target))
        engine.apply_target(target, norm_name(options.TargetNorm), options.DefaultNorm == 1 ? "pal" : "ntsc");
    ApplyExtOptions(engine, options.ExtOptions, false);
    for (const OutputField& row : output_fields) row.apply(engine, options);
    ApplyStreamInfo(engine, options.Info);
}

} // namespace quillon
