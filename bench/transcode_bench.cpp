// Converts a generated 60 s 720p H.264 + AAC clip to DVD-sized MPEG-2 at
// 6 Mbit/s with AC-3 on one core, and compares the time with the limit: the
// libraries decoding the source alone plus encoding the same frames alone.
// Prints frames per second, the ratio to the limit, and the peak memory.
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/loader.h"
#include "bench_limits.h"
#include "fixtures/fixture.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

struct RunFigures {
    double seconds = 0;
    long peak_kb = 0;
    int ok = 0;
};

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs in a child process so its peak memory is its own.
RunFigures convert_in_child(const fs::path& source, const fs::path& output, const std::string& library_folder)
{
    int channel[2];
    if (pipe(channel) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        RunFigures figures;
        TFFmpegLoader::set_library_folder(library_folder);
        if (TFFmpegLoader::load(required_libraries)) {
            lib::av_log_set_level(AV_LOG_ERROR);
            TCustomFFmpeg engine;
            engine.prepare_job();
            engine.verbose = 0;
            const double start = now();
            if (engine.open_input_file(source)) {
                for (const auto& [name, value] : {std::pair<const char*, const char*>{"vcodec", "mpeg2video"},
                                                  {"s", "720x576"}, {"b", "6000000"}, {"g", "15"},
                                                  {"acodec", "ac3"}, {"ar", "48000"}, {"ab", "448000"}})
                    engine.parse_option(name, value);
                if (engine.open_output_file(output) > 0) {
                    engine.start_job(false);
                    figures.ok = engine.finished && !engine.failed;
                    if (engine.failed) std::fprintf(stderr, "conversion failed: %s\n", engine.error_message.c_str());
                }
            }
            figures.seconds = now() - start;
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        figures.peak_kb = usage.ru_maxrss;
        (void)!write(channel[1], &figures, sizeof figures);
        _exit(0);
    }
    close(channel[1]);
    RunFigures figures;
    (void)!read(channel[0], &figures, sizeof figures);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    cpu_set_t one_core;
    CPU_ZERO(&one_core);
    CPU_SET(0, &one_core);
    sched_setaffinity(0, sizeof one_core, &one_core);

    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quillon-bench";
    const std::string library_folder = fs::canonical("/proc/self/exe").parent_path().parent_path() / "lib";
    fs::create_directories(work);
    const fs::path source = work / "source-720p-60s.mp4";
    if (!fs::exists(source)) {
        fixtures::ClipSpec spec;
        spec.container = fixtures::Container::mp4;
        spec.duration = 60;
        spec.width = 1280;
        spec.height = 720;
        std::printf("making the 60 s source ...\n");
        fixtures::make_clip(source, spec);
    }

    const RunFigures run = convert_in_child(source, work / "dvd.mpg", library_folder);
    if (!run.ok) {
        std::printf("conversion failed\n");
        return 1;
    }
    const bench::DecodeResult decoded = bench::decode_only(source);
    const double encoded = bench::encode_only(decoded.video_frames, 720, 576, 6000000, decoded.audio_samples);
    const double limit = decoded.seconds + encoded;
    // The same work on the decoded pictures themselves, with the scaling the
    // conversion cannot skip; audio is encoded from a synthetic block as above.
    const bench::PipelineTimes stages = bench::pipeline_limit(source, 720, 576, 6000000);
    const double audio_encode = bench::encode_only(0, 720, 576, 6000000, stages.audio_samples);
    const double pipeline = stages.decode + stages.scale + stages.encode + audio_encode;
    std::printf("frames:            %d\n", decoded.video_frames);
    std::printf("conversion:        %.2f s  (%.1f frames/s)\n", run.seconds, decoded.video_frames / run.seconds);
    std::printf("limit:             %.2f s  (decode %.2f s + encode of synthetic pictures %.2f s)\n", limit,
                decoded.seconds, encoded);
    std::printf("ratio to limit:    %.3f  (target <= 1.10)\n", run.seconds / limit);
    std::printf("pipeline limit:    %.2f s  (decode %.2f s + scale %.2f s + encode of the decoded pictures %.2f s"
                " + audio %.2f s)\n",
                pipeline, stages.decode, stages.scale, stages.encode, audio_encode);
    std::printf("ratio to pipeline: %.3f  (our own share of the conversion)\n", run.seconds / pipeline);
    std::printf("peak memory:       %.1f MB  (target < 150 MB)\n", run.peak_kb / 1024.0);
    return 0;
}
