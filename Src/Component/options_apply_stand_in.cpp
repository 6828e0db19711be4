// TEMPORARY stand-in for the options-record module until it is merged: only
// the fields the component's tests use. Delete this file when the real
// Src/Options implementation is in main.
#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"

namespace quillon {

void ApplyExtOptions(TCustomFFmpeg& engine, const std::string& text, bool after_output)
{
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(from, end - from);
        from = end + 1;
        if (line.empty()) continue;
        const std::size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
        const bool new_stream = name == "newvideo" || name == "newaudio" || name == "newsubtitle";
        if (new_stream == after_output) engine.parse_option(name, value);
    }
}

void ApplyInputOptions(TCustomFFmpeg& engine, const TInputOptions& options)
{
    ApplyExtOptions(engine, options.ExtOptions, false);
    if (!options.FileFormat.empty()) engine.set_input_format(options.FileFormat);
    if (options.StartTimeMS > 0) engine.set_start_time(int64_t{options.StartTimeMS} * 1000);
    if (options.StartTimeUS > 0) engine.set_start_time(options.StartTimeUS);
}

void ApplyOutputOptions(TCustomFFmpeg& engine, const TOutputOptions& options)
{
    ApplyExtOptions(engine, options.ExtOptions, false);
    if (!options.FileFormat.empty()) engine.set_output_format(options.FileFormat);
    if (!options.AudioCodec.empty()) engine.set_audio_codec(options.AudioCodec);
    engine.audio_disable = options.DisableAudio;
    if (!options.VideoCodec.empty()) engine.set_video_codec(options.VideoCodec);
    engine.video_disable = options.DisableVideo;
    if (!options.FrameRate.empty()) engine.set_frame_rate(options.FrameRate);
    if (!options.FrameSize.empty()) engine.set_frame_size(options.FrameSize);
    if (options.RecordingTimeMS > 0) engine.set_recording_time_ms(options.RecordingTimeMS);
}

void ApplyHookTimeRanges(TCustomFFmpeg&, const std::string&) {}

} // namespace quillon
