// quillon probe and quillon frame: the prober's description of a file, and
// one picture of it as PNG.
#include <cmath>
#include <cstdio>

#include "Bitmap/png_writer.h"
#include "Probe/av_probe.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/json_text.h"

namespace quillon::cli {
namespace {

int fail(const std::string& file, const std::string& message)
{
    std::fprintf(stderr, "quillon: %s: %s\n", file.c_str(), message.c_str());
    return exit_failed;
}

std::string file_json(TCustomAVProbe& probe)
{
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    return JsonObject()
        .add("start_time_us", info.StartTime)
        .add("duration_us", info.Duration)
        .add("bit_rate", info.BitRate)
        .add("timestamp", info.TimeStamp)
        .add("year", info.Year)
        .add("track", info.Track)
        .add("title", info.Title)
        .add("author", info.Author)
        .add("copyright", info.Copyright)
        .add("comment", info.Comment)
        .add("album", info.Album)
        .add("genre", info.Genre)
        .text();
}

// The fields every stream record shares, first and last in its object.
template <class StreamInfo> JsonObject stream_head(int index, const StreamInfo& info)
{
    JsonObject o;
    o.add("index", index).add("codec", info.CodecName).add("language", info.Language);
    return o;
}

template <class StreamInfo> JsonObject& stream_tail(JsonObject& o, const StreamInfo& info)
{
    return o.add("bit_rate", info.BitRate).add("start_time_us", info.StartTimeUS).add("duration_us", info.DurationUS);
}

std::string video_json(TCustomAVProbe& probe, int index)
{
    TVideoStreamInfo v;
    probe.GetVideoStreamInfo(index, v);
    JsonObject o = stream_head(index, v);
    o.add("width", v.Width)
        .add("height", v.Height)
        .add("display_aspect", double(v.DisplayAspectRatio))
        .add("pixel_format", v.PixelFormat)
        .add("frame_rate_num", v.FrameRateNum)
        .add("frame_rate_den", v.FrameRateDen);
    return stream_tail(o, v).text();
}

std::string audio_json(TCustomAVProbe& probe, int index)
{
    TAudioStreamInfo a;
    probe.GetAudioStreamInfo(index, a);
    JsonObject o = stream_head(index, a);
    o.add("channels", a.Channels).add("sample_rate", a.SampleRate).add("sample_format", a.SampleFormat);
    return stream_tail(o, a).text();
}

// The prober's records as one JSON object.
std::string probe_json(TCustomAVProbe& probe)
{
    std::string video = "[", audio = "[";
    for (int i = 0; i < probe.StreamCount(); ++i) {
        const AVMediaType type = probe.FormatContext()->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO) video += (video.size() > 1 ? "," : "") + video_json(probe, i);
        if (type == AVMEDIA_TYPE_AUDIO) audio += (audio.size() > 1 ? "," : "") + audio_json(probe, i);
    }
    return JsonObject()
        .add("file", probe.FileName())
        .add("format", probe.FormatName())
        .add("size", probe.FileSize())
        .add("streams", probe.StreamCount())
        .add("programs", probe.ProgramCount())
        .add("subtitle_streams", probe.SubtitleStreamCount())
        .add_raw("info", file_json(probe))
        .add_raw("video", video + "]")
        .add_raw("audio", audio + "]")
        .text();
}

} // namespace

int run_probe(const CliRequest& request)
{
    if (!load_libraries()) return exit_failed;
    const std::string& file = request.files[0];
    TAVProbe probe;
    if (!probe.LoadFile(file)) return fail(file, probe.LastError());
    const std::string text = request.json ? probe_json(probe) : probe.InfoText();
    std::printf("%s\n", text.c_str());
    return exit_ok;
}

int run_frame(const CliRequest& request)
{
    if (!load_libraries()) return exit_failed;
    const std::string& file = request.files[0];
    TAVProbe probe;
    if (!probe.LoadFile(file)) return fail(file, probe.LastError());
    if (probe.FirstVideoStream() < 0) return fail(file, "no video stream.");
    const TBitmap& picture = probe.GetFrameBitmap(-1, std::llround(*request.at_seconds * 1e6));
    if (probe.LastFramePTS() < 0 || picture.Empty()) return fail(file, probe.LastError());
    std::string error;
    if (!SaveBitmapAsPng(picture, request.picture_file, error)) return fail(request.picture_file, error);
    std::printf("%s: %dx%d, the picture at %.3f s\n", request.picture_file.c_str(), picture.Width(), picture.Height(),
                double(probe.LastFramePTS()) / 1e6);
    return exit_ok;
}

} // namespace quillon::cli
