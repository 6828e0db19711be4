// TFFmpeg: one conversion task of the component, an engine plus what the
// component keeps with it.
#pragma once

#include <atomic>
#include <thread>

#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_records.h"
#include "Probe/av_probe.h"

namespace quillon {

class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg() = default;
    // Stops a running conversion and waits for its worker, end report
    // included, while the whole task still exists; then the prober goes,
    // then the engine.
    ~TFFmpeg() override;

    // Position in the task list; -1 before the task is listed.
    std::atomic<int> Index{-1};
    // The thread that runs the task; empty when no worker could be created.
    std::atomic<std::thread::id> ThreadID{};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    // Attached to the task's opened input; it reads but never closes it. It
    // lets go when the task starts, since the run reads the input and closes
    // it at its end.
    TAVProbe Probe;
};

} // namespace quillon
