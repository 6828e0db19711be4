// VCD, SVCD and DVD compatible files made by quillon convert, for both norms,
// every quality preset and every sample rate choice, read back against the
// disc rules.
#include "cli/cli_test_support.h"
#include "support/disc_rules.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

struct DiscRun {
    DiscType type;
    DiscNorm norm;
};

std::string name_of(DiscType type) { return type == DiscType::vcd ? "vcd" : type == DiscType::svcd ? "svcd" : "dvd"; }

void PrintTo(const DiscRun& run, std::ostream* out)
{
    *out << name_of(run.type) << (run.norm == DiscNorm::pal ? " PAL" : " NTSC");
}

class CliDiscTest : public CliTest, public ::testing::WithParamInterface<DiscRun> {};

// One conversion per quality item; the sample rate choices, TV types, aspect
// ratios and other choices a disc cannot follow turn round beside them.
TEST_P(CliDiscTest, EveryQualityAndSampleRateGivesADiscFile)
{
    const auto [type, norm] = GetParam();
    const bool pal = norm == DiscNorm::pal;
    const fixtures::Rational own_rate = pal ? fixtures::Rational{25, 1} : fixtures::Rational{30000, 1001};
    const fixtures::Rational other_rate = pal ? fixtures::Rational{30000, 1001} : fixtures::Rational{25, 1};
    const fs::path own = clip(std::string(pal ? "pal" : "ntsc") + ".mp4",
                              {.duration = 1, .width = 160, .height = 120, .frame_rate = own_rate});
    const fs::path other = clip(std::string(pal ? "ntsc" : "pal") + "-44k-mono.mp4",
                                {.duration = 1, .width = 160, .height = 120, .frame_rate = other_rate,
                                 .sample_rate = 44100, .channels = 1});
    const char* sample_rates[] = {"auto", "8000", "11025", "22050", "44100"};
    const char* aspects[] = {"auto", "4:3", "16:9"};
    const char* extras[][2] = {{"--channels", "mono"}, {"--size", "640x480"}, {"--rate", "30"},
                               {"--video-kbps", "9999"}, {"--audio-kbps", "32"}, {"--video-kbps", "300"},
                               {"--channels", "stereo"}};
    const int qualities = type == DiscType::dvd ? 7 : 6;
    for (int q = 0; q < qualities; ++q) {
        const bool auto_tv = q % 2 == 1; // the norm then comes from the source's rate
        const std::string aspect = aspects[q % 3];
        std::vector<std::string> args{"convert", "-f", name_of(type), "-q", q == 0 ? "auto" : std::to_string(q),
                                      "--sample-rate", sample_rates[q % 5], "--aspect", aspect,
                                      "--tv", auto_tv ? "auto" : (pal ? "pal" : "ntsc"), extras[q][0], extras[q][1],
                                      "-O", (scratch / std::to_string(q)).string(), (auto_tv ? own : other).string()};
        std::string shown_args;
        for (const std::string& a : args) shown_args += a + " ";
        SCOPED_TRACE(shown_args);
        const ProgramResult r = run_quillon({args});
        ASSERT_EQ(r.exit_code, 0) << shown(r);
        const fs::path output = scratch / std::to_string(q) /
                                ((auto_tv ? own : other).stem().string() + "_" + name_of(type) + ".mpg");
        const DisplayAspect wanted = type != DiscType::vcd && aspect == "16:9" ? DisplayAspect::sixteen_nine
                                                                               : DisplayAspect::four_three;
        const std::vector<std::string> broken = disc_rule_violations(output, disc_rules(type, norm, wanted));
        std::string lines;
        for (const std::string& line : broken) lines += "  " + line + "\n";
        EXPECT_TRUE(broken.empty()) << output << " breaks the disc rules:\n" << lines;
    }
}

INSTANTIATE_TEST_SUITE_P(Discs, CliDiscTest,
                         ::testing::Values(DiscRun{DiscType::vcd, DiscNorm::pal}, DiscRun{DiscType::vcd, DiscNorm::ntsc},
                                           DiscRun{DiscType::svcd, DiscNorm::pal},
                                           DiscRun{DiscType::svcd, DiscNorm::ntsc},
                                           DiscRun{DiscType::dvd, DiscNorm::pal}, DiscRun{DiscType::dvd, DiscNorm::ntsc}),
                         [](const auto& info) {
                             return name_of(info.param.type) + (info.param.norm == DiscNorm::pal ? "Pal" : "Ntsc");
                         });

} // namespace
} // namespace quillon::test
