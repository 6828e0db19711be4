// Number reading of option values and the value parsers: frame rate and size,
// aspect, crop and pad bands, quality scale, matrices, time values, pad colour.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "FFmpeg/option_numbers.h"
#include "FFmpeg/value_parsers.h"
#include "engine/engine_fixture.h"

using namespace quillon;

namespace {

struct IntegerCase {
    const char* text;
    int64_t expected;
};

TEST(OptionNumbers, IntegerFormsAreRead)
{
    const IntegerCase cases[] = {
        {"12", 12},      {"  -7", -7},     {"\t+5", 5},         {"$1F", 31},         {"x1f", 31},
        {"X1F", 31},     {"0x1F", 31},     {"0X1f", 31},        {"-$10", -16},       {"00012", 12},
        {"2147483647", INT32_MAX},         {"-2147483648", INT32_MIN},               {"-0x80000000", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(read_int32(c.text, "n"), c.expected) << c.text;
    EXPECT_EQ(read_int64("9223372036854775807", "n"), INT64_MAX);
    EXPECT_EQ(read_int64("-9223372036854775808", "n"), INT64_MIN);
    EXPECT_EQ(read_int64("$7FFFFFFFFFFFFFFF", "n"), INT64_MAX);
}

TEST(OptionNumbers, TextsThatAreNotIntegersAreRefused)
{
    const char* cases[] = {"",    " ",   "abc",        "12abc",       "12 ",  "1 2",  "--1",
                           "+",   "$",   "0x",         "1.5",         "2147483648", "-2147483649",
                           "0x80000000", "99999999999999999999999999", "\xEF\xBC\x91\xEF\xBC\x92", "\xC3\xA9",
                           "\xFF\xFE"};
    for (const char* text : cases) EXPECT_FALSE(parse_integer(text, INT32_MIN, INT32_MAX).has_value()) << text;
    EXPECT_FALSE(parse_integer("9223372036854775808", INT64_MIN, INT64_MAX).has_value());
}

TEST(OptionNumbers, DecimalsUseThePointWhateverTheLocale)
{
    const std::pair<const char*, double> cases[] = {{"1.5", 1.5}, {" 2 ", 2}, {"-0.25", -0.25}, {"1e3", 1000},
                                                    {"+3", 3},    {".5", 0.5}};
    for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(parse_decimal(text).value_or(-99), expected) << text;
    for (const char* text : {"", "1,5", "nan", "inf", "-infinity", "1.5x", "++1", "+-1", "1e400", "\xC3\xA9"})
        EXPECT_FALSE(parse_decimal(text).has_value()) << text;
}

TEST(OptionNumbers, ConversionErrorNamesTheOptionAndTheText)
{
    const auto message = [](auto read) {
        try {
            read();
        } catch (const FFmpegException& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([] { read_int32("abc", "vframes"); }), "'abc' is not a valid integer value for option vframes");
    EXPECT_EQ(message([] { read_int64("", "fs"); }), "'' is not a valid 64-bit integer value for option fs");
    EXPECT_EQ(message([] { read_float("1e39", "qscale"); }), "'1e39' is not a valid number value for option qscale");
}

TEST(ValueParsers, RoundedSecondsTakeHalvesToTheEvenSecond)
{
    const std::pair<int64_t, int64_t> cases[] = {{2500000, 2},   {3500000, 4},   {2500001, 3}, {2499999, 2},
                                                 {-2500000, -2}, {-3500000, -4}, {-1, 0},      {0, 0}};
    for (const auto& [microseconds, seconds] : cases) EXPECT_EQ(rounded_seconds(microseconds), seconds) << microseconds;
    EXPECT_EQ(rounded_seconds(INT64_MAX), INT64_MAX / 1000000 + 1);
    EXPECT_EQ(rounded_seconds(INT64_MIN), INT64_MIN / 1000000 - 1);
}

TEST(ValueParsers, PadColourUsesTheFixedPointWeights)
{
    const std::pair<int, std::array<int, 3>> cases[] = {
        {0, {0, 128, 128}},         {255, {76, 85, 255}},       {16777215, {255, 128, 128}},
        {-1, {255, 128, 128}},      {0x00FF00, {150, 43, 21}},  {0xFF0000, {29, 255, 107}},
    };
    for (const auto& [rgb, yuv] : cases) EXPECT_EQ(pad_color_of_rgb(rgb), yuv) << rgb;
}

std::string numbers(int count, const char* separator = ",")
{
    std::string text;
    for (int i = 1; i <= count; ++i) text += (i > 1 ? separator : "") + std::to_string(i);
    return text;
}

class ValueParserTest : public test::PreparedEngine {};

TEST_F(ValueParserTest, MatrixTakesSixtyFourCoefficients)
{
    engine.parse_option("intra_matrix", numbers(64));
    ASSERT_EQ(engine.intra_matrix.size(), 64u);
    EXPECT_EQ(engine.intra_matrix[0], 1);
    EXPECT_EQ(engine.intra_matrix[63], 64);

    engine.parse_option("inter_matrix", numbers(65));
    ASSERT_EQ(engine.inter_matrix.size(), 64u);
    EXPECT_EQ(engine.inter_matrix[63], 64) << "the 65th value is ignored";

    const std::string ten = numbers(10);
    EXPECT_EQ(option_error("intra_matrix", ten), "Syntax error in matrix \"" + ten + "\" at coeff 9");
    EXPECT_EQ(engine.intra_matrix[63], 64) << "a rejected matrix keeps the earlier one";
    EXPECT_EQ(option_error("intra_matrix", ""), "Syntax error in matrix \"\" at coeff 0");
}

TEST_F(ValueParserTest, MatrixCoefficientsAreKeptInSixteenBits)
{
    std::string text = " 65537, -1,x,99999999999999999999999" + std::string(",8") + std::string(60 * 2, ',');
    engine.parse_option("intra_matrix", text);
    EXPECT_EQ(engine.intra_matrix[0], 1);
    EXPECT_EQ(engine.intra_matrix[1], 65535);
    EXPECT_EQ(engine.intra_matrix[2], 0) << "no digits give 0";
    EXPECT_EQ(engine.intra_matrix[4], 8);
}

TEST_F(ValueParserTest, FrameSizeIsReadAndMustBeEven)
{
    engine.parse_option("s", "720x576");
    EXPECT_EQ(engine.frame_width, 720);
    EXPECT_EQ(engine.frame_height, 576);
    engine.parse_option("s", "");
    EXPECT_EQ(engine.frame_width, 720) << "an empty size changes nothing";
    engine.parse_option("s", "vga");
    EXPECT_EQ(engine.frame_width, 640);

    for (const char* bad : {"nonsense", "0x0", "-720x576", "x576", "\xC3\xA9x1", "720x"}) {
        EXPECT_EQ(option_error("s", bad), "Incorrect frame size") << bad;
        EXPECT_EQ(engine.frame_width, 640) << bad;
    }
    EXPECT_EQ(option_error("s", "721x576"), "Frame size must be a multiple of 2");
    EXPECT_EQ(option_error("s", "720x575"), "Frame size must be a multiple of 2");
}

TEST_F(ValueParserTest, FrameRateIsReadByTheLibrary)
{
    engine.parse_option("r", "30000/1001");
    EXPECT_EQ(engine.frame_rate.num, 30000);
    EXPECT_EQ(engine.frame_rate.den, 1001);
    engine.parse_option("r", "pal");
    EXPECT_EQ(av_q2d(engine.frame_rate), 25.0);
    engine.parse_option("r", "");
    EXPECT_EQ(av_q2d(engine.frame_rate), 25.0);
    for (const char* bad : {"abc", "0/0", "-25", "25/0", "\xFF"}) {
        EXPECT_EQ(option_error("r", bad), "Incorrect frame rate") << bad;
        EXPECT_EQ(av_q2d(engine.frame_rate), 25.0) << bad;
    }
}

TEST_F(ValueParserTest, AspectForms)
{
    const std::pair<const char*, float> good[] = {{"16:9", 1.7777778f}, {"4:3", 1.3333334f}, {"1.85", 1.85f},
                                                  {" 16:9", 1.7777778f}, {"2", 2.0f}};
    for (const auto& [text, ratio] : good) {
        engine.parse_option("aspect", text);
        EXPECT_FLOAT_EQ(engine.frame_aspect_ratio, ratio) << text;
    }
    for (const char* bad : {"4:0", "abc", "0", ":", "16:x", "x:9", "1,85", "4:-3", "1e-50", "1e300", "nan", "\xC3\xA9"}) {
        EXPECT_EQ(option_error("aspect", bad), "Incorrect aspect ratio specification.") << bad;
        EXPECT_FLOAT_EQ(engine.frame_aspect_ratio, 2.0f) << bad;
    }
    engine.set_aspect("");
    EXPECT_FLOAT_EQ(engine.frame_aspect_ratio, 2.0f);
}

const char* const vertical_range =
    "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
const char* const horizontal_range =
    "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";

TEST_F(ValueParserTest, CropIsTakenFromTheSizeInForce)
{
    EXPECT_EQ(option_error("cropleft", "0"), horizontal_range) << "no size known yet";
    EXPECT_EQ(option_error("croptop", "0"), vertical_range);

    engine.parse_option("s", "720x576");
    engine.parse_option("croptop", "16");
    EXPECT_EQ(engine.crop_top, 16);
    EXPECT_EQ(engine.frame_height, 560);
    EXPECT_EQ(option_error("croptop", "576"), vertical_range);
    EXPECT_EQ(option_error("cropbottom", "560"), vertical_range) << "tested against the size after the top crop";
    EXPECT_EQ(option_error("croptop", "15"), "Top crop size must be a multiple of 2");
    engine.parse_option("croptop", "-1");
    EXPECT_EQ(engine.crop_top, 16);
    EXPECT_EQ(engine.frame_height, 560);

    engine.set_crop_left(8);
    engine.set_crop_right(712 - 2);
    EXPECT_EQ(engine.frame_width, 2);
    EXPECT_EQ(engine.crop_right, 710);
    EXPECT_EQ(option_error("cropright", "2"), horizontal_range);
}

TEST_F(ValueParserTest, OddBandsNameTheirSide)
{
    engine.parse_option("s", "720x576");
    const std::pair<const char*, const char*> cases[] = {
        {"croptop", "Top crop size must be a multiple of 2"},    {"cropbottom", "Bottom crop size must be a multiple of 2"},
        {"cropleft", "Left crop size must be a multiple of 2"},  {"cropright", "Right crop size must be a multiple of 2"},
        {"padtop", "Top pad size must be a multiple of 2"},      {"padbottom", "Bottom pad size must be a multiple of 2"},
        {"padleft", "Left pad size must be a multiple of 2"},    {"padright", "Right pad size must be a multiple of 2"},
    };
    for (const auto& [option, message] : cases) {
        EXPECT_EQ(option_error(option, "3"), message);
        EXPECT_EQ(option_error(option, "-3"), "") << option << ": negative values change nothing";
    }
    EXPECT_EQ(engine.frame_width, 720);
    EXPECT_EQ(engine.frame_height, 576);
}

TEST_F(ValueParserTest, PadsAreStoredWithoutASize)
{
    engine.parse_option("padtop", "16");
    engine.parse_option("padbottom", "0");
    engine.set_pad_left(2000000000);
    engine.set_pad_right(8);
    engine.set_pad_right(-2);
    EXPECT_EQ(engine.pad_top, 16);
    EXPECT_EQ(engine.pad_bottom, 0);
    EXPECT_EQ(engine.pad_left, 2000000000);
    EXPECT_EQ(engine.pad_right, 8);
    EXPECT_EQ(engine.frame_width, 0);
}

TEST_F(ValueParserTest, QualityScaleBounds)
{
    engine.parse_option("qscale", "255");
    EXPECT_FLOAT_EQ(engine.video_qscale, 255);
    engine.parse_option("qscale", "0.5");
    EXPECT_FLOAT_EQ(engine.video_qscale, 0.5f);
    for (const char* bad : {"0", "255.5", "-1", "1e30"}) {
        EXPECT_EQ(option_error("qscale", bad), "qscale must be > 0.0 and <= 255") << bad;
        EXPECT_FLOAT_EQ(engine.video_qscale, 0.5f);
    }
}

TEST_F(ValueParserTest, TimeOptionsReadDurationsAndDates)
{
    engine.parse_option("t", "00:01:30");
    EXPECT_EQ(engine.recording_time, 90000000);
    EXPECT_EQ(engine.total_duration_ms, 90000);
    engine.parse_option("t", "0");
    engine.parse_option("t", "-5");
    EXPECT_EQ(engine.recording_time, 90000000) << "a recording time of 0 or less is ignored";

    engine.parse_option("ss", "-5");
    EXPECT_EQ(engine.start_time, -5000000);
    engine.parse_option("itsoffset", "1.5");
    EXPECT_EQ(engine.input_ts_offset, 1500000);
    engine.parse_option("timestamp", "1970-01-01 00:00:10.5Z");
    EXPECT_EQ(engine.rec_timestamp, 10);
    engine.parse_option("timestamp", "2000-01-01T00:00:00Z");
    EXPECT_EQ(engine.rec_timestamp, 946684800);

    EXPECT_EQ(option_error("t", "bad"), "Invalid duration specification for t: bad");
    EXPECT_EQ(option_error("ss", ""), "Invalid duration specification for ss: ");
    EXPECT_EQ(option_error("timestamp", "garbage"), "Invalid date specification for timestamp: garbage");
    EXPECT_EQ(engine.recording_time, 90000000);
    EXPECT_EQ(engine.rec_timestamp, 946684800);
}

TEST_F(ValueParserTest, LongRecordingTimeKeepsTheLengthCounterInRange)
{
    engine.parse_option("t", "9999999999");
    EXPECT_EQ(engine.recording_time, 9999999999000000);
    EXPECT_EQ(engine.total_duration_ms, INT_MAX);
}

} // namespace
