// The task options records: what each field sets in the engine, what a record
// left at its defaults changes, the order of preset, extra lines and fields,
// the extra option lines, hook time ranges and the output's time stamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>

#include "FFmpegLoader/owners.h"
#include "Options/options_apply.h"
#include "Options/stream_info.h"
#include "support/engine_fixture.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;

namespace {

std::string error_of(const std::function<void()>& call)
{
    try {
        call();
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return {};
}

// A library option as text, looked up on the holder and its private object.
std::string option_text(void* holder, const char* name)
{
    uint8_t* text = nullptr;
    if (!holder || av_opt_get(holder, name, AV_OPT_SEARCH_CHILDREN, &text) < 0 || !text) return "(none)";
    std::string value(reinterpret_cast<char*>(text));
    av_free(text);
    return value;
}

std::string rate_text(AVRational rate) { return std::to_string(rate.num) + "/" + std::to_string(rate.den); }

class OptionsRecordTest : public EngineTest {
public:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.prepare_job(); // the libraries are loaded now
        ASSERT_TRUE(engine.prepared());
    }
    std::string video(const char* name) { return option_text(engine.generic_options.codec[AVMEDIA_TYPE_VIDEO], name); }
    std::string audio(const char* name) { return option_text(engine.generic_options.codec[AVMEDIA_TYPE_AUDIO], name); }
    std::string container(const char* name)
    {
        const std::string shared = option_text(engine.generic_options.format, name);
        if (shared != "(none)" || engine.generic_options.muxer_holders.empty()) return shared;
        return option_text(engine.generic_options.muxer_holders.back(), name);
    }

    RecordingEngine engine;
};

struct FieldCase {
    const char* field;
    std::function<void(TOutputOptions&)> fill;
    std::function<std::string(OptionsRecordTest&, TCustomFFmpeg&)> read;
    std::string expected;
};

using T = OptionsRecordTest;
using E = TCustomFFmpeg;

std::string text(bool value) { return value ? "true" : "false"; }
std::string text(const std::array<int, 3>& yuv)
{
    return std::to_string(yuv[0]) + "," + std::to_string(yuv[1]) + "," + std::to_string(yuv[2]);
}

// Every field of the output record, alone on a default record, and the engine
// value it must set.
std::vector<FieldCase> field_cases()
{
    return {
        {"FileFormat", [](TOutputOptions& o) { o.FileFormat = "mpeg"; },
         [](T&, E& e) { return std::string(e.forced_output_format ? e.forced_output_format->name : ""); }, "mpeg"},
        {"PacketSize", [](TOutputOptions& o) { o.PacketSize = 2048; }, [](T& t, E&) { return t.container("packetsize"); },
         "2048"},
        {"MuxRate", [](TOutputOptions& o) { o.FileFormat = "dvd", o.MuxRate = 10080000; },
         [](T& t, E&) { return t.container("muxrate"); }, "10080000"},
        {"MuxDelay", [](TOutputOptions& o) { o.MuxDelay = 1.5f; }, [](T&, E& e) { return std::to_string(e.mux_max_delay); },
         "1.500000"},
        {"MuxPreload", [](TOutputOptions& o) { o.MuxPreload = 0.25f; },
         [](T&, E& e) { return std::to_string(e.mux_preload); }, "0.250000"},
        {"AudioCodec", [](TOutputOptions& o) { o.AudioCodec = "mp2"; }, [](T&, E& e) { return e.audio_codec_name; }, "mp2"},
        {"DisableAudio", [](TOutputOptions& o) { o.DisableAudio = true; }, [](T&, E& e) { return text(e.audio_disable); },
         "true"},
        {"AudioVolume", [](TOutputOptions& o) { o.AudioVolume = 0; }, [](T&, E& e) { return std::to_string(e.audio_volume); },
         "0"},
        {"AudioChannels", [](TOutputOptions& o) { o.AudioChannels = 6; },
         [](T&, E& e) { return std::to_string(e.audio_channels); }, "6"},
        {"AudioSampleRate", [](TOutputOptions& o) { o.AudioSampleRate = 22050; },
         [](T&, E& e) { return std::to_string(e.audio_sample_rate); }, "22050"},
        {"AudioBitrate", [](TOutputOptions& o) { o.AudioBitrate = 192000; }, [](T& t, E&) { return t.audio("b"); }, "192000"},
        {"AudioBitrateTolerance", [](TOutputOptions& o) { o.AudioBitrateTolerance = 5000; },
         [](T& t, E&) { return t.audio("bt"); }, "5000"},
        {"AudioLanguage", [](TOutputOptions& o) { o.AudioLanguage = "fre"; }, [](T&, E& e) { return e.audio_language; },
         "fre"},
        {"AudioSync", [](TOutputOptions& o) { o.AudioSync = 1; },
         [](T&, E& e) { return std::to_string(e.audio_sync_method); }, "1"},
        {"AudioTag", [](TOutputOptions& o) { o.AudioTag = "abcd"; },
         [](T&, E& e) { return std::to_string(e.audio_codec_tag); }, std::to_string(MKTAG('a', 'b', 'c', 'd'))},
        {"VideoCodec", [](TOutputOptions& o) { o.VideoCodec = "mpeg2video"; }, [](T&, E& e) { return e.video_codec_name; },
         "mpeg2video"},
        {"DisableVideo", [](TOutputOptions& o) { o.DisableVideo = true; }, [](T&, E& e) { return text(e.video_disable); },
         "true"},
        {"FrameRate", [](TOutputOptions& o) { o.FrameRate = "30000/1001"; }, [](T&, E& e) { return rate_text(e.frame_rate); },
         "30000/1001"},
        {"FrameSize", [](TOutputOptions& o) { o.FrameSize = "640x480"; },
         [](T&, E& e) { return std::to_string(e.frame_width) + "x" + std::to_string(e.frame_height); }, "640x480"},
        {"FrameAspectRatio", [](TOutputOptions& o) { o.FrameAspectRatio = "16:9"; },
         [](T&, E& e) { return std::to_string(e.frame_aspect_ratio); }, std::to_string(16.0f / 9)},
        {"CropTop", [](TOutputOptions& o) { o.FrameSize = "640x480", o.CropTop = 8; },
         [](T&, E& e) { return std::to_string(e.crop_top) + " " + std::to_string(e.frame_height); }, "8 472"},
        {"CropBottom", [](TOutputOptions& o) { o.FrameSize = "640x480", o.CropBottom = 10; },
         [](T&, E& e) { return std::to_string(e.crop_bottom); }, "10"},
        {"CropLeft", [](TOutputOptions& o) { o.FrameSize = "640x480", o.CropLeft = 12; },
         [](T&, E& e) { return std::to_string(e.crop_left) + " " + std::to_string(e.frame_width); }, "12 628"},
        {"CropRight", [](TOutputOptions& o) { o.FrameSize = "640x480", o.CropRight = 14; },
         [](T&, E& e) { return std::to_string(e.crop_right); }, "14"},
        {"PadTop", [](TOutputOptions& o) { o.PadTop = 2; }, [](T&, E& e) { return std::to_string(e.pad_top); }, "2"},
        {"PadBottom", [](TOutputOptions& o) { o.PadBottom = 4; }, [](T&, E& e) { return std::to_string(e.pad_bottom); }, "4"},
        {"PadLeft", [](TOutputOptions& o) { o.PadLeft = 6; }, [](T&, E& e) { return std::to_string(e.pad_left); }, "6"},
        {"PadRight", [](TOutputOptions& o) { o.PadRight = 8; }, [](T&, E& e) { return std::to_string(e.pad_right); }, "8"},
        {"PadColor red", [](TOutputOptions& o) { o.PadColor = 0x0000FF; }, [](T&, E& e) { return text(e.pad_color); },
         "76,85,255"},
        {"PadColor blue", [](TOutputOptions& o) { o.PadColor = 0xFF0000; }, [](T&, E& e) { return text(e.pad_color); },
         "29,255,107"},
        {"GOPSize", [](TOutputOptions& o) { o.GOPSize = 13; }, [](T& t, E&) { return t.video("g"); }, "13"},
        {"VideoBitrate", [](TOutputOptions& o) { o.VideoBitrate = 800000; }, [](T& t, E&) { return t.video("b"); }, "800000"},
        {"VideoMaxRate", [](TOutputOptions& o) { o.VideoMaxRate = 2500000; }, [](T& t, E&) { return t.video("maxrate"); },
         "2500000"},
        {"VideoMinRate", [](TOutputOptions& o) { o.VideoMinRate = 100000; }, [](T& t, E&) { return t.video("minrate"); },
         "100000"},
        {"VideoBitrateTolerance", [](TOutputOptions& o) { o.VideoBitrateTolerance = 300000; },
         [](T& t, E&) { return t.video("bt"); }, "300000"},
        {"VideoBufSize", [](TOutputOptions& o) { o.VideoBufSize = 1835008; }, [](T& t, E&) { return t.video("bufsize"); },
         "1835008"},
        {"VideoSync", [](TOutputOptions& o) { o.VideoSync = 2; },
         [](T&, E& e) { return std::to_string(e.video_sync_method); }, "2"},
        {"VideoTag", [](TOutputOptions& o) { o.VideoTag = "XVID"; },
         [](T&, E& e) { return std::to_string(e.video_codec_tag); }, std::to_string(MKTAG('X', 'V', 'I', 'D'))},
        {"VideoFilters", [](TOutputOptions& o) { o.VideoFilters = "hflip"; }, [](T&, E& e) { return e.vfilters; }, "hflip"},
        {"DisableSubtitle", [](TOutputOptions& o) { o.DisableSubtitle = true; },
         [](T&, E& e) { return text(e.subtitle_disable); }, "true"},
        {"SubtitleLanguage", [](TOutputOptions& o) { o.SubtitleLanguage = "ger"; },
         [](T&, E& e) { return e.subtitle_language; }, "ger"},
        {"CopyTimestamps", [](TOutputOptions& o) { o.CopyTimestamps = true; }, [](T&, E& e) { return text(e.copy_ts); },
         "true"},
        {"StartTimeMS", [](TOutputOptions& o) { o.StartTimeMS = 1500; },
         [](T&, E& e) { return std::to_string(e.start_time); }, "1500000"},
        {"StartTimeUS wins", [](TOutputOptions& o) { o.StartTimeMS = 1500, o.StartTimeUS = 2000000; },
         [](T&, E& e) { return std::to_string(e.start_time); }, "2000000"},
        {"RecordingTimeMS", [](TOutputOptions& o) { o.RecordingTimeMS = 60000; },
         [](T&, E& e) { return std::to_string(e.recording_time) + " " + std::to_string(e.total_duration_ms); },
         "60000000 60000"},
        {"RecordingTimeUS wins", [](TOutputOptions& o) { o.RecordingTimeMS = 60000, o.RecordingTimeUS = 5000000; },
         [](T&, E& e) { return std::to_string(e.recording_time) + " " + std::to_string(e.total_duration_ms); },
         "5000000 5000"},
        {"Info.TimeStamp", [](TOutputOptions& o) { o.Info.TimeStamp = 25569.5; },
         [](T&, E& e) { return std::to_string(e.rec_timestamp); },
         std::to_string(43200 + int64_t(StandardTimeBiasMinutes()) * 60)},
        {"Target and TargetNorm", [](TOutputOptions& o) { o.Target = 2, o.TargetNorm = 2; },
         [](T&, E& e) { return std::to_string(e.frame_width) + "x" + std::to_string(e.frame_height); }, "480x480"},
        {"ExtOptions", [](TOutputOptions& o) { o.ExtOptions = "qscale=4"; },
         [](T&, E& e) { return std::to_string(e.video_qscale); }, "4.000000"},
    };
}

TEST_F(OptionsRecordTest, EveryOutputFieldReachesTheEngine)
{
    for (const FieldCase& c : field_cases()) {
        engine.prepare_job();
        TOutputOptions options;
        c.fill(options);
        ApplyOutputOptions(engine, options);
        EXPECT_EQ(c.read(*this, engine), c.expected) << c.field;
    }
}

TEST_F(OptionsRecordTest, EveryInputFieldReachesTheEngine)
{
    TInputOptions options;
    options.FileFormat = "wav";
    options.StartTimeMS = 1500;
    options.ProgramID = 0;
    options.ExtOptions = "f=mp3\nnewaudio\nitsoffset=2";
    ApplyInputOptions(engine, options); // "newaudio" would fail without an output: it waits for the second pass
    ASSERT_NE(engine.forced_input_format, nullptr);
    EXPECT_STREQ(engine.forced_input_format->name, "wav") << "the field wins over the extra line";
    EXPECT_EQ(engine.start_time, 1500000);
    EXPECT_EQ(engine.input_ts_offset, 2000000);
    engine.program_id = 7;
    options.ProgramID = 0;
    options.StartTimeUS = 2000000;
    ApplyInputOptions(engine, options);
    EXPECT_EQ(engine.program_id, 0) << "0 is a programme number too";
    EXPECT_EQ(engine.start_time, 2000000);
    options.ProgramID = -1;
    ApplyInputOptions(engine, options);
    EXPECT_EQ(engine.program_id, 0);
}

// A default record resets only the values it stores unchanged.
TEST_F(OptionsRecordTest, DefaultOutputRecordChangesOnlyItsStoredValues)
{
    engine.parse_option("async", "5");
    engine.parse_option("vsync", "2");
    for (const char* flag : {"an", "vn", "sn", "copyts"}) engine.parse_option(flag, "1");
    engine.parse_option("alang", "fre");
    engine.parse_option("slang", "ger");
    engine.parse_option("padcolor", "255");
    // Values a default record must leave alone.
    engine.parse_option("s", "640x480");
    engine.parse_option("r", "25");
    engine.parse_option("vcodec", "mpeg2video");
    engine.parse_option("ar", "22050");
    engine.parse_option("muxpreload", "0.3");
    engine.parse_option("vol", "512");

    TOutputOptions defaults;
    DefaultOutputOptions(defaults);
    ApplyOutputOptions(engine, defaults);

    EXPECT_EQ(engine.audio_sync_method, 0);
    EXPECT_EQ(engine.video_sync_method, -1);
    EXPECT_FALSE(engine.audio_disable);
    EXPECT_FALSE(engine.video_disable);
    EXPECT_FALSE(engine.subtitle_disable);
    EXPECT_FALSE(engine.copy_ts);
    EXPECT_EQ(engine.audio_language, "");
    EXPECT_EQ(engine.subtitle_language, "");
    EXPECT_EQ(engine.pad_color, (std::array<int, 3>{0, 128, 128})) << "black, not the default (16, 128, 128)";

    EXPECT_EQ(engine.frame_width, 640);
    EXPECT_EQ(rate_text(engine.frame_rate), "25/1");
    EXPECT_EQ(engine.video_codec_name, "mpeg2video");
    EXPECT_EQ(engine.audio_sample_rate, 22050);
    EXPECT_FLOAT_EQ(engine.mux_preload, 0.3f);
    EXPECT_EQ(engine.audio_volume, 512);
    EXPECT_EQ(engine.forced_output_format, nullptr);
    EXPECT_EQ(engine.start_time, 0);
    EXPECT_EQ(engine.recording_time, NO_RECORDING_LIMIT);
    EXPECT_EQ(engine.total_duration_ms, -1);
    EXPECT_EQ(engine.rec_timestamp, 0);
    EXPECT_TRUE(engine.job_metadata.empty());
    EXPECT_TRUE(engine.generic_options.set_names.empty());
    EXPECT_TRUE(engine.segments.empty());
}

// Fields win over the first pass of the extra lines, and both over the preset.
TEST_F(OptionsRecordTest, LaterSettingsOverrideEarlierOnes)
{
    TOutputOptions options;
    options.Target = 3;
    options.TargetNorm = 1;
    options.ExtOptions = "s=640x480\ng=5\nb=4000000";
    options.GOPSize = 9;
    ApplyOutputOptions(engine, options);
    EXPECT_EQ(engine.frame_width, 640) << "extra line over preset";
    EXPECT_EQ(video("b"), "4000000") << "extra line over preset";
    EXPECT_EQ(video("g"), "9") << "field over extra line";
    EXPECT_EQ(video("maxrate"), "9000000") << "the preset's other values stay";

    engine.prepare_job();
    options.FrameSize = "320x240";
    ApplyOutputOptions(engine, options);
    EXPECT_EQ(engine.frame_width, 320) << "field over extra line";
}

TEST_F(OptionsRecordTest, TargetNormsAndDefaultNorm)
{
    TOutputOptions options;
    options.Target = 1;
    EXPECT_EQ(error_of([&] { ApplyOutputOptions(engine, options); }), "frame_rate is invalid.")
        << "auto needs a rate to detect from";

    ClipSpec spec;
    spec.container = fixtures::Container::mpeg_ps;
    spec.duration = 0.5;
    spec.frame_rate = {50, 1};
    const auto input = clip("records-50fps.mpg", spec);
    for (const auto& [default_norm, height] : {std::pair{1, 288}, std::pair{2, 240}, std::pair{0, 240}}) {
        engine.prepare_job();
        ASSERT_TRUE(engine.open_input_file(input.string())) << engine.last_error;
        options.DefaultNorm = default_norm;
        ApplyOutputOptions(engine, options);
        EXPECT_EQ(engine.frame_height, height) << "DefaultNorm " << default_norm;
    }
    options.Target = 4; // not a disc preset: nothing
    options.TargetNorm = 7;
    engine.prepare_job();
    ApplyOutputOptions(engine, options);
    EXPECT_EQ(engine.frame_height, 0);
}

TEST_F(OptionsRecordTest, StreamInfoMetadataInItsOrder)
{
    TOutputOptions options;
    options.Info.Year = 2009;
    options.Info.Track = 0; // not set
    options.Info.Title = "A Title";
    options.Info.Author = "Ann";
    options.Info.Comment = "said \"hi\"";
    options.Info.Genre = "Jazz";
    ApplyOutputOptions(engine, options);
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(engine.job_metadata,
              (Pairs{{"year", "2009"}, {"title", "A Title"}, {"author", "Ann"}, {"comment", "said \"hi\""}, {"genre", "Jazz"}}));
    EXPECT_EQ(engine.rec_timestamp, 0) << "the default time stamp -1 stamps nothing";
}

TEST_F(OptionsRecordTest, TimeStampConversion)
{
    EXPECT_EQ(DateTimeToUnixSeconds(25569.0, 0), 0);
    EXPECT_EQ(DateTimeToUnixSeconds(25569.5, 0), 43200);
    EXPECT_EQ(DateTimeToUnixSeconds(25569.5, 60), 43200 + 3600) << "UTC = local time + bias";
    EXPECT_EQ(DateTimeToUnixSeconds(25569.5, -330), 43200 - 330 * 60);
    EXPECT_EQ(DateTimeToUnixSeconds(40179.75, 0), 1262304000 + 18 * 3600); // 2010-01-01 18:00
    EXPECT_EQ(DateTimeToUnixSeconds(1e300, 0), std::numeric_limits<int64_t>::max()) << "held, not overflowed";

    // The standard-time bias, whatever the season.
    const char* saved = std::getenv("TZ");
    const std::string saved_tz = saved ? saved : "";
    setenv("TZ", "EST5EDT", 1);
    EXPECT_EQ(StandardTimeBiasMinutes(), 300);
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(StandardTimeBiasMinutes(), 0);
    if (saved) setenv("TZ", saved_tz.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST_F(OptionsRecordTest, TimeStampZeroMeansNow)
{
    TOutputOptions options;
    options.Info.TimeStamp = 0;
    const std::time_t before = std::time(nullptr);
    ApplyOutputOptions(engine, options);
    const std::time_t after = std::time(nullptr);
    // Local wall-clock time taken back with the standard-time bias only:
    // during daylight saving time the stamp is the daylight offset ahead.
    std::tm local{};
    localtime_r(&before, &local);
    const int64_t shift = local.tm_gmtoff + int64_t(StandardTimeBiasMinutes()) * 60;
    EXPECT_GE(engine.rec_timestamp, before + shift - 1);
    EXPECT_LE(engine.rec_timestamp, after + shift + 1);
}

// ---- Extra option lines ----------------------------------------------------

TEST_F(OptionsRecordTest, ExtraLinesAreCutExactly)
{
    // Only the whole text is trimmed; names and values are passed as cut.
    ApplyExtOptions(engine,
                    " \r\n vn=1\r\nmetadata=k= v \rmetadata=plain=\n\n sn=1\nmetadata=last=x=y\r\n\t ", false);
    EXPECT_TRUE(engine.video_disable) << "leading blanks of the text are trimmed";
    EXPECT_FALSE(engine.subtitle_disable) << "\" sn\" is not \"sn\"";
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(engine.job_metadata, (Pairs{{"k", " v "}, {"plain", ""}, {"last", "x=y"}}))
        << "\"metadata=plain=\" has an empty value after its key";
}

TEST_F(OptionsRecordTest, ExtraLineErrorsAreTheDispatchersOwn)
{
    EXPECT_EQ(error_of([&] { ApplyExtOptions(engine, "metadata", false); }), "Missing =");
    EXPECT_EQ(error_of([&] { ApplyExtOptions(engine, "threads=2", false); }), "TODO: option - threads");
    EXPECT_EQ(error_of([&] { ApplyExtOptions(engine, "newaudio", true); }), "At least one output file must be specified");
    EXPECT_EQ(error_of([&] { ApplyExtOptions(engine, "unknown_name=1\n=\n\nno_such_option", false); }), "");
}

TEST_F(OptionsRecordTest, NewStreamLinesWaitForTheOutput)
{
    ClipSpec spec;
    spec.container = fixtures::Container::mpeg_ps;
    spec.duration = 0.5;
    ASSERT_TRUE(engine.open_input_file(clip("records-ps.mpg", spec).string())) << engine.last_error;

    TOutputOptions options;
    options.ExtOptions = "newaudio\nab=128000";
    options.AudioCodec = "mp2";
    ApplyOutputOptions(engine, options);
    EXPECT_EQ(audio("b"), "128000") << "ab before the output file";
    ASSERT_EQ(engine.open_output_file((scratch / "two-audio.mpg").string()), 1) << engine.last_error;
    ASSERT_EQ(engine.output_streams[0].size(), 2u);
    ApplyExtOptions(engine, options.ExtOptions, true);
    ASSERT_EQ(engine.output_streams[0].size(), 3u) << "newaudio after it";
    const AVCodecContext* added = engine.output_streams[0][2].encoder.get();
    EXPECT_EQ(added->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(added->bit_rate, 128000);
}

// ---- Hook time ranges ------------------------------------------------------

TEST_F(OptionsRecordTest, HookTimeRanges)
{
    const struct {
        const char* text;
        std::vector<std::pair<int64_t, int64_t>> kept; // microseconds, sorted by end
    } cases[] = {
        {"1000-2000, 5000-4000, 7000", {{1000000, 2000000}}},
        {"-500-3000", {}},
        {" 5000 - 6000 ,1000-2000 ", {{1000000, 2000000}, {5000000, 6000000}}},
        {"abc-2000", {{-1000, 2000000}}},
        {"0-0,,", {{0, 0}}},
        {"3000-x", {}},
        {"99999999999999999-1", {{-1000, 1000}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        engine.set_segments({{1, 2}});
        ApplyHookTimeRanges(engine, c.text);
        std::vector<std::pair<int64_t, int64_t>> kept;
        for (const TimeSegment& s : engine.segments) kept.emplace_back(s.start, s.end);
        EXPECT_EQ(kept, c.kept) << '"' << c.text << '"';
    }
}

} // namespace
