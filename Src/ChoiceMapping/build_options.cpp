// BuildOutputOptions and BuildInputOptions: the choices of the options window
// (or the command line) turned into a task's options records.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>

#include "ChoiceMapping/disc_formats.h"
#include "ChoiceMapping/output_choices.h"

namespace quillon {
namespace {

template <typename List>
bool in_list(const List& list, int index)
{
    return index >= 0 && index < int(list.size());
}

// The whole text as a decimal integer, or `fallback`.
int decimal_or(std::string_view text, int fallback)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : fallback;
}

int kbps_to_bps(int kbps)
{
    return int(std::clamp<int64_t>(int64_t(kbps) * 1000, INT_MIN, INT_MAX));
}

std::string lower(std::string_view text)
{
    std::string result;
    for (char c : text) result += char(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

// "Auto - Original" (or nothing, or "auto") keeps the source's size; an item
// such as "720x576 - DVD" is cut at its first space.
std::string frame_size_text(const std::string& choice)
{
    if (choice.empty() || choice == FrameSizes()[0] || lower(choice) == "auto") return {};
    const auto space = choice.find(' ', 1);
    return space == std::string::npos ? choice : choice.substr(0, space);
}

// The rates go to the frame rate parser as "29" and "23"; the encoder then
// takes its nearest standard rate (29.97 and 23.976).
std::string frame_rate_text(int index)
{
    if (!in_list(FrameRates(), index) || index == 0) return "29";
    const std::string_view item = FrameRates()[index];
    if (item == "29.97") return "29";
    if (item == "23.976") return "23";
    return std::string(item);
}

std::string aspect_text(int index)
{
    if (index == 1) return "4:3";
    if (index == 2) return "16:9";
    return {};
}

void set_audio_choices(TOutputOptions& options, const TOutputChoices& choices)
{
    if (in_list(AudioChannelItems(), choices.Channels) && choices.Channels > 0) options.AudioChannels = choices.Channels;
    if (in_list(SampleRates(), choices.SampleRate) && choices.SampleRate > 0)
        options.AudioSampleRate = decimal_or(SampleRates()[choices.SampleRate], 22050);
    if (options.AudioSampleRate == -1) options.AudioSampleRate = 22050;
    if (choices.AdjustVolume) options.AudioVolume = choices.Volume;
}

void set_picture_choices(TOutputOptions& options, const TOutputChoices& choices)
{
    options.FrameSize = frame_size_text(choices.FrameSize);
    options.FrameRate = frame_rate_text(choices.FrameRate);
    options.FrameAspectRatio = aspect_text(choices.Aspect);
}

// A checked bit rate wins, then the quality preset; "Auto" takes the source's.
void set_bit_rates(TOutputOptions& options, const TOutputChoices& choices, const FormatItem& format,
                   const TChoiceSource& source)
{
    const int quality = in_list(format.Quality, choices.Quality) ? choices.Quality : 0;
    const TBitRate preset = format.Quality[quality].Preset;
    if (choices.SetVideoBitRate) options.VideoBitrate = kbps_to_bps(choices.VideoKbps);
    else options.VideoBitrate = quality == 0 ? source.VideoBitRate : kbps_to_bps(preset.VideoKbps);
    if (choices.SetAudioBitRate) options.AudioBitrate = kbps_to_bps(choices.AudioKbps);
    else options.AudioBitrate = quality == 0 ? source.AudioBitRate : kbps_to_bps(preset.AudioKbps);
}

// 4:3 or 16:9, whichever is nearer to the source's picture; the preset's
// default when the source's shape is unknown.
std::string disc_aspect(const DiscFormat& disc, const TOutputChoices& choices, const TChoiceSource& source)
{
    if (!disc.WideScreen) return "4:3";
    if (choices.Aspect == 1 || choices.Aspect == 2) return aspect_text(choices.Aspect);
    if (!(source.DisplayAspect > 0)) return disc.Target == 3 ? "16:9" : "4:3";
    return source.DisplayAspect < 1.54f ? "4:3" : "16:9";
}

// A disc file keeps the disc's audio and the norm's picture whatever was
// chosen; only the video bit rate (within the disc's limits) and the display
// aspect (where the disc can show 16:9) follow the choices.
void keep_disc_rules(TOutputOptions& options, const DiscFormat& disc, const TOutputChoices& choices,
                     const TChoiceSource& source)
{
    options.Target = disc.Target;
    options.TargetNorm = in_list(TVTypes(), choices.TVType) ? choices.TVType : 0;
    options.DefaultNorm = 1;
    options.AudioSampleRate = disc.SampleRate;
    options.AudioBitrate = disc.AudioBitRate;
    options.AudioChannels = 2;
    options.VideoBitrate = DiscVideoBitRate(disc, options.VideoBitrate);
    options.FrameRate = std::string(DiscFrameRate(options.TargetNorm));
    options.FrameSize = std::string(DiscFrameSize(choices.Format, options.TargetNorm));
    options.FrameAspectRatio = disc_aspect(disc, choices, source);
}

void set_format_fields(TOutputOptions& options, const FormatItem& format, const TOutputChoices& choices,
                       const TChoiceSource& source)
{
    if (const DiscFormat* disc = DiscFormatFor(format.Target)) return keep_disc_rules(options, *disc, choices, source);
    if (format.Tip.ShortName == "MPEG") {
        options.FileFormat = choices.AviContainer ? "avi" : "mpeg";
        options.VideoCodec = lower(format.Tip.Codec);
        options.AudioCodec = "libmp3lame";
    } else if (choices.AviContainer) {
        // The AVI container would otherwise bring its own codecs (MPEG-4 video
        // and MP3 sound) into a file named and chosen as video-only MPEG.
        options.FileFormat = "avi";
        options.VideoCodec = lower(format.Tip.Codec);
        options.DisableAudio = true;
    }
}

} // namespace

TOutputOptions BuildOutputOptions(const TOutputChoices& choices, const std::string& output_folder,
                                  const TChoiceSource& source, const NameTaken& taken)
{
    TOutputOptions options;
    const int format_index = in_list(OutputFormats(), choices.Format) ? choices.Format : 0;
    const FormatItem& format = OutputFormats()[format_index];
    set_audio_choices(options, choices);
    set_picture_choices(options, choices);
    set_bit_rates(options, choices, format, source);
    options.Info.TimeStamp = 0; // stamped with the time of the conversion
    TOutputChoices effective = choices;
    effective.Format = format_index;
    set_format_fields(options, format, effective, source);
    options.FileName = FreeOutputName(OutputBaseName(source.FileName, output_folder), OutputExtension(format_index), taken);
    options.DisableSubtitle = true;
    return options;
}

TInputOptions BuildInputOptions(const TChoiceSource& source)
{
    TInputOptions options;
    options.FileName = source.FileName;
    options.FileFormat = source.FormatName;
    return options;
}

} // namespace quillon
