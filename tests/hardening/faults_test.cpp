// Faults around a run of the conversion component: an output folder that is
// missing, not writable or read-only, a disk that fills up, an input that is
// cut short or removed while it is read, stop, pause and resume at random
// moments, and one input converted by four tasks at once. Every scenario runs
// in a bounded child process, so a deadlock or a crash fails the test.
#include <gtest/gtest.h>

#include <sched.h>
#include <grp.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "component/component_fixture.h"
#include "support/bounded_child.h"
#include "support/media_check.h"

namespace fs = std::filesystem;
using namespace quillon;
using namespace quillon::test;
using namespace std::chrono_literals;

namespace {

std::string file_bytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One line per terminate event: "index finished|failed|stopped[: message]".
std::string end_lines(const EventRecorder& recorder)
{
    std::ostringstream lines;
    for (const Event& end : recorder.terminations()) {
        lines << end.index << " " << (end.exception ? "failed" : end.finished ? "finished" : "stopped");
        if (!end.text.empty()) lines << ": " << end.text;
        lines << "\n";
    }
    return lines.str();
}

// A component of its own in the child, with the recorder attached.
struct ChildRun {
    ChildRun()
    {
        recorder.attach(component);
        component.SetProgressInterval(100);
    }
    // Adds a task; "" when it worked, else what failed and why.
    // As the application does, a task whose output cannot be added leaves the list.
    std::string add(const fs::path& input, const fs::path& output, TOutputOptions out = {}, const std::string& in_ext = {})
    {
        TInputOptions in;
        in.ExtOptions = in_ext;
        const int index = component.AddTask(input.string(), &in);
        if (index < 0) return "AddTask: " + component.LastError();
        if (component.AddOutput(index, output.string(), &out)) return {};
        const std::string error = "AddOutput: " + component.LastError();
        component.RemoveTask(index);
        return error;
    }
    TConversionComponent component;
    EventRecorder recorder;
};

TOutputOptions mpeg1_output()
{
    TOutputOptions out;
    out.VideoCodec = "mpeg1video";
    out.AudioCodec = "mp2";
    return out;
}

ChildLimits fault_limits(double seconds = 60)
{
    ChildLimits limits;
    limits.seconds = seconds;
    limits.address_space = int64_t{4} << 30;
    return limits;
}

// Runs the body in a child and returns its text, failing the test on a crash or hang.
std::string in_child(const std::function<std::string()>& body, const ChildLimits& limits = fault_limits())
{
    const ChildOutcome outcome = run_bounded(body, limits);
    EXPECT_TRUE(outcome.ok()) << outcome.describe() << "\n" << outcome.errors;
    EXPECT_EQ(outcome.text.find("[memory leaked"), std::string::npos) << outcome.errors;
    return outcome.text;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"faults"};
};

// ---- Private mounts and a dropped superuser -------------------------------------

bool write_text(const char* file, const std::string& text)
{
    std::ofstream out(file);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

// Gives the calling child a mount table of its own: directly for the
// superuser, else inside a user namespace of its own. False when the machine
// allows neither (no privilege, user namespaces turned off).
bool private_mount_table()
{
    if (unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !write_text("/proc/self/setgroups", "deny") ||
            !write_text("/proc/self/uid_map", "0 " + uid + " 1") || !write_text("/proc/self/gid_map", "0 " + gid + " 1"))
            return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// A small file system over the folder, seen by this child only.
bool mount_small_file_system(const fs::path& folder, unsigned long flags, const char* size)
{
    return private_mount_table() &&
           mount("quillon-faults", folder.c_str(), "tmpfs", flags, (std::string("size=") + size).c_str()) == 0;
}

// The superuser writes into any folder: the child gives that up for good.
bool drop_superuser()
{
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 && geteuid() != 0;
}

// ---- Output folders -----------------------------------------------------------

enum class Folder { missing, not_writable, read_only_file_system };

// Makes the folder unusable for this child; false when this machine cannot.
bool spoil(Folder kind, const fs::path& folder)
{
    switch (kind) {
    case Folder::missing: return true;
    case Folder::not_writable:
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
        return drop_superuser();
    case Folder::read_only_file_system:
        fs::create_directories(folder);
        return mount_small_file_system(folder, MS_RDONLY, "1m");
    }
    return false;
}

struct FolderCase {
    const char* name;
    Folder kind;
};
void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.name; }

class FaultsOutputFolder : public ::testing::TestWithParam<FolderCase> {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"faults-folder"};
};

// The task whose output cannot be created is refused with the reason and
// leaves the list; the other task of the run converts.
TEST_P(FaultsOutputFolder, GivesAClearErrorForThatFileAndTheOthersGoOn)
{
    const FolderCase& c = GetParam();
    const fs::path input = tiny_clip(0.4);
    const fs::path good = scratch / "good";
    fs::create_directories(good);
    fs::permissions(good, fs::perms::all); // a child that gave up the superuser writes here too
    const fs::path folder = scratch / "bad";
    const fs::path bad_output = folder / "out.mpg";
    const fs::path good_output = good / "out.mpg";
    const std::string text = in_child([&]() -> std::string {
        if (!spoil(c.kind, folder)) return "unavailable";
        ChildRun run;
        const std::string refused = run.add(input, bad_output, mpeg1_output());
        if (const std::string other = run.add(input, good_output, mpeg1_output()); !other.empty()) return other;
        run.component.StartConvert(0);
        return refused + "\n" + end_lines(run.recorder);
    });
    if (text == "unavailable") GTEST_SKIP() << c.name << ": this machine cannot make it happen";
    EXPECT_EQ(text, "AddOutput: Could not open '" + bad_output.string() + "'\n0 finished\n-1 finished\n");
    EXPECT_EQ(count_decoded_video_frames(good_output), 10) << "the other file converts";
    EXPECT_FALSE(fs::exists(bad_output));
}

INSTANTIATE_TEST_SUITE_P(Unusable, FaultsOutputFolder,
                         ::testing::Values(FolderCase{"missing", Folder::missing},
                                           FolderCase{"not_writable", Folder::not_writable},
                                           FolderCase{"read_only_file_system", Folder::read_only_file_system}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A full disk ----------------------------------------------------------------

enum class FullDisk { file_size_limit, small_file_system };
std::string name_of(FullDisk kind) { return kind == FullDisk::file_size_limit ? "FileSizeLimit" : "SmallFileSystem"; }
void PrintTo(FullDisk kind, std::ostream* out) { *out << name_of(kind); }

class FaultsFullDisk : public ::testing::TestWithParam<FullDisk> {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"faults-disk"};
};

// Three files, the middle one far larger than the 100 KiB of room; the first
// fits. The middle job fails with the reason, the run goes on, and the inputs
// are untouched.
TEST_P(FaultsFullDisk, FailsTheFileThatDoesNotFitAndTheRunGoesOn)
{
    const bool size_limit = GetParam() == FullDisk::file_size_limit;
    fixtures::ClipSpec big_spec{.container = fixtures::Container::mp4, .duration = 2.0};
    big_spec.width = 640;
    big_spec.height = 480;
    const fs::path big = clip("faults-big.mp4", big_spec);
    const fs::path small = tiny_clip(0.4);
    const std::string big_before = file_bytes(big), small_before = file_bytes(small);
    const fs::path folder = scratch / "out";
    fs::create_directories(folder);
    ChildLimits limits = fault_limits();
    if (size_limit) limits.file_size = 100 * 1024;
    const std::string text = in_child(
        [&]() -> std::string {
            if (!size_limit && !mount_small_file_system(folder, 0, "100k")) return "unavailable";
            ChildRun run;
            TOutputOptions large = mpeg1_output();
            large.VideoBitrate = 8000000;
            large.FrameSize = "640x480";
            for (const auto& [input, output, options] :
                 {std::tuple{small, folder / "first.mpg", mpeg1_output()}, {big, folder / "big.mpg", large},
                  {small, folder / "last.mpg", mpeg1_output()}})
                if (const std::string failed = run.add(input, output, options); !failed.empty()) return failed;
            run.component.StartConvert(1);
            if (!run.recorder.wait_for_end()) return "no end of run";
            std::string frames;
            for (const char* name : {"first.mpg", "last.mpg"})
                frames += std::to_string(fs::exists(folder / name) ? count_decoded_video_frames(folder / name) : -1) + " ";
            return end_lines(run.recorder) + frames;
        },
        limits);
    if (text == "unavailable") GTEST_SKIP() << "this machine cannot mount a small file system";
    std::istringstream lines(text);
    std::string first, middle, last, end, frames;
    std::getline(lines, first), std::getline(lines, middle), std::getline(lines, last), std::getline(lines, end);
    std::getline(lines, frames);
    EXPECT_EQ(first, "0 finished") << text;
    const std::string reason = size_limit ? "File too large" : "No space left on device";
    EXPECT_EQ(middle, "1 failed: av_interleaved_write_frame(): " + reason) << text;
    EXPECT_EQ(end, "-1 finished") << text;
    if (size_limit) {
        EXPECT_EQ(last, "2 finished") << text;
        EXPECT_EQ(frames, "10 10 ") << "first and last file play whole";
    } else {
        // The full file system has no room left for the last file either: it
        // fails with the reason rather than finishing without an output, and
        // leaves no empty file behind.
        EXPECT_EQ(last, "2 failed: av_write_trailer(): " + reason) << text;
        EXPECT_EQ(frames, "10 -1 ") << "the first file plays whole, the last one is gone";
    }
    EXPECT_TRUE(file_bytes(big) == big_before && file_bytes(small) == small_before) << "an input was changed";
}

INSTANTIATE_TEST_SUITE_P(Write, FaultsFullDisk, ::testing::Values(FullDisk::file_size_limit, FullDisk::small_file_system),
                         [](const auto& info) { return name_of(info.param); });

// ---- The input changes under the job ---------------------------------------------

// The job reads at the clip's own pace, so it is still reading when the file
// changes on any machine. A cut input ends the job early (or fails it) with a
// shorter output; a removed input is still read through the open file.
TEST_F(Faults, InputCutShortOrRemovedWhileReadEndsTheJobCleanly)
{
    const fs::path source = tiny_clip(2.0);
    constexpr int all_frames = 50;
    for (const bool cut : {true, false}) {
        const char* what = cut ? "cut short" : "removed";
        const fs::path input = scratch / (std::string(what) + ".mpg");
        fs::copy_file(source, input, fs::copy_options::overwrite_existing);
        const fs::path output = scratch / (std::string(what) + "-out.mpg");
        const std::string text = in_child([&]() -> std::string {
            ChildRun run;
            if (const std::string failed = run.add(input, output, mpeg1_output(), "re"); !failed.empty()) return failed;
            run.component.StartConvert(1);
            if (!run.recorder.wait_for_progress(0)) return "no progress";
            if (cut) fs::resize_file(input, fs::file_size(input) / 2);
            else fs::remove(input);
            if (!run.recorder.wait_for_end()) return "no end of run";
            return end_lines(run.recorder);
        });
        EXPECT_TRUE(text.ends_with("-1 finished\n")) << what << ": " << text;
        const int frames = fs::exists(output) ? count_decoded_video_frames(output) : 0;
        if (cut) {
            EXPECT_TRUE(text.starts_with("0 finished\n") || text.starts_with("0 failed: ")) << what << ": " << text;
            EXPECT_TRUE(frames > 0 && frames < all_frames) << what << ": " << frames << " frames";
        } else {
            EXPECT_EQ(text, "0 finished\n-1 finished\n") << what;
            EXPECT_EQ(frames, all_frames) << what;
        }
    }
}

// ---- Stop, pause and resume at random moments --------------------------------------

// One run of three paced tasks on two workers under a schedule drawn from the
// seed: up to four steps within the 0.4 s the run lasts when left alone.
std::string random_run(unsigned seed, const fs::path& input, const fs::path& folder)
{
    std::mt19937 random(seed);
    ChildRun run;
    for (int i = 0; i < 3; ++i)
        if (const std::string failed = run.add(input, folder / (std::to_string(i) + ".mpg"), mpeg1_output(), "re");
            !failed.empty())
            return failed;
    run.component.StartConvert(2);
    bool paused = false;
    const int steps = std::uniform_int_distribution<int>(1, 4)(random);
    for (int step = 0; step < steps; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 100)(random)));
        switch (std::uniform_int_distribution<int>(0, 3)(random)) {
        case 0: run.component.PauseConvert(), paused = true; break;
        case 1: run.component.ResumeConvert(), paused = false; break;
        case 2: run.component.StopConvert(); break;
        default: break; // let it run
        }
    }
    if (paused) run.component.ResumeConvert();
    if (!run.recorder.wait_for_end(30s)) return "no end of run (deadlock?)\n" + end_lines(run.recorder);
    std::this_thread::sleep_for(30ms); // an end report after the end of run would show here
    return end_lines(run.recorder);
}

TEST_F(Faults, StopPauseAndResumeAtRandomMomentsEndEveryTaskExactlyOnce)
{
    const fs::path input = tiny_clip(0.2);
    constexpr int all_frames = 5;
    int completed = 0, stopped = 0;
    for (unsigned seed = 1; seed <= 50; ++seed) {
        const fs::path folder = scratch / ("run" + std::to_string(seed));
        fs::create_directories(folder);
        const std::string text = in_child([&] { return random_run(seed, input, folder); });
        std::vector<int> ends(4, 0);
        std::istringstream lines(text);
        std::string state, rest;
        int index = 0, last_index = 0;
        while (lines >> index >> state) {
            std::getline(lines, rest);
            ASSERT_TRUE(index >= -1 && index < 3) << "seed " << seed << ":\n" << text;
            ++ends[index + 1];
            last_index = index;
            EXPECT_NE(state, "failed") << "seed " << seed << ":\n" << text;
            if (index < 0) continue;
            if (state == "finished") {
                ++completed;
                const fs::path output = folder / (std::to_string(index) + ".mpg");
                EXPECT_EQ(count_decoded_video_frames(output), all_frames) << "seed " << seed << ", task " << index;
            } else {
                ++stopped;
            }
        }
        EXPECT_EQ(ends, (std::vector<int>{1, 1, 1, 1})) << "seed " << seed << ": one end per task and per run\n" << text;
        EXPECT_EQ(last_index, -1) << "seed " << seed << ": the end of the run comes last\n" << text;
    }
    std::cout << "[ faults   ] 50 runs: " << completed << " tasks completed, " << stopped << " stopped\n";
    EXPECT_GT(completed, 0);
    EXPECT_GT(stopped, 0);
}

// ---- One input, four formats at once -----------------------------------------------

TEST_F(Faults, FourTasksConvertOneInputIntoFourFormatsAtOnce)
{
    const fs::path input = clip("faults-four.mp4", {.container = fixtures::Container::mp4, .duration = 1.0});
    struct Format {
        const char* file;
        int target; // TOutputOptions::Target, 0 for none
        const char* codec;
        int width, height;
    };
    const Format formats[] = {{"plain.mpg", 0, "mpeg1video", 320, 240},
                              {"vcd.mpg", 1, "mpeg1video", 352, 288},
                              {"svcd.mpg", 2, "mpeg2video", 480, 576},
                              {"dvd.vob", 3, "mpeg2video", 720, 576}};
    const std::string text = in_child([&]() -> std::string {
        ChildRun run;
        for (const Format& format : formats) {
            TOutputOptions out = format.target ? TOutputOptions{} : mpeg1_output();
            out.Target = format.target;
            out.TargetNorm = 1;
            if (const std::string failed = run.add(input, scratch / format.file, out); !failed.empty()) return failed;
        }
        run.component.StartConvert(4);
        if (!run.recorder.wait_for_end()) return "no end of run";
        return end_lines(run.recorder);
    });
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(text.find(std::to_string(i) + " finished\n"), std::string::npos) << formats[i].file << ":\n" << text;
    for (const Format& format : formats) {
        const MediaFacts facts = read_media(scratch / format.file);
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr) << format.file;
        EXPECT_EQ(video->codec, format.codec) << format.file;
        EXPECT_EQ(video->width, format.width) << format.file;
        EXPECT_EQ(video->height, format.height) << format.file;
        EXPECT_NE(facts.first(AVMEDIA_TYPE_AUDIO), nullptr) << format.file;
        EXPECT_EQ(count_decoded_video_frames(scratch / format.file), 25) << format.file;
    }
}

} // namespace
