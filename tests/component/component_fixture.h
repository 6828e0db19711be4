// Shared set-up for the component suites: tiny generated clips, and a
// recorder that keeps every event a component raises, in order, with the
// thread that raised it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Component/conversion_component.h"
#include "support/engine_fixture.h"

namespace quillon::test {

// 160x120, 25 frames per second, MPEG-2 video and MP2 sound in a program stream.
std::filesystem::path tiny_clip(double seconds = 1.0);
// The same picture as MPEG-4 with MP3 sound in AVI (other demuxer and decoders).
std::filesystem::path tiny_avi_clip(double seconds = 1.0);

struct Event {
    enum Kind { log, progress, terminate } kind;
    int index = -1;
    TLogLevel level = llQuiet;
    std::string text;
    bool finished = false;
    bool exception = false;
    std::thread::id thread;
};

class EventRecorder {
public:
    // Connects every locked event of the component to this recorder.
    void attach(TConversionComponent& component);

    std::vector<Event> events() const;
    std::vector<Event> terminations() const;
    std::vector<Event> logs(int index) const;
    std::size_t count() const;
    bool saw_progress(int index) const;
    // Waits for the end-of-run notification; false after the timeout.
    bool wait_for_end(std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    // Waits until a progress report of the task arrived.
    bool wait_for_progress(int index, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    void clear();
    void add(Event event);

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Adds a task for the input and an output in the scratch folder; fails
    // the test when either step fails. Input extra options go to the record.
    int add_task(const std::filesystem::path& input, const std::string& output,
                 const std::string& input_options = {}, const std::string& output_options = {});

    ScratchDir scratch{"component"};
    TConversionComponent component;
    EventRecorder recorder;
};

} // namespace quillon::test
