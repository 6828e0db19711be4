// A corpus of damaged files, made from generated clips of every container we
// read: cut short, bytes inverted, zeroed or overwritten, absurd values patched
// into the headers, and things that only look like media. Each file is probed
// and converted to MPEG-1 and to DVD-like MPEG-2, each in a child process with
// a time bound and an address-space cap. Every run must end by itself with a
// result or a clear message, and leave no output of size 0 behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Probe/av_probe.h"
#include "hardening/damaged_corpus.h"
#include "support/bounded_child.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"

namespace fs = std::filesystem;
namespace fx = quillon::fixtures;
using namespace quillon;
using namespace quillon::test;
using fx::Container;
using fx::Damage;
namespace corpus = quillon::test::corpus;

namespace quillon::fixtures {
// Names the container in test listings instead of its bytes.
void PrintTo(Container container, std::ostream* out) { *out << container_info(container).name; }
} // namespace quillon::fixtures

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

const Options mpeg1_options{{"vcodec", "mpeg1video"}, {"acodec", "mp2"}};
const Options dvd_options{{"target", "pal-dvd"}};

// ---- What runs in the child -------------------------------------------------

std::string probe_file(const fs::path& file)
{
    TAVProbe probe;
    if (!probe.LoadFile(file.string())) return "not loaded: " + probe.LastError();
    const std::string info = probe.InfoText();
    if (info.empty()) return "loaded, but no information text";
    std::string result = "loaded, " + std::to_string(probe.StreamCount()) + " streams";
    if (probe.FirstVideoStream() < 0) return result;
    for (int64_t position : {int64_t{0}, int64_t{500000}}) {
        const TBitmap& picture = probe.GetFrameBitmap(-1, position);
        if (picture.Empty() && probe.LastError().empty()) return result + "; no picture and no reason";
        result += picture.Empty() ? "; no picture: " + probe.LastError() : "; picture";
    }
    return result;
}

std::string convert_file(const fs::path& input, const fs::path& output, const Options& options)
{
    RecordingEngine engine;
    if (!engine.open_input_file(input.string())) return "input refused: " + engine.last_error;
    for (const auto& [name, value] : options) engine.parse_option(name, value);
    if (engine.open_output_file(output.string()) < 1) return "output refused: " + engine.last_error;
    engine.start_job(false);
    if (engine.failed) return "failed: " + engine.error_message;
    return engine.finished ? "converted" : "not finished";
}

// ---- Judging the outcome ----------------------------------------------------

bool has_reason(const std::string& text, const std::string& prefix)
{
    return text.starts_with(prefix) && text.size() > prefix.size() + 2;
}

void expect_probe_outcome(const ChildOutcome& outcome, const std::string& what)
{
    ASSERT_TRUE(outcome.ok()) << what << ": prober " << outcome.describe() << "\n" << outcome.errors;
    EXPECT_TRUE(has_reason(outcome.text, "not loaded: ") || outcome.text.starts_with("loaded, "))
        << what << ": " << outcome.text;
    EXPECT_EQ(outcome.text.find("no reason"), std::string::npos) << what << ": " << outcome.text;
}

void expect_conversion_outcome(const ChildOutcome& outcome, const fs::path& output, const std::string& what)
{
    ASSERT_TRUE(outcome.ok()) << what << ": conversion " << outcome.describe() << "\n" << outcome.errors;
    const std::string& text = outcome.text;
    const bool refused = has_reason(text, "input refused: ") || has_reason(text, "output refused: ");
    EXPECT_TRUE(text == "converted" || refused || has_reason(text, "failed: ")) << what << ": " << text;
    std::error_code error;
    if (fs::exists(output, error)) {
        EXPECT_GT(fs::file_size(output), 0u) << what << ": an empty output was left behind";
        EXPECT_FALSE(refused) << what << ": a refused job left an output";
    }
    if (text == "converted") {
        const MediaFacts facts = read_media(output);
        EXPECT_TRUE(facts.opened && !facts.streams.empty()) << what << ": the output does not read back";
    }
}

ChildLimits case_limits()
{
    ChildLimits limits;
    limits.seconds = 60;
    limits.address_space = int64_t{3} << 30;
    return limits;
}

// Probes and converts one file, each step in its own child; prints one line.
void check_file(const fs::path& file, const fs::path& outputs, const std::string& what)
{
    const ChildLimits limits = case_limits();
    const ChildOutcome probed = run_bounded([&] { return probe_file(file); }, limits);
    expect_probe_outcome(probed, what);

    const fs::path mpeg1 = outputs / (file.filename().string() + ".mpg");
    const ChildOutcome converted = run_bounded([&] { return convert_file(file, mpeg1, mpeg1_options); }, limits);
    expect_conversion_outcome(converted, mpeg1, what + " to MPEG-1");

    const fs::path dvd = outputs / (file.filename().string() + ".dvd.mpg");
    const ChildOutcome authored = run_bounded([&] { return convert_file(file, dvd, dvd_options); }, limits);
    expect_conversion_outcome(authored, dvd, what + " to DVD");

    std::cout << "[ corpus   ] " << what << "\n             probe: " << probed.text
              << "\n             MPEG-1: " << converted.text << "\n             DVD: " << authored.text
              << "\n             peak resident KiB " << std::max({probed.peak_kib, converted.peak_kib, authored.peak_kib})
              << "\n";
}

class DamagedCorpus : public ::testing::TestWithParam<Container> {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"corpus"};
};

TEST_P(DamagedCorpus, EveryDamagedFileIsProbedAndConvertedOrRefusedClearly)
{
    const auto& info = fx::container_info(GetParam());
    const fs::path good = clip(std::string("good") + std::string(info.extension), corpus::source_spec(GetParam()));
    fs::create_directories(scratch.path() / "out");
    std::vector<fs::path> files;
    ASSERT_NO_THROW(files = corpus::make_files(GetParam(), good, scratch.path()));
    for (const fs::path& file : files)
        check_file(file, scratch.path() / "out", std::string(info.name) + " " + file.filename().string());
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedCorpus, ::testing::ValuesIn(corpus::containers()),
                         [](const auto& info) { return std::string(fx::container_info(info.param).name); });

class NotMedia : public ::testing::Test {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"not-media"};
};

TEST_F(NotMedia, EmptyTextAndFolderNamedLikeVideosAreRefusedClearly)
{
    const fs::path good = clip("good.mp4", corpus::source_spec(Container::mp4));
    fs::create_directories(scratch.path() / "out");
    const std::vector<fs::path> files = corpus::make_not_media(good, scratch.path());
    for (const fs::path& file : files) {
        const ChildLimits limits = case_limits();
        const std::string what = file.filename().string();
        const ChildOutcome probed = run_bounded([&] { return probe_file(file); }, limits);
        expect_probe_outcome(probed, what);
        EXPECT_TRUE(probed.text.starts_with("not loaded: " + file.string() + ": ")) << probed.text;
        const fs::path output = scratch.path() / "out" / (what + ".mpg");
        const ChildOutcome converted = run_bounded([&] { return convert_file(file, output, mpeg1_options); }, limits);
        expect_conversion_outcome(converted, output, what);
        EXPECT_TRUE(converted.text.starts_with("input refused: " + file.string() + ": ")) << converted.text;
        std::cout << "[ corpus   ] " << what << "\n             probe: " << probed.text
                  << "\n             MPEG-1: " << converted.text << "\n";
    }
}

// A picture whose data no longer decodes gives the converter no frame at all:
// the job must fail with its reason and leave no output, not report success.
TEST_F(NotMedia, InputWithoutOneDecodableFrameFailsTheJob)
{
    const fs::path good = clip("good.png", corpus::source_spec(Container::png));
    const fs::path broken = scratch / "broken.png";
    fx::damage_file(good, broken, Damage::zeroed, 0.5);
    const fs::path output = scratch / "broken.mpg";
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(broken.string())) << engine.last_error;
    for (const auto& [name, value] : mpeg1_options) engine.parse_option(name, value);
    ASSERT_EQ(engine.open_output_file(output.string()), 1) << engine.last_error;
    engine.start_job(false);
    EXPECT_TRUE(engine.failed);
    EXPECT_FALSE(engine.finished);
    EXPECT_EQ(engine.error_message, "Nothing was written to the output: no frame of the input could be converted");
    EXPECT_EQ(engine.ends, 1);
    EXPECT_FALSE(fs::exists(output)) << "the empty output stays behind";
}

} // namespace
