// The mapping of output choices onto the options records: fields per format,
// quality presets and "Auto", names and collisions, and the disc formats.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "ChoiceMapping/disc_formats.h"
#include "ChoiceMapping/output_choices.h"
#include "support/test_support.h"

namespace quillon {
namespace {

int format_named(std::string_view name)
{
    for (std::size_t i = 0; i < OutputFormats().size(); ++i)
        if (OutputFormats()[i].Name == name) return int(i);
    ADD_FAILURE() << "no format " << name;
    return 0;
}

const TChoiceSource source{"/videos/clip.avi", "", 700000, 96000, 4.0f / 3.0f};

NameTaken nothing_taken = [](const std::string&) { return false; };

TOutputOptions build(const TOutputChoices& choices, const std::string& folder = "/out/")
{
    return BuildOutputOptions(choices, folder, source, nothing_taken);
}

TEST(OutputChoices, Mpeg1WithAutoChoicesTakesTheSourcesRatesAndFixedTexts)
{
    const TOutputOptions o = build({});
    EXPECT_EQ(o.FileName, "/out/clip.mpeg");
    EXPECT_EQ(o.FileFormat, "mpeg");
    EXPECT_EQ(o.VideoCodec, "mpeg1video");
    EXPECT_EQ(o.AudioCodec, "libmp3lame");
    EXPECT_EQ(o.AudioSampleRate, 22050);
    EXPECT_EQ(o.FrameRate, "29");
    EXPECT_EQ(o.VideoBitrate, 700000);
    EXPECT_EQ(o.AudioBitrate, 96000);
    EXPECT_EQ(o.FrameSize, "");
    EXPECT_EQ(o.FrameAspectRatio, "");
    EXPECT_EQ(o.AudioChannels, -1);
    EXPECT_EQ(o.AudioVolume, -1);
    EXPECT_EQ(o.Target, 0);
    EXPECT_EQ(o.Info.TimeStamp, 0.0);
    EXPECT_TRUE(o.DisableSubtitle);
}

struct FormatCase {
    std::string_view name;
    bool avi;
    std::string file_format, video_codec, audio_codec, file_name;
    int target;
};

TEST(OutputChoices, EachFormatSetsItsContainerCodecsTargetAndName)
{
    const FormatCase cases[] = {
        {"mpeg1", false, "mpeg", "mpeg1video", "libmp3lame", "/out/clip.mpeg", 0},
        {"mpeg2", false, "mpeg", "mpeg2video", "libmp3lame", "/out/clip.mpeg", 0},
        {"mpeg2", true, "avi", "mpeg2video", "libmp3lame", "/out/clip.mpeg", 0},
        {"m1v", false, "", "", "", "/out/clip.m1v", 0},
        {"m2v", true, "avi", "mpeg2video", "", "/out/clip.m2v", 0}, // video only, also in AVI
        {"vcd", false, "", "", "", "/out/clip_vcd.mpg", 1},
        {"svcd", true, "", "", "", "/out/clip_svcd.mpg", 2},
        {"dvd", false, "", "", "", "/out/clip_dvd.mpg", 3},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.avi ? " avi" : ""));
        const TOutputOptions o = build({.Format = format_named(c.name), .AviContainer = c.avi});
        EXPECT_EQ(o.FileFormat, c.file_format);
        EXPECT_EQ(o.VideoCodec, c.video_codec);
        EXPECT_EQ(o.AudioCodec, c.audio_codec);
        EXPECT_EQ(o.FileName, c.file_name);
        EXPECT_EQ(o.Target, c.target);
        EXPECT_EQ(o.DefaultNorm, 1);
        EXPECT_EQ(o.DisableAudio, c.name[0] == 'm' && c.name[2] == 'v' && c.avi);
    }
}

TEST(OutputChoices, QualityPresetsAndCheckedBitRates)
{
    TOutputOptions o = build({.Format = format_named("mpeg1"), .Quality = 5});
    EXPECT_EQ(o.VideoBitrate, 1152000);
    EXPECT_EQ(o.AudioBitrate, 192000);
    o = build({.Format = format_named("mpeg2"), .Quality = 6});
    EXPECT_EQ(o.VideoBitrate, 5000000);
    EXPECT_EQ(o.AudioBitrate, 224000);
    // A checked bit rate wins over the preset; 0 is kept (and then not applied).
    o = build({.Format = format_named("m2v"), .Quality = 2, .SetVideoBitRate = true, .VideoKbps = 0,
               .SetAudioBitRate = true, .AudioKbps = 160});
    EXPECT_EQ(o.VideoBitrate, 0);
    EXPECT_EQ(o.AudioBitrate, 160000);
    // A quality outside the format's list counts as "Auto".
    o = build({.Format = format_named("mpeg1"), .Quality = 6});
    EXPECT_EQ(o.VideoBitrate, 700000);
}

TEST(OutputChoices, PictureAndAudioChoices)
{
    const TOutputOptions o = build({.FrameSize = "720x576", .FrameRate = 1, .Aspect = 2, .AdjustVolume = true,
                                    .Volume = 300, .SampleRate = 4, .Channels = 1});
    EXPECT_EQ(o.FrameSize, "720x576");
    EXPECT_EQ(o.FrameRate, "23");
    EXPECT_EQ(o.FrameAspectRatio, "16:9");
    EXPECT_EQ(o.AudioVolume, 300);
    EXPECT_EQ(o.AudioSampleRate, 44100);
    EXPECT_EQ(o.AudioChannels, 1);
    const std::pair<int, std::string> rates[] = {{0, "29"}, {2, "24"}, {3, "25"}, {4, "29"}, {5, "30"}};
    for (const auto& [index, text] : rates) EXPECT_EQ(build({.FrameRate = index}).FrameRate, text) << index;
    EXPECT_EQ(build({.FrameSize = "Auto - Original"}).FrameSize, "");
    EXPECT_EQ(build({.FrameSize = "640x480 VGA"}).FrameSize, "640x480");
    EXPECT_EQ(build({.Aspect = 1}).FrameAspectRatio, "4:3");
}

TEST(OutputChoices, BaseNameDropsOnlyTheLastExtension)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/videos/a.b.avi", "/out/a.b.mpeg"},
        {"/videos/clip", "/out/clip.mpeg"},
        {"/videos.d/clip.mp4", "/out/clip.mpeg"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(BuildOutputOptions({}, "/out/", {.FileName = in}, nothing_taken).FileName, out) << in;
    // No folder: next to the source; a folder without a separator gets one.
    EXPECT_EQ(BuildOutputOptions({}, "", {.FileName = "/videos.d/a.b.avi"}, nothing_taken).FileName, "/videos.d/a.b.mpeg");
    EXPECT_EQ(BuildOutputOptions({}, "", {.FileName = "clip.avi"}, nothing_taken).FileName, "clip.mpeg");
    EXPECT_EQ(BuildOutputOptions({}, "/out", {.FileName = "clip.avi"}, nothing_taken).FileName, "/out/clip.mpeg");
}

TEST(OutputChoices, TakenNamesGetTheFirstFreeNumber)
{
    test::ScratchDir dir("choices");
    const TChoiceSource clip{.FileName = "/videos/clip.avi"};
    const std::string folder = dir.path().string() + "/";
    EXPECT_EQ(BuildOutputOptions({}, folder, clip).FileName, folder + "clip.mpeg");
    std::ofstream(folder + "clip.mpeg") << "x";
    EXPECT_EQ(BuildOutputOptions({}, folder, clip).FileName, folder + "clip_(1).mpeg");
    std::ofstream(folder + "clip_(1).mpeg") << "x";
    EXPECT_EQ(BuildOutputOptions({}, folder, clip).FileName, folder + "clip_(2).mpeg");
    // The disc names count the same way, before "_dvd.mpg" as a whole.
    std::set<std::string> reserved{folder + "clip_dvd.mpg"};
    const NameTaken taken = [&](const std::string& name) { return reserved.count(name) > 0; };
    EXPECT_EQ(BuildOutputOptions({.Format = format_named("dvd")}, folder, clip, taken).FileName,
              folder + "clip_(1)_dvd.mpg");
}

struct DiscCase {
    std::string_view format;
    int tv_type;
    std::string size, rate;
    int sample_rate, audio_bit_rate;
};

TEST(OutputChoices, DiscFormatsKeepTheDiscsAudioAndTheNormsPicture)
{
    const DiscCase cases[] = {
        {"vcd", 0, "", "", 44100, 224000},           {"vcd", 1, "352x288", "25", 44100, 224000},
        {"vcd", 2, "352x240", "30000/1001", 44100, 224000}, {"svcd", 1, "480x576", "25", 44100, 224000},
        {"svcd", 2, "480x480", "30000/1001", 44100, 224000}, {"dvd", 0, "", "", 48000, 448000},
        {"dvd", 1, "720x576", "25", 48000, 448000},   {"dvd", 2, "720x480", "30000/1001", 48000, 448000},
    };
    for (const DiscCase& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " tv " + std::to_string(c.tv_type));
        // Choices a disc cannot take: another size, rate, sample rate, mono, low audio rate.
        const TOutputOptions o = build({.Format = format_named(c.format), .Quality = 1, .FrameSize = "640x480",
                                        .FrameRate = 5, .TVType = c.tv_type, .SampleRate = 1, .Channels = 1});
        EXPECT_EQ(o.TargetNorm, c.tv_type);
        EXPECT_EQ(o.FrameSize, c.size);
        EXPECT_EQ(o.FrameRate, c.rate);
        EXPECT_EQ(o.AudioSampleRate, c.sample_rate);
        EXPECT_EQ(o.AudioBitrate, c.audio_bit_rate);
        EXPECT_EQ(o.AudioChannels, 2);
    }
}

TEST(OutputChoices, DiscVideoBitRatesStayWithinTheDiscsLimits)
{
    struct Case {
        std::string_view format;
        bool set;
        int kbps;
        int quality;
        int expected;
    } const cases[] = {
        {"vcd", false, 0, 1, 1150000},   {"vcd", false, 0, 5, 1150000},   {"vcd", true, 200, 0, 1150000},
        {"vcd", false, 0, 0, 1150000},   {"svcd", false, 0, 5, 2500000},  {"svcd", true, 5000, 0, 2516000},
        {"svcd", true, 0, 0, 0},         {"dvd", false, 0, 6, 5000000},   {"dvd", true, 5000, 0, 5000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.kbps) + " q" + std::to_string(c.quality));
        const TOutputOptions o = build({.Format = format_named(c.format), .Quality = c.quality,
                                        .SetVideoBitRate = c.set, .VideoKbps = c.kbps});
        EXPECT_EQ(o.VideoBitrate, c.expected);
    }
    // "Auto" with a source above the DVD limit.
    const TOutputOptions o = BuildOutputOptions({.Format = format_named("dvd")}, "/out/",
                                                {.FileName = "a.mkv", .VideoBitRate = 20000000}, nothing_taken);
    EXPECT_EQ(o.VideoBitrate, 9000000);
}

TEST(OutputChoices, DiscAspectIsFourThreeOrSixteenNine)
{
    const int vcd = format_named("vcd"), dvd = format_named("dvd"), svcd = format_named("svcd");
    EXPECT_EQ(build({.Format = vcd, .Aspect = 2}).FrameAspectRatio, "4:3");
    EXPECT_EQ(build({.Format = dvd, .Aspect = 1}).FrameAspectRatio, "4:3");
    EXPECT_EQ(build({.Format = svcd, .Aspect = 2}).FrameAspectRatio, "16:9");
    const auto with_shape = [&](int format, float shape) {
        return BuildOutputOptions({.Format = format}, "/out/", {.FileName = "a.mkv", .DisplayAspect = shape},
                                  nothing_taken)
            .FrameAspectRatio;
    };
    EXPECT_EQ(with_shape(dvd, 4.0f / 3.0f), "4:3");
    EXPECT_EQ(with_shape(dvd, 2.35f), "16:9");
    EXPECT_EQ(with_shape(svcd, -1), "4:3");
    EXPECT_EQ(with_shape(dvd, -1), "16:9");
}

TEST(OutputChoices, InputRecordNamesTheSourceAndItsFormat)
{
    const TInputOptions in = BuildInputOptions({.FileName = "/videos/clip.avi", .FormatName = "avi"});
    EXPECT_EQ(in.FileName, "/videos/clip.avi");
    EXPECT_EQ(in.FileFormat, "avi");
    EXPECT_EQ(in.ExtOptions, "");
}

} // namespace
} // namespace quillon
