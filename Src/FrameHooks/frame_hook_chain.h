// The frame-hook module chain of one engine: external picture-processing
// modules loaded by the "vhook" option, configured once each and run on every
// hooked picture in the order they were added.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameHooks/frame_hook_module.h"

namespace quillon {

// Results of FrameHookChain::add_module.
enum FrameHookResult {
    fhOk = 0,
    fhNotLoaded = -1,       // the module could not be loaded (the system's message is logged)
    fhBadModule = -2,       // no words, no "Process", or no "Configure" while arguments are given
    fhNoMemory = -12,
    fhConfigureFailed = -22 // "Configure" returned non-zero
};

class FrameHookChain {
public:
    FrameHookChain() = default;
    ~FrameHookChain() { release(); }
    FrameHookChain(const FrameHookChain&) = delete;
    FrameHookChain& operator=(const FrameHookChain&) = delete;

    // words[0] names the module, the rest are its arguments; all of them are
    // handed to "Configure". Returns a FrameHookResult; failures are logged
    // through the libraries' logging.
    int add_module(const std::vector<std::string>& words);

    // Runs every instance's "Process" on the picture, in order.
    void process(FrameHookPicture& picture, int pixel_format, int width, int height, int64_t pts) const;

    // Calls "Release" of every instance that has one and empties the chain.
    void release();

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        FrameHookConfigure configure = nullptr;
        FrameHookProcess process = nullptr;
        FrameHookRelease release = nullptr;
        void* context = nullptr;
        // The words stay alive with the instance: a module may keep pointers into them.
        std::vector<std::string> words;
        std::vector<char*> argv;
    };
    std::vector<std::unique_ptr<Entry>> entries_;
};

// Loads a module, or returns the handle loaded before under the same name.
// A name with a "/" is loaded from that path; a bare name from the program's
// folder when it is there, else through the system's library search. Modules
// stay loaded for the life of the process. Returns null after logging the
// system's message.
void* load_frame_hook_module(const std::string& name);

} // namespace quillon
