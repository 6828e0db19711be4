// The batch figure: 8 generated clips (10 s, 320x240, stereo) converted to
// MPEG-1 by the quillon program with -j 1 and with -j 2; files per minute
// for each and their ratio, for the whole program (start, library loading
// and probing every file included) and for its conversion phase alone (from
// the first progress line to the last end line). Each setting runs `runs`
// times (default 2) in turn and the fastest counts, as the machine may be
// shared.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fixtures/fixture.h"
#include "program_run.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

constexpr int kClips = 8;

std::vector<std::string> make_clips(const fs::path& work)
{
    const fs::path model = work / "batch-320x240-10s.mp4";
    if (!fs::exists(model)) {
        const fs::path partial = work / "batch-partial.mp4";
        fixtures::make_clip(partial, {.container = fixtures::Container::mp4, .duration = 10});
        fs::rename(partial, model);
    }
    std::vector<std::string> clips;
    for (int i = 0; i < kClips; ++i) {
        const fs::path copy = work / ("batch-clip" + std::to_string(i) + ".mp4");
        if (!fs::exists(copy)) fs::copy_file(model, copy);
        clips.push_back(copy.string());
    }
    return clips;
}

struct BatchTimes {
    double whole = -1; // -1: the program failed
    double conversions = 0;
};

BatchTimes convert_batch(const std::vector<std::string>& clips, const fs::path& out, int jobs)
{
    fs::remove_all(out);
    std::vector<std::string> args{"convert", "--json", "-f", "mpeg1", "-j", std::to_string(jobs), "-O", out.string()};
    args.insert(args.end(), clips.begin(), clips.end());
    double first_progress = -1, last_end = 0;
    bench::ProgramWatch watch;
    watch.on_line = [&](const std::string& line) {
        if (line.find("\"event\":\"progress\"") != std::string::npos && first_progress < 0)
            first_progress = bench::seconds_now();
        if (line.find("\"event\":\"end\"") != std::string::npos) last_end = bench::seconds_now();
    };
    const bench::ProgramOutcome run = bench::run_program(bench::quillon_program(), args, watch);
    fs::remove_all(out);
    if (run.exit_code != 0) return {};
    return {run.seconds, last_end - first_progress};
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quillon-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    fs::create_directories(work);
    const std::vector<std::string> clips = make_clips(work);

    BatchTimes best[3] = {{}, {1e9, 1e9}, {1e9, 1e9}}; // by jobs
    for (int run = 0; run < runs; ++run) {
        for (int jobs : {1, 2}) {
            const BatchTimes times = convert_batch(clips, work / "batch-out", jobs);
            if (times.whole < 0) {
                std::printf("the batch with -j %d failed\n", jobs);
                return 1;
            }
            std::printf("run %d, -j %d: %.2f s (conversions %.2f s)\n", run + 1, jobs, times.whole, times.conversions);
            best[jobs].whole = std::min(best[jobs].whole, times.whole);
            best[jobs].conversions = std::min(best[jobs].conversions, times.conversions);
        }
    }
    const auto per_minute = [](double seconds) { return kClips * 60.0 / seconds; };
    std::printf("whole program:    -j 1 %.1f files/min (%.2f s), -j 2 %.1f files/min (%.2f s), ratio %.2f\n",
                per_minute(best[1].whole), best[1].whole, per_minute(best[2].whole), best[2].whole,
                best[1].whole / best[2].whole);
    std::printf("conversion phase: -j 1 %.1f files/min (%.2f s), -j 2 %.1f files/min (%.2f s), ratio %.2f\n",
                per_minute(best[1].conversions), best[1].conversions, per_minute(best[2].conversions),
                best[2].conversions, best[1].conversions / best[2].conversions);
    std::printf("target: ratio >= 1.80\n");
    return 0;
}
