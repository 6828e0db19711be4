// The information records of the file and of its audio and video streams.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "Formatting/formatting.h"
#include "Probe/custom_av_probe.h"
#include "Probe/probe_texts.h"

namespace quillon {
namespace {

int32_t clamp32(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int64_t time_or_none(int64_t time)
{
    return time == AV_NOPTS_VALUE ? -1 : time;
}

// The number a text starts with ("2009-05-01" gives 2009, "3/12" gives 3); 0 without one.
int32_t leading_number(const std::string& text)
{
    return clamp32(std::strtoll(text.c_str(), nullptr, 10));
}

// Seconds since 1970 of the container's creation time; 0 without one.
int64_t creation_seconds(const AVDictionary* metadata)
{
    const std::string text = metadata_text(metadata, "creation_time");
    int64_t microseconds = 0;
    if (text.empty() || lib::av_parse_time(&microseconds, text.c_str(), 0) < 0) return 0;
    return microseconds / 1000000;
}

// The fields audio and video records share.
template <typename Record>
void fill_stream_fields(AVStream* stream, Record& info)
{
    repair_time_base(stream);
    info.Language = metadata_text(stream->metadata, "language");
    info.CodecName = codec_tag_text(stream->codecpar, false);
    info.StartTime = stream->start_time;
    info.StartTimeUS = stream_time_us(stream, stream->start_time);
    info.Duration = stream->duration;
    info.DurationUS = stream_time_us(stream, stream->duration);
    info.BitRate = clamp32(stream->codecpar->bit_rate);
}

} // namespace

bool TCustomAVProbe::resolve_stream(int& stream, AVMediaType type)
{
    const std::string type_name = type == AVMEDIA_TYPE_AUDIO ? "audio" : "video";
    if (stream < 0) {
        stream = type == AVMEDIA_TYPE_AUDIO ? FirstAudioStream() : FirstVideoStream();
        if (stream < 0) fail(0, "no " + type_name + " stream.");
        return stream >= 0;
    }
    if (stream >= StreamCount()) {
        fail(0, printf_text("stream index #%d is invalid.", stream));
        return false;
    }
    if (context_->streams[stream]->codecpar->codec_type != type) {
        fail(0, printf_text("stream #%d is not %s stream.", stream, type_name.c_str()));
        return false;
    }
    return true;
}

void TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info)
{
    info = {};
    if (!require_context()) return;
    const AVDictionary* metadata = context_->metadata;
    info.StartTime = time_or_none(context_->start_time);
    info.Duration = time_or_none(context_->duration);
    info.BitRate = clamp32(context_->bit_rate);
    info.TimeStamp = creation_seconds(metadata);
    info.Year = leading_number(metadata_text(metadata, "date", metadata_text(metadata, "year")));
    info.Track = leading_number(metadata_text(metadata, "track"));
    info.Title = metadata_text(metadata, "title");
    info.Author = metadata_text(metadata, "author", metadata_text(metadata, "artist"));
    info.Copyright = metadata_text(metadata, "copyright");
    info.Comment = metadata_text(metadata, "comment");
    info.Album = metadata_text(metadata, "album");
    info.Genre = metadata_text(metadata, "genre");
}

void TCustomAVProbe::GetAudioStreamInfo(int stream, TAudioStreamInfo& info)
{
    info = {};
    if (!require_context() || !resolve_stream(stream, AVMEDIA_TYPE_AUDIO)) return;
    AVStream* s = context_->streams[stream];
    fill_stream_fields(s, info);
    info.Channels = s->codecpar->ch_layout.nb_channels;
    info.SampleRate = s->codecpar->sample_rate;
    info.SampleFormat = s->codecpar->format;
}

void TCustomAVProbe::GetVideoStreamInfo(int stream, TVideoStreamInfo& info)
{
    info = {};
    if (!require_context() || !resolve_stream(stream, AVMEDIA_TYPE_VIDEO)) return;
    AVStream* s = context_->streams[stream];
    const AVCodecParameters* codec = s->codecpar;
    fill_stream_fields(s, info);
    info.Height = codec->height;
    info.Width = codec->width;
    // A zero denominator or height gives a non-finite ratio; floating-point traps are off.
    info.DisplayAspectRatio = static_cast<float>(
        codec->width * (static_cast<double>(codec->sample_aspect_ratio.num) / codec->sample_aspect_ratio.den) /
        codec->height);
    info.PixelFormat = codec->format;
    info.FrameRateNum = s->r_frame_rate.num;
    info.FrameRateDen = s->r_frame_rate.den;
}

} // namespace quillon
