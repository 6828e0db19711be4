// quillon engine, probe, frame, help and usage errors, run as a child process.
#include <regex>

#include "cli/cli_test_support.h"
#include "support/disc_rules.h"

namespace quillon::test {
namespace {

using fixtures::Container;
namespace fs = std::filesystem;

TEST_F(CliTest, EngineCopiesStreamsWithTheEngineVocabulary)
{
    const auto source = clip("tiny.mp4", tiny_clip());
    const ProgramResult r = run_quillon({{"engine", "-i", source.string(), "-vcodec", "copy", "-acodec", "copy",
                                         path("copy.mkv")}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const MediaFacts facts = read_media(path("copy.mkv"));
    ASSERT_TRUE(facts.opened) << facts.error;
    EXPECT_EQ(facts.format, "matroska,webm");
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, "h264");
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->width, 160);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->codec, "aac");
    EXPECT_NE(r.out.find("done"), std::string::npos) << shown(r);
}

TEST_F(CliTest, EngineOptionsApplyToTheFollowingInputOrOutput)
{
    const auto source = clip("tiny.mp4", tiny_clip());
    // -an is a flag without a value; -s and -r belong to the output after them.
    const ProgramResult r = run_quillon({{"engine", "-i", source.string(), "-an", "-vcodec", "mpeg1video", "-s",
                                         "96x72", "-r", "25", path("small.mpg")}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const MediaFacts facts = read_media(path("small.mpg"));
    EXPECT_EQ(facts.count(AVMEDIA_TYPE_AUDIO), 0);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, "mpeg1video");
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->width, 96);
}

TEST_F(CliTest, EngineMakesATargetFile)
{
    const auto source = clip("tiny.mp4", tiny_clip());
    const ProgramResult r = run_quillon({{"engine", "-i", source.string(), "-target", "pal-vcd", path("vcd.mpg")}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const std::vector<std::string> broken =
        disc_rule_violations(path("vcd.mpg"), disc_rules(DiscType::vcd, DiscNorm::pal, DisplayAspect::four_three));
    for (const std::string& line : broken) ADD_FAILURE() << line;
}

TEST_F(CliTest, EngineReportsItsErrorsWithExitStatuses)
{
    const auto source = clip("tiny.mp4", tiny_clip()).string();
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string message;
    } const cases[] = {
        {{"engine", "-i", path("missing.mp4"), path("o.mpg")}, 1, "missing.mp4"},
        {{"engine", "-i", source, "-nosuchoption", "1", path("o.mpg")}, 2, "-nosuchoption"},
        {{"engine", "-i", source, "-s", "97x72", path("o.mpg")}, 2, "Frame size must be a multiple of 2"},
        {{"engine", "-i", source}, 2, "At least one output file must be specified"},
        {{"engine", "-i", source, "-b"}, 2, "-b needs a value"},
        {{"engine", "-i", source, "-an", "-vn", path("o.mpg")}, 1, "does not contain any stream"},
    };
    for (const Case& c : cases) {
        const ProgramResult r = run_quillon({c.args});
        EXPECT_EQ(r.exit_code, c.exit_code) << shown(r);
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << shown(r);
    }
}

TEST_F(CliTest, HelpVersionAndUsageErrors)
{
    ProgramResult r = run_quillon({{"--version"}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("quillon ", 0), 0u) << r.out;
    r = run_quillon({{"--help"}});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* command : {"convert", "engine", "probe", "frame"}) EXPECT_NE(r.out.find(command), std::string::npos);
    r = run_quillon({{"convert", "--help"}});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* option : {"--output-dir", "--format", "--quality", "--jobs", "--json", "--sample-rate"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    const std::vector<std::string> usage_errors[] = {
        {"convert", "--no-such-option", "a.avi"},
        {"convert"},
        {"convert", "-f", "mkv", "a.avi"},
        {"convert", "-f", "vcd", "-q", "6", "a.avi"},
        {"convert", "--volume", "513", "a.avi"},
        {"convert", "--size", "big", "a.avi"},
        {"convert", "--rate", "50", "a.avi"},
        {"convert", "-j", "0", "a.avi"},
        {"frame", "a.avi", "-o", "x.png"},
        {"probe"},
        {"transmogrify"},
    };
    for (const auto& args : usage_errors) {
        r = run_quillon({args});
        EXPECT_EQ(r.exit_code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "") << "\n" << shown(r);
        EXPECT_NE(r.err.find("quillon: "), std::string::npos) << shown(r);
    }
}

TEST_F(CliTest, ProbePrintsTheInformationTextOrItsRecordsAsJson)
{
    const fs::path source = clip("tiny.mp4", tiny_clip());
    ProgramResult r = run_quillon({{"probe", source.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    EXPECT_NE(r.out.find("Duration: 00:00:01"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("160x120"), std::string::npos) << r.out;
    r = run_quillon({{"probe", "--json", source.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const std::vector<QJsonObject> objects = json_lines(r);
    ASSERT_EQ(objects.size(), 1u);
    const QJsonObject& o = objects[0];
    EXPECT_EQ(text(o["file"]), source.string());
    EXPECT_EQ(o["streams"].toInt(), 2);
    EXPECT_NEAR(o["info"].toObject()["duration_us"].toDouble(), 1e6, 0.1e6);
    const QJsonObject video = o["video"].toArray()[0].toObject();
    EXPECT_EQ(video["width"].toInt(), 160);
    EXPECT_EQ(video["frame_rate_num"].toInt() / std::max(1, video["frame_rate_den"].toInt()), 25);
    EXPECT_EQ(o["audio"].toArray()[0].toObject()["sample_rate"].toInt(), 48000);
    r = run_quillon({{"probe", (scratch / "missing.mp4").string()}});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("missing.mp4"), std::string::npos) << shown(r);
}

TEST_F(CliTest, FrameWritesThePictureAtThePosition)
{
    const fs::path source = clip("tiny.mp4", tiny_clip());
    ProgramResult r = run_quillon({{"frame", source.string(), "--at", "0.6", "-o", path("f.png")}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const MediaFacts facts = read_media(path("f.png"));
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr) << shown(r);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, "png");
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->width, 160);
    // The first picture the seek reaches at or after the position, as printed.
    std::smatch at;
    ASSERT_TRUE(std::regex_search(r.out, at, std::regex("the picture at ([0-9.]+) s"))) << r.out;
    const double seconds = std::stod(at[1]);
    EXPECT_GE(seconds, 0.6 - 0.001);
    EXPECT_EQ(frame_number_of_picture(path("f.png"), 0), int(std::lround(seconds * 25)));
    r = run_quillon({{"frame", source.string(), "--at", "30", "-o", path("late.png")}});
    EXPECT_EQ(r.exit_code, 1) << shown(r);
    EXPECT_NE(r.err.find("stream eof reached."), std::string::npos) << shown(r);
    EXPECT_FALSE(fs::exists(path("late.png")));
}

} // namespace
} // namespace quillon::test
