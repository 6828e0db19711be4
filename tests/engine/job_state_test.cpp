// A prepared engine holds every default, re-preparing releases what it held,
// segments come back sorted, and the job lists refuse to pass their limits.
#include <gtest/gtest.h>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/loader.h"
#include "support/test_support.h"

using namespace quillon;

namespace {

class JobStateTest : public ::testing::Test {
protected:
    void SetUp() override { test::load_libraries(); }
};

TEST_F(JobStateTest, FreshlyPreparedInstanceHoldsTheDefaults)
{
    TCustomFFmpeg engine;
    engine.prepare_job();
    ASSERT_TRUE(engine.prepared());
    EXPECT_EQ(engine.audio_channels, 2);
    EXPECT_EQ(engine.audio_sample_rate, 44100);
    EXPECT_FLOAT_EQ(engine.audio_qscale, -99999.0f);
    EXPECT_EQ(engine.top_field_first, -1);
    EXPECT_EQ(engine.loop_output, -1);
    EXPECT_EQ(engine.video_sync_method, -1);
    EXPECT_EQ(engine.intra_dc_precision, 8);
    EXPECT_EQ(engine.audio_volume, 256);
    EXPECT_FLOAT_EQ(engine.mux_preload, 0.5f);
    EXPECT_FLOAT_EQ(engine.mux_max_delay, 0.7f);
    EXPECT_FLOAT_EQ(engine.dts_delta_threshold, 10.0f);
    EXPECT_FLOAT_EQ(engine.audio_drift_threshold, 0.1f);
    EXPECT_EQ(engine.sws_flags, 4);
    EXPECT_EQ(engine.pad_color, (std::array<int, 3>{16, 128, 128}));
    for (int limit : engine.max_frames) EXPECT_EQ(limit, 2147483647);
    EXPECT_EQ(engine.recording_time, INT64_MAX);
    EXPECT_EQ(engine.frame_pix_fmt, -1);
    EXPECT_EQ(engine.audio_sample_fmt, -1);
    EXPECT_EQ(engine.frame_rate.num, 0);
    EXPECT_EQ(engine.verbose, 1);
    EXPECT_EQ(engine.thread_count, 1);
    EXPECT_EQ(engine.total_duration_ms, -1);
    EXPECT_EQ(engine.progress_interval_us, 500000);
    EXPECT_EQ(engine.preview_interval_us, 100000);
    EXPECT_EQ(engine.bit_buffer_size, 262144);
    EXPECT_FALSE(engine.join_mode || engine.running || engine.stop_requested || engine.finished || engine.terminated);
    for (AVCodecContext* holder : engine.generic_options.codec) EXPECT_NE(holder, nullptr);
    EXPECT_NE(engine.generic_options.scaler, nullptr);
}

TEST_F(JobStateTest, PreparingAgainReleasesTheHeldJobAndRestoresDefaults)
{
    TCustomFFmpeg engine;
    engine.prepare_job();
    AVFormatContext* held = lib::avformat_alloc_context();
    engine.input_files.push_back(held);
    engine.frame_width = 720;
    engine.video_codec_name = "mpeg2video";
    engine.stream_maps.push_back({0, 1, 0, 1});
    engine.finished = true;
    engine.total_duration_ms = 5000;

    engine.prepare_job();
    EXPECT_TRUE(engine.input_files.empty());
    EXPECT_EQ(engine.frame_width, 0);
    EXPECT_TRUE(engine.video_codec_name.empty());
    EXPECT_TRUE(engine.stream_maps.empty());
    EXPECT_FALSE(engine.finished);
    EXPECT_EQ(engine.total_duration_ms, -1);
}

TEST_F(JobStateTest, SegmentsAreSortedByEndWithTheIndexReset)
{
    TCustomFFmpeg engine;
    engine.segment_index = 3;
    engine.set_segments({{10000000, 20000000}, {0, 5000000}});
    ASSERT_EQ(engine.segments.size(), 2u);
    EXPECT_EQ(engine.segments[0].start, 0);
    EXPECT_EQ(engine.segments[0].end, 5000000);
    EXPECT_EQ(engine.segments[1].start, 10000000);
    EXPECT_EQ(engine.segment_index, 0u);
}

TEST_F(JobStateTest, ListLimitsAreRefusedWithTheirName)
{
    struct Case {
        std::size_t count;
        int limit;
        const char* what;
        bool refused;
    };
    const Case cases[] = {
        {19, MAX_FILES, "input files", false},     {20, MAX_FILES, "input files", true},
        {399, MAX_STREAM_MAPS, "stream maps", false}, {400, MAX_STREAM_MAPS, "stream maps", true},
        {20, MAX_META_DATA_MAPS, "metadata maps", true},
    };
    for (const Case& c : cases) {
        if (!c.refused) {
            EXPECT_NO_THROW(check_list_limit(c.count, c.limit, c.what));
            continue;
        }
        try {
            check_list_limit(c.count, c.limit, c.what);
            ADD_FAILURE() << c.what << " at " << c.count << " was not refused";
        } catch (const FFmpegException& e) {
            EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(std::to_string(c.limit)), std::string::npos) << e.what();
        }
    }
}

TEST_F(JobStateTest, EngineWithoutLibrariesStaysUnprepared)
{
    TFFmpegLoader::unload(required_libraries);
    TCustomFFmpeg engine;
    engine.prepare_job();
    EXPECT_FALSE(engine.prepared());
    test::load_libraries();
}

} // namespace
