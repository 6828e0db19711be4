// Converts a generated 20-minute source (320x240, stereo) to PAL DVD with the
// quillon program, as a user would, and watches it: resident memory sampled
// every 200 ms, the progress lines timed. Prints the peak, the resident
// memory at 10% and at 90% of the run, the longest wait between progress
// lines, the wall time and the speed.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fixtures/fixture.h"
#include "program_run.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

constexpr double kSourceSeconds = 20 * 60;

// The number after `key` in a JSON line; -1 when absent.
double number_after(const std::string& line, const std::string& key)
{
    const std::size_t at = line.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + key.size() + 3);
}

struct Watch {
    double start = bench::seconds_now();
    long peak_kb = 0, rss_kb = 0;
    long rss_at_10_kb = -1, rss_at_90_kb = -1;
    double last_progress = -1, longest_gap = 0;
    int progress_lines = 0, last_frame = 0;
    std::string end_line;

    void line(const std::string& text)
    {
        if (text.find("\"event\":\"end\"") != std::string::npos) end_line = text;
        if (text.find("\"event\":\"progress\"") == std::string::npos) return;
        const double now = bench::seconds_now();
        if (last_progress >= 0) longest_gap = std::max(longest_gap, now - last_progress);
        last_progress = now;
        ++progress_lines;
        last_frame = std::max(last_frame, static_cast<int>(number_after(text, "frame")));
        const double percent = number_after(text, "percent");
        if (percent >= 10 && rss_at_10_kb < 0) rss_at_10_kb = rss_kb;
        if (percent >= 90 && rss_at_90_kb < 0) rss_at_90_kb = rss_kb;
    }

    void tick(pid_t child)
    {
        const long rss = bench::status_kb(child, "VmRSS");
        if (rss > 0) rss_kb = rss;
        peak_kb = std::max({peak_kb, rss, bench::status_kb(child, "VmHWM")});
    }
};

} // namespace

int main(int argc, char** argv)
{
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quillon-bench";
    fs::create_directories(work);
    const fs::path source = work / "source-320x240-20min.mp4";
    if (!fs::exists(source)) {
        std::printf("making the 20-minute source (once; kept in %s) ...\n", work.c_str());
        const fs::path partial = work / "source-partial.mp4";
        fixtures::make_clip(partial, {.container = fixtures::Container::mp4, .duration = kSourceSeconds});
        fs::rename(partial, source);
    }
    const fs::path out = work / "long-run-out";
    fs::remove_all(out);

    Watch watch;
    bench::ProgramWatch program_watch;
    program_watch.on_line = [&](const std::string& line) { watch.line(line); };
    program_watch.on_tick = [&](pid_t child) { watch.tick(child); };
    const bench::ProgramOutcome run = bench::run_program(
        bench::quillon_program(), {"convert", "--json", "-f", "dvd", "--tv", "pal", "-O", out.string(), source.string()},
        program_watch);
    fs::remove_all(out);
    if (run.exit_code != 0) {
        std::printf("conversion failed (exit %d): %s\n", run.exit_code, watch.end_line.c_str());
        return 1;
    }
    std::printf("source:               %.0f s, 320x240 H.264 + AAC stereo -> PAL DVD\n", kSourceSeconds);
    std::printf("wall time:            %.1f s  (%.1fx real time, %.0f frames/s)\n", run.seconds,
                kSourceSeconds / run.seconds, watch.last_frame / run.seconds);
    std::printf("peak memory:          %.1f MB\n", watch.peak_kb / 1024.0);
    std::printf("resident at 10%%/90%%:  %.1f MB / %.1f MB  (growth %.1f MB)\n", watch.rss_at_10_kb / 1024.0,
                watch.rss_at_90_kb / 1024.0, (watch.rss_at_90_kb - watch.rss_at_10_kb) / 1024.0);
    std::printf("progress lines:       %d, longest gap %.2f s\n", watch.progress_lines, watch.longest_gap);
    return 0;
}
