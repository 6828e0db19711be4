// The damaged-file corpus through the quillon program itself: every file is
// probed, and each container's files are converted in one run to MPEG-1 and
// in one run to DVD, under a time bound and an address-space cap. A run may
// fail files, but with a message each; it must end by itself, account for
// every file, and leave no output of size 0 behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "hardening/damaged_corpus.h"
#include "support/bounded_child.h"

namespace fs = std::filesystem;
namespace fx = quillon::fixtures;
using namespace quillon::test;

namespace quillon::fixtures {
void PrintTo(Container container, std::ostream* out) { *out << container_info(container).name; }
} // namespace quillon::fixtures

namespace {

constexpr int64_t address_space_cap = int64_t{3} << 30;

ProgramRun bounded(std::vector<std::string> args)
{
    return {.args = std::move(args),
            .timeout = std::chrono::seconds(300),
            .address_space = address_space_cap_possible() ? address_space_cap : 0};
}

void expect_ended_by_itself(const ProgramResult& r, const std::string& what)
{
    EXPECT_FALSE(r.timed_out) << what << ": did not end in time";
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << what << ": exit " << r.exit_code << "\n" << shown(r);
}

// Probes one file: a description, or a message naming the file.
void probe(const fs::path& file)
{
    const ProgramResult r = run_quillon(bounded({"probe", file.string()}));
    const std::string what = "probe " + file.filename().string();
    expect_ended_by_itself(r, what);
    if (r.exit_code == 0) {
        EXPECT_FALSE(r.out.empty()) << what;
    } else {
        EXPECT_NE(r.err.find(file.string() + ": "), std::string::npos) << what << "\n" << r.err;
    }
}

// Every file of the run is done with a readable output or failed with a message.
void expect_every_file_accounted_for(const ProgramResult& r, std::size_t count, const std::string& what)
{
    const std::vector<QJsonObject> events = json_lines(r);
    ASSERT_FALSE(events.empty()) << what << "\n" << shown(r);
    const QJsonObject summary = events.back();
    ASSERT_EQ(text(summary["event"]), "summary") << what;
    const QJsonArray files = summary["files"].toArray();
    ASSERT_EQ(std::size_t(files.size()), count) << what;
    for (const QJsonValue& value : files) {
        const QJsonObject file = value.toObject();
        const std::string name = text(file["file"]) + " " + what;
        const std::string status = text(file["status"]);
        const fs::path output = text(file["output"]);
        std::error_code error;
        if (!output.empty() && fs::exists(output, error)) {
            EXPECT_GT(fs::file_size(output), 0u) << name << ": an empty output was left behind";
        }
        if (status == "done") {
            const MediaFacts facts = read_media(output);
            EXPECT_TRUE(facts.opened && !facts.streams.empty()) << name << ": the output does not read back";
        } else {
            EXPECT_EQ(status, "failed") << name;
            EXPECT_FALSE(text(file["message"]).empty()) << name << ": failed without a message";
        }
    }
}

// Converts all the files in one run to the format; prints the run's figures.
void convert_all(const std::vector<fs::path>& files, const fs::path& outputs, const std::string& format)
{
    std::vector<std::string> args{"convert", "--json", "-f", format, "-O", (outputs / format).string()};
    for (const fs::path& file : files) args.push_back(file.string());
    const ProgramResult r = run_quillon(bounded(args));
    expect_ended_by_itself(r, "convert to " + format);
    expect_every_file_accounted_for(r, files.size(), "to " + format);
    std::cout << "[ corpus   ] " << files.size() << " files to " << format << ": exit " << r.exit_code
              << ", peak resident KiB " << r.peak_kib << "\n";
}

void check_corpus(const std::vector<fs::path>& files, const fs::path& outputs)
{
    for (const fs::path& file : files) probe(file);
    convert_all(files, outputs, "mpeg1");
    convert_all(files, outputs, "dvd");
}

class CorpusThroughTheProgram : public ::testing::TestWithParam<fx::Container> {
protected:
    ScratchDir scratch{"corpus-cli"};
};

TEST_P(CorpusThroughTheProgram, EveryFileIsProbedAndConvertedOrFailedWithAMessage)
{
    const auto& info = fx::container_info(GetParam());
    const fs::path good = clip(std::string("good") + std::string(info.extension), corpus::source_spec(GetParam()));
    std::vector<fs::path> files;
    ASSERT_NO_THROW(files = corpus::make_files(GetParam(), good, scratch.path()));
    check_corpus(files, scratch.path());
}

INSTANTIATE_TEST_SUITE_P(Containers, CorpusThroughTheProgram, ::testing::ValuesIn(corpus::containers()),
                         [](const auto& info) { return std::string(fx::container_info(info.param).name); });

TEST(CorpusThroughTheProgramNotMedia, EmptyTextAndFolderNamedLikeVideosFailWithAMessage)
{
    ScratchDir scratch{"corpus-cli-not-media"};
    const fs::path good = clip("good.mp4", corpus::source_spec(fx::Container::mp4));
    check_corpus(corpus::make_not_media(good, scratch.path()), scratch.path());
}

} // namespace
