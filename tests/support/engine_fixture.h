// Shared set-up for engine suites: generated clips (made once per process)
// and a prepared engine that records its log, progress and end.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "FFmpeg/custom_ffmpeg.h"
#include "fixtures/fixture.h"
#include "support/test_support.h"

namespace quillon::test {

// Clips shared by the tests of one process, made on first use.
std::filesystem::path clip(const std::string& name, const fixtures::ClipSpec& spec);

// An engine with sinks that record everything it reports.
class RecordingEngine : public TCustomFFmpeg {
public:
    RecordingEngine();
    ~RecordingEngine() override { stop_job(); } // the worker's sinks use this object's members
    std::vector<std::string> log_lines;
    std::vector<ProgressFigures> progress;
    std::vector<int64_t> progress_times; // wall clock, microseconds
    int ends = 0;
    std::mutex record_lock;

    bool logged(const std::string& text);
    // Opens one input, applies `configure`, creates the output, runs unthreaded.
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { load_libraries(); }
    ScratchDir scratch{"engine"};
};

} // namespace quillon::test
