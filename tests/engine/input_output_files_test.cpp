// Opening inputs and creating outputs with real clips: what the job learns,
// which streams an output gets, the refusals, and the file-name layer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "FFmpeg/stream_values.h"
#include "UnicodeProtocol/unicode_protocol.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

ClipSpec small(Container container, double seconds = 1.0)
{
    ClipSpec spec;
    spec.container = container;
    spec.duration = seconds;
    return spec;
}

class InputFilesTest : public EngineTest {};

TEST_F(InputFilesTest, PalPictureWithNonSquarePixelsGivesFourByThree)
{
    ClipSpec spec = small(Container::mpeg_ps);
    spec.width = 720;
    spec.height = 576;
    spec.sample_aspect = {16, 15};
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("pal-16-15.mpg", spec))) << engine.last_error;
    EXPECT_EQ(engine.frame_width, 720);
    EXPECT_EQ(engine.frame_height, 576);
    EXPECT_NEAR(engine.frame_aspect_ratio, 4.0 / 3.0, 1e-4);
    EXPECT_EQ(engine.frame_rate.num / std::max(engine.frame_rate.den, 1), 25);
    EXPECT_EQ(engine.audio_sample_rate, 48000);
    EXPECT_EQ(engine.audio_channels, 2);
    EXPECT_GE(engine.total_duration_ms, 900);
}

TEST_F(InputFilesTest, MissingFileIsNamedInTheError)
{
    RecordingEngine engine;
    const auto missing = scratch / "no-such-clip.mp4";
    EXPECT_FALSE(engine.open_input_file(missing));
    EXPECT_EQ(engine.last_error, missing.string() + ": no such file or directory");
    EXPECT_TRUE(engine.input_files.empty());
}

TEST_F(InputFilesTest, EncoderOnlyNameIsRefusedAsDecoderAndForgotten)
{
    RecordingEngine engine;
    engine.video_codec_name = "libx264";
    EXPECT_FALSE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    EXPECT_EQ(engine.last_error, "Unknown decoder 'libx264'");
    EXPECT_TRUE(engine.video_codec_name.empty());
    engine.audio_codec_name = "h264";
    EXPECT_FALSE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    EXPECT_EQ(engine.last_error, "Invalid decoder type 'h264'");
}

TEST_F(InputFilesTest, StartPositionAndOffsetFollowTheFileStart)
{
    ClipSpec spec = small(Container::mpeg_ts, 3.0);
    const auto source = clip("starts-late.ts", spec);
    RecordingEngine probe;
    ASSERT_TRUE(probe.open_input_file(source));
    const int64_t file_start = probe.input_files[0]->start_time;
    ASSERT_GT(file_start, 0) << "a transport stream starts after zero";
    EXPECT_EQ(probe.input_ts_offsets[0], -file_start);

    RecordingEngine seeking;
    seeking.start_time = 1000000;
    ASSERT_TRUE(seeking.open_input_file(source));
    EXPECT_EQ(seeking.start_time, 0) << "the start is consumed by the seek";
    EXPECT_EQ(seeking.input_ts_offsets[0], -(file_start + 1000000));

    RecordingEngine copying;
    copying.copy_ts = true;
    copying.input_ts_offset = 250000;
    ASSERT_TRUE(copying.open_input_file(source));
    EXPECT_EQ(copying.input_ts_offsets[0], 250000);
}

TEST_F(InputFilesTest, DataStreamsTakeNoDecoderSlot)
{
    ClipSpec spec = small(Container::mpeg_ts);
    spec.data_stream = true;
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("with-data.ts", spec))) << engine.last_error;
    int data_streams = 0;
    for (unsigned i = 0; i < engine.input_files[0]->nb_streams; ++i)
        data_streams += engine.input_files[0]->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_DATA;
    ASSERT_EQ(data_streams, 1);
    EXPECT_EQ(engine.input_codecs.size(), engine.input_files[0]->nb_streams - 1);
}

TEST_F(InputFilesTest, SecondInputStartsFromWhatTheFirstTaught)
{
    ClipSpec first = small(Container::mp4);
    first.width = 640;
    first.height = 360;
    ClipSpec tone = small(Container::wav);
    tone.video = false;
    tone.sample_rate = 22050;
    tone.channels = 1;
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("640x360.mp4", first)));
    ASSERT_TRUE(engine.open_input_file(clip("mono-22k.wav", tone)));
    EXPECT_EQ(engine.frame_width, 640) << "an audio-only file leaves the picture values";
    EXPECT_EQ(engine.audio_sample_rate, 22050);
    EXPECT_EQ(engine.audio_channels, 1);
    EXPECT_EQ(engine.input_files.size(), 2u);
}

TEST_F(InputFilesTest, NonAsciiNameOpensAndWritesUnderAnAsciiLocale)
{
    // Test processes run in the C locale: such names must take the file-name layer.
    ASSERT_EQ(ToLibraryFileName("K\xc3\xa4se.mp4").rfind("unicode:utf8:", 0), 0u);
    const auto source = clip("plain.mp4", small(Container::mp4));
    const auto named = scratch / "K\xc3\xa4se \xe6\x97\xa5\xe6\x9c\xac.mp4";
    std::filesystem::copy_file(source, named);
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(named)) << engine.last_error;
    engine.video_stream_copy = engine.audio_stream_copy = 1;
    const auto out = scratch / "\xc3\xa9t\xc3\xa9.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
    engine.start_job(false);
    EXPECT_FALSE(engine.failed) << engine.error_message;
    EXPECT_TRUE(read_media(out).opened);
}

class OutputFilesTest : public EngineTest {};

TEST_F(OutputFilesTest, StreamsFollowTheFormatAndTheInputs)
{
    ClipSpec silent = small(Container::mp4);
    silent.audio = false;
    struct Case {
        const char* source_name;
        ClipSpec source;
        const char* output;
        int video, audio;
    };
    const Case cases[] = {
        {"plain.mp4", small(Container::mp4), "a.mpg", 1, 1},
        {"plain.mp4", small(Container::mp4), "a.wav", 0, 1},   // no default video codec
        {"silent.mp4", silent, "b.mpg", 1, 0},                 // no audio to take
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(clip(c.source_name, c.source)));
        ASSERT_EQ(engine.open_output_file(scratch / c.output), 1) << engine.last_error;
        int video = 0, audio = 0;
        for (unsigned i = 0; i < engine.output_files[0]->nb_streams; ++i) {
            video += engine.output_streams[0][i].encoder->codec_type == AVMEDIA_TYPE_VIDEO;
            audio += engine.output_streams[0][i].encoder->codec_type == AVMEDIA_TYPE_AUDIO;
        }
        EXPECT_EQ(video, c.video) << c.output;
        EXPECT_EQ(audio, c.audio) << c.output;
    }
}

TEST_F(OutputFilesTest, RefusalsCarryTheirMessages)
{
    const auto source = clip("plain.mp4", small(Container::mp4));
    struct Case {
        const char* output;
        void (*configure)(TCustomFFmpeg&);
        std::string message;
    };
    const std::string unknown = (scratch / "x.unknownext").string();
    const Case cases[] = {
        {"x.unknownext", [](TCustomFFmpeg&) {}, "Unable to find a suitable output format for '" + unknown + "'"},
        {"c.mpg", [](TCustomFFmpeg& e) { e.vfilters = "hflip"; e.crop_top = 2; },
         "Cannot enable crop options and filters at the same time."},
        {"p.mpg", [](TCustomFFmpeg& e) { e.vfilters = "Scale=320:240"; e.pad_top = 2; },
         "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, transpose, etc.)"},
        {"r.mpg", [](TCustomFFmpeg& e) { e.rc_override_text = "0100,2"; }, "new_video_stream fail: error parsing rc_override"},
        {"e.mpg", [](TCustomFFmpeg& e) { e.video_codec_name = "nosuchencoder"; },
         "new_video_stream fail: Unknown encoder 'nosuchencoder'"},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source));
        c.configure(engine);
        EXPECT_EQ(engine.open_output_file(scratch / c.output), -1) << c.output;
        EXPECT_EQ(engine.last_error, c.message);
        EXPECT_TRUE(engine.output_files.empty());
        EXPECT_FALSE(std::filesystem::exists(scratch / c.output)) << c.output << " must not be created";
    }
}

TEST_F(OutputFilesTest, WritingOntoAnInputIsRefused)
{
    const auto source = scratch / "input.mpg";
    std::filesystem::copy_file(clip("plain.mpg", small(Container::mpeg_ps)), source);
    const auto size = std::filesystem::file_size(source);
    const auto hard_link = scratch / "same-file.mpg";
    std::filesystem::create_hard_link(source, hard_link);
    for (const auto& target : {source, hard_link}) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source));
        EXPECT_EQ(engine.open_output_file(target), -1);
        EXPECT_NE(engine.last_error.find("is the same file as input file"), std::string::npos) << engine.last_error;
        EXPECT_EQ(std::filesystem::file_size(source), size) << "the input stays untouched";
    }
}

TEST_F(OutputFilesTest, ExistingOutputIsReplaced)
{
    const auto out = scratch / "replaced.mkv";
    { std::ofstream(out) << std::string(100000, 'x'); }
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    engine.video_stream_copy = engine.audio_stream_copy = 1;
    ASSERT_EQ(engine.open_output_file(out), 1);
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_TRUE(read_media(out).opened);
}

TEST_F(OutputFilesTest, VideoDisabledThenAddedWithNewVideo)
{
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    engine.video_disable = true;
    ASSERT_EQ(engine.open_output_file(scratch / "vn.mkv"), 1);
    EXPECT_EQ(engine.output_files[0]->nb_streams, 1u);
    EXPECT_TRUE(engine.video_disable) << "the flag stays set";
    engine.video_codec_name = "mpeg4";
    engine.new_video_stream(engine.output_files[0]);
    EXPECT_FALSE(engine.video_disable);
    EXPECT_EQ(engine.output_files[0]->nb_streams, 2u);
    engine.new_video_stream(engine.output_files[0]); // a second one, with defaults
    ASSERT_EQ(engine.output_streams[0].size(), 3u);
    EXPECT_EQ(engine.output_streams[0][1].encoder->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(engine.output_streams[0][2].encoder->codec_id, AV_CODEC_ID_H264) << "guessed from .mkv";
    EXPECT_EQ(engine.output_codecs.size(), 3u);
}

TEST_F(OutputFilesTest, MetadataReachesTheFileLastAddedFirst)
{
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    engine.job_metadata = {{"title", "A"}, {"title", "B"}};
    ASSERT_EQ(engine.open_output_file(scratch / "meta.mkv"), 1);
    const AVDictionaryEntry* title = lib::av_dict_get(engine.output_files[0]->metadata, "title", nullptr, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->value, "A") << "B is set first, then A replaces it";
    EXPECT_TRUE(engine.job_metadata.empty());
}

TEST_F(OutputFilesTest, JoinOfThreeInputsRegistersTheFileThreeTimes)
{
    RecordingEngine engine;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    EXPECT_EQ(engine.open_output_file(scratch / "joined.mkv", true), 3);
    EXPECT_EQ(engine.output_files[0], engine.output_files[2]);
    EXPECT_GE(engine.total_duration_ms, 2900);
    EXPECT_EQ(engine.open_output_file(scratch / "second.mkv", true), -1);
    EXPECT_EQ(engine.last_error, "Cannot join more than one output file.");
}

TEST_F(OutputFilesTest, MuxerDelaysAreTruncatedMicroseconds)
{
    EXPECT_EQ(mux_seconds_to_microseconds(0.5f), 500000);
    EXPECT_EQ(mux_seconds_to_microseconds(0.7f), 699999);
    EXPECT_EQ(mux_seconds_to_microseconds(0.44f), 439999);
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("plain.mp4", small(Container::mp4))));
    engine.mux_preload = 0.44f;
    ASSERT_EQ(engine.open_output_file(scratch / "vcd-like.mpg"), 1);
    EXPECT_EQ(engine.output_files[0]->max_delay, 699999);
    int64_t preload = 0;
    ASSERT_GE(lib::av_opt_get_int(engine.output_files[0], "preload", AV_OPT_SEARCH_CHILDREN, &preload), 0);
    EXPECT_EQ(preload, 439999);
}

TEST_F(OutputFilesTest, AspectBecomesASampleAspectRatio)
{
    struct Case {
        int width, height;
        AVRational expected;
    };
    for (const Case& c : {Case{720, 576, {16, 15}}, Case{0, 0, {1, 1}}}) {
        RecordingEngine engine;
        engine.frame_width = c.width;
        engine.frame_height = c.height;
        engine.frame_aspect_ratio = 4.0f / 3.0f;
        engine.video_codec_name = "mpeg2video";
        ASSERT_EQ(engine.open_output_file(scratch / "aspect.mpg"), 1) << engine.last_error;
        const AVRational sar = engine.output_streams[0][0].encoder->sample_aspect_ratio;
        EXPECT_EQ(sar.num, c.expected.num) << c.width;
        EXPECT_EQ(sar.den, c.expected.den) << c.width;
    }
}

TEST_F(OutputFilesTest, EncoderRateListGivesTheNearestRateUnlessForced)
{
    for (const bool forced : {false, true}) {
        RecordingEngine engine;
        engine.frame_width = 320;
        engine.frame_height = 240;
        engine.parse_option("r", "26");
        engine.parse_option("vcodec", "mpeg1video"); // knows 24, 25, 30 and their NTSC forms, not 26
        if (forced) engine.parse_option("force_fps", "");
        ASSERT_EQ(engine.open_output_file(scratch / "rate.mpg"), 1) << engine.last_error;
        const AVRational base = engine.output_streams[0][0].encoder->time_base;
        EXPECT_EQ(base.num, 1);
        EXPECT_EQ(base.den, forced ? 26 : 25);
    }
}

TEST_F(OutputFilesTest, RateControlOverridesAreParsed)
{
    const std::vector<RcOverride> overrides = parse_rc_override("0,100,2/101,200,-50");
    ASSERT_EQ(overrides.size(), 2u);
    EXPECT_EQ(overrides[0].start_frame, 0);
    EXPECT_EQ(overrides[0].end_frame, 100);
    EXPECT_EQ(overrides[0].qscale, 2);
    EXPECT_FLOAT_EQ(overrides[0].quality_factor, 1.0f);
    EXPECT_EQ(overrides[1].qscale, 0);
    EXPECT_FLOAT_EQ(overrides[1].quality_factor, 0.5f);
    EXPECT_THROW(parse_rc_override("12"), FFmpegException);
}

} // namespace
