// Re-encoding from end to end: real clips into MPEG video with sound, checked
// by reading the outputs back (sizes, rates, frame counts, audio timing).
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <cmath>
#include <fstream>
#include <utility>

#include "support/engine_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

ClipSpec hd_clip()
{
    ClipSpec spec;
    spec.container = Container::mp4;
    spec.duration = 2.0;
    spec.width = 1280;
    spec.height = 720;
    return spec;
}

ClipSpec small_clip(double seconds = 2.0)
{
    ClipSpec spec;
    spec.container = Container::mp4;
    spec.duration = seconds;
    return spec;
}

class PipelineEncodeTest : public EngineTest {
protected:
    // Opens the input, applies the output options, converts; fails the test on any error.
    MediaFacts convert(const std::filesystem::path& input, const std::string& output, const Options& options,
                       RecordingEngine& engine)
    {
        if (!engine.open_input_file(input)) {
            ADD_FAILURE() << engine.last_error;
            return {};
        }
        for (const auto& [name, value] : options) engine.parse_option(name, value);
        const auto out = scratch / output;
        if (engine.open_output_file(out) < 1) {
            ADD_FAILURE() << engine.last_error;
            return {};
        }
        engine.start_job(false);
        EXPECT_FALSE(engine.failed) << engine.error_message;
        EXPECT_TRUE(engine.finished);
        return read_media(out);
    }
};

void expect_audio_follows_video(const MediaFacts& facts, double tolerance = 0.04)
{
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    const StreamFacts* audio = facts.first(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    const double video_length = video->last_end - video->first_time;
    const double audio_length = audio->last_end - audio->first_time;
    EXPECT_NEAR(audio_length, video_length, tolerance);
}

TEST_F(PipelineEncodeTest, HdClipBecomesMpegVideoWithSound)
{
    struct Case {
        const char* output;
        Options options;
        const char* video_codec;
        const char* audio_codec;
        int width, height;
        double audio_tolerance;
    };
    const Case cases[] = {
        {"hd.mpg", {{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"s", "352x288"}}, "mpeg1video", "mp2", 352, 288, 0.04},
        // Two B-frames: the delayed pictures still reach the file when the encoder is drained (the
        // frame count proves it; the stream's last packet carries no duration, hence one frame more).
        {"hd-b.mpg", {{"vcodec", "mpeg2video"}, {"bf", "2"}, {"acodec", "mp2"}, {"s", "352x288"}}, "mpeg2video", "mp2",
         352, 288, 0.08},
        {"hd-dvd.mpg", {{"vcodec", "mpeg2video"}, {"acodec", "ac3"}, {"s", "720x576"}, {"ar", "48000"}},
         "mpeg2video", "ac3", 720, 576, 0.04},
        // MP3 in AVI: the encoder's delay and its frames of 1152 samples allow one frame more.
        {"hd.avi", {{"vcodec", "mpeg2video"}, {"acodec", "libmp3lame"}}, "mpeg2video", "mp3", 1280, 720, 0.08},
    };
    const auto source = clip("hd.mp4", hd_clip());
    for (const Case& c : cases) {
        RecordingEngine engine;
        const MediaFacts facts = convert(source, c.output, c.options, engine);
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr) << c.output;
        EXPECT_EQ(video->codec, c.video_codec) << c.output;
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->codec, c.audio_codec) << c.output;
        EXPECT_EQ(video->width, c.width) << c.output;
        EXPECT_EQ(video->height, c.height) << c.output;
        EXPECT_NEAR(video->frame_rate, 25.0, 0.01) << c.output;
        EXPECT_NEAR(count_decoded_video_frames(scratch / c.output), 50, 1) << c.output;
        expect_audio_follows_video(facts, c.audio_tolerance);
        EXPECT_EQ(frame_number_of_picture(scratch / c.output, 25), 25) << c.output << ": no picture lost or repeated";
    }
}

TEST_F(PipelineEncodeTest, AudioIsResampledRemixedAndReformatted)
{
    ClipSpec mono = small_clip();
    mono.video = false;
    mono.container = Container::wav;
    mono.channels = 1;
    mono.sample_rate = 22050;
    struct Case {
        const char* name;
        std::filesystem::path source;
        Options options;
        const char* output;
        int rate, channels;
    };
    const Case cases[] = {
        {"stereo 48k to mono 44.1k", clip("small.mp4", small_clip()), {{"vn", ""}, {"ar", "44100"}, {"ac", "1"}},
         "mono.mp2", 44100, 1},
        {"mono to stereo", clip("mono.wav", mono), {{"ac", "2"}, {"ar", "44100"}}, "stereo.mp2", 44100, 2},
        {"planar float to 16-bit", clip("small.mp4", small_clip()), {{"vn", ""}, {"ar", "48000"}}, "pcm.wav", 48000, 2},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        const MediaFacts facts = convert(c.source, c.output, c.options, engine);
        const StreamFacts* audio = facts.first(AVMEDIA_TYPE_AUDIO);
        ASSERT_NE(audio, nullptr) << c.name;
        EXPECT_EQ(audio->sample_rate, c.rate) << c.name;
        EXPECT_EQ(audio->channels, c.channels) << c.name;
        EXPECT_NEAR(audio->last_end - audio->first_time, 2.0, 0.06) << c.name;
    }
}

TEST_F(PipelineEncodeTest, FrameRateChangesDuplicateOrDropFrames)
{
    ClipSpec thirty = small_clip();
    thirty.frame_rate = {30, 1};
    struct Case {
        const char* name;
        std::filesystem::path source;
        const char* rate;
        double expected_fps;
        int expected_frames;
        bool duplicates;
    };
    const Case cases[] = {
        {"25 to 29.97", clip("small.mp4", small_clip()), "30000/1001", 29.97, 60, true},
        {"30 to 25", clip("thirty.mp4", thirty), "25", 25.0, 50, false},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        const MediaFacts facts = convert(c.source, "rate.mpg",
                                         {{"vcodec", "mpeg2video"}, {"r", c.rate}, {"an", ""}, {"v", "3"}}, engine);
        ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr) << c.name;
        EXPECT_NEAR(facts.first(AVMEDIA_TYPE_VIDEO)->frame_rate, c.expected_fps, 0.01) << c.name;
        EXPECT_NEAR(count_decoded_video_frames(scratch / "rate.mpg"), c.expected_frames, 1) << c.name;
        if (c.duplicates) {
            EXPECT_GE(engine.dup_count, 8) << c.name;
            EXPECT_TRUE(engine.logged(" dup!")) << c.name;
        } else {
            EXPECT_GE(engine.drop_count, 8) << c.name;
            EXPECT_TRUE(engine.logged("*** drop!")) << c.name;
        }
    }
}

TEST_F(PipelineEncodeTest, CropScaleAndPadShapeThePicture)
{
    ClipSpec odd = small_clip(1.0);
    odd.width = 322;
    odd.height = 242;
    struct Case {
        const char* name;
        std::filesystem::path source;
        Options options;
        int width, height;
    };
    const Case cases[] = {
        {"crop then scale", clip("small.mp4", small_clip()),
         {{"croptop", "16"}, {"cropbottom", "16"}, {"s", "176x144"}}, 176, 144},
        {"letterbox", clip("small.mp4", small_clip()),
         {{"s", "320x180"}, {"padtop", "30"}, {"padbottom", "30"}, {"padcolor", "255"}}, 320, 240},
        {"odd source", clip("odd.mp4", odd), {}, 322, 242},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        Options options = c.options;
        options.insert(options.begin(), {"vcodec", "mpeg4"});
        const MediaFacts facts = convert(c.source, "shaped.avi", options, engine);
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr) << c.name;
        EXPECT_EQ(video->width, c.width) << c.name;
        EXPECT_EQ(video->height, c.height) << c.name;
        if (std::string(c.name) == "letterbox") {
            int yuv[3] = {};
            ASSERT_TRUE(pixel_yuv_at(scratch / "shaped.avi", 160, 4, yuv));
            EXPECT_NEAR(yuv[0], 76, 12) << "the border is red";
            EXPECT_NEAR(yuv[2], 255, 16) << "the border is red";
        }
    }
}

TEST_F(PipelineEncodeTest, LateAudioGetsSilenceInFront)
{
    ClipSpec late = small_clip();
    late.container = Container::matroska;
    late.audio_start = 0.5;
    RecordingEngine engine;
    const MediaFacts facts = convert(clip("late-audio.mkv", late), "synced.mpg",
                                     {{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"async", "1"}, {"v", "3"}}, engine);
    const StreamFacts* audio = facts.first(AVMEDIA_TYPE_AUDIO);
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(audio, nullptr);
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(engine.logged("audio samples of silence"));
    EXPECT_NEAR(audio->first_time, video->first_time, 0.05) << "the silence starts with the pictures";
}

TEST_F(PipelineEncodeTest, TwoPassesGiveAValidFile)
{
    const auto source = clip("small.mp4", small_clip());
    const std::string prefix = (scratch / "passlog").string();
    for (const char* pass : {"1", "2"}) {
        RecordingEngine engine;
        const MediaFacts facts = convert(source, std::string("pass") + pass + ".avi",
                                         {{"vcodec", "mpeg4"}, {"b", "300000"}, {"an", ""}, {"pass", pass},
                                          {"passlogfile", prefix}},
                                         engine);
        ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr) << "pass " << pass;
        EXPECT_TRUE(std::filesystem::exists(prefix + "-0.log"));
    }
    EXPECT_GT(std::filesystem::file_size(prefix + "-0.log"), 100u);
    EXPECT_NEAR(count_decoded_video_frames(scratch / "pass2.avi"), 50, 1);
}

// A second pass needs the first one's statistics: an empty log is refused
// with the unreadable-log message instead of reaching the encoder.
TEST_F(PipelineEncodeTest, SecondPassWithAnEmptyLogFailsClearly)
{
    const auto source = clip("small.mp4", small_clip());
    const std::string prefix = (scratch / "emptylog").string();
    std::ofstream(prefix + "-0.log").close();
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(source)) << engine.last_error;
    for (const auto& [name, value] : Options{{"vcodec", "mpeg1video"}, {"an", ""}, {"pass", "2"}, {"passlogfile", prefix}})
        engine.parse_option(name, value);
    ASSERT_EQ(engine.open_output_file(scratch / "pass2.mpg"), 1) << engine.last_error;
    engine.start_job(false);
    EXPECT_TRUE(engine.failed);
    EXPECT_EQ(engine.error_message, "Cannot read log file " + prefix + "-0.log for pass-2 encoding");
}

// The encoders divide by every matrix coefficient and write 8 bits of it: a
// matrix they cannot take is refused when the output is opened.
TEST_F(PipelineEncodeTest, MatrixCoefficientsOutsideTheEncodersRangeAreRefused)
{
    const auto source = clip("small.mp4", small_clip());
    for (const auto& [option, coefficients, message] :
         {std::tuple{"intra_matrix", "8,16,0", "new_video_stream fail: Invalid intra matrix: coefficient 2 is 0 (1 to 255 allowed)"},
          std::tuple{"inter_matrix", "16,300", "new_video_stream fail: Invalid inter matrix: coefficient 1 is 300 (1 to 255 allowed)"}}) {
        std::string text = coefficients;
        for (int i = int(std::count(text.begin(), text.end(), ',')) + 1; i < 64; ++i) text += ",16";
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source)) << engine.last_error;
        engine.parse_option("vcodec", "mpeg2video");
        engine.parse_option(option, text);
        EXPECT_LT(engine.open_output_file(scratch / "matrix.mpg"), 1) << option;
        EXPECT_EQ(engine.last_error, message);
    }
}

TEST_F(PipelineEncodeTest, TimestampJumpKeepsTheOutputContinuous)
{
    ClipSpec jumping = small_clip(3.0);
    jumping.container = Container::mpeg_ts;
    jumping.jump_at = 1.0;
    jumping.jump_by = 20.0;
    RecordingEngine engine;
    const MediaFacts facts = convert(clip("jump.ts", jumping), "continuous.mpg",
                                     {{"vcodec", "mpeg2video"}, {"acodec", "mp2"}, {"v", "3"}}, engine);
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(engine.logged("timestamp discontinuity"));
    EXPECT_LT(video->last_end - video->first_time, 3.5) << "no 20 s hole";
    EXPECT_NEAR(count_decoded_video_frames(scratch / "continuous.mpg"), 75, 2);
}

TEST_F(PipelineEncodeTest, ProgressCarriesTheEncoderQuality)
{
    RecordingEngine engine;
    convert(clip("small.mp4", small_clip()), "quality.mpg", {{"vcodec", "mpeg1video"}, {"qscale", "5"}}, engine);
    ASSERT_FALSE(engine.progress.empty());
    EXPECT_NEAR(engine.progress.back().quality, 5.0f, 0.01f);
    EXPECT_EQ(engine.progress.back().frame_number, 50);
}

TEST_F(PipelineEncodeTest, VolumeScalesTheDecodedSamples)
{
    // The volume works on the decoded sample format: 16-bit and float sources.
    struct Case {
        const char* source_codec;
        const char* vol;
        double factor;
    };
    for (const Case& c : {Case{"pcm_s16le", "128", 0.5}, Case{"pcm_f32le", "128", 0.5}, Case{"pcm_f32le", "384", 1.5}}) {
        ClipSpec tone;
        tone.container = Container::wav;
        tone.video = false;
        tone.duration = 1.0;
        tone.audio_codec = c.source_codec;
        const auto source = clip(std::string("tone-") + c.source_codec + ".wav", tone);
        const double original = peak_audio_level(source);
        ASSERT_GT(original, 0.1) << c.source_codec;
        RecordingEngine engine;
        const std::string out = std::string("vol-") + c.vol + "-" + c.source_codec + ".wav";
        convert(source, out, {{"vol", c.vol}, {"acodec", "pcm_f32le"}}, engine);
        EXPECT_NEAR(peak_audio_level(scratch / out), original * c.factor, 0.02) << c.vol << " " << c.source_codec;
    }
}

TEST_F(PipelineEncodeTest, StartPositionSkipsTheFirstPictures)
{
    ClipSpec spec = small_clip(3.0);
    RecordingEngine engine;
    engine.parse_option("ss", "1");
    const MediaFacts facts = convert(clip("three.mp4", spec), "from-one.avi", {{"vcodec", "mpeg4"}, {"an", ""}}, engine);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_NEAR(count_decoded_video_frames(scratch / "from-one.avi"), 50, 2);
    EXPECT_NEAR(frame_number_of_picture(scratch / "from-one.avi", 0), 25, 1) << "the first picture is the one at 1 s";
}

TEST_F(PipelineEncodeTest, StatisticsFileGetsALinePerPicture)
{
    RecordingEngine engine;
    const std::string stats = (scratch / "vstats.log").string();
    convert(clip("small.mp4", small_clip()), "stats.mpg",
            {{"vcodec", "mpeg2video"}, {"an", ""}, {"psnr", ""}, {"qphist", ""}, {"vstats_file", stats}}, engine);
    std::ifstream file(stats);
    std::string line;
    int lines = 0, intra = 0;
    while (std::getline(file, line)) {
        ++lines;
        EXPECT_NE(line.find("PSNR= "), std::string::npos) << line;
        EXPECT_NE(line.find("f_size= "), std::string::npos) << line;
        intra += line.find("type= I") != std::string::npos;
    }
    EXPECT_NEAR(lines, 50, 1);
    EXPECT_GE(intra, 1);
}

} // namespace
