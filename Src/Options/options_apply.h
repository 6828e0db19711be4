// Turning a task's options records into engine settings. The conversion
// component calls these while it adds a task (input) and its output.
#pragma once

#include <string>

#include "Options/options_records.h"

namespace quillon {

class TCustomFFmpeg;

// Before the input file is opened: the first pass of ExtOptions, then
// FileFormat, StartTimeMS, StartTimeUS and ProgramID. Raises FFmpegException
// (or the number conversion error of the option dispatcher) on a bad value;
// settings applied before the failing one stay in the engine.
void ApplyInputOptions(TCustomFFmpeg& engine, const TInputOptions& options);

// Before the output file is opened: the target preset (Target, TargetNorm,
// DefaultNorm), the first pass of ExtOptions, every field from FileFormat to
// RecordingTimeUS, then Info. The caller opens the output file (with Join),
// then runs ApplyExtOptions(engine, options.ExtOptions, true); the hook fields
// are the caller's too (ApplyHookTimeRanges when neither hook flag is set).
// Raises as ApplyInputOptions does.
void ApplyOutputOptions(TCustomFFmpeg& engine, const TOutputOptions& options);

// Hands the lines "name=value" of `text` to the option dispatcher. The pass
// after the output file exists (after_output) takes only "newvideo",
// "newaudio" and "newsubtitle"; the pass before takes every other line.
void ApplyExtOptions(TCustomFFmpeg& engine, const std::string& text, bool after_output);

// Reads comma-separated "start-end" ranges in milliseconds and hands the
// valid ones to the engine's set_segments. Bad pieces are dropped, never fail.
void ApplyHookTimeRanges(TCustomFFmpeg& engine, const std::string& text);

} // namespace quillon
