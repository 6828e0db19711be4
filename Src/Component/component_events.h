// The component's event types and log levels. Every event carries the index of
// the task it belongs to, or -1 for a notification that belongs to no task.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/job_state.h"

namespace quillon {

class TBitmap;

enum TLogLevel { llQuiet = 0, llError = 1, llInfo = 2, llDebug = 3, llAll = 4 };

// Maps a level of the engine's scale (-1 failure, 0 errors and warnings,
// 1 information, 2 debugging, more is more detail) onto TLogLevel.
TLogLevel log_level_of(int level);

// The hook may change AHookAction (haContinue, haIgnore, haStop).
using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;

// The hook may draw into ABitmap and says so through AUpdate; AStopHook ends
// hooking for the rest of the task.
using TCustomHookEvent = std::function<void(int AIndex, TBitmap& ABitmap, int AFrameNumber, int64_t APTS,
                                            bool& AUpdate, bool& AStopHook)>;

using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;

// Always delivered on the main thread; the bitmap belongs to the task and is
// only valid during the call.
using TPreviewBitmapEvent = std::function<void(int AIndex, TBitmap& ABitmap, int AFrameNumber, int64_t APTS)>;

// Frame count, frames per second and output time (ms) of the task, the
// quantiser, the bit rate in kbit/s, the bytes written so far and the
// expected output length in ms (-1 when unknown).
using TProgressEvent = std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                                          float AQuality, float ABitRate, int64_t ACurrentSize,
                                          int ATotalOutputDuration)>;

// AFinished: the task ran to its end without a stop request. AException: it
// failed, and AMessage holds the failure text.
using TTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;

} // namespace quillon
