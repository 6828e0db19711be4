#include "support/engine_fixture.h"

#include <chrono>

namespace quillon::test {

std::filesystem::path clip(const std::string& name, const fixtures::ClipSpec& spec)
{
    static std::mutex lock;
    static std::map<std::string, std::filesystem::path> made;
    static ScratchDir folder("clips");
    std::lock_guard guard(lock);
    auto found = made.find(name);
    if (found != made.end()) return found->second;
    const std::filesystem::path path = folder / name;
    fixtures::make_clip(path, spec);
    made[name] = path;
    return path;
}

RecordingEngine::RecordingEngine()
{
    log_sink = [this](TCustomFFmpeg&, int, const std::string& text) {
        std::lock_guard guard(record_lock);
        log_lines.push_back(text);
    };
    progress_sink = [this](TCustomFFmpeg&, const ProgressFigures& figures) {
        std::lock_guard guard(record_lock);
        progress.push_back(figures);
        progress_times.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    terminate_sink = [this](TCustomFFmpeg&) {
        std::lock_guard guard(record_lock);
        ++ends;
    };
    prepare_job();
}

bool RecordingEngine::logged(const std::string& text)
{
    std::lock_guard guard(record_lock);
    for (const std::string& line : log_lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

} // namespace quillon::test
