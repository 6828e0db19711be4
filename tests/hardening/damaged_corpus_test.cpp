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
#include "fixtures/container_table.h"
#include "support/bounded_child.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"

namespace fs = std::filesystem;
namespace fx = quillon::fixtures;
using namespace quillon;
using namespace quillon::test;
using fx::Container;
using fx::Damage;

namespace quillon::fixtures {
// Names the container in test listings instead of its bytes.
void PrintTo(Container container, std::ostream* out) { *out << container_info(container).name; }
} // namespace quillon::fixtures

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

const Options mpeg1_options{{"vcodec", "mpeg1video"}, {"acodec", "mp2"}};
const Options dvd_options{{"target", "pal-dvd"}};

// One damaged file: how to make it from the good clip of its container.
struct Case {
    std::string label;
    std::function<void(const fs::path& good, const fs::path& damaged)> make;
};

Case damaged(const std::string& label, Damage damage, double where, unsigned seed = 1)
{
    return {label, [=](const fs::path& good, const fs::path& out) { fx::damage_file(good, out, damage, where, seed); }};
}

// A copy of the good clip with `bytes` written `offset` bytes after `marker`.
Case patched(const std::string& label, std::string_view marker, size_t offset, std::string_view bytes, bool every = false)
{
    return {label, [=, marker = std::string(marker), bytes = std::string(bytes)](const fs::path& good, const fs::path& out) {
                fs::copy_file(good, out, fs::copy_options::overwrite_existing);
                fx::patch_after(out, marker, offset, bytes, every);
            }};
}

std::string raw(std::initializer_list<unsigned char> values) { return {values.begin(), values.end()}; }

// Damage that fits every container: cuts, inverted bytes, zeros and garbage.
std::vector<Case> common_damage()
{
    return {
        damaged("cut-at-3%", Damage::truncated, 0.03),      damaged("cut-at-60%", Damage::truncated, 0.6),
        damaged("flipped-header", Damage::flipped, 0.0, 3), damaged("flipped-middle", Damage::flipped, 0.5, 4),
        damaged("zeroed-middle", Damage::zeroed, 0.5),      damaged("garbage-at-30%", Damage::garbage_middle, 0.3, 5),
    };
}

// The MPEG video sequence header: 12-bit width and height, then aspect and rate codes.
std::vector<Case> sequence_header_patches()
{
    const std::string header = raw({0, 0, 1, 0xb3});
    return {
        patched("size-4095x4095", header, 4, raw({0xff, 0xff, 0xff}), true),
        patched("size-0x0", header, 4, raw({0, 0, 0}), true),
        patched("forbidden-rate-code", header, 7, raw({0x1f}), true),
    };
}

// Absurd header values, per container.
std::vector<Case> header_patches(Container container)
{
    switch (container) {
    case Container::mp4: {
        const std::string video_entry = "avc1" + raw({0, 0, 0, 0, 0, 0, 0, 1});
        return {
            patched("timescale-1", "mdhd", 16, raw({0, 0, 0, 1}), true),
            patched("timescale-0", "mdhd", 16, raw({0, 0, 0, 0}), true),
            patched("size-65535x65535", video_entry, 28, raw({0xff, 0xff, 0xff, 0xff})),
            patched("sample-delta-huge", "stts", 16, raw({0x7f, 0xff, 0xff, 0xff}), true),
        };
    }
    case Container::matroska:
        return {
            patched("frame-duration-1ns", raw({0x23, 0xe3, 0x83, 0x84}), 4, raw({0, 0, 0, 1})),
            patched("width-65535", raw({0xb0, 0x82, 0x01, 0x40}), 2, raw({0xff, 0xff})),
            patched("timecode-scale-1", raw({0x2a, 0xd7, 0xb1, 0x83, 0x0f, 0x42, 0x40}), 4, raw({0, 0, 1})),
            patched("sample-rate-max-double", raw({0xb5, 0x88, 0x40, 0xe7, 0x70}), 2,
                    raw({0x7f, 0xef, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})),
            patched("channels-255", raw({0x9f, 0x81, 0x02}), 2, raw({0xff})),
        };
    case Container::avi:
        return {
            patched("1us-per-frame", "avih", 8, raw({1, 0, 0, 0})),
            patched("rate-2147483647", "strh", 28, raw({1, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f})),
            patched("rate-scale-0", "strh", 28, raw({0, 0, 0, 0})),
            patched("size-2147483647", "strf", 12, raw({0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff, 0x7f})),
        };
    case Container::mpeg_ps:
    case Container::mpeg1_system: return sequence_header_patches();
    case Container::mpeg_ts: {
        std::vector<Case> cases = sequence_header_patches();
        cases.push_back(patched("unknown-stream-type", raw({0x47, 0x50, 0x00}), 17, raw({0xff})));
        return cases;
    }
    case Container::wav:
        return {
            patched("channels-0", "fmt ", 10, raw({0, 0})),
            patched("rate-2147483647", "fmt ", 12, raw({0xff, 0xff, 0xff, 0x7f})),
            patched("block-align-0", "fmt ", 20, raw({0, 0})),
            patched("bits-65535", "fmt ", 22, raw({0xff, 0xff})),
        };
    case Container::mp3:
        return {
            patched("bad-frame-header", raw({0xff, 0xfb}), 2, raw({0xfc})),
            patched("frame-count-huge", "Info", 8, raw({0x7f, 0xff, 0xff, 0xff})),
            patched("tag-size-huge", "ID3", 6, raw({0x7f, 0x7f, 0x7f, 0x7f})),
        };
    case Container::png:
        return {
            patched("size-2147483647", "IHDR", 4, raw({0x7f, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff})),
            patched("width-0", "IHDR", 4, raw({0, 0, 0, 0})),
            patched("bit-depth-3", "IHDR", 12, raw({3})),
        };
    case Container::jpeg:
        return {
            patched("size-65535x65535", raw({0xff, 0xc0}), 5, raw({0xff, 0xff, 0xff, 0xff})),
            patched("size-0x0", raw({0xff, 0xc0}), 5, raw({0, 0, 0, 0})),
            patched("quant-table-length-huge", raw({0xff, 0xdb}), 2, raw({0xff, 0xff})),
        };
    }
    return {};
}

fx::ClipSpec source_spec(Container container)
{
    fx::ClipSpec spec{.container = container, .duration = 1.0};
    const auto content = fx::container_info(container).content;
    if (content == fx::Content::audio_only) spec.video = false;
    if (content == fx::Content::still) spec.audio = false;
    return spec;
}

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
    const fs::path good = clip(std::string("good") + std::string(info.extension), source_spec(GetParam()));
    std::vector<Case> cases = common_damage();
    for (Case& c : header_patches(GetParam())) cases.push_back(std::move(c));
    fs::create_directories(scratch.path() / "out");
    int index = 0;
    for (const Case& c : cases) {
        // Every other file takes a name outside the C locale's character set,
        // so it is read through the file-name layer's own I/O.
        const std::string name = c.label + (index++ % 2 ? "-\xc3\xa9t\xc3\xa9" : "") + std::string(info.extension);
        const fs::path file = scratch / name;
        ASSERT_NO_THROW(c.make(good, file)) << name;
        check_file(file, scratch.path() / "out", std::string(info.name) + " " + name);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedCorpus,
                         ::testing::Values(Container::mp4, Container::matroska, Container::avi, Container::mpeg_ps,
                                           Container::mpeg1_system, Container::mpeg_ts, Container::wav,
                                           Container::mp3, Container::png, Container::jpeg),
                         [](const auto& info) { return std::string(fx::container_info(info.param).name); });

class NotMedia : public ::testing::Test {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"not-media"};
};

TEST_F(NotMedia, EmptyTextAndFolderNamedLikeVideosAreRefusedClearly)
{
    const fs::path good = clip("good.mp4", source_spec(Container::mp4));
    fs::create_directories(scratch.path() / "out");
    std::vector<fs::path> files;
    for (const char* name : {"empty.mp4", "empty-\xc3\xa9.mpg"}) {
        fx::damage_file(good, scratch / name, Damage::zero_length);
        files.push_back(scratch / name);
    }
    for (const char* name : {"notes.avi", "notes.mkv", "notes-\xc3\xa9.vob", "notes.ts"}) {
        fx::damage_file(good, scratch / name, Damage::not_media);
        files.push_back(scratch / name);
    }
    for (const char* name : {"folder.mkv", "folder-\xc3\xa9.mp4"}) {
        fs::create_directories(scratch / name);
        files.push_back(scratch / name);
    }
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
    const fs::path good = clip("good.png", source_spec(Container::png));
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
