// Shared by the hook, preview and filter suites: the test modules, the
// library log, pictures read back, and engines run to their end.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/engine_fixture.h"
#include "support/media_check.h"

namespace quillon::test {

// A test module built beside the suites (marker_hook.so, plain_hook.so, no_process_hook.so).
std::filesystem::path hook_module(const std::string& file);

// What the marker module recorded. It is the very object the engine loaded,
// so its counters are the engine's calls.
namespace marker {
int calls();
int instance(int call);
int64_t pts(int call);
int releases();
int instances();
void reset();
// A "vhook" value that draws the module's mark (MODE "marker" or "comb") at (x, y).
std::string hook(const std::string& mode, int x, int y, int size);
} // namespace marker

// Collects the lines the libraries log while it lives.
class LibraryLog {
public:
    LibraryLog();
    ~LibraryLog();
    LibraryLog(const LibraryLog&) = delete;
    LibraryLog& operator=(const LibraryLog&) = delete;
    bool has(const std::string& text) const;
    std::string all() const;
};

// Mean brightness (all three channels) of the square at (x, y).
double mean_level(const BgrPicture& picture, int x, int y, int size);
// The marker module's black square, or a black square drawn by a custom hook,
// at (x, y): judged on its inner part, clear of coding blur at the edges.
bool has_mark(const BgrPicture& picture, int x, int y, int size);

// Pictures of a file by index (all of them; for short clips).
std::vector<BgrPicture> read_pictures(const std::filesystem::path& file);

using Options = std::vector<std::pair<std::string, std::string>>;

// An engine that runs its job on a worker thread and waits for the end.
class HookEngine : public RecordingEngine {
public:
    // Opens the input, applies the options, opens the output; false with the
    // test failed when a step does not succeed.
    bool set_up(const std::filesystem::path& input, const Options& options, const std::filesystem::path& output);
    void run_threaded();
    void run_here() { start_job(false); }
    bool hook_scalers() const { return hook_converter.has_scalers(); }
    bool has_previewer();
};

} // namespace quillon::test
