// Generic options: library codec, container and scaler options kept in option
// holders by media type, the media-type prefix fallback, refused values, the
// debug rule, and copying the recorded options into real contexts.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>

#include "FFmpegLoader/owners.h"
#include "engine/engine_fixture.h"

using namespace quillon;

namespace {

// Library log lines of level error or worse, captured while a test runs.
std::vector<std::string> library_errors;

void capture_library_log(void*, int level, const char* format, va_list args)
{
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    library_errors.emplace_back(line);
}

class GenericOptionsTest : public test::PreparedEngine {
protected:
    void SetUp() override
    {
        PreparedEngine::SetUp();
        library_errors.clear();
        level_ = lib::av_log_get_level();
        lib::av_log_set_callback(capture_library_log);
    }
    void TearDown() override
    {
        lib::av_log_set_callback(lib::av_log_default_callback);
        lib::av_log_set_level(level_);
    }

    AVCodecContext* holder(AVMediaType type) { return engine.generic_options.codec[type]; }

private:
    int level_ = 0;
};

TEST_F(GenericOptionsTest, CodecOptionsGoToTheHoldersOfTheirMediaTypes)
{
    EXPECT_TRUE(engine.set_generic_option("g", "15"));
    EXPECT_EQ(holder(AVMEDIA_TYPE_VIDEO)->gop_size, 15);
    EXPECT_NE(holder(AVMEDIA_TYPE_AUDIO)->gop_size, 15) << "g is a video option";
    EXPECT_NE(holder(AVMEDIA_TYPE_SUBTITLE)->gop_size, 15);
    EXPECT_EQ(holder(AVMEDIA_TYPE_DATA)->gop_size, 15) << "data and attachment holders take every codec option";

    EXPECT_TRUE(engine.set_generic_option("ar", "22050"));
    EXPECT_EQ(holder(AVMEDIA_TYPE_AUDIO)->sample_rate, 22050);
    EXPECT_EQ(holder(AVMEDIA_TYPE_VIDEO)->sample_rate, 0);

    EXPECT_TRUE(engine.set_generic_option_int("maxrate", 2500000));
    EXPECT_EQ(holder(AVMEDIA_TYPE_VIDEO)->rc_max_rate, 2500000);
    EXPECT_EQ(engine.generic_options.set_names, (std::vector<std::string>{"g", "ar", "maxrate"}));
}

TEST_F(GenericOptionsTest, ContainerAndScalerOptionsAreTriedNext)
{
    EXPECT_TRUE(engine.set_generic_option("packetsize", "2048"));
    EXPECT_EQ(engine.generic_options.format->packet_size, 2048u);
    EXPECT_TRUE(engine.set_generic_option("sws_flags", "bilinear"));
    int64_t flags = 0;
    ASSERT_GE(lib::av_opt_get_int(engine.generic_options.scaler, "sws_flags", 0, &flags), 0);
    EXPECT_EQ(flags, SWS_BILINEAR);
    EXPECT_EQ(engine.generic_options.set_names, (std::vector<std::string>{"packetsize", "sws_flags"}));
}

TEST_F(GenericOptionsTest, MediaTypeLetterFallsBackToThatTypesHolder)
{
    EXPECT_TRUE(engine.set_generic_option("ab", "64000"));
    EXPECT_EQ(holder(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);
    EXPECT_NE(holder(AVMEDIA_TYPE_VIDEO)->bit_rate, 64000);
    EXPECT_TRUE(engine.set_generic_option("vb", "900000"));
    EXPECT_EQ(holder(AVMEDIA_TYPE_VIDEO)->bit_rate, 900000);
    EXPECT_EQ(holder(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);
    // The installed libraries know "ab" as an audio option of its own; "vb" falls back to "b".
    EXPECT_EQ(engine.generic_options.set_names, (std::vector<std::string>{"ab", "b"}));
    EXPECT_FALSE(engine.set_generic_option("xb", "1"));
}

TEST_F(GenericOptionsTest, UnknownNamesAndEmptyTextsChangeNothing)
{
    const std::pair<const char*, const char*> cases[] = {
        {"no_such_option", "1"}, {"", "1"}, {"g", ""}, {"  ", "1"}, {"g", " \t"}, {"\xC3\xA9", "1"}, {"a", "1"}};
    for (const auto& [name, value] : cases) EXPECT_FALSE(engine.set_generic_option(name, value)) << name;
    EXPECT_TRUE(engine.generic_options.set_names.empty());
    EXPECT_TRUE(library_errors.empty());
    EXPECT_TRUE(engine.set_generic_option(" g ", " 20 ")) << "names and values are trimmed";
    EXPECT_EQ(holder(AVMEDIA_TYPE_VIDEO)->gop_size, 20);
}

TEST_F(GenericOptionsTest, RefusedValueIsReportedThroughTheLibraryLog)
{
    EXPECT_FALSE(engine.set_generic_option("g", "abc"));
    ASSERT_FALSE(library_errors.empty());
    EXPECT_EQ(library_errors.back(), "Invalid value \"abc\" for option \"g\"\n");
    EXPECT_TRUE(engine.generic_options.set_names.empty());
    EXPECT_FALSE(engine.set_generic_option("packetsize", "-5"));
    EXPECT_EQ(library_errors.back(), "Invalid value \"-5\" for option \"packetsize\"\n");
}

TEST_F(GenericOptionsTest, DebugOptionRaisesTheVerbosity)
{
    EXPECT_TRUE(engine.set_generic_option("debug", "pict"));
    EXPECT_EQ(engine.verbose, 2);
    EXPECT_EQ(lib::av_log_get_level(), AV_LOG_DEBUG);

    TCustomFFmpeg quiet;
    quiet.prepare_job();
    quiet.generic_options.verbosity_callback = nullptr;
    lib::av_log_set_level(AV_LOG_QUIET);
    EXPECT_TRUE(quiet.set_generic_option("fdebug", "ts"));
    EXPECT_EQ(quiet.verbose, 1);
    EXPECT_EQ(lib::av_log_get_level(), AV_LOG_DEBUG) << "without a callback the library level is raised";
}

TEST_F(GenericOptionsTest, UnpreparedEngineTakesNoGenericOptions)
{
    TCustomFFmpeg unprepared;
    EXPECT_FALSE(unprepared.set_generic_option("g", "15"));
}

TEST_F(GenericOptionsTest, RecordedOptionsAreCopiedWhenTheirFlagsMatch)
{
    ASSERT_TRUE(engine.set_generic_option("g", "15"));
    ASSERT_TRUE(engine.set_generic_option("ab", "64000"));
    ASSERT_TRUE(engine.set_generic_option("packetsize", "4096"));

    CodecContextPtr video(lib::avcodec_alloc_context3(nullptr));
    engine.apply_generic_options(video.get(), holder(AVMEDIA_TYPE_VIDEO), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(video->gop_size, 15);

    CodecContextPtr audio(lib::avcodec_alloc_context3(nullptr));
    const int default_gop = audio->gop_size;
    engine.apply_generic_options(audio.get(), holder(AVMEDIA_TYPE_AUDIO), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(audio->bit_rate, 64000);
    EXPECT_EQ(audio->gop_size, default_gop) << "g is not an audio option";

    CodecContextPtr decoder(lib::avcodec_alloc_context3(nullptr));
    engine.apply_generic_options(decoder.get(), holder(AVMEDIA_TYPE_VIDEO), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    EXPECT_EQ(decoder->gop_size, default_gop) << "g is an encoding option";

    FormatContextPtr output(lib::avformat_alloc_context());
    engine.apply_generic_options(output.get(), engine.generic_options.format, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(output->packet_size, 4096u);

    engine.apply_generic_options(nullptr, holder(AVMEDIA_TYPE_VIDEO), 0);
    engine.apply_generic_options(video.get(), nullptr, 0);
}

} // namespace
