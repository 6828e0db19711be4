// The multi-line description of the file and its streams.
#include <time.h>

#include <array>
#include <utility>
#include <vector>

#include "Formatting/formatting.h"
#include "FFmpegLoader/owners.h"
#include "Probe/custom_av_probe.h"
#include "Probe/probe_texts.h"

namespace quillon {
namespace {

// The time stamp as local standard time (no daylight-saving adjustment).
std::string local_time_text(int64_t seconds)
{
    tzset();
    const time_t local = static_cast<time_t>(seconds - timezone);
    struct tm parts {};
    if (!gmtime_r(&local, &parts)) return {};
    char text[32] = {};
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::vector<std::string> file_lines(const TFileStreamInfo& info)
{
    std::vector<std::string> lines;
    if (info.StartTime != -1) lines.push_back("StartTime: " + seconds_text(info.StartTime));
    lines.push_back(info.Duration != -1 ? "Duration: " + format_timestamp(info.Duration) : "Duration: N/A");
    lines.push_back(info.BitRate >= 1 ? printf_text("Bit Rate: %d Kbps", info.BitRate / 1000) : "Bit Rate: N/A");
    if (info.TimeStamp > 0) lines.push_back("Time Stamp: " + local_time_text(info.TimeStamp));
    const std::pair<const char*, const std::string*> tags[] = {
        {"Title", &info.Title},     {"Author", &info.Author}, {"Copyright", &info.Copyright},
        {"Comment", &info.Comment}, {"Album", &info.Album},   {"Genre", &info.Genre},
    };
    for (const auto& [label, value] : tags)
        if (!value->empty()) lines.push_back(std::string(label) + ": " + *value);
    if (info.Year > 0) lines.push_back(printf_text("Year: %d", info.Year));
    if (info.Track > 0) lines.push_back(printf_text("Track: #%d", info.Track));
    return lines;
}

// The libraries' one-line description of the stream's codec.
std::string codec_description(const AVStream* stream)
{
    CodecContextPtr codec(lib::avcodec_alloc_context3(nullptr));
    if (!codec || lib::avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return {};
    std::array<char, 256> text{};
    lib::avcodec_string(text.data(), static_cast<int>(text.size()), codec.get(), 0);
    return text.data();
}

// ", PAR a:b DAR c:d" when the container's sample aspect ratio differs from the codec's.
std::string aspect_text(const AVStream* stream)
{
    const AVRational sar = stream->sample_aspect_ratio;
    const AVCodecParameters* codec = stream->codecpar;
    if (sar.num == 0 || int64_t{sar.num} * codec->sample_aspect_ratio.den ==
                            int64_t{codec->sample_aspect_ratio.num} * sar.den)
        return {};
    AVRational dar{};
    lib::av_reduce(&dar.num, &dar.den, static_cast<int64_t>(codec->width) * sar.num,
                   static_cast<int64_t>(codec->height) * sar.den, 1024 * 1024);
    return printf_text(", PAR %d:%d DAR %d:%d", sar.num, sar.den, dar.num, dar.den);
}

// tbr and tbn; the installed libraries keep no codec time base for a stream,
// so there is no tbc.
std::string video_rates_text(const AVStream* stream)
{
    std::string text;
    const AVRational rate = stream->r_frame_rate, base = stream->time_base;
    if (rate.num && rate.den) text += rate_text(static_cast<double>(rate.num) / rate.den, "tbr");
    if (base.num && base.den) text += rate_text(static_cast<double>(base.den) / base.num, "tbn");
    return text;
}

} // namespace

std::string TCustomAVProbe::stream_line(int index)
{
    AVStream* stream = context_->streams[index];
    std::string line = printf_text("Stream #%d", index);
    if (context_->iformat && (context_->iformat->flags & AVFMT_SHOW_IDS)) line += printf_text("[0x%x]", stream->id);
    const std::string language = metadata_text(stream->metadata, "language");
    if (!language.empty()) line += "(" + language + ")";
    repair_time_base(stream);
    const int gcd = static_cast<int>(lib::av_gcd(stream->time_base.num, stream->time_base.den));
    line += printf_text(", %d/%d", stream->time_base.num / gcd, stream->time_base.den / gcd);
    line += ": " + codec_description(stream);
    line += aspect_text(stream);
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) line += video_rates_text(stream);
    if (stream->start_time != AV_NOPTS_VALUE)
        line += ", StartTime: " + seconds_text(stream_time_us(stream, stream->start_time));
    line += stream->duration != AV_NOPTS_VALUE ? ", Duration: " + format_timestamp(stream_time_us(stream, stream->duration))
                                               : ", Duration: N/A";
    return line;
}

std::string TCustomAVProbe::InfoText()
{
    if (!require_context()) return {};
    TFileStreamInfo info;
    GetFileStreamInfo(info);
    std::vector<std::string> lines = {
        "File Name: " + FileName(),
        "Format Name: " + std::string(context_->iformat ? context_->iformat->name : ""),
        "Format Long Name: " + std::string(context_->iformat && context_->iformat->long_name ? context_->iformat->long_name : ""),
        "File Size: " + size_text(FileSize()),
    };
    for (std::string& line : file_lines(info)) lines.push_back(std::move(line));
    if (context_->nb_programs == 0) {
        for (int i = 0; i < StreamCount(); ++i) lines.push_back(stream_line(i));
    }
    for (unsigned p = 0; p < context_->nb_programs; ++p) {
        const AVProgram* program = context_->programs[p];
        lines.push_back(printf_text("Program %d %s@%s", program->id,
                                    metadata_text(program->metadata, "provider_name", "N/A").c_str(),
                                    metadata_text(program->metadata, "name", "N/A").c_str()));
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i)
            if (program->stream_index[i] < context_->nb_streams) lines.push_back(stream_line(static_cast<int>(program->stream_index[i])));
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

} // namespace quillon
