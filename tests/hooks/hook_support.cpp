#include "hooks/hook_support.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "FFmpeg/preview_lock.h"

namespace quillon::test {

std::filesystem::path hook_module(const std::string& file)
{
    return std::filesystem::path(QUILLON_HOOK_MODULES) / file;
}

namespace marker {
namespace {
void* module()
{
    static void* handle = dlopen(hook_module("marker_hook.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle;
}
template <typename Function>
Function entry(const char* name)
{
    void* symbol = module() ? dlsym(module(), name) : nullptr;
    if (!symbol) throw std::runtime_error(std::string("marker module lacks ") + name);
    return reinterpret_cast<Function>(symbol);
}
} // namespace

int calls() { return entry<int (*)()>("marker_calls")(); }
int instance(int call) { return entry<int (*)(int)>("marker_call_instance")(call); }
int64_t pts(int call) { return entry<int64_t (*)(int)>("marker_call_pts")(call); }
int releases() { return entry<int (*)()>("marker_releases")(); }
int instances() { return entry<int (*)()>("marker_instances")(); }
void reset() { entry<void (*)()>("marker_reset")(); }

std::string hook(const std::string& mode, int x, int y, int size)
{
    return hook_module("marker_hook.so").string() + " " + mode + " " + std::to_string(x) + " " + std::to_string(y) +
           " " + std::to_string(size);
}
} // namespace marker

namespace {
std::mutex log_lock;
std::string log_text;

void capture(void*, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR) return;
    char line[2048];
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    if (length <= 0) return;
    std::lock_guard guard(log_lock);
    log_text.append(line, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 1));
}
} // namespace

LibraryLog::LibraryLog()
{
    {
        std::lock_guard guard(log_lock);
        log_text.clear();
    }
    av_log_set_callback(capture);
}

LibraryLog::~LibraryLog() { av_log_set_callback(av_log_default_callback); }

bool LibraryLog::has(const std::string& text) const
{
    std::lock_guard guard(log_lock);
    return log_text.find(text) != std::string::npos;
}

std::string LibraryLog::all() const
{
    std::lock_guard guard(log_lock);
    return log_text;
}

double mean_level(const BgrPicture& picture, int x, int y, int size)
{
    double sum = 0;
    for (int row = y; row < y + size; ++row)
        for (int column = x; column < x + size; ++column) {
            const uint8_t* pixel = picture.at(column, row);
            sum += pixel[0] + pixel[1] + pixel[2];
        }
    return sum / (3.0 * size * size);
}

bool has_mark(const BgrPicture& picture, int x, int y, int size)
{
    const int inset = size / 4;
    return mean_level(picture, x + inset, y + inset, size - 2 * inset) < 30;
}

std::vector<BgrPicture> read_pictures(const std::filesystem::path& file)
{
    std::vector<BgrPicture> pictures;
    for_each_bgr_picture(file, [&](const BgrPicture& picture) {
        pictures.push_back(picture);
        return true;
    });
    return pictures;
}

bool HookEngine::set_up(const std::filesystem::path& input, const Options& options, const std::filesystem::path& output)
{
    if (!open_input_file(input)) {
        ADD_FAILURE() << "input: " << last_error;
        return false;
    }
    for (const auto& [name, value] : options) parse_option(name, value);
    if (open_output_file(output) < 1) {
        ADD_FAILURE() << "output: " << last_error;
        return false;
    }
    return true;
}

void HookEngine::run_threaded()
{
    if (!start_job(true)) {
        ADD_FAILURE() << "no worker: " << error_message;
        return;
    }
    resume_job();
    wait_for_worker();
}

bool HookEngine::has_previewer()
{
    std::lock_guard guard(preview_lock());
    return previewer != nullptr;
}

} // namespace quillon::test
