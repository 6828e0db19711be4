// The shared formatting routines: open-error texts (also from real failing
// opens), codec names, media type names, timestamps and metadata look-up.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>

#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"
#include "support/test_support.h"

using namespace quillon;

namespace {

class FormattingTest : public ::testing::Test {
protected:
    void SetUp() override { test::load_libraries(); }
};

const char* const io_error_text =
    "a.mpg: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
const char* const image_syntax_text =
    "img.jpg: Incorrect image filename syntax.\r\n"
    "Use '%d' to specify the image number:\r\n"
    "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
    "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";

TEST_F(FormattingTest, OpenErrorTextsFollowTheErrorCode)
{
    struct Case {
        const char* subject;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"a.mpg", AVERROR_INVALIDDATA, "a.mpg: Unknown format"},
        {"a.mpg", AVERROR_DEMUXER_NOT_FOUND, "a.mpg: Unknown format"},
        {"img.jpg", OPEN_ERROR_IMAGE_NAME_SYNTAX, image_syntax_text},
        {"a.mpg", AVERROR(EINVAL), "a.mpg: Error while parsing header"},
        {"a.mpg", AVERROR(ENOMEM), "a.mpg: memory allocation error occurred"},
        {"a.mpg", AVERROR(EIO), io_error_text},
        {"a.mpg", AVERROR(ENOENT), "a.mpg: no such file or directory"},
        {"x:a.mpg", AVERROR_PROTOCOL_NOT_FOUND, "x:a.mpg: no such file or directory"},
        {"a.mpg", AVERROR(EISDIR), "a.mpg: Error while opening file"},
        {"a.mpg", -1, "a.mpg: Error while opening file"},
        {"av_interleaved_write_frame()", AVERROR(EIO),
         "av_interleaved_write_frame(): I/O error occurred\r\nUsually that means that input file is truncated "
         "and/or corrupted."},
        // The subject is put in as it is, percent signs included.
        {"100%s.mpg", AVERROR(ENOENT), "100%s.mpg: no such file or directory"},
        {"", AVERROR(ENOENT), ": no such file or directory"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_open_error(c.subject, c.code), c.text) << "code " << c.code;
}

// A failed write names its real cause; codes with a text of their own keep it.
TEST_F(FormattingTest, RunErrorsNameTheCauseOfAFailedCall)
{
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {AVERROR(ENOSPC), "av_write_trailer(): No space left on device"},
        {AVERROR(EFBIG), "av_write_trailer(): File too large"},
        {AVERROR(EROFS), "av_write_trailer(): Read-only file system"},
        {AVERROR_EXTERNAL, "av_write_trailer(): Generic error in an external library"},
        {AVERROR(ENOMEM), "av_write_trailer(): memory allocation error occurred"},
        {AVERROR(EIO),
         "av_write_trailer(): I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
    };
    for (const Case& c : cases) EXPECT_EQ(format_run_error("av_write_trailer()", c.code), c.text) << "code " << c.code;
}

// Opens the name through the layer and gives the open-error text (or "opened").
std::string open_text(const std::string& name, const char* forced_format = nullptr)
{
    AVFormatContext* context = nullptr;
    const AVInputFormat* format = forced_format ? lib::av_find_input_format(forced_format) : nullptr;
    const int result = open_input_context(&context, name, format, nullptr);
    if (result >= 0) {
        close_input_context(&context);
        return "opened";
    }
    EXPECT_EQ(context, nullptr);
    return format_open_error(name, result);
}

TEST_F(FormattingTest, RealFailingOpensGiveTheirTexts)
{
    test::ScratchDir dir("open-errors");
    const std::string text_file = (dir / "notes.bin").string();
    std::ofstream(text_file) << "These are notes, not pictures or sound.\n";
    const std::string empty_file = (dir / "empty.mp4").string();
    std::ofstream{empty_file};
    const std::string missing = (dir / "missing.mpg").string();

    EXPECT_EQ(open_text(missing), missing + ": no such file or directory");
    EXPECT_EQ(open_text(text_file), text_file + ": Unknown format");
    EXPECT_EQ(open_text(empty_file), empty_file + ": Unknown format");
    // Raw video cannot be read without a picture size.
    EXPECT_EQ(open_text(text_file, "rawvideo"), text_file + ": Error while parsing header");
    // Reading address 0 of the process's own memory fails with an I/O error.
    EXPECT_EQ(open_text("/proc/self/mem"),
              "/proc/self/mem: I/O error occurred\r\nUsually that means that input file is truncated and/or "
              "corrupted.");
    EXPECT_EQ(open_text(dir.path().string()), dir.path().string() + ": Error while opening file");
    EXPECT_EQ(open_text("nosuchprotocol:" + text_file), "nosuchprotocol:" + text_file + ": no such file or directory");
}

TEST_F(FormattingTest, AnOpenWithoutMemoryGivesTheMemoryText)
{
    av_max_alloc(16);
    const std::string text = open_text("anything.mpg");
    av_max_alloc(INT_MAX);
    EXPECT_EQ(text, "anything.mpg: memory allocation error occurred");
}

TEST_F(FormattingTest, TimestampsAreHoursMinutesSecondsAndMilliseconds)
{
    EXPECT_EQ(format_timestamp(3723004000), "01:02:03.004");
    EXPECT_EQ(format_timestamp(3723456789), "01:02:03.456");
    EXPECT_EQ(format_timestamp(int64_t{25} * 3600 * 1000000), "25:00:00.000");
    EXPECT_EQ(format_timestamp(int64_t{100} * 3600 * 1000000 + 999999), "100:00:00.999");
    EXPECT_EQ(format_timestamp(0), "00:00:00.000");
    EXPECT_EQ(format_timestamp(999), "00:00:00.000");
}

TEST_F(FormattingTest, CodecNamesFallBackToTheTag)
{
    const uint32_t divx = MKTAG('D', 'I', 'V', 'X');
    const auto unknown = AV_CODEC_ID_FIRST_UNKNOWN;
    EXPECT_EQ(codec_tag_text(unknown, divx, false), "DIVX / 0x58564944");
    EXPECT_EQ(codec_tag_text(unknown, 0x01020304, false), "0x1020304");
    EXPECT_EQ(codec_tag_text(unknown, 0x0000001f, false), "0x001f");
    EXPECT_EQ(codec_tag_text(unknown, divx, false, "  my codec \t"), "my codec");
    EXPECT_EQ(codec_tag_text(unknown, divx, false, "   "), "DIVX / 0x58564944");
    EXPECT_EQ(codec_tag_text(AV_CODEC_ID_MPEG2TS, divx, false), "mpeg2ts");
    EXPECT_EQ(codec_tag_text(AV_CODEC_ID_MPEG2VIDEO, 0, false), "mpeg2video(MPEG-2 video)");
    // A codec the libraries can decode but not encode.
    EXPECT_EQ(codec_tag_text(AV_CODEC_ID_VP6, MKTAG('V', 'P', '6', '0'), true), "VP60 / 0x30365056");
    EXPECT_EQ(codec_tag_text(AV_CODEC_ID_VP6, MKTAG('V', 'P', '6', '0'), false), "vp6(On2 VP6)");
}

TEST_F(FormattingTest, CodecNamesFromContextsAndParameters)
{
    AVCodecParameters* parameters = lib::avcodec_parameters_alloc();
    parameters->codec_id = AV_CODEC_ID_MP2;
    EXPECT_EQ(codec_tag_text(parameters, false), "mp2(MP2 (MPEG audio layer 2))");
    lib::avcodec_parameters_free(&parameters);
    AVCodecContext* context = lib::avcodec_alloc_context3(nullptr);
    context->codec_id = AV_CODEC_ID_FIRST_UNKNOWN;
    context->codec_tag = MKTAG('X', 'V', 'I', 'D');
    EXPECT_EQ(codec_tag_text(context, true), "XVID / 0x44495658");
    lib::avcodec_free_context(&context);
}

TEST(StreamTypeNames, EveryMediaType)
{
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_VIDEO), "Video");
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_AUDIO), "Audio");
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_DATA), "Data");
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_SUBTITLE), "Subtitle");
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
    EXPECT_EQ(stream_type_name(AVMEDIA_TYPE_UNKNOWN), "Unknown");
    EXPECT_EQ(stream_type_name(5), "Unknown");
}

TEST_F(FormattingTest, MetadataTextTakesTheFirstMatchOrTheDefault)
{
    AVDictionary* metadata = nullptr;
    lib::av_dict_set(&metadata, "Language", "eng", 0);
    lib::av_dict_set(&metadata, "title", "Clip", 0);
    EXPECT_EQ(metadata_text(metadata, "language", "und"), "eng");
    EXPECT_EQ(metadata_text(metadata, "title"), "Clip");
    EXPECT_EQ(metadata_text(metadata, "genre", "none"), "none");
    EXPECT_EQ(metadata_text(nullptr, "title", "N/A"), "N/A");
    lib::av_dict_free(&metadata);
}

} // namespace
