// Inputs whose timestamps would make the engine work without end: each run
// in a bounded child process, so a hang fails the test instead of stalling it.
#include <gtest/gtest.h>

#include <fstream>

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

// Two recordings joined end to end: the picture size and the pixel format
// change mid-stream. Every picture reaches the output at the output's size.
TEST_F(EngineBounds, PictureSizeAndFormatChangingMidStreamAreConverted)
{
    fixtures::ClipSpec first{.container = fixtures::Container::mpeg_ts, .duration = 1.0, .width = 320, .height = 240};
    first.audio = false;
    fixtures::ClipSpec second = first;
    second.width = 160;
    second.height = 120;
    second.pixel_format = "yuv422p";
    const auto joined = scratch / "joined.ts";
    {
        std::ofstream out(joined, std::ios::binary);
        for (const auto& part : {clip("large.ts", first), clip("small.ts", second)})
            out << std::ifstream(part, std::ios::binary).rdbuf();
    }
    const auto output = scratch / "joined.mpg";
    const ChildOutcome outcome = run_bounded([&] {
        RecordingEngine engine;
        if (!engine.open_input_file(joined)) return "input refused: " + engine.last_error;
        for (const auto& [name, value] : {std::pair{"vcodec", "mpeg1video"}, {"s", "176x144"}})
            engine.parse_option(name, value);
        if (engine.open_output_file(output) < 1) return "output refused: " + engine.last_error;
        engine.start_job(false);
        return engine.failed ? "failed: " + engine.error_message : std::string("converted");
    });
    ASSERT_TRUE(outcome.ok()) << outcome.describe() << "\n" << outcome.errors;
    ASSERT_EQ(outcome.text, "converted");
    const MediaFacts facts = read_media(output);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->width, 176);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->height, 144);
    EXPECT_NEAR(count_decoded_video_frames(output), 50, 3) << "pictures of both parts";
    EXPECT_EQ(frame_number_of_picture(output, 10), 10);
    EXPECT_NEAR(frame_number_of_picture(output, 40), 15, 2) << "the second part's pictures are whole";
}

} // namespace
