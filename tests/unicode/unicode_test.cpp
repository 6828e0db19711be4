// File names for the libraries and the "unicode:utf8:" I/O layer: conversion
// under an ASCII and a UTF-8 locale, reading and writing non-ASCII names, the
// registration, and the engine's release of such files.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/loader.h"
#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

// Runs the test under the given character set, back to "C" afterwards.
class LocaleScope {
public:
    explicit LocaleScope(const char* locale) { ok_ = std::setlocale(LC_ALL, locale) != nullptr; }
    ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// A short mono 16-bit PCM WAV file.
void write_wav(const fs::path& path, int samples = 8000)
{
    auto le = [](std::ofstream& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    std::ofstream out(path, std::ios::binary);
    const uint32_t data_size = static_cast<uint32_t>(samples) * 2;
    out << "RIFF";
    le(out, 36 + data_size, 4);
    out << "WAVEfmt ";
    le(out, 16, 4), le(out, 1, 2), le(out, 1, 2), le(out, 8000, 4), le(out, 16000, 4), le(out, 2, 2), le(out, 16, 2);
    out << "data";
    le(out, data_size, 4);
    for (int i = 0; i < samples; ++i) le(out, static_cast<uint32_t>((i * 37) & 0x7fff), 2);
}

std::string file_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class UnicodeNames : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(UnicodeNames, AsciiLocaleWrapsOnlyNamesItCannotCarry)
{
    struct Case {
        std::string name;
        std::string library_name;
    };
    const std::string long_name = "/tmp/" + std::string(3000, 'a') + "\xc3\xa9.mp4";
    const Case cases[] = {
        {"/videos/clip 1.mp4", "/videos/clip 1.mp4"},
        {"/videos/caf\xc3\xa9.mp4", "unicode:utf8:/videos/caf\xc3\xa9.mp4"},
        {"\xe6\x97\xa5\xe6\x9c\xac.avi", "unicode:utf8:\xe6\x97\xa5\xe6\x9c\xac.avi"},
        // URLs of known protocols pass as they are, whatever they hold.
        {"http://example.com/caf\xc3\xa9.mp4", "http://example.com/caf\xc3\xa9.mp4"},
        {"udp://239.0.0.1:1234", "udp://239.0.0.1:1234"},
        // Other schemes are not known protocols.
        {"ftp://example.com/caf\xc3\xa9.mp4", "unicode:utf8:ftp://example.com/caf\xc3\xa9.mp4"},
        {"HTTP://example.com/caf\xc3\xa9.mp4", "unicode:utf8:HTTP://example.com/caf\xc3\xa9.mp4"},
        {"", ""},
        {long_name, "unicode:utf8:" + long_name},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToLibraryFileName(c.name), c.library_name) << c.name;
        EXPECT_EQ(NeedsUnicodeProtocol(c.name), c.name != c.library_name) << c.name;
        EXPECT_EQ(FromLibraryFileName(c.library_name), c.name) << c.library_name;
    }
    // A name already in library form is not wrapped twice.
    EXPECT_EQ(ToLibraryFileName("unicode:utf8:/videos/caf\xc3\xa9.mp4"), "unicode:utf8:/videos/caf\xc3\xa9.mp4");
    // The bare prefix names no file and is left alone.
    EXPECT_EQ(FromLibraryFileName("unicode:utf8:"), "unicode:utf8:");
}

TEST_F(UnicodeNames, Utf8LocaleCarriesEveryName)
{
    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    for (const std::string name : {"/videos/caf\xc3\xa9.mp4", "\xe6\x97\xa5\xe6\x9c\xac.avi", "plain.mpg"}) {
        EXPECT_FALSE(NeedsUnicodeProtocol(name)) << name;
        EXPECT_EQ(ToLibraryFileName(name), name);
        EXPECT_EQ(FromLibraryFileName(name), name);
    }
}

class UnicodeFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::setlocale(LC_ALL, "C");
        test::load_libraries();
    }
    test::ScratchDir dir{"unicode"};
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(UnicodeFiles, NonAsciiInputIsReadThroughTheLayer)
{
    const std::string name = path("caf\xc3\xa9 \xe6\x97\xa5.wav");
    write_wav(name);
    AVFormatContext* context = nullptr;
    ASSERT_EQ(open_input_context(&context, name, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(context->url), "unicode:utf8:" + name);
    EXPECT_EQ(FromLibraryFileName(context->url), name);
    EXPECT_TRUE(context->flags & AVFMT_FLAG_CUSTOM_IO);
    EXPECT_STREQ(context->iformat->name, "wav");
    ASSERT_GE(lib::avformat_find_stream_info(context, nullptr), 0);
    EXPECT_EQ(context->streams[0]->codecpar->sample_rate, 8000);
    EXPECT_EQ(lib::avio_size(context->pb), 44 + 16000);

    // Read everything, seek back to the start and read again.
    AVPacket* packet = lib::av_packet_alloc();
    int64_t bytes = 0;
    while (lib::av_read_frame(context, packet) >= 0) {
        bytes += packet->size;
        lib::av_packet_unref(packet);
    }
    EXPECT_EQ(bytes, 16000);
    ASSERT_GE(lib::av_seek_frame(context, 0, 0, AVSEEK_FLAG_BACKWARD), 0);
    ASSERT_GE(lib::av_read_frame(context, packet), 0);
    EXPECT_EQ(packet->pts, 0);
    lib::av_packet_free(&packet);
    close_input_context(&context);
    EXPECT_EQ(context, nullptr);
}

TEST_F(UnicodeFiles, AsciiInputUsesTheLibrariesOwnFileProtocol)
{
    const std::string name = path("plain.wav");
    write_wav(name);
    AVFormatContext* context = lib::avformat_alloc_context(); // preallocated, as the engine does
    ASSERT_EQ(open_input_context(&context, name, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(context->url), name);
    EXPECT_FALSE(context->flags & AVFMT_FLAG_CUSTOM_IO);
    close_input_context(&context);
}

TEST_F(UnicodeFiles, MissingOrUnreadableNonAsciiInputsFailCleanly)
{
    AVFormatContext* context = nullptr;
    const std::string missing = path("absent \xc3\xa9.wav");
    const int result = open_input_context(&context, missing, nullptr, nullptr);
    EXPECT_EQ(result, AVERROR(ENOENT));
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(format_open_error(missing, result), missing + ": no such file or directory");

    const std::string folder = path("folder \xc3\xa9");
    fs::create_directory(folder);
    EXPECT_EQ(open_input_context(&context, folder, nullptr, nullptr), AVERROR(ENOENT));

    // Opened by the layer, then refused by every demuxer: the stream is freed.
    const std::string notes = path("notes \xc3\xa9.bin");
    std::ofstream(notes) << "no media here\n";
    EXPECT_EQ(open_input_context(&context, notes, nullptr, nullptr), AVERROR_INVALIDDATA);
    EXPECT_EQ(context, nullptr);
}

TEST_F(UnicodeFiles, ImageMuxerWritesItsFilesThroughTheLayer)
{
    const std::string pattern = path("gr\xc3\xa9y%d.pgm");
    AVFormatContext* output = nullptr;
    ASSERT_GE(lib::avformat_alloc_output_context2(&output, nullptr, "image2", nullptr), 0);
    output->url = lib::av_strdup(ToLibraryFileName(pattern).c_str());
    install_unicode_io(output);
    AVStream* stream = lib::avformat_new_stream(output, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_PGM;
    stream->codecpar->width = stream->codecpar->height = 4;
    stream->time_base = {1, 25};
    ASSERT_GE(lib::avformat_write_header(output, nullptr), 0);
    const std::string picture = "P5\n4 4\n255\n0123456789abcdef";
    AVPacket* packet = lib::av_packet_alloc();
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_GE(lib::av_new_packet(packet, static_cast<int>(picture.size())), 0);
        std::memcpy(packet->data, picture.data(), picture.size());
        packet->pts = packet->dts = frame;
        ASSERT_GE(lib::av_write_frame(output, packet), 0);
        lib::av_packet_unref(packet);
    }
    lib::av_packet_free(&packet);
    EXPECT_GE(lib::av_write_trailer(output), 0);
    lib::avformat_free_context(output);
    EXPECT_EQ(file_text(path("gr\xc3\xa9y1.pgm")), picture);
    EXPECT_EQ(file_text(path("gr\xc3\xa9y2.pgm")), picture);
}

TEST_F(UnicodeFiles, WritingReplacesAnExistingFile)
{
    for (const std::string& name : {path("out \xc3\xa9.bin"), path("out.bin")}) {
        std::ofstream(name) << "an older and much longer content";
        AVIOContext* stream = nullptr;
        ASSERT_EQ(open_byte_stream(&stream, name, AVIO_FLAG_WRITE), 0) << name;
        lib::avio_write(stream, reinterpret_cast<const unsigned char*>("new"), 3);
        EXPECT_EQ(close_byte_stream(&stream), 0);
        EXPECT_EQ(stream, nullptr);
        EXPECT_EQ(file_text(name), "new") << name;
    }
}

TEST_F(UnicodeFiles, ByteStreamsSeekAndReportTheirSize)
{
    const std::string name = path("bytes \xc3\xa9.bin");
    std::ofstream(name) << "0123456789";
    AVIOContext* stream = nullptr;
    ASSERT_EQ(open_byte_stream(&stream, name, AVIO_FLAG_READ), 0);
    EXPECT_EQ(lib::avio_size(stream), 10);
    EXPECT_EQ(lib::avio_seek(stream, 7, SEEK_SET), 7);
    unsigned char bytes[8] = {};
    EXPECT_EQ(lib::avio_read(stream, bytes, sizeof bytes), 3);
    EXPECT_EQ(std::memcmp(bytes, "789", 3), 0);
    EXPECT_TRUE(lib::avio_feof(stream));
    EXPECT_EQ(close_byte_stream(&stream), 0);

    // Read and write: the file is created empty, written, then read back.
    ASSERT_EQ(open_byte_stream(&stream, name, AVIO_FLAG_READ_WRITE), 0);
    EXPECT_EQ(lib::avio_size(stream), 0);
    lib::avio_write(stream, reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(close_byte_stream(&stream), 0);
    EXPECT_EQ(file_text(name), "abc");

    EXPECT_EQ(open_byte_stream(&stream, path("none \xc3\xa9"), AVIO_FLAG_READ), AVERROR(ENOENT));
    EXPECT_EQ(stream, nullptr);
}

TEST_F(UnicodeFiles, RegisteringAgainKeepsOneEntry)
{
    EXPECT_EQ(UnicodeProtocolRegistrations(), 1);
    test::load_libraries();
    RegisterUnicodeProtocol();
    EXPECT_EQ(UnicodeProtocolRegistrations(), 1);
}

TEST_F(UnicodeFiles, EngineReleaseDeletesAnEmptyNonAsciiOutputOnly)
{
    const std::string empty = path("empty \xc3\xa9.wav");
    const std::string written = path("written \xc3\xa9.wav");
    TCustomFFmpeg engine;
    engine.prepare_job();
    for (const std::string& name : {empty, written}) {
        AVFormatContext* output = nullptr;
        ASSERT_GE(lib::avformat_alloc_output_context2(&output, nullptr, "wav", nullptr), 0);
        output->url = lib::av_strdup(ToLibraryFileName(name).c_str());
        ASSERT_EQ(open_byte_stream(&output->pb, name, AVIO_FLAG_WRITE), 0);
        if (name == written) lib::avio_write(output->pb, reinterpret_cast<const unsigned char*>("data"), 4);
        engine.output_files.push_back(output);
    }
    engine.release_job();
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_EQ(file_text(written), "data");
}

} // namespace
