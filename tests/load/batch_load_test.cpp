// Load: 200 short files converted in one run on two workers, the way the
// command line does it (probe, choices, records, tasks), with the process's
// memory and open descriptors watched over the run.
#include <gtest/gtest.h>
#include <malloc.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "ChoiceMapping/choice_source.h"
#include "Component/conversion_component.h"
#include "Probe/av_probe.h"
#include "fixtures/fixture.h"
#include "support/media_check.h"
#include "support/test_support.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 200;
constexpr int kEarlySample = 20; // after this many files the run is in its steady state
constexpr double kClipSeconds = 0.4;

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when absent.
long status_kb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

int open_descriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count - 1; // the iterator's own
}

int memory_mappings()
{
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    for (std::string line; std::getline(maps, line);) ++count;
    return count;
}

// Bytes the allocator has handed out and not had back, over every arena.
long heap_in_use_kb()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

// The component of a conversion run, with its end reports counted and the
// resident memory sampled as the chosen files end.
class BatchRun {
public:
    BatchRun()
    {
        component.SetLogLevel(llError);
        component.SetOnTerminate([this](int index, bool finished, bool failed, const std::string& message) {
            on_terminate(index, finished, failed, message);
        });
    }

    // Adds the file as the command line does: probed, its "Auto" choices
    // for the default format mapped onto the records.
    void add(const fs::path& file, const fs::path& folder)
    {
        TAVProbe& probe = component.AVProbe();
        ASSERT_TRUE(probe.LoadFile(file.string())) << probe.LastError();
        const TChoiceSource source = ChoiceSourceFromProbe(probe);
        probe.CloseFile();
        TInputOptions input = BuildInputOptions(source);
        TOutputOptions output = BuildOutputOptions(TOutputChoices{}, folder.string(), source);
        const int task = component.AddTask(file.string(), &input);
        ASSERT_GE(task, 0) << component.LastError();
        ASSERT_TRUE(component.AddOutput(task, output.FileName, &output)) << component.LastError();
        outputs.push_back(output.FileName);
    }

    // Runs every task on `workers` threads; false when the run did not end in time.
    bool run(int workers, std::chrono::seconds timeout)
    {
        component.StartConvert(workers);
        std::unique_lock lock(lock_);
        return ended_.wait_for(lock, timeout, [this] { return run_ended_; });
    }

    TConversionComponent component;
    std::vector<std::string> outputs;
    std::vector<int> sample_after; // file counts at which to sample
    struct Sample {
        long resident_kb, address_space_kb;
        int mappings;
    };
    std::vector<Sample> samples;
    int finished = 0;
    std::vector<std::string> failures;

private:
    void on_terminate(int index, bool done, bool failed, const std::string& message)
    {
        std::lock_guard guard(lock_);
        if (index < 0) {
            run_ended_ = true;
            ended_.notify_all();
            return;
        }
        if (done && !failed) ++finished;
        else failures.push_back(outputs[static_cast<std::size_t>(index)] + ": " + message);
        const int ended = finished + static_cast<int>(failures.size());
        for (int at : sample_after)
            if (ended == at) samples.push_back({status_kb("VmRSS"), status_kb("VmSize"), memory_mappings()});
    }

    std::mutex lock_;
    std::condition_variable ended_;
    bool run_ended_ = false;
};

// Flatness bounds. A conversion of these files allocates a few MB at most
// (decoder, MPEG-1 encoder and muxer buffers at 64x48) and frees it at its
// end, so between file 20 and file 200 resident memory moves only with the
// allocator's arena trimming: 20 MB is far above that noise and below what a
// leak of the size of a job (>110 kB per file over 180 files) would add.
// Memory mappings multiply when something stays mapped per file, such as the
// stack of an ended worker nobody joined (two mappings each, 360 over 180
// files); the allocator's arenas (at most 16 on two cores, two mappings each)
// and the libraries' scratch buffers stay well below 100. The allocator's in-use count does not depend on trimming, so after the tasks
// are freed it must be back within 2 MB of where it was before they were
// added: a leak of 10 kB per file fails that.
constexpr long kRssGrowthLimitKb = 20 * 1024;
constexpr int kMappingGrowthLimit = 100;
constexpr long kHeapGrowthLimitKb = 2 * 1024;

TEST(BatchLoad, TwoHundredShortFilesOnTwoWorkers)
{
    load_libraries();
    ScratchDir sources("load-in");
    ScratchDir outputs("load-out");
    const fs::path model = sources / "model.mpg";
    fixtures::make_clip(model, {.container = fixtures::Container::mpeg_ps, .duration = kClipSeconds, .width = 64,
                                .height = 48, .channels = 1});
    std::vector<fs::path> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(sources / ("clip" + std::to_string(i) + ".mpg"));
        fs::copy_file(model, files.back());
    }

    // One file converted first, so that what the libraries set up once and
    // keep (tables, the log callback's state) is not counted as growth.
    {
        BatchRun warm_up;
        fs::create_directories(outputs / "warm-up");
        warm_up.add(files[0], outputs / "warm-up");
        ASSERT_TRUE(warm_up.run(2, std::chrono::seconds(30)));
        ASSERT_EQ(warm_up.finished, 1) << ::testing::PrintToString(warm_up.failures);
    }
    fs::create_directories(outputs / "run");
    const int descriptors_before = open_descriptors();
    const long heap_before_kb = heap_in_use_kb();

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> written;
    BatchRun::Sample early{}, late{};
    {
        BatchRun batch;
        batch.sample_after = {kEarlySample, kFiles};
        for (const fs::path& file : files) {
            batch.add(file, outputs / "run");
            if (HasFatalFailure()) return;
        }
        ASSERT_TRUE(batch.run(2, std::chrono::seconds(240))) << "the run did not end";
        EXPECT_EQ(batch.finished, kFiles) << ::testing::PrintToString(batch.failures);
        ASSERT_EQ(batch.samples.size(), 2u);
        early = batch.samples[0];
        late = batch.samples[1];
        written = batch.outputs;
        batch.component.ClearTasks();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int descriptors_after = open_descriptors();
    const long heap_after_kb = heap_in_use_kb();
    const long peak_kb = status_kb("VmHWM");

    std::cout << "files: " << kFiles << " in " << seconds << " s\n"
              << "resident after file " << kEarlySample << ": " << early.resident_kb / 1024.0 << " MB, after file "
              << kFiles << ": " << late.resident_kb / 1024.0 << " MB, peak: " << peak_kb / 1024.0 << " MB\n"
              << "address space after file " << kEarlySample << ": " << early.address_space_kb / 1024.0
              << " MB, after file " << kFiles << ": " << late.address_space_kb / 1024.0 << " MB\n"
              << "memory mappings after file " << kEarlySample << ": " << early.mappings << ", after file " << kFiles
              << ": " << late.mappings << "\n"
              << "heap in use before: " << heap_before_kb / 1024.0 << " MB, after: " << heap_after_kb / 1024.0
              << " MB\n"
              << "open descriptors before: " << descriptors_before << ", after: " << descriptors_after << "\n";
    ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
    ::testing::Test::RecordProperty("rss_early_kb", std::to_string(early.resident_kb));
    ::testing::Test::RecordProperty("rss_late_kb", std::to_string(late.resident_kb));
    ::testing::Test::RecordProperty("peak_kb", std::to_string(peak_kb));

    EXPECT_EQ(descriptors_after, descriptors_before) << "open file descriptors leaked";
    EXPECT_LT(late.resident_kb - early.resident_kb, kRssGrowthLimitKb) << "resident memory grew over the run";
    EXPECT_LT(late.mappings - early.mappings, kMappingGrowthLimit) << "memory mappings piled up over the run";
    EXPECT_LT(heap_after_kb - heap_before_kb, kHeapGrowthLimitKb) << "memory left allocated after the run";

    ASSERT_EQ(written.size(), files.size());
    for (const std::string& output : written) {
        SCOPED_TRACE(output);
        const MediaFacts facts = read_media(output);
        ASSERT_TRUE(facts.opened) << facts.error;
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        EXPECT_GT(video->packets, 0);
        EXPECT_NEAR(facts.duration, kClipSeconds, 0.15);
    }
}

} // namespace
} // namespace quillon::test
