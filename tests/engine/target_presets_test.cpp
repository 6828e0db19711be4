// Target presets: the values of every disc type and norm, the detection of
// the norm, the default aspect, the errors, and the way the presets' muxer
// and encoder options reach the files and streams they are meant for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>

#include "support/engine_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

std::string error_of(const std::function<void()>& call)
{
    try {
        call();
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return {};
}

int64_t option_int(void* object, const char* name)
{
    int64_t value = -12345;
    av_opt_get_int(object, name, AV_OPT_SEARCH_CHILDREN, &value);
    return value;
}

std::filesystem::path video_source(fixtures::Rational rate, const std::string& name)
{
    ClipSpec spec;
    spec.container = Container::mpeg_ps;
    spec.duration = 0.5;
    spec.frame_rate = rate;
    return clip(name, spec);
}

std::filesystem::path audio_only_source()
{
    ClipSpec spec;
    spec.container = Container::wav;
    spec.video = false;
    spec.duration = 0.5;
    return clip("presets-audio.wav", spec);
}

class TargetPresetTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.prepare_job(); // the libraries are loaded now
        ASSERT_TRUE(engine.prepared());
    }
    int64_t video_option(const char* name) { return option_int(engine.generic_options.codec[AVMEDIA_TYPE_VIDEO], name); }
    int64_t audio_option(const char* name) { return option_int(engine.generic_options.codec[AVMEDIA_TYPE_AUDIO], name); }
    std::string rate() const { return std::to_string(engine.frame_rate.num) + "/" + std::to_string(engine.frame_rate.den); }
    std::string size() const { return std::to_string(engine.frame_width) + "x" + std::to_string(engine.frame_height); }
    bool logged(const std::string& text) { return engine.logged(text); }

    RecordingEngine engine;
};

struct PresetCase {
    const char* value; // of the option "target"
    const char* size;
    const char* rate;
    int gop;           // -1: not set
    const char* video_codec;
    const char* audio_codec;
    const char* format;
    int64_t bit_rate, max_rate, min_rate, buffer_size, audio_bit_rate; // -1: not set
    int sample_rate;
    int packet_size;   // 0: not set
    const char* aspect_line; // empty: no default aspect
    double aspect;
    const char* pixel_format; // empty: unchanged
};

const PresetCase preset_cases[] = {
    {"pal-vcd", "352x288", "25/1", 15, "mpeg1video", "mp2", "vcd", 1150000, 1150000, 1150000, 327680, 224000, 44100, 2324,
     "Assuming 4:3 for aspect ratio", 4.0 / 3, ""},
    {"ntsc-vcd", "352x240", "30000/1001", 18, "mpeg1video", "mp2", "vcd", 1150000, 1150000, 1150000, 327680, 224000, 44100,
     2324, "Assuming 4:3 for aspect ratio", 4.0 / 3, ""},
    {"pal-svcd", "480x576", "25/1", 15, "mpeg2video", "mp2", "svcd", 2040000, 2516000, 0, 1835008, 224000, 44100, 2324,
     "Assuming 4:3 for aspect ratio", 4.0 / 3, ""},
    {"film-svcd", "480x480", "24000/1001", 18, "mpeg2video", "mp2", "svcd", 2040000, 2516000, 0, 1835008, 224000, 44100,
     2324, "Assuming 4:3 for aspect ratio", 4.0 / 3, ""},
    {"pal-dvd", "720x576", "25/1", 15, "mpeg2video", "ac3", "dvd", 6000000, 9000000, 0, 1835008, 448000, 48000, 2048,
     "Assuming 16:9 for aspect ratio", 16.0 / 9, ""},
    {"ntsc-dvd", "720x480", "30000/1001", 18, "mpeg2video", "ac3", "dvd", 6000000, 9000000, 0, 1835008, 448000, 48000, 2048,
     "Assuming 16:9 for aspect ratio", 16.0 / 9, ""},
    {"pal-dv", "720x576", "25/1", -1, "", "", "dv", -1, -1, -1, -1, -1, 48000, 0, "", 0, "yuv420p"},
    {"ntsc-dv", "720x480", "30000/1001", -1, "", "", "dv", -1, -1, -1, -1, -1, 48000, 0, "", 0, "yuv411p"},
    {"film-dv50", "720x480", "24000/1001", -1, "", "", "dv", -1, -1, -1, -1, -1, 48000, 0, "", 0, "yuv422p"},
};

TEST_F(TargetPresetTest, EveryPresetSetsItsValues)
{
    for (const PresetCase& c : preset_cases) {
        SCOPED_TRACE(c.value);
        engine.prepare_job();
        engine.log_lines.clear();
        engine.audio_channels = 1;
        const int64_t default_bit_rate = video_option("b");
        engine.parse_option("target", c.value);

        EXPECT_EQ(size(), c.size);
        EXPECT_EQ(rate(), c.rate);
        EXPECT_EQ(engine.video_codec_name, c.video_codec);
        EXPECT_EQ(engine.audio_codec_name, c.audio_codec);
        ASSERT_NE(engine.forced_output_format, nullptr);
        EXPECT_STREQ(engine.forced_output_format->name, c.format);
        EXPECT_EQ(engine.audio_sample_rate, c.sample_rate);
        EXPECT_EQ(engine.audio_channels, 2);
        if (c.gop > 0) {
            EXPECT_EQ(video_option("g"), c.gop);
            EXPECT_EQ(video_option("b"), c.bit_rate);
            EXPECT_EQ(video_option("maxrate"), c.max_rate);
            EXPECT_EQ(video_option("minrate"), c.min_rate);
            EXPECT_EQ(video_option("bufsize"), c.buffer_size);
            EXPECT_EQ(audio_option("b"), c.audio_bit_rate);
            EXPECT_EQ(option_int(engine.generic_options.format, "packetsize"), c.packet_size);
        } else {
            EXPECT_TRUE(engine.generic_options.set_names.empty()) << "dv presets set no library option";
            EXPECT_EQ(video_option("b"), default_bit_rate);
        }
        if (*c.pixel_format) EXPECT_STREQ(av_get_pix_fmt_name(AVPixelFormat(engine.frame_pix_fmt)), c.pixel_format);
        else EXPECT_EQ(engine.frame_pix_fmt, -1);
        if (*c.aspect_line) {
            EXPECT_EQ(engine.log_lines, std::vector<std::string>{c.aspect_line}) << "a given norm is not announced";
            EXPECT_NEAR(engine.frame_aspect_ratio, c.aspect, 1e-6);
        } else {
            EXPECT_TRUE(engine.log_lines.empty());
            EXPECT_EQ(engine.frame_aspect_ratio, 0);
        }
    }
}

TEST_F(TargetPresetTest, VcdAlsoSetsMuxRateAndPreload)
{
    engine.parse_option("target", " pal-vcd ");
    EXPECT_FLOAT_EQ(engine.mux_preload, 0.44f);
    ASSERT_GE(engine.open_output_file((scratch / "vcd.mpg").string()), 1) << engine.last_error;
    AVFormatContext* output = engine.output_files[0];
    EXPECT_EQ(output->packet_size, 2324u);
    EXPECT_EQ(option_int(output, "muxrate"), 1411200) << "the program stream muxer's own option";
    EXPECT_EQ(option_int(output, "preload"), 439999) << "0.44 s as a 32-bit float, truncated";
}

TEST_F(TargetPresetTest, ChannelsBecomeStereoOnlyWhereThePresetSaysSo)
{
    const struct {
        const char* value;
        int channels_before, channels_after;
    } cases[] = {{"pal-svcd", 1, 2}, {"pal-svcd", 6, 6}, {"ntsc-dvd", 1, 2}, {"ntsc-dvd", 6, 6},
                 {"pal-vcd", 6, 2},  {"pal-dv", 6, 2}};
    for (const auto& c : cases) {
        engine.prepare_job();
        engine.parse_option("ac", std::to_string(c.channels_before));
        engine.parse_option("target", c.value);
        EXPECT_EQ(engine.audio_channels, c.channels_after) << c.value << " from " << c.channels_before;
    }
}

TEST_F(TargetPresetTest, AnAspectAlreadySetIsKept)
{
    engine.parse_option("aspect", "16:9");
    engine.parse_option("target", "pal-vcd");
    EXPECT_NEAR(engine.frame_aspect_ratio, 16.0 / 9, 1e-6);
    EXPECT_TRUE(engine.log_lines.empty());
}

// The norm decided from an opened input's rate, or from "r", or by default.
TEST_F(TargetPresetTest, NormIsDetectedFromTheFrameRate)
{
    const struct {
        const char* name;
        fixtures::Rational input_rate; // {0, 0}: an input without video
        const char* frame_rate;        // "r" before the preset, empty: none
        bool through_option;           // "target" (default norm ntsc) or apply_target with default "pal"
        const char* norm_line;
        const char* size;
        const char* rate;
        int gop;
    } cases[] = {
        {"25 fps input", {25, 1}, "", true, "Assuming PAL for target.", "720x576", "25/1", 15},
        {"29.97 fps input", {30000, 1001}, "", false, "Assuming NTSC for target.", "720x480", "30000/1001", 18},
        {"23.976 fps input gives NTSC, not film", {24000, 1001}, "", false, "Assuming NTSC for target.", "720x480",
         "30000/1001", 18},
        {"50 fps input, default pal", {50, 1}, "", false, "Assuming PAL for target.", "720x576", "25/1", 15},
        {"50 fps input through the option", {50, 1}, "", true, "Assuming NTSC for target.", "720x480", "30000/1001", 18},
        {"r 25 decides before the inputs", {30000, 1001}, "25", true, "Assuming PAL for target.", "720x576", "25/1", 15},
        {"r 25 without video input", {0, 0}, "25", true, "Assuming PAL for target.", "720x576", "25/1", 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine.prepare_job();
        engine.log_lines.clear();
        const auto input = c.input_rate.num ? video_source(c.input_rate, std::string("presets-") +
                                                                              std::to_string(c.input_rate.num) + ".mpg")
                                            : audio_only_source();
        ASSERT_TRUE(engine.open_input_file(input.string())) << engine.last_error;
        engine.parse_option("r", c.frame_rate);
        if (c.through_option) engine.parse_option("target", "dvd");
        else engine.apply_target("dvd", "auto", "pal");
        EXPECT_TRUE(logged(c.norm_line));
        EXPECT_EQ(size(), c.size);
        EXPECT_EQ(rate(), c.rate);
        EXPECT_EQ(video_option("g"), c.gop);
    }
}

TEST_F(TargetPresetTest, NormIsNotAnnouncedAtVerbosityZero)
{
    ASSERT_TRUE(engine.open_input_file(video_source({25, 1}, "presets-25.mpg").string())) << engine.last_error;
    engine.verbose = 0;
    engine.log_lines.clear();
    engine.parse_option("target", "vcd");
    EXPECT_FALSE(logged("for target."));
    EXPECT_EQ(size(), "352x288");
}

TEST_F(TargetPresetTest, FailuresNameTheirCause)
{
    // No frame rate to detect from: nothing opened, or only sound.
    EXPECT_EQ(error_of([&] { engine.parse_option("target", "dvd"); }), "frame_rate is invalid.");
    ASSERT_TRUE(engine.open_input_file(audio_only_source().string())) << engine.last_error;
    EXPECT_EQ(error_of([&] { engine.apply_target("vcd", "auto", "pal"); }), "frame_rate is invalid.");
    EXPECT_EQ(size(), "0x0");

    // The norm is decided (and a detected one announced) before the type is refused.
    engine.log_lines.clear();
    EXPECT_EQ(error_of([&] { engine.parse_option("target", "ntsc-vhs"); }), "Unknown target type");
    EXPECT_TRUE(engine.log_lines.empty());
    engine.parse_option("r", "25");
    EXPECT_EQ(error_of([&] { engine.parse_option("target", "vhs"); }), "Unknown target type");
    EXPECT_TRUE(logged("Assuming PAL for target."));
    EXPECT_EQ(error_of([&] { engine.parse_option("target", "PAL-vcd"); }), "Unknown target type") << "prefixes are case-sensitive";
    EXPECT_EQ(error_of([&] { engine.parse_option("target", "pal-VCD"); }), "Unknown target type");
    EXPECT_EQ(size(), "0x0") << "a refused type changes nothing";
}

std::string video_pixel_format(const std::filesystem::path& file)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return "(cannot open)";
    avformat_find_stream_info(context, nullptr);
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const char* name = index >= 0 ? av_get_pix_fmt_name(AVPixelFormat(context->streams[index]->codecpar->format)) : nullptr;
    const std::string result = name ? name : "(none)";
    avformat_close_input(&context);
    return result;
}

// DV files from the dv presets, read back.
TEST_F(TargetPresetTest, DvPresetsMakeDvFiles)
{
    const struct {
        const char* value;
        const char* size;
        double rate;
        const char* pixel_format;
    } cases[] = {{"pal-dv", "720x576", 25, "yuv420p"}, {"ntsc-dv", "720x480", 30000.0 / 1001, "yuv411p"},
                 {"pal-dv50", "720x576", 25, "yuv422p"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        RecordingEngine run;
        ASSERT_TRUE(run.open_input_file(video_source({25, 1}, "presets-25.mpg").string())) << run.last_error;
        run.parse_option("target", c.value);
        const auto out = scratch / (std::string(c.value) + ".dv");
        ASSERT_EQ(run.open_output_file(out.string()), 1) << run.last_error;
        run.start_job(false);
        ASSERT_FALSE(run.failed) << run.error_message;
        const MediaFacts facts = read_media(out);
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        const StreamFacts* audio = facts.first(AVMEDIA_TYPE_AUDIO);
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(facts.format, "dv");
        EXPECT_EQ(video->codec, "dvvideo");
        EXPECT_EQ(std::to_string(video->width) + "x" + std::to_string(video->height), c.size);
        EXPECT_NEAR(video->frame_rate, c.rate, 1e-6);
        EXPECT_EQ(video_pixel_format(out), c.pixel_format);
        EXPECT_EQ(audio->sample_rate, 48000);
        EXPECT_EQ(audio->channels, 2);
    }
}

// ---- Private options of muxers and encoders ---------------------------------

std::vector<std::string> library_errors;

void capture_library_log(void*, int level, const char* format, va_list args)
{
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    library_errors.emplace_back(line);
}

TEST_F(TargetPresetTest, SvcdScanOffsetReachesTheMpeg2Encoder)
{
    engine.parse_option("target", "pal-svcd");
    ASSERT_GE(engine.open_output_file((scratch / "svcd.mpg").string()), 1) << engine.last_error;
    const auto& streams = engine.output_streams.at(0);
    ASSERT_EQ(streams.size(), 2u);
    AVCodecContext* video = streams[0].encoder.get();
    ASSERT_EQ(video->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(option_int(video, "scan_offset"), 1);
    EXPECT_EQ(option_int(engine.output_files[0], "muxrate"), 0) << "svcd leaves the mux rate to the muxer";
}

TEST_F(TargetPresetTest, PrivateOptionsFollowTheChosenMuxerAndEncoders)
{
    library_errors.clear();
    av_log_set_callback(capture_library_log);

    // Known muxer: its own option, and a value it refuses.
    engine.parse_option("f", "dvd");
    EXPECT_TRUE(engine.set_generic_option("muxrate", "5000000"));
    EXPECT_FALSE(engine.set_generic_option("muxrate", "abc"));
    ASSERT_FALSE(library_errors.empty());
    EXPECT_EQ(library_errors.back(), "Invalid value \"abc\" for option \"muxrate\"\n");
    // No encoder chosen yet: the first encoder that has the option holds it,
    // and every stream whose encoder has one of that name receives it.
    EXPECT_TRUE(engine.set_generic_option("scan_offset", "1"));
    EXPECT_FALSE(engine.set_generic_option("no_library_knows_this", "1"));

    engine.parse_option("vcodec", "mpeg2video");
    ASSERT_GE(engine.open_output_file((scratch / "private.vob").string()), 1) << engine.last_error;
    EXPECT_EQ(option_int(engine.output_files[0], "muxrate"), 5000000);
    EXPECT_EQ(option_int(engine.output_streams[0][0].encoder.get(), "scan_offset"), 1);
    av_log_set_callback(av_log_default_callback);

    // Decoders and an encoder without the option are left alone.
    engine.prepare_job();
    engine.parse_option("vcodec", "mpeg1video");
    EXPECT_TRUE(engine.set_generic_option("scan_offset", "1"));
    ASSERT_TRUE(engine.open_input_file(video_source({25, 1}, "presets-25.mpg").string())) << engine.last_error;
    ASSERT_EQ(engine.open_output_file((scratch / "mpeg1.mpg").string()), 1) << engine.last_error;
    EXPECT_STREQ(engine.output_streams[0][0].encoder->codec->name, "mpeg1video");
}

} // namespace
