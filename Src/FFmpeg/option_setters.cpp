// The typed setters the component calls. Each one is the handler of an option
// of the option table; guards marked "setter only" do not exist on the option
// path, which stores any value.
#include <algorithm>
#include <limits>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/library_log_level.h"
#include "FFmpeg/system_text.h"
#include "FFmpeg/value_parsers.h"

namespace quillon {

void TCustomFFmpeg::set_input_format(const std::string& name)
{
    if (name.empty()) return;
    const std::string format = to_system_8bit(replace_pgmyuv(name));
    const AVInputFormat* input = lib::av_find_input_format(format.c_str());
    if (!input) throw FFmpegException("Unknown input format: " + name);
    forced_input_format = input;
}

void TCustomFFmpeg::set_output_format(const std::string& name)
{
    if (name.empty()) return;
    const std::string format = to_system_8bit(replace_pgmyuv(name));
    const AVOutputFormat* output = lib::av_guess_format(format.c_str(), nullptr, nullptr);
    if (!output) throw FFmpegException("Unknown output format: " + name);
    forced_output_format = output;
}

void TCustomFFmpeg::set_verbosity(int value)
{
    verbose = value;
    apply_library_log_level(value);
}

void TCustomFFmpeg::set_start_time(int64_t microseconds)
{
    if (microseconds <= 0) return; // setter only
    start_time = microseconds;
}

void TCustomFFmpeg::set_program_id(int value)
{
    if (value < 0) return; // setter only
    program_id = value;
}

// The recording time also becomes the job's expected length; a length past
// the millisecond counter's range is kept at its largest value.
void TCustomFFmpeg::set_recording_time(int64_t microseconds)
{
    if (microseconds <= 0) return;
    recording_time = microseconds;
    total_duration_ms = int(std::min<int64_t>(microseconds / 1000, std::numeric_limits<int>::max()));
}

void TCustomFFmpeg::set_recording_time_ms(int milliseconds)
{
    set_recording_time(int64_t(milliseconds) * 1000);
}

void TCustomFFmpeg::set_mux_max_delay(float seconds)
{
    if (seconds <= 0) return; // setter only
    mux_max_delay = seconds;
}

void TCustomFFmpeg::set_mux_preload(float seconds)
{
    if (seconds <= 0) return; // setter only
    mux_preload = seconds;
}

void TCustomFFmpeg::set_audio_volume(int value)
{
    if (value < 0) return; // setter only
    audio_volume = value;
}

void TCustomFFmpeg::set_audio_sync(int value) { audio_sync_method = value; }
void TCustomFFmpeg::set_video_sync(int value) { video_sync_method = value; }

// "copy" copies the streams of that type instead of choosing an encoder; the
// name is looked up only when it is used.
void TCustomFFmpeg::choose_codec(std::string& name, int& stream_copy, const std::string& value)
{
    if (value.empty()) return;
    name.clear();
    if (value == "copy") stream_copy = 1;
    else name = to_system_8bit(value);
}

void TCustomFFmpeg::set_audio_codec(const std::string& name) { choose_codec(audio_codec_name, audio_stream_copy, name); }
void TCustomFFmpeg::set_video_codec(const std::string& name) { choose_codec(video_codec_name, video_stream_copy, name); }

void TCustomFFmpeg::set_subtitle_codec(const std::string& name)
{
    choose_codec(subtitle_codec_name, subtitle_stream_copy, name);
}

namespace {

// Four characters read as a little-endian FOURCC, the first in the low byte.
// A character that takes several bytes in the 8-bit form cannot be one byte of
// a tag, so it is refused like a wrong length.
uint32_t codec_tag_of(const std::string& tag, const char* message)
{
    const std::string bytes = to_system_8bit(tag);
    if (character_count(tag) != 4 || bytes.size() != 4) throw FFmpegException(message);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

} // namespace

void TCustomFFmpeg::set_audio_tag(const std::string& tag)
{
    if (!tag.empty()) audio_codec_tag = codec_tag_of(tag, "audio tag parameter must be 4 chars");
}

void TCustomFFmpeg::set_video_tag(const std::string& tag)
{
    if (!tag.empty()) video_codec_tag = codec_tag_of(tag, "video tag parameter must be 4 chars");
}

void TCustomFFmpeg::set_audio_channels(int value)
{
    if (value > 0) audio_channels = value;
}

void TCustomFFmpeg::set_audio_sample_rate(int value)
{
    if (value > 0) audio_sample_rate = value;
}

void TCustomFFmpeg::set_pad_color(int rgb) { pad_color = pad_color_of_rgb(rgb); }

void TCustomFFmpeg::set_vfilters(const std::string& text)
{
    if (!text.empty()) vfilters = text;
}

void TCustomFFmpeg::add_metadata(const std::string& key, const std::string& value)
{
    job_metadata.emplace_back(to_system_8bit(key), to_system_8bit(value));
}

} // namespace quillon
