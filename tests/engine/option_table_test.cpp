// The option table: its vocabulary and order, the value kinds, the actions,
// the typed setters' guards, and bad values that must never crash.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <regex>

#include "FFmpeg/option_table.h"
#include "engine/engine_fixture.h"

using namespace quillon;

namespace {

class OptionTableTest : public test::PreparedEngine {};

TEST(OptionTable, HoldsTheVocabularyInOrder)
{
    const std::vector<std::string_view> expected = {
        "L", "h", "version", "formats", "f", "i", "y", "map", "map_meta_data", "t", "fs", "ss", "itsoffset",
        "itsscale", "timestamp", "metadata", "dframes", "benchmark", "dump", "hex", "re", "loop_input",
        "loop_output", "v", "target", "threads", "vsync", "async", "adrift_threshold", "vglobal", "copyts",
        "shortest", "dts_delta_threshold", "programid", "xerror", "copyinkf", "b", "vb", "vframes", "r", "s",
        "aspect", "pix_fmt", "croptop", "cropbottom", "cropleft", "cropright", "padtop", "padbottom", "padleft",
        "padright", "padcolor", "intra", "vn", "vdt", "qscale", "rc_override", "vcodec", "me_threshold", "sameq",
        "pass", "passlogfile", "deinterlace", "psnr", "vstats", "vstats_file", "vhook", "vfilters", "intra_matrix",
        "inter_matrix", "top", "dc", "vtag", "newvideo", "qphist", "force_fps", "ab", "aframes", "aq", "ar", "ac",
        "an", "acodec", "atag", "vol", "newaudio", "alang", "sample_fmt", "sn", "scodec", "newsubtitle", "slang",
        "vc", "tvstd", "isync", "muxdelay", "muxpreload", "absf", "vbsf", "sbsf", "apre", "vpre", "spre"};
    std::vector<std::string_view> names;
    for (const OptionRow& row : option_table()) names.push_back(row.name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(find_option("-t"), nullptr) << "names are compared whole, without a leading dash";
    EXPECT_EQ(find_option("T"), nullptr) << "names are case-sensitive";
}

TEST_F(OptionTableTest, FlagsAndSets)
{
    struct Case {
        const char* option;
        const char* value;
        bool expected;
        bool JobState::*field;
    };
    const Case cases[] = {
        {"an", "0", false, &JobState::audio_disable},    {"an", "", true, &JobState::audio_disable},
        {"an", "1", true, &JobState::audio_disable},     {"an", "no", true, &JobState::audio_disable},
        {"vn", "00", true, &JobState::video_disable},    {"sn", "0", false, &JobState::subtitle_disable},
        {"copyts", "0", true, &JobState::copy_ts},       {"xerror", "0", true, &JobState::exit_on_error},
        {"dump", "", true, &JobState::do_pkt_dump},      {"isync", "0", false, &JobState::input_sync},
    };
    for (const Case& c : cases) {
        engine.*c.field = !c.expected;
        engine.parse_option(c.option, c.value);
        EXPECT_EQ(engine.*c.field, c.expected) << c.option << " '" << c.value << "'";
    }
}

TEST_F(OptionTableTest, OptionsThatDoNothingOnlySaySo)
{
    for (const char* option : {"y", "i", "h", "L", "version", "formats", "benchmark", "apre", "vpre", "spre"}) {
        lines.clear();
        engine.parse_option(option, "whatever");
        EXPECT_EQ(lines, std::vector<std::string>{std::string("Do nothing: option - ") + option});
    }
    engine.log_sink = nullptr;
    EXPECT_NO_THROW(engine.parse_option("y", ""));
}

TEST_F(OptionTableTest, ThreadsIsRefused)
{
    EXPECT_EQ(option_error("threads", "4"), "TODO: option - threads");
    EXPECT_EQ(option_error("threads", ""), "TODO: option - threads");
    EXPECT_EQ(engine.thread_count, 1);
}

TEST_F(OptionTableTest, UnreadableNumbersNameTheOptionAndKeepTheEarlierValue)
{
    engine.parse_option("vframes", "10");
    const std::pair<const char*, const char*> cases[] = {{"vframes", "x"},  {"vframes", ""}, {"fs", "1k"},
                                                         {"qscale", "1,5"}, {"ar", "44.1"}, {"padcolor", "red"}};
    for (const auto& [option, value] : cases) {
        const std::string message = option_error(option, value);
        EXPECT_NE(message.find(option), std::string::npos) << message;
        EXPECT_NE(message.find(std::string("'") + value + "'"), std::string::npos) << message;
    }
    EXPECT_EQ(engine.max_frames[0], 10);
    EXPECT_EQ(engine.pad_color, (std::array<int, 3>{16, 128, 128}));
}

TEST_F(OptionTableTest, PlainValuesReachTheirFields)
{
    engine.parse_option("vframes", "$10");
    engine.parse_option("aframes", "0x20");
    engine.parse_option("dframes", "x30");
    engine.parse_option("fs", "5000000000");
    engine.parse_option("vol", "-5");
    engine.parse_option("muxdelay", "-1");
    engine.parse_option("programid", "-2");
    engine.parse_option("ar", "0");
    engine.parse_option("ac", "-1");
    engine.parse_option("alang", "d\xC3\xA9u");
    engine.parse_option("rc_override", "2,10,-30");
    engine.parse_option("vfilters", "");
    EXPECT_EQ(engine.max_frames, (std::array<int, 4>{16, 32, 48, INT_MAX}));
    EXPECT_EQ(engine.limit_filesize, 5000000000);
    EXPECT_EQ(engine.audio_volume, -5) << "the option path stores any value";
    EXPECT_FLOAT_EQ(engine.mux_max_delay, -1);
    EXPECT_EQ(engine.program_id, -2);
    EXPECT_EQ(engine.audio_sample_rate, 44100) << "ar and ac ignore values of 0 or less";
    EXPECT_EQ(engine.audio_channels, 2);
    EXPECT_EQ(engine.audio_language, "d\xC3\xA9u");
    EXPECT_EQ(engine.rc_override_text, "2,10,-30");
    EXPECT_TRUE(engine.vfilters.empty());

    EXPECT_EQ(option_error("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(option_error("pass", "0"), "pass number can be only 1 or 2");
    engine.parse_option("pass", "2");
    EXPECT_EQ(engine.do_pass, 2);
}

TEST_F(OptionTableTest, TypedSettersKeepTheirGuards)
{
    engine.set_start_time(0);
    engine.set_program_id(-1);
    engine.set_mux_max_delay(0);
    engine.set_mux_preload(-1);
    engine.set_audio_volume(-1);
    engine.set_audio_channels(0);
    engine.set_audio_sample_rate(-8000);
    engine.set_recording_time(0);
    engine.set_recording_time_ms(-1);
    engine.set_vfilters("");
    engine.set_frame_rate("");
    engine.set_input_format("");
    engine.set_output_format("");
    EXPECT_EQ(engine.start_time, 0);
    EXPECT_EQ(engine.program_id, 0);
    EXPECT_FLOAT_EQ(engine.mux_max_delay, 0.7f);
    EXPECT_FLOAT_EQ(engine.mux_preload, 0.5f);
    EXPECT_EQ(engine.audio_volume, 256);
    EXPECT_EQ(engine.audio_channels, 2);
    EXPECT_EQ(engine.audio_sample_rate, 44100);
    EXPECT_EQ(engine.recording_time, INT64_MAX);
    EXPECT_EQ(engine.total_duration_ms, -1);

    engine.set_recording_time_ms(1500);
    engine.set_audio_sync(-3);
    engine.set_video_sync(0);
    engine.set_vfilters("scale=320:240");
    engine.add_metadata("a=b", "c");
    EXPECT_EQ(engine.recording_time, 1500000);
    EXPECT_EQ(engine.total_duration_ms, 1500);
    EXPECT_EQ(engine.audio_sync_method, -3);
    EXPECT_EQ(engine.video_sync_method, 0);
    EXPECT_EQ(engine.vfilters, "scale=320:240");
    ASSERT_EQ(engine.job_metadata.size(), 1u);
    EXPECT_EQ(engine.job_metadata[0].first, "a=b") << "add_metadata does not split";
}

TEST_F(OptionTableTest, VerbositySetsTheLibrariesLogLevel)
{
    const int before = lib::av_log_get_level();
    engine.parse_option("v", "2");
    EXPECT_EQ(engine.verbose, 2);
    EXPECT_EQ(lib::av_log_get_level(), AV_LOG_DEBUG);
    engine.set_verbosity(-1);
    EXPECT_EQ(lib::av_log_get_level(), AV_LOG_QUIET);
    lib::av_log_set_level(before);
}

struct MapCase {
    const char* text;
    StreamMap expected;
};

TEST_F(OptionTableTest, StreamMapsFollowTheRuntimeIntegerRules)
{
    const MapCase cases[] = {
        {"0:1", {0, 1, 0, 1}},         {"0.1:0.0", {0, 1, 0, 0}},      {"1:2:3:4", {1, 2, 3, 4}},
        {"0x10:010", {16, 8, 16, 8}},  {"", {0, 0, 0, 0}},             {" -1:abc", {-1, 0, 0, 0}},
        {"2", {2, 0, 2, 0}},           {"99999999999:1", {INT_MAX, 1, INT_MAX, 1}},
        {"\xC3\xA9", {0, 0, 0, 0}},
    };
    for (const MapCase& c : cases) {
        engine.stream_maps.clear();
        engine.parse_option("map", c.text);
        ASSERT_EQ(engine.stream_maps.size(), 1u) << c.text;
        const StreamMap& m = engine.stream_maps[0];
        EXPECT_EQ((std::array{m.file_index, m.stream_index, m.sync_file_index, m.sync_stream_index}),
                  (std::array{c.expected.file_index, c.expected.stream_index, c.expected.sync_file_index,
                              c.expected.sync_stream_index}))
            << "'" << c.text << "'";
    }
}

TEST_F(OptionTableTest, MapListsRefuseToPassTheirLimits)
{
    for (int i = 0; i < MAX_STREAM_MAPS; ++i) engine.parse_option("map", "0:0");
    EXPECT_NE(option_error("map", "0:0"), "");
    EXPECT_EQ(engine.stream_maps.size(), size_t(MAX_STREAM_MAPS));

    engine.parse_option("map_meta_data", "1:0");
    engine.parse_option("map_meta_data", "2");
    EXPECT_EQ(engine.meta_data_maps[0].out_file, 1);
    EXPECT_EQ(engine.meta_data_maps[0].in_file, 0);
    EXPECT_EQ(engine.meta_data_maps[1].out_file, 2);
    for (int i = 2; i < MAX_META_DATA_MAPS; ++i) engine.parse_option("map_meta_data", "0:0");
    EXPECT_NE(option_error("map_meta_data", "0:0"), "");
    EXPECT_EQ(engine.meta_data_maps.size(), size_t(MAX_META_DATA_MAPS));
}

TEST_F(OptionTableTest, TimestampScaleAppliesToTheNextInputStream)
{
    engine.parse_option("itsscale", "19:2.0");
    EXPECT_DOUBLE_EQ(engine.input_ts_scales[0][19], 2.0);
    engine.input_files.push_back(nullptr); // one input already opened
    engine.parse_option("itsscale", " 3:0.5");
    EXPECT_DOUBLE_EQ(engine.input_ts_scales[1][3], 0.5);
    engine.input_files.clear();

    EXPECT_EQ(option_error("itsscale", "20:2.0"), "stream index over MAX_STREAMS(20)");
    EXPECT_NE(option_error("itsscale", "-1:2.0"), "") << "a negative index would write outside the table";
    for (const auto& file : engine.input_ts_scales)
        for (double scale : file) EXPECT_TRUE(scale == 0 || scale == 2.0 || scale == 0.5);

    engine.input_files.assign(MAX_FILES, nullptr); // no further input can be opened
    EXPECT_NE(option_error("itsscale", "0:2.0"), "");
    engine.input_files.clear();
}

TEST_F(OptionTableTest, MetadataSplitsAtTheFirstEquals)
{
    engine.parse_option("metadata", "title=A=B");
    engine.parse_option("metadata", "=x");
    EXPECT_EQ(option_error("metadata", "title"), "Missing =");
    EXPECT_EQ(option_error("metadata", ""), "Missing =");
    ASSERT_EQ(engine.job_metadata.size(), 2u);
    EXPECT_EQ(engine.job_metadata[0], (std::pair<std::string, std::string>{"title", "A=B"}));
    EXPECT_EQ(engine.job_metadata[1], (std::pair<std::string, std::string>{"", "x"}));
}

TEST_F(OptionTableTest, BitRatesWarnWhenTheyLookLikeKilobits)
{
    const char* warning = "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    engine.parse_option("vb", "800");
    EXPECT_EQ(lines, std::vector<std::string>{warning});
    lines.clear();
    engine.parse_option("vb", "1150000");
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(engine.generic_options.codec[AVMEDIA_TYPE_VIDEO]->bit_rate, 1150000);

    engine.parse_option("ab", "64");
    EXPECT_EQ(lines, std::vector<std::string>{warning}) << "ab reads the audio holder";
    EXPECT_EQ(engine.generic_options.codec[AVMEDIA_TYPE_AUDIO]->bit_rate, 64);
    EXPECT_EQ(engine.generic_options.codec[AVMEDIA_TYPE_VIDEO]->bit_rate, 1150000);
    lines.clear();
    engine.parse_option("b", "");
    engine.parse_option("b", "abc");
    EXPECT_TRUE(lines.empty());
}

TEST_F(OptionTableTest, UnknownNamesGoToTheGenericOptions)
{
    engine.parse_option("g", "15");
    EXPECT_EQ(engine.generic_options.codec[AVMEDIA_TYPE_VIDEO]->gop_size, 15);
    EXPECT_NO_THROW(engine.parse_option("no_such_option", "1"));
    EXPECT_NO_THROW(engine.parse_option("", ""));
    EXPECT_EQ(engine.generic_options.set_names, std::vector<std::string>{"g"});
    EXPECT_TRUE(lines.empty());
}

TEST_F(OptionTableTest, CodecChoiceAndCopy)
{
    engine.parse_option("vcodec", "mpeg2video");
    EXPECT_EQ(engine.video_codec_name, "mpeg2video");
    engine.parse_option("vcodec", "copy");
    EXPECT_EQ(engine.video_stream_copy, 1);
    EXPECT_TRUE(engine.video_codec_name.empty());
    engine.parse_option("acodec", "mp2");
    engine.parse_option("acodec", "");
    EXPECT_EQ(engine.audio_codec_name, "mp2");
    EXPECT_EQ(engine.audio_stream_copy, 0);
    engine.parse_option("scodec", "copy");
    EXPECT_EQ(engine.subtitle_stream_copy, 1);
}

TEST_F(OptionTableTest, CodecTagsAreFourCharacters)
{
    engine.parse_option("vtag", "XVID");
    EXPECT_EQ(engine.video_codec_tag, uint32_t('X' | 'V' << 8 | 'I' << 16 | 'D' << 24));
    engine.parse_option("atag", "\x01\x02\x03\xFF");
    EXPECT_EQ(engine.audio_codec_tag, 0xFF030201u);
    engine.parse_option("vtag", "");
    EXPECT_EQ(engine.video_codec_tag, uint32_t('X' | 'V' << 8 | 'I' << 16 | 'D' << 24));

    for (const char* bad : {"XVI", "XVIDX", "XVI\xC3\xA9", "\xC3\xA9\xC3\xA9"})
        EXPECT_EQ(option_error("vtag", bad), "video tag parameter must be 4 chars") << bad;
    EXPECT_EQ(option_error("atag", "mp"), "audio tag parameter must be 4 chars");
    EXPECT_EQ(engine.video_codec_tag, uint32_t('X' | 'V' << 8 | 'I' << 16 | 'D' << 24));
}

TEST_F(OptionTableTest, BitstreamFiltersArePendingPerMediaType)
{
    engine.parse_option("vbsf", "=h264_mp4toannexb");
    engine.parse_option("vbsf", "");
    EXPECT_TRUE(engine.pending_video_bsf.empty());
    engine.parse_option("vbsf", "h264_mp4toannexb=ignored");
    engine.parse_option("vbsf", "null");
    engine.parse_option("absf", "aac_adtstoasc");
    engine.parse_option("sbsf", "null");
    EXPECT_EQ(engine.pending_video_bsf, (BitstreamFilterChain{"h264_mp4toannexb", "null"}));
    EXPECT_EQ(engine.pending_audio_bsf, (BitstreamFilterChain{"aac_adtstoasc"}));
    EXPECT_EQ(engine.pending_subtitle_bsf, (BitstreamFilterChain{"null"}));

    EXPECT_EQ(option_error("absf", "no_such_filter"), "Unknown bitstream filter no_such_filter");
    EXPECT_EQ(option_error("absf", " no_such_filter =x "), "Unknown bitstream filter no_such_filter =x");
    EXPECT_EQ(engine.pending_audio_bsf.size(), 1u);
}

TEST_F(OptionTableTest, PixelAndSampleFormatsAndTheirLists)
{
    engine.parse_option("pix_fmt", "yuv422p");
    EXPECT_EQ(engine.frame_pix_fmt, AV_PIX_FMT_YUV422P);
    engine.parse_option("pix_fmt", "list");
    EXPECT_EQ(engine.frame_pix_fmt, AV_PIX_FMT_YUV422P);
    int formats = 0;
    for (const AVPixFmtDescriptor* d = lib::av_pix_fmt_desc_next(nullptr); d; d = lib::av_pix_fmt_desc_next(d)) ++formats;
    ASSERT_EQ(lines.size(), size_t(formats + 1));
    EXPECT_EQ(lines[0].rfind("name", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("yuv420p ", 0), 0u) << lines[1];
    for (const std::string& line : lines) EXPECT_TRUE(!line.empty() && line.back() != ' ' && line.front() != ' ');

    lines.clear();
    engine.parse_option("sample_fmt", "list");
    EXPECT_EQ(lines.size(), size_t(AV_SAMPLE_FMT_NB + 1));
    engine.parse_option("sample_fmt", "s16");
    EXPECT_EQ(engine.audio_sample_fmt, AV_SAMPLE_FMT_S16);
    engine.parse_option("sample_fmt", "no_such_format");
    EXPECT_EQ(engine.audio_sample_fmt, AV_SAMPLE_FMT_NONE);
    engine.parse_option("pix_fmt", "");
    EXPECT_EQ(engine.frame_pix_fmt, AV_PIX_FMT_NONE);
}

TEST_F(OptionTableTest, PadColourValues)
{
    const std::pair<const char*, std::array<int, 3>> cases[] = {
        {"0", {0, 128, 128}}, {"255", {76, 85, 255}}, {"16777215", {255, 128, 128}}, {"$FF", {76, 85, 255}}};
    for (const auto& [value, yuv] : cases) {
        engine.parse_option("padcolor", value);
        EXPECT_EQ(engine.pad_color, yuv) << value;
    }
}

TEST_F(OptionTableTest, FormatsAreLookedUpOnBothSides)
{
    engine.parse_option("f", "mpeg");
    ASSERT_NE(engine.forced_input_format, nullptr);
    ASSERT_NE(engine.forced_output_format, nullptr);
    EXPECT_STREQ(engine.forced_output_format->name, "mpeg");

    EXPECT_EQ(option_error("f", "no_such_format"), "Unknown input or output format: no_such_format");
    EXPECT_STREQ(engine.forced_output_format->name, "mpeg") << "a rejected name keeps the earlier formats";
    engine.parse_option("f", "");
    EXPECT_STREQ(engine.forced_output_format->name, "mpeg");

    engine.parse_option("f", "pgmyuv");
    EXPECT_EQ(engine.pgmyuv_compat, 1);
    EXPECT_EQ(lines, std::vector<std::string>{"pgmyuv format is deprecated, use image2"});
    EXPECT_STREQ(engine.forced_output_format->name, "image2");

    EXPECT_EQ(error_of([&] { engine.set_input_format("no_such_format"); }), "Unknown input format: no_such_format");
    EXPECT_EQ(error_of([&] { engine.set_output_format("no_such_format"); }), "Unknown output format: no_such_format");
    engine.set_input_format("wav");
    engine.set_output_format("avi");
    EXPECT_STREQ(engine.forced_input_format->name, "wav");
    EXPECT_STREQ(engine.forced_output_format->name, "avi");
}

TEST_F(OptionTableTest, StatisticsFileNames)
{
    engine.parse_option("vstats_file", "stats.log");
    EXPECT_EQ(engine.vstats_filename, "stats.log");
    engine.parse_option("vstats", "ignored");
    const std::string folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_TRUE(std::regex_match(engine.vstats_filename, std::regex(folder + "/vstats_[0-2][0-9][0-5][0-9][0-6][0-9]\\.log")))
        << engine.vstats_filename;
}

TEST_F(OptionTableTest, LaterWorkRefusesInsteadOfPretending)
{
    EXPECT_EQ(option_error("target", "vcd"), "frame_rate is invalid."); // reaches the presets: no rate to detect from
    EXPECT_EQ(option_error("vhook", "hook.so arg"), "Failed to add video hook function: hook.so arg");
    EXPECT_FALSE(engine.vhook_active);
    for (const char* option : {"newvideo", "newaudio", "newsubtitle"})
        EXPECT_EQ(option_error(option, ""), "At least one output file must be specified") << option;
}

// Every option, and an unknown one, given values that are empty, huge,
// negative or not ASCII: a clear FFmpegException at worst, never a crash.
TEST_F(OptionTableTest, BadValuesNeverCrash)
{
    const int level = lib::av_log_get_level();
    const std::string values[] = {"", "-1", "0", "-2147483649", std::string(300, '9'), std::string(5000, 'x'),
                                  "\xC3\xA9\xC3\xA8", "\xFF\xFE\x80", "1e999", "=", ":", "::::", ",", "\x01\x02",
                                  "-9223372036854775808", "list", "copy", "0x", "$"};
    std::vector<std::string> names;
    for (const OptionRow& row : option_table()) names.emplace_back(row.name);
    names.insert(names.end(), {"no_such_option", "g", "packetsize", "sws_flags", "ab", "\xC3\xA9", ""});
    for (const std::string& name : names) {
        for (const std::string& value : values) {
            engine.stream_maps.clear();
            engine.meta_data_maps.clear();
            try {
                engine.parse_option(name, value);
            } catch (const FFmpegException&) {
            } catch (const std::exception& other) {
                ADD_FAILURE() << name << " '" << value.substr(0, 20) << "' raised " << other.what();
            }
        }
    }
    lib::av_log_set_level(level);
}

} // namespace
