// The process-wide cache of loaded frame-hook modules.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "FFmpegLoader/ffmpeg_api.h"
#include "FrameHooks/frame_hook_chain.h"

namespace quillon {

namespace {

std::filesystem::path program_folder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

// Returns the handle, or null with the system's message in `message`.
void* open_module(const std::string& name, std::string& message)
{
    std::string file = name;
    if (name.find('/') == std::string::npos) {
        const std::filesystem::path beside = program_folder() / name;
        std::error_code error;
        if (!program_folder().empty() && std::filesystem::is_regular_file(beside, error)) file = beside.string();
    }
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        message = text ? text : "cannot load " + file;
    }
    return handle;
}

} // namespace

void* load_frame_hook_module(const std::string& name)
{
    static std::mutex lock;
    static std::map<std::string, void*> loaded; // file names are case-sensitive here
    std::lock_guard guard(lock);
    if (const auto found = loaded.find(name); found != loaded.end()) return found->second;
    std::string message;
    void* handle = open_module(name, message);
    if (!handle) {
        lib::av_log(nullptr, AV_LOG_ERROR, "%s\n", message.c_str());
        return nullptr;
    }
    loaded.emplace(name, handle);
    return handle;
}

} // namespace quillon
