// VCD, SVCD and DVD outputs made the way the conversion component makes them
// (input record, input file, output record, output file, run), checked
// against the disc rules by reading the files back.
#include <gtest/gtest.h>

#include "Options/options_apply.h"
#include "support/disc_rules.h"
#include "support/engine_fixture.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

ClipSpec source_clip(fixtures::Rational rate, int width, int height, int channels)
{
    ClipSpec spec;
    spec.container = Container::mp4;
    spec.duration = 2.0;
    spec.width = width;
    spec.height = height;
    spec.frame_rate = rate;
    spec.channels = channels;
    return spec;
}

std::filesystem::path source(const std::string& name)
{
    if (name == "25fps") return clip("disc-25.mp4", source_clip({25, 1}, 320, 240, 2));
    if (name == "29.97fps") return clip("disc-2997.mp4", source_clip({30000, 1001}, 320, 240, 2));
    if (name == "25fps-16:9-mono") return clip("disc-25-wide-mono.mp4", source_clip({25, 1}, 320, 180, 1));
    return clip("disc-2997-wide.mp4", source_clip({30000, 1001}, 320, 180, 2));
}

// What the engine holds for the output before it runs: the encoder and
// muxer settings the preset chose.
struct EngineSettings {
    int64_t bit_rate = 0, max_rate = 0, min_rate = 0;
    int buffer_size = 0, gop = 0;
    int packet_size = 0;
    int64_t mux_rate = 0, preload = 0;
    int64_t audio_bit_rate = 0;
};

EngineSettings settings_of(TCustomFFmpeg& engine)
{
    EngineSettings s;
    AVFormatContext* output = engine.output_files.at(0);
    for (const OutputStreamSetup& stream : engine.output_streams.at(0)) {
        const AVCodecContext* encoder = stream.encoder.get();
        if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            s.bit_rate = encoder->bit_rate;
            s.max_rate = encoder->rc_max_rate;
            s.min_rate = encoder->rc_min_rate;
            s.buffer_size = encoder->rc_buffer_size;
            s.gop = encoder->gop_size;
        } else if (encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
            s.audio_bit_rate = encoder->bit_rate;
        }
    }
    s.packet_size = int(output->packet_size);
    av_opt_get_int(output, "muxrate", AV_OPT_SEARCH_CHILDREN, &s.mux_rate);
    av_opt_get_int(output, "preload", AV_OPT_SEARCH_CHILDREN, &s.preload);
    return s;
}

struct DiscCase {
    const char* name;
    const char* source;
    int target;       // TOutputOptions::Target
    int target_norm;  // TOutputOptions::TargetNorm
    DiscType type;
    DiscNorm norm;
    DisplayAspect aspect;
    EngineSettings settings;
};

// Bit rates, buffer size, group of pictures and muxer values the presets give.
const EngineSettings vcd_pal{1150000, 1150000, 1150000, 327680, 15, 2324, 1411200, 439999, 224000};
const EngineSettings vcd_ntsc{1150000, 1150000, 1150000, 327680, 18, 2324, 1411200, 439999, 224000};
const EngineSettings svcd_pal{2040000, 2516000, 0, 1835008, 15, 2324, 0, 500000, 224000};
const EngineSettings svcd_ntsc{2040000, 2516000, 0, 1835008, 18, 2324, 0, 500000, 224000};
const EngineSettings dvd_pal{6000000, 9000000, 0, 1835008, 15, 2048, 10080000, 500000, 448000};
const EngineSettings dvd_ntsc{6000000, 9000000, 0, 1835008, 18, 2048, 10080000, 500000, 448000};

constexpr auto four_three = DisplayAspect::four_three;
constexpr auto wide = DisplayAspect::sixteen_nine;

const DiscCase disc_cases[] = {
    // The norm detected from the source's rate.
    {"VcdPal", "25fps", 1, 0, DiscType::vcd, DiscNorm::pal, four_three, vcd_pal},
    {"VcdNtsc", "29.97fps", 1, 0, DiscType::vcd, DiscNorm::ntsc, four_three, vcd_ntsc},
    {"SvcdPal", "25fps", 2, 0, DiscType::svcd, DiscNorm::pal, four_three, svcd_pal},
    {"SvcdNtsc", "29.97fps", 2, 0, DiscType::svcd, DiscNorm::ntsc, four_three, svcd_ntsc},
    {"DvdPal", "25fps", 3, 0, DiscType::dvd, DiscNorm::pal, four_three, dvd_pal},
    {"DvdNtsc", "29.97fps", 3, 0, DiscType::dvd, DiscNorm::ntsc, four_three, dvd_ntsc},
    // The norm given against the source's rate (frames dropped or repeated),
    // wide pictures and mono sound.
    {"DvdPalFromNtscWide", "29.97fps-16:9", 3, 1, DiscType::dvd, DiscNorm::pal, wide, dvd_pal},
    {"SvcdNtscFromPalWideMono", "25fps-16:9-mono", 2, 2, DiscType::svcd, DiscNorm::ntsc, wide, svcd_ntsc},
    {"VcdNtscFromPal", "25fps", 1, 2, DiscType::vcd, DiscNorm::ntsc, four_three, vcd_ntsc},
};

void PrintTo(const DiscCase& c, std::ostream* out) { *out << c.name; }

std::string lines_of(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += "\n  " + line;
    return text;
}

class DiscOutputTest : public EngineTest, public ::testing::WithParamInterface<DiscCase> {
protected:
    // What the conversion component does for one task: input record, input
    // file, output record, output file, the second pass of the extra options.
    bool add_task(RecordingEngine& engine, const std::string& source_name, TOutputOptions& output)
    {
        TInputOptions input;
        input.FileName = source(source_name).string();
        ApplyInputOptions(engine, input);
        if (!engine.open_input_file(input.FileName)) {
            ADD_FAILURE() << engine.last_error;
            return false;
        }
        ApplyOutputOptions(engine, output);
        if (engine.open_output_file(output.FileName, output.Join) < 1) {
            ADD_FAILURE() << engine.last_error;
            return false;
        }
        ApplyExtOptions(engine, output.ExtOptions, true);
        return true;
    }

    bool run(RecordingEngine& engine)
    {
        engine.start_job(false);
        EXPECT_FALSE(engine.failed) << engine.error_message;
        EXPECT_TRUE(engine.finished);
        return !engine.failed && engine.finished;
    }
};

TEST_P(DiscOutputTest, KeepsTheDiscRules)
{
    const DiscCase& c = GetParam();
    RecordingEngine engine;
    TOutputOptions output;
    output.FileName = (scratch / (std::string(c.name) + ".mpg")).string();
    output.Target = c.target;
    output.TargetNorm = c.target_norm;
    ASSERT_TRUE(add_task(engine, c.source, output));

    const EngineSettings settings = settings_of(engine);
    const EngineSettings& expected = c.settings;
    EXPECT_EQ(settings.bit_rate, expected.bit_rate);
    EXPECT_EQ(settings.max_rate, expected.max_rate);
    EXPECT_EQ(settings.min_rate, expected.min_rate);
    EXPECT_EQ(settings.buffer_size, expected.buffer_size);
    EXPECT_EQ(settings.gop, expected.gop);
    EXPECT_EQ(settings.packet_size, expected.packet_size);
    EXPECT_EQ(settings.mux_rate, expected.mux_rate);
    EXPECT_EQ(settings.preload, expected.preload) << "0.44 s held as a 32-bit float, truncated to microseconds";
    EXPECT_EQ(settings.audio_bit_rate, expected.audio_bit_rate);

    ASSERT_TRUE(run(engine));
    const std::vector<std::string> broken = disc_rule_violations(output.FileName, disc_rules(c.type, c.norm, c.aspect));
    EXPECT_TRUE(broken.empty()) << c.name << " breaks the disc rules:" << lines_of(broken);
}

INSTANTIATE_TEST_SUITE_P(Presets, DiscOutputTest, ::testing::ValuesIn(disc_cases),
                         [](const ::testing::TestParamInfo<DiscCase>& info) { return std::string(info.param.name); });

// Record fields and extra options override the preset; where that breaks a
// disc rule, the checks say which.
TEST_F(DiscOutputTest, OverridesThatBreakARuleAreCaught)
{
    const struct {
        const char* name;
        int target;
        void (*change)(TOutputOptions&);
        DiscType rules;
        const char* broken;
    } cases[] = {
        {"DvdLongGop", 3, [](TOutputOptions& o) { o.GOPSize = 30; }, DiscType::dvd, "group of pictures of 30 frames"},
        {"SvcdNoScanOffset", 2, [](TOutputOptions& o) { o.ExtOptions = "scan_offset=0"; }, DiscType::svcd,
         "no scan offset user data"},
        {"VcdLargeBuffer", 1, [](TOutputOptions& o) { o.VideoBufSize = 1835008; }, DiscType::vcd,
         "video buffer size: 1835008, expected 327680"},
        {"SvcdAudioRate", 2, [](TOutputOptions& o) { o.AudioSampleRate = 48000; }, DiscType::svcd,
         "audio sample rate: 48000, expected 44100"},
        {"DvdAsVcd", 3, [](TOutputOptions&) {}, DiscType::vcd, "video codec: mpeg2video, expected mpeg1video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEngine engine;
        TOutputOptions output;
        output.FileName = (scratch / (std::string(c.name) + ".mpg")).string();
        output.Target = c.target;
        c.change(output);
        ASSERT_TRUE(add_task(engine, "25fps", output));
        ASSERT_TRUE(run(engine));
        const std::vector<std::string> broken =
            disc_rule_violations(output.FileName, disc_rules(c.rules, DiscNorm::pal, DisplayAspect::four_three));
        bool found = false;
        for (const std::string& line : broken) found = found || line.find(c.broken) != std::string::npos;
        EXPECT_TRUE(found) << "expected \"" << c.broken << "\" among:" << lines_of(broken);
    }
}

} // namespace
