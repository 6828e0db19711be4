// The prober's file and stream information: loading, the closed prober, the
// records, the size and rate texts, the description text with and without
// programmes, and attached inputs.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "FFmpegLoader/loader.h"
#include "Probe/av_probe.h"
#include "Probe/probe_texts.h"
#include "UnicodeProtocol/unicode_protocol.h"
#include "probe/probe_media.h"
#include "support/test_support.h"

using namespace quillon;

namespace {

using test::Clip;

std::string clip(Clip c)
{
    return test::probe_clip(c).string();
}

const std::filesystem::path& media_folder()
{
    return test::probe_media_folder();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
    return lines;
}

void expect_closed(const TCustomAVProbe& probe)
{
    for (int value : {probe.StreamCount(), probe.ProgramCount(), probe.AudioStreamCount(), probe.VideoStreamCount(),
                      probe.SubtitleStreamCount(), probe.FirstAudioStream(), probe.FirstVideoStream(),
                      probe.FirstSubtitleStream()})
        EXPECT_EQ(value, -1);
    EXPECT_EQ(probe.FormatContext(), nullptr);
}

void expect_video_reset(const TVideoStreamInfo& info)
{
    EXPECT_TRUE(info.Language.empty() && info.CodecName.empty());
    for (int64_t value : {info.StartTime, info.StartTimeUS, info.Duration, info.DurationUS})
        EXPECT_EQ(value, -1);
    for (int32_t value :
         {info.BitRate, info.Height, info.Width, info.PixelFormat, info.FrameRateNum, info.FrameRateDen})
        EXPECT_EQ(value, -1);
    EXPECT_EQ(info.DisplayAspectRatio, -1.0f);
}

class ProbeInfo : public ::testing::Test {
protected:
    void SetUp() override { test::load_libraries(); }
    TAVProbe probe;
};

TEST(ProbeTexts, SizesInBytesKilobytesMegabytesAndGigabytes)
{
    const std::pair<int64_t, const char*> cases[] = {
        {1024, "1024 Byte"},        {1025, "1.00 KB"},          {1048576, "1024.00 KB"},
        {1048577, "1.00 MB"},       {1073741824, "1024.00 MB"}, {int64_t{3} << 30 | 1 << 29, "3.50 GB"},
        {0, "0 Byte"},              {-1, "-1 Byte"},
    };
    for (const auto& [size, text] : cases) EXPECT_EQ(size_text(size), text) << size;
}

TEST(ProbeTexts, RatesAreWholeFractionalOrThousands)
{
    EXPECT_EQ(rate_text(25, "tbr"), ", 25 tbr");
    EXPECT_EQ(rate_text(30000.0 / 1001, "tbr"), ", 29.97 tbr");
    EXPECT_EQ(rate_text(90000, "tbn"), ", 90k tbn");
    EXPECT_EQ(rate_text(1200, "tbn"), ", 1200 tbn");
    EXPECT_EQ(rate_text(1000, "tbn"), ", 1k tbn");
    EXPECT_EQ(rate_text(100000, "tbn"), ", 100k tbn");
    EXPECT_EQ(rate_text(0.5, "tbr"), ", 0.50 tbr");
}

TEST(ProbeTexts, SecondsKeepTheirSign)
{
    EXPECT_EQ(seconds_text(1400000), "1.400000");
    EXPECT_EQ(seconds_text(0), "0.000000");
    EXPECT_EQ(seconds_text(-500), "-0.000500");
}

TEST_F(ProbeInfo, UnknownFormatNameLeavesTheProberClosed)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    EXPECT_FALSE(probe.LoadFile(clip(Clip::mp4), "nosuchformat"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: nosuchformat");
    expect_closed(probe);
}

TEST_F(ProbeInfo, MissingFileGivesTheOpenErrorText)
{
    const std::string missing = (media_folder() / "missing.mp4").string();
    EXPECT_FALSE(probe.LoadFile(missing));
    EXPECT_EQ(probe.LastError(), missing + ": no such file or directory");
    expect_closed(probe);
}

TEST_F(ProbeInfo, ForcedFormatIsRemembered)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::ts_two), "mpegts")) << probe.LastError();
    EXPECT_EQ(probe.ForcedFormat(), "mpegts");
    EXPECT_EQ(probe.FormatName(), "mpegts");
    probe.CloseFile();
    EXPECT_EQ(probe.ForcedFormat(), "");
}

TEST_F(ProbeInfo, ClosedProberAnswersFileNotLoaded)
{
    EXPECT_EQ(probe.FileName(), "");
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    const std::vector<std::function<void()>> questions = {
        [&] { EXPECT_EQ(probe.FormatName(), ""); },
        [&] { EXPECT_EQ(probe.FileSize(), -1); },
        [&] { EXPECT_EQ(probe.InfoText(), ""); },
        [&] {
            TFileStreamInfo info;
            info.Title = "old";
            probe.GetFileStreamInfo(info);
            EXPECT_EQ(info.Duration, -1);
            EXPECT_EQ(info.Title, "");
        },
        [&] {
            TVideoStreamInfo info;
            info.Width = 5;
            probe.GetVideoStreamInfo(-1, info);
            expect_video_reset(info);
        },
    };
    for (const auto& ask : questions) {
        probe.LoadFile((media_folder() / "missing.mp4").string());
        ask();
        EXPECT_EQ(probe.LastError(), "file not loaded.");
    }
    expect_closed(probe);
}

TEST_F(ProbeInfo, CountsAndRecordsOfAClip)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4))) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.ProgramCount(), 0);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(probe.FileName(), clip(Clip::mp4));
    EXPECT_EQ(probe.FormatName(), "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(std::filesystem::file_size(clip(Clip::mp4))));

    TFileStreamInfo file;
    probe.GetFileStreamInfo(file);
    EXPECT_NEAR(file.Duration, 2000000, 100000);
    EXPECT_EQ(file.StartTime, 0);
    EXPECT_GT(file.BitRate, 0);

    TVideoStreamInfo video;
    probe.GetVideoStreamInfo(-1, video);
    EXPECT_EQ(video.Width, 320);
    EXPECT_EQ(video.Height, 240);
    EXPECT_FLOAT_EQ(video.DisplayAspectRatio, 320.0f / 240.0f);
    EXPECT_EQ(video.FrameRateNum, 25);
    EXPECT_EQ(video.FrameRateDen, 1);
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.CodecName, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
    EXPECT_NEAR(video.DurationUS, 2000000, 100000);
    EXPECT_GE(video.StartTimeUS, 0);

    TAudioStreamInfo audio;
    probe.GetAudioStreamInfo(-1, audio);
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleRate, 48000);
    EXPECT_EQ(audio.CodecName, "aac(AAC (Advanced Audio Coding))");
    EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_FLTP);
}

TEST_F(ProbeInfo, WrongStreamRequestsSetTheirTexts)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::wav))) << probe.LastError();
    TVideoStreamInfo video;
    probe.GetVideoStreamInfo(-1, video);
    EXPECT_EQ(probe.LastError(), "no video stream.");
    expect_video_reset(video);

    TAudioStreamInfo audio;
    probe.GetAudioStreamInfo(probe.StreamCount(), audio);
    EXPECT_EQ(probe.LastError(), "stream index #1 is invalid.");
    EXPECT_EQ(audio.SampleRate, -1);
    probe.GetVideoStreamInfo(0, video);
    EXPECT_EQ(probe.LastError(), "stream #0 is not video stream.");

    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    probe.GetAudioStreamInfo(probe.FirstVideoStream(), audio);
    EXPECT_EQ(probe.LastError(), "stream #" + std::to_string(probe.FirstVideoStream()) + " is not audio stream.");
    // Negative indexes other than -1 mean the first stream too, never a stream before 0.
    probe.GetAudioStreamInfo(-7, audio);
    EXPECT_EQ(audio.SampleRate, 48000);
}

TEST_F(ProbeInfo, InfoTextOfAClipWithoutProgrammes)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    const std::vector<std::string> lines = lines_of(probe.InfoText());
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "File Name: " + clip(Clip::mp4));
    EXPECT_EQ(lines[1], "Format Name: mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(lines[2], "Format Long Name: QuickTime / MOV");
    const auto size = static_cast<int64_t>(std::filesystem::file_size(clip(Clip::mp4)));
    EXPECT_EQ(lines[3], "File Size: " + size_text(size));
    EXPECT_EQ(lines[4], "StartTime: 0.000000");
    EXPECT_TRUE(lines[5].starts_with("Duration: 00:00:02.0")) << lines[5];
    EXPECT_TRUE(lines[6].starts_with("Bit Rate: ") && lines[6].ends_with(" Kbps")) << lines[6];
    const std::string& video = lines[lines.size() - 2];
    const std::string& audio = lines.back();
    // The container shows stream identifiers; the clip's streams carry "und" as language.
    EXPECT_TRUE(video.starts_with("Stream #0[0x1](und), 1/12800: Video: h264")) << video;
    EXPECT_NE(video.find(", 25 tbr, 12800 tbn"), std::string::npos) << video;
    EXPECT_NE(video.find(", Duration: 00:00:02.0"), std::string::npos) << video;
    EXPECT_TRUE(audio.starts_with("Stream #1[0x2](und), 1/48000: Audio: aac")) << audio;
    EXPECT_EQ(audio.find("tbr"), std::string::npos) << audio;
    for (const std::string& line : lines) EXPECT_FALSE(line.starts_with("Program")) << line;
}

TEST_F(ProbeInfo, InfoTextShowsFractionalFrameRates)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::ntsc_mp4)));
    EXPECT_NE(probe.InfoText().find(", 29.97 tbr"), std::string::npos) << probe.InfoText();
}

TEST_F(ProbeInfo, InfoTextListsEachProgrammeWithItsOwnStreams)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::ts_two))) << probe.LastError();
    AVFormatContext* context = probe.FormatContext();
    ASSERT_EQ(probe.ProgramCount(), 2);
    const std::vector<std::string> lines = lines_of(probe.InfoText());
    std::vector<std::string> expected_order;
    for (unsigned p = 0; p < context->nb_programs; ++p) {
        expected_order.push_back("Program " + std::to_string(context->programs[p]->id));
        for (unsigned i = 0; i < context->programs[p]->nb_stream_indexes; ++i)
            expected_order.push_back("Stream #" + std::to_string(context->programs[p]->stream_index[i]) + "[0x");
    }
    std::vector<std::string> stream_and_programme_lines;
    for (const std::string& line : lines)
        if (line.starts_with("Program") || line.starts_with("Stream")) stream_and_programme_lines.push_back(line);
    ASSERT_EQ(stream_and_programme_lines.size(), expected_order.size());
    for (std::size_t i = 0; i < expected_order.size(); ++i)
        EXPECT_TRUE(stream_and_programme_lines[i].starts_with(expected_order[i])) << stream_and_programme_lines[i];
    for (const std::string& line : stream_and_programme_lines) {
        if (line.starts_with("Program")) {
            EXPECT_NE(line.find("@"), std::string::npos) << line;
        }
        if (line.find("Video") != std::string::npos) {
            EXPECT_NE(line.find(", 25 tbr, 90k tbn"), std::string::npos) << line;
        }
    }
}

TEST_F(ProbeInfo, AttachedContextIsNeverClosedSeekedOrDecoded)
{
    AVFormatContext* context = nullptr;
    ASSERT_EQ(open_input_context(&context, clip(Clip::mp4), nullptr, nullptr), 0);
    ASSERT_GE(lib::avformat_find_stream_info(context, nullptr), 0);
    probe.AttachContext(context);
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.FileName(), clip(Clip::mp4));
    try {
        probe.Seek(-1, 1000000);
        ADD_FAILURE() << "Seek on an attached input must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "file cannot be seeked, handle is readonly.");
    }
    try {
        probe.GetFrameBitmap(-1, 0);
        ADD_FAILURE() << "GetFrameBitmap on an attached input must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "frame cannot be read, handle is readonly.");
    }
    EXPECT_EQ(probe.LastError(), "frame cannot be read, handle is readonly.");
    probe.CloseFile();
    expect_closed(probe);

    // The context is still open and usable by its owner.
    AVPacket* packet = lib::av_packet_alloc();
    EXPECT_GE(lib::av_read_frame(context, packet), 0);
    lib::av_packet_free(&packet);
    close_input_context(&context);
}

TEST_F(ProbeInfo, MissingLibrariesRaise)
{
    TFFmpegLoader::unload({Library::swscale});
    try {
        probe.LoadFile(clip(Clip::mp4));
        ADD_FAILURE() << "LoadFile without the scaling library must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "LibSwScale not loaded.");
    }
    EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error);
    test::load_libraries();
}

TEST_F(ProbeInfo, NonAsciiNameUnderAnAsciiLocale)
{
    const std::filesystem::path name = media_folder() / "caf\xc3\xa9.mp4";
    std::filesystem::copy_file(clip(Clip::mp4), name, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(probe.LoadFile(name.string())) << probe.LastError();
    EXPECT_EQ(std::string(probe.FormatContext()->url), "unicode:utf8:" + name.string());
    EXPECT_EQ(probe.FileName(), name.string());
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(std::filesystem::file_size(name)));
    EXPECT_EQ(probe.GetFrameBitmap(-1, 0).Width(), 320);
}

} // namespace
