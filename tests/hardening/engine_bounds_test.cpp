// Inputs whose timestamps would make the engine work without end: each run
// in a bounded child process, so a hang fails the test instead of stalling it.
#include <gtest/gtest.h>

#include "support/bounded_child.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;

namespace {

class EngineBounds : public EngineTest {};

// Video is filled up to a constant rate by repeating pictures; a timestamp
// eleven days ahead must not be filled beyond the recording limit.
TEST_F(EngineBounds, FarTimestampJumpIsNotFilledBeyondTheRecordingLimit)
{
    fixtures::ClipSpec spec{.container = fixtures::Container::matroska, .duration = 2.0};
    spec.jump_at = 1.0;
    spec.jump_by = 1e6;
    const auto source = clip("jump.mkv", spec);
    const auto output = scratch / "jump.mpg";
    ChildLimits limits;
    limits.seconds = 60;
    const ChildOutcome outcome = run_bounded(
        [&] {
            RecordingEngine engine;
            if (!engine.open_input_file(source)) return "input refused: " + engine.last_error;
            for (const auto& [name, value] : {std::pair{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"t", "3"}})
                engine.parse_option(name, value);
            if (engine.open_output_file(output) < 1) return "output refused: " + engine.last_error;
            engine.start_job(false);
            return engine.failed ? "failed: " + engine.error_message : std::string("converted");
        },
        limits);
    ASSERT_TRUE(outcome.ok()) << outcome.describe() << "\n" << outcome.errors;
    ASSERT_EQ(outcome.text, "converted");
    const MediaFacts facts = read_media(output);
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_LE(video->last_end - video->first_time, 3.1) << "pictures beyond the recording limit";
    EXPECT_LE(count_decoded_video_frames(output), 76);
}

} // namespace
