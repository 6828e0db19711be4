// Configuring, running and releasing frame-hook module instances.
#include "FrameHooks/frame_hook_chain.h"

#include <dlfcn.h>

#include <new>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

namespace {

template <typename Function>
Function entry_point(void* module, const char* name)
{
    return reinterpret_cast<Function>(dlsym(module, name));
}

void log_failure(const char* format, const std::string& module)
{
    lib::av_log(nullptr, AV_LOG_ERROR, format, module.c_str());
}

} // namespace

int FrameHookChain::add_module(const std::vector<std::string>& words)
{
    if (words.empty()) return fhBadModule;
    void* module = load_frame_hook_module(words[0]);
    if (!module) return fhNotLoaded;
    std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
    if (!entry) return fhNoMemory;
    entry->configure = entry_point<FrameHookConfigure>(module, "Configure");
    entry->process = entry_point<FrameHookProcess>(module, "Process");
    entry->release = entry_point<FrameHookRelease>(module, "Release");
    if (!entry->process) {
        log_failure("Failed to find Process entrypoint in %s\n", words[0]);
        return fhBadModule;
    }
    if (!entry->configure && words.size() > 1) {
        log_failure("Failed to find Configure entrypoint in %s\n", words[0]);
        return fhBadModule;
    }
    entry->words = words;
    for (std::string& word : entry->words) entry->argv.push_back(word.data());
    entry->argv.push_back(nullptr);
    if (entry->configure &&
        entry->configure(&entry->context, static_cast<int>(entry->words.size()), entry->argv.data()) != 0) {
        log_failure("Failed to Configure %s\n", words[0]);
        return fhConfigureFailed;
    }
    entries_.push_back(std::move(entry));
    return fhOk;
}

void FrameHookChain::process(FrameHookPicture& picture, int pixel_format, int width, int height, int64_t pts) const
{
    for (const auto& entry : entries_) entry->process(entry->context, &picture, pixel_format, width, height, pts);
}

void FrameHookChain::release()
{
    for (const auto& entry : entries_)
        if (entry->release) entry->release(entry->context);
    entries_.clear();
}

} // namespace quillon
