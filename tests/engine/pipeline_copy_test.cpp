// Stream copy from end to end: real clips copied into real files, joins,
// limits, maps, refusals, stop and pause, and damaged input.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/engine_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

ClipSpec mp4_clip(double seconds = 3.0)
{
    ClipSpec spec;
    spec.container = Container::mp4;
    spec.duration = seconds;
    return spec;
}

void copy_all(TCustomFFmpeg& engine)
{
    engine.video_stream_copy = 1;
    engine.audio_stream_copy = 1;
}

class PipelineCopyTest : public EngineTest {};

TEST_F(PipelineCopyTest, Mp4IsCopiedIntoMatroskaAndMp4)
{
    const auto source = clip("copy-source.mp4", mp4_clip());
    for (const char* extension : {".mkv", ".mp4"}) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source)) << engine.last_error;
        copy_all(engine);
        const auto out = scratch / (std::string("copy") + extension);
        ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
        engine.start_job(false);
        EXPECT_TRUE(engine.finished) << engine.error_message;
        EXPECT_FALSE(engine.failed) << engine.error_message;
        EXPECT_EQ(engine.ends, 1);

        const MediaFacts facts = read_media(out);
        ASSERT_TRUE(facts.opened) << extension;
        ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr) << extension;
        ASSERT_NE(facts.first(AVMEDIA_TYPE_AUDIO), nullptr) << extension;
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, "h264");
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->codec, "aac");
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->packets, 75) << extension;
        EXPECT_NEAR(facts.duration, 3.0, 0.15) << extension;
        EXPECT_TRUE(engine.logged("Stream mapping:"));
    }
}

TEST_F(PipelineCopyTest, ProgramStreamIsCopiedIntoANewProgramStream)
{
    ClipSpec spec = mp4_clip(2.0);
    spec.container = Container::mpeg_ps;
    const auto source = clip("copy-source.mpg", spec);
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(source)) << engine.last_error;
    copy_all(engine);
    const auto out = scratch / "copy.mpg";
    ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, "mpeg2video");
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->codec, "mp2");
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->packets, 50);
}

TEST_F(PipelineCopyTest, TwoClipsJoinedByCopyContinueTheirTimestamps)
{
    const auto first = clip("join-a.mp4", mp4_clip(2.0));
    const auto second = clip("join-b.mp4", mp4_clip(2.0));
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(first)) << engine.last_error;
    ASSERT_TRUE(engine.open_input_file(second)) << engine.last_error;
    copy_all(engine);
    const auto out = scratch / "joined.mkv";
    ASSERT_EQ(engine.open_output_file(out, true), 2) << engine.last_error;
    EXPECT_TRUE(engine.join_mode);
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->packets, 100);
    EXPECT_TRUE(video->timestamps_monotonic);
    EXPECT_NEAR(facts.duration, 4.0, 0.2);
    EXPECT_GE(frame_number_at(out, 3.0), 20) << "the second clip's pictures follow the first's";
}

TEST_F(PipelineCopyTest, LimitsEndTheCopy)
{
    const auto source = clip("copy-source.mp4", mp4_clip());
    struct Case {
        const char* name;
        void (*configure)(TCustomFFmpeg&);
        double min_duration, max_duration;
        int64_t video_packets; // -1: not checked
    };
    const Case cases[] = {
        {"t 1 s", [](TCustomFFmpeg& e) { e.recording_time = 1000000; }, 0.9, 1.3, -1},
        {"vframes 10", [](TCustomFFmpeg& e) { e.max_frames[0] = 10; }, 0.39, 0.45, 10},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source));
        copy_all(engine);
        c.configure(engine);
        const auto out = scratch / "limited.mkv";
        ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
        engine.start_job(false);
        ASSERT_FALSE(engine.failed) << c.name << ": " << engine.error_message;
        const MediaFacts facts = read_media(out);
        ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr) << c.name;
        EXPECT_LE(facts.first(AVMEDIA_TYPE_VIDEO)->last_end, c.max_duration) << c.name;
        EXPECT_GE(facts.first(AVMEDIA_TYPE_VIDEO)->last_end, c.min_duration) << c.name;
        if (c.video_packets >= 0) {
            EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->packets, c.video_packets) << c.name;
        }
    }
}

TEST_F(PipelineCopyTest, ShortestEndsAtTheFirstEndOfFile)
{
    ClipSpec video_only = mp4_clip(3.0);
    video_only.audio = false;
    ClipSpec tone;
    tone.container = Container::wav;
    tone.video = false;
    tone.duration = 1.0;
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("video-only.mp4", video_only)));
    ASSERT_TRUE(engine.open_input_file(clip("tone-1s.wav", tone)));
    copy_all(engine);
    engine.shortest = true;
    const auto out = scratch / "shortest.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_LT(facts.first(AVMEDIA_TYPE_VIDEO)->last_end, 2.0);
}

TEST_F(PipelineCopyTest, StreamMapErrorsAreReportedBeforeAnyCodecOpens)
{
    const auto source = clip("copy-source.mp4", mp4_clip());
    struct Case {
        std::vector<StreamMap> maps;
        const char* message;
    };
    const Case cases[] = {
        {{{0, 0, 0, 0}}, "Number of stream maps must match number of output streams"},
        {{{0, 0, 0, 0}, {0, 7, 0, 7}}, "Could not find input stream #0.7"},
        {{{0, 0, 0, 0}, {0, 1, 3, 1}}, "Could not find sync stream #3.1"},
        {{{0, 1, 0, 1}, {0, 0, 0, 0}}, "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source));
        copy_all(engine);
        engine.stream_maps = c.maps;
        ASSERT_EQ(engine.open_output_file(scratch / "mapped.mkv"), 1) << engine.last_error;
        engine.start_job(false);
        EXPECT_TRUE(engine.failed) << c.message;
        EXPECT_EQ(engine.error_message, c.message);
        EXPECT_EQ(engine.ends, 1);
    }
}

TEST_F(PipelineCopyTest, CopyingIsRefusedWhereFramesWouldBeNeeded)
{
    const auto source = clip("copy-source.mp4", mp4_clip());
    struct Case {
        void (*configure)(TCustomFFmpeg&);
        const char* message;
    };
    const Case cases[] = {
        {[](TCustomFFmpeg& e) { e.audio_volume = 512; }, "-acodec copy and -vol are incompatible (frames are not decoded)"},
        {[](TCustomFFmpeg& e) { e.custom_hook_sink = [](TCustomFFmpeg&, TBitmap&, int, int64_t, bool&, bool&) {}; },
         "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
        {[](TCustomFFmpeg& e) { e.set_preview_flags(1); },
         "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
    };
    for (const Case& c : cases) {
        RecordingEngine engine;
        ASSERT_TRUE(engine.open_input_file(source));
        copy_all(engine);
        c.configure(engine);
        ASSERT_EQ(engine.open_output_file(scratch / "refused.mkv"), 1) << engine.last_error;
        engine.start_job(false);
        EXPECT_TRUE(engine.failed);
        EXPECT_EQ(engine.error_message, c.message);
        EXPECT_FALSE(std::filesystem::exists(scratch / "refused.mkv")) << "an empty output is removed";
    }
}

TEST_F(PipelineCopyTest, JobWithoutOutputsFailsInsideStartJob)
{
    RecordingEngine engine;
    EXPECT_FALSE(engine.start_job(true));
    EXPECT_TRUE(engine.failed);
    EXPECT_EQ(engine.error_message, "At least one output file must be specified");
    EXPECT_EQ(engine.ends, 1) << "the end arrives before start_job returns";
    EXPECT_TRUE(engine.logged("At least one output file must be specified"));
    EXPECT_FALSE(engine.start_job(true)) << "an ended job does not start again";
}

ClipSpec long_clip()
{
    ClipSpec spec = mp4_clip(20.0);
    spec.width = 160;
    spec.height = 120;
    return spec;
}

TEST_F(PipelineCopyTest, StoppedJobStillWritesAPlayableFile)
{
    const auto source = clip("long.mp4", long_clip());
    RecordingEngine engine;
    engine.rate_emu = true; // read at the clip's own pace so the stop lands mid-way
    ASSERT_TRUE(engine.open_input_file(source));
    copy_all(engine);
    const auto out = scratch / "stopped.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1);
    ASSERT_TRUE(engine.start_job(true));
    engine.resume_job();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    engine.stop_job();
    EXPECT_EQ(engine.ends, 1);
    EXPECT_FALSE(engine.finished);
    EXPECT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    ASSERT_TRUE(facts.opened);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_GT(facts.first(AVMEDIA_TYPE_VIDEO)->packets, 0);
    EXPECT_LT(facts.first(AVMEDIA_TYPE_VIDEO)->last_end, 10.0);
}

TEST_F(PipelineCopyTest, PausedJobMakesNoProgressAndStopsWhenAsked)
{
    const auto source = clip("long.mp4", long_clip());
    RecordingEngine engine;
    engine.rate_emu = true;
    engine.progress_interval_us = 50000;
    ASSERT_TRUE(engine.open_input_file(source));
    copy_all(engine);
    const auto out = scratch / "paused.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1);
    ASSERT_TRUE(engine.start_job(true));
    engine.resume_job();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    engine.pause_job();
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // the worker reaches its gate
    size_t reports;
    {
        std::lock_guard guard(engine.record_lock);
        reports = engine.progress.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    {
        std::lock_guard guard(engine.record_lock);
        EXPECT_EQ(engine.progress.size(), reports) << "no progress while paused";
    }
    engine.stop_job();
    EXPECT_EQ(engine.ends, 1);
    EXPECT_FALSE(engine.finished);
    EXPECT_TRUE(read_media(out).opened);
}

TEST_F(PipelineCopyTest, ProgressIsRateLimitedAndWaitsForTheFirstPicture)
{
    const auto source = clip("long.mp4", long_clip());
    RecordingEngine engine;
    engine.rate_emu = true;
    engine.progress_interval_us = 100000;
    engine.recording_time = 1500000;
    ASSERT_TRUE(engine.open_input_file(source));
    copy_all(engine);
    ASSERT_EQ(engine.open_output_file(scratch / "progress.mkv"), 1);
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    ASSERT_GE(engine.progress.size(), 3u);
    for (size_t i = 1; i + 1 < engine.progress_times.size(); ++i)
        EXPECT_GE(engine.progress_times[i] - engine.progress_times[i - 1], 90000) << "report " << i;
    for (const ProgressFigures& figures : engine.progress) {
        EXPECT_GE(figures.frame_number, 1);
        EXPECT_FLOAT_EQ(figures.quality, -1.0f) << "copied video has no quantiser";
    }
}

TEST_F(PipelineCopyTest, AudioOnlyJobReportsNoFrameNumber)
{
    ClipSpec tone;
    tone.container = Container::wav;
    tone.video = false;
    tone.duration = 2.0;
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("tone-2s.wav", tone)));
    copy_all(engine);
    ASSERT_EQ(engine.open_output_file(scratch / "tone.mkv"), 1) << engine.last_error;
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    ASSERT_FALSE(engine.progress.empty()) << "the last report always comes";
    EXPECT_EQ(engine.progress.back().frame_number, -1);
    EXPECT_EQ(engine.progress.back().fps, -1);
    EXPECT_TRUE(engine.logged("muxing overhead"));
}

TEST_F(PipelineCopyTest, InputDamagedInTheMiddleConvertsWhatCanBeRead)
{
    ClipSpec spec = mp4_clip(3.0);
    spec.container = Container::mpeg_ts;
    const auto source = clip("damage-source.ts", spec);
    const auto damaged = scratch / "damaged.ts";
    fixtures::damage_file(source, damaged, fixtures::Damage::garbage_middle, 0.5);
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(damaged)) << engine.last_error;
    copy_all(engine);
    const auto out = scratch / "from-damaged.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1);
    engine.start_job(false);
    EXPECT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_GT(facts.first(AVMEDIA_TYPE_VIDEO)->packets, 30);
}

TEST_F(PipelineCopyTest, SubtitlesAreCopiedAlong)
{
    ClipSpec spec = mp4_clip(3.0);
    spec.container = Container::matroska;
    spec.subtitle = true;
    RecordingEngine engine;
    ASSERT_TRUE(engine.open_input_file(clip("subtitled.mkv", spec))) << engine.last_error;
    copy_all(engine);
    engine.parse_option("scodec", "copy");
    const auto out = scratch / "subtitled-copy.mkv";
    ASSERT_EQ(engine.open_output_file(out), 1) << engine.last_error;
    engine.start_job(false);
    ASSERT_FALSE(engine.failed) << engine.error_message;
    const MediaFacts facts = read_media(out);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_SUBTITLE), nullptr);
    EXPECT_EQ(facts.first(AVMEDIA_TYPE_SUBTITLE)->packets, 3);
}

TEST_F(PipelineCopyTest, DestroyingARunningEngineStopsItFirst)
{
    const auto source = clip("long.mp4", long_clip());
    const auto out = scratch / "destroyed.mkv";
    int ends = 0;
    {
        RecordingEngine engine;
        engine.rate_emu = true;
        engine.terminate_sink = [&](TCustomFFmpeg&) { ++ends; };
        ASSERT_TRUE(engine.open_input_file(source));
        copy_all(engine);
        ASSERT_EQ(engine.open_output_file(out), 1);
        ASSERT_TRUE(engine.start_job(true));
        engine.resume_job();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(read_media(out).opened) << "the trailer was written before the engine went";
}

} // namespace
