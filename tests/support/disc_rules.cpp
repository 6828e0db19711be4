// Test-only: reads the disc file with the libraries linked directly and with
// a small reader of MPEG start codes for what the libraries do not report
// (pack layout, mux rate, the sequence header's rate and buffer fields).
#include "support/disc_rules.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quillon::test {

DiscRules disc_rules(DiscType type, DiscNorm norm, DisplayAspect aspect)
{
    const bool pal = norm == DiscNorm::pal;
    DiscRules rules;
    rules.rate_num = pal ? 25 : 30000;
    rules.rate_den = pal ? 1 : 1001;
    rules.max_gop = pal ? 15 : 18;
    rules.aspect = aspect;
    rules.channels = 2;
    switch (type) {
    case DiscType::vcd:
        rules.mpeg2 = false;
        rules.width = 352;
        rules.height = pal ? 288 : 240;
        rules.max_bit_rate = 1150000;
        rules.buffer_size = 327680;
        rules.audio_codec = "mp2";
        rules.sample_rate = 44100;
        rules.audio_bit_rate = 224000;
        rules.packet_size = 2324;
        rules.mux_rate = 1411200;
        rules.video_buffer_bound = 46 * 1024;
        break;
    case DiscType::svcd:
        rules.width = 480;
        rules.height = pal ? 576 : 480;
        rules.max_bit_rate = 2516000;
        rules.buffer_size = 1835008;
        rules.scan_offset = true;
        rules.audio_codec = "mp2";
        rules.sample_rate = 44100;
        rules.audio_bit_rate = 224000;
        rules.packet_size = 2324;
        rules.video_buffer_bound = 230 * 1024;
        break;
    case DiscType::dvd:
        rules.width = 720;
        rules.height = pal ? 576 : 480;
        rules.max_bit_rate = 9000000;
        rules.buffer_size = 1835008;
        rules.audio_codec = "ac3";
        rules.sample_rate = 48000;
        rules.audio_bit_rate = 448000;
        rules.packet_size = 2048;
        rules.mux_rate = 10080000;
        rules.video_buffer_bound = 230 * 1024;
        break;
    }
    return rules;
}

namespace {

class Violations {
public:
    template <typename A, typename B>
    void expect_equal(const char* what, const A& actual, const B& expected)
    {
        if (actual == expected) return;
        std::ostringstream line;
        line << what << ": " << actual << ", expected " << expected;
        lines.push_back(line.str());
    }
    void add(const std::string& line) { lines.push_back(line); }
    std::vector<std::string> lines;
};

class BitReader {
public:
    BitReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint32_t read(int bits)
    {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i, ++position_) {
            const std::size_t byte = position_ / 8;
            const int bit = byte < size_ ? (data_[byte] >> (7 - position_ % 8)) & 1 : 0;
            value = (value << 1) | uint32_t(bit);
        }
        return value;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Offset of the first start code 00 00 01 `code` at or after `from`; npos when none.
std::size_t find_start_code(const std::vector<uint8_t>& bytes, uint8_t code, std::size_t from = 0)
{
    for (std::size_t i = from; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code) return i;
    return std::string::npos;
}

// What the first video sequence header (with its MPEG-2 extension) says.
struct SequenceHeader {
    bool found = false;
    int width = 0, height = 0;
    int aspect_code = 0, rate_code = 0;
    int64_t bit_rate = 0;    // bits/s
    int64_t buffer_size = 0; // bits
    bool extension = false;
};

SequenceHeader read_sequence_header(const std::vector<uint8_t>& video)
{
    SequenceHeader header;
    const std::size_t at = find_start_code(video, 0xB3);
    if (at == std::string::npos) return header;
    BitReader bits(video.data() + at + 4, video.size() - at - 4);
    header.found = true;
    header.width = int(bits.read(12));
    header.height = int(bits.read(12));
    header.aspect_code = int(bits.read(4));
    header.rate_code = int(bits.read(4));
    int64_t rate = bits.read(18);
    bits.read(1); // marker
    int64_t buffer = bits.read(10);
    const std::size_t ext = find_start_code(video, 0xB5, at + 4);
    if (ext != std::string::npos && (video[ext + 4] >> 4) == 1) { // sequence extension
        BitReader e(video.data() + ext + 4, video.size() - ext - 4);
        e.read(4 + 8 + 1 + 2); // identifier, profile and level, progressive, chroma format
        header.width |= int(e.read(2)) << 12;
        header.height |= int(e.read(2)) << 12;
        rate |= int64_t(e.read(12)) << 18;
        e.read(1);
        buffer |= int64_t(e.read(8)) << 10;
        header.extension = true;
    }
    header.bit_rate = rate * 400;
    header.buffer_size = buffer * 16384;
    return header;
}

// MPEG-1 pixel shapes (height / width of one pixel) by aspect code.
constexpr double mpeg1_pixel_shape[] = {0,      1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                                        0.9157, 0.9815, 1.0255, 1.0695, 1.0950, 1.1575, 1.2015, 0};

void check_sequence_header(const SequenceHeader& header, const DiscRules& rules, Violations& v)
{
    if (!header.found) return v.add("no video sequence header");
    v.expect_equal("sequence header width", header.width, rules.width);
    v.expect_equal("sequence header height", header.height, rules.height);
    v.expect_equal("MPEG-2 sequence extension", header.extension, rules.mpeg2);
    const int rate_code = rules.rate_den == 1 ? 3 : 4; // 25 or 30000/1001
    v.expect_equal("frame rate code", header.rate_code, rate_code);
    v.expect_equal("sequence header bit rate", header.bit_rate, rules.max_bit_rate);
    v.expect_equal("video buffer size", header.buffer_size, rules.buffer_size);
    const double wanted = rules.aspect == DisplayAspect::four_three ? 4.0 / 3.0 : 16.0 / 9.0;
    if (rules.mpeg2) {
        v.expect_equal("display aspect code", header.aspect_code, rules.aspect == DisplayAspect::four_three ? 2 : 3);
    } else {
        const double shape = header.aspect_code < 16 ? mpeg1_pixel_shape[header.aspect_code] : 0;
        const double display = shape > 0 ? double(header.width) / (header.height * shape) : 0;
        if (std::fabs(display / wanted - 1) > 0.01)
            v.add("display aspect " + std::to_string(display) + ", expected " + std::to_string(wanted));
    }
}

std::vector<uint8_t> read_bytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Mux rate in bits/s of the pack header at `at`, MPEG-1 or MPEG-2 layout.
int64_t pack_mux_rate(const std::vector<uint8_t>& bytes, std::size_t at, bool mpeg2)
{
    const uint8_t* p = bytes.data() + at + 4;
    const int64_t units = mpeg2 ? (int64_t(p[6]) << 14) | (p[7] << 6) | (p[8] >> 2)
                                : (int64_t(p[5] & 0x7F) << 15) | (p[6] << 7) | (p[7] >> 1);
    return units * 50 * 8;
}

// Every pack is exactly the packet size: each one begins with a start code
// (pack header, system header or stream packet); pack headers carry the mux rate.
void check_packs(const std::vector<uint8_t>& bytes, const DiscRules& rules, Violations& v)
{
    if (bytes.size() < 16 || find_start_code(bytes, 0xBA) != 0) return v.add("no pack header at the start");
    const bool mpeg2_pack = (bytes[4] & 0xC0) == 0x40;
    const bool mpeg1_pack = (bytes[4] & 0xF0) == 0x20;
    if (rules.mpeg2 ? !mpeg2_pack : !mpeg1_pack) v.add(rules.mpeg2 ? "not an MPEG-2 program stream" : "not an MPEG-1 system stream");
    const std::size_t size = std::size_t(rules.packet_size);
    if (bytes.size() % size != 0)
        v.add("file size " + std::to_string(bytes.size()) + " is not a multiple of the packet size " + std::to_string(size));
    int bad_packs = 0, bad_rates = 0;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += size) {
        const bool start = bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && bytes[at + 3] >= 0xB9;
        bad_packs += !start;
        if (start && bytes[at + 3] == 0xBA && rules.mux_rate && at + 16 <= bytes.size())
            bad_rates += pack_mux_rate(bytes, at, rules.mpeg2) != rules.mux_rate;
    }
    if (bad_packs) v.add(std::to_string(bad_packs) + " packs do not start at a multiple of the packet size");
    if (bad_rates) v.add(std::to_string(bad_rates) + " pack headers have a mux rate other than " + std::to_string(rules.mux_rate));
}

// The video stream's buffer bound in every system header: a scale bit (1:
// units of 1024 bytes, 0: of 128 bytes) and 13 bits of size, per stream entry.
void check_system_headers(const std::vector<uint8_t>& bytes, const DiscRules& rules, Violations& v)
{
    int headers = 0;
    for (std::size_t at = find_start_code(bytes, 0xBB); at != std::string::npos; at = find_start_code(bytes, 0xBB, at + 4)) {
        const std::size_t length = std::size_t(bytes[at + 4]) << 8 | bytes[at + 5];
        const std::size_t end = std::min(bytes.size(), at + 6 + length);
        for (std::size_t entry = at + 12; entry + 3 <= end && (bytes[entry] & 0x80); entry += 3) {
            if (bytes[entry] != 0xE0 && bytes[entry] != 0xB9) continue; // the video stream, or all video streams
            const int scale = (bytes[entry + 1] & 0x20) ? 1024 : 128;
            const int bound = ((bytes[entry + 1] & 0x1F) << 8 | bytes[entry + 2]) * scale;
            ++headers;
            v.expect_equal("video buffer bound in a system header", bound, rules.video_buffer_bound);
        }
    }
    if (headers == 0) v.add("no system header bounds the video buffer");
}

struct DemuxedVideo {
    std::vector<uint8_t> first_packet;
    int longest_gop = 0;
    int frames = 0;
    int64_t bytes = 0;
};

// Frames counted from each key frame up to the next one (decoding order).
DemuxedVideo read_video(AVFormatContext* context, int video)
{
    DemuxedVideo result;
    AVPacket* packet = av_packet_alloc();
    int run = 0;
    while (av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == video) {
            if (result.first_packet.empty()) result.first_packet.assign(packet->data, packet->data + packet->size);
            if (packet->flags & AV_PKT_FLAG_KEY) run = 0;
            result.longest_gop = std::max(result.longest_gop, ++run);
            ++result.frames;
            result.bytes += packet->size;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return result;
}

bool has_scan_offset_data(const std::vector<uint8_t>& video)
{
    const std::size_t at = find_start_code(video, 0xB2); // user data
    return at != std::string::npos && at + 6 <= video.size() && video[at + 4] == 0x10 && video[at + 5] == 0x0E;
}

void check_video(AVFormatContext* context, const DiscRules& rules, Violations& v)
{
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return v.add("no video stream");
    const AVStream* stream = context->streams[index];
    v.expect_equal("video codec", std::string(avcodec_get_name(stream->codecpar->codec_id)),
                   std::string(rules.mpeg2 ? "mpeg2video" : "mpeg1video"));
    v.expect_equal("frame size", std::to_string(stream->codecpar->width) + "x" + std::to_string(stream->codecpar->height),
                   std::to_string(rules.width) + "x" + std::to_string(rules.height));
    v.expect_equal("frame rate", std::to_string(stream->r_frame_rate.num) + "/" + std::to_string(stream->r_frame_rate.den),
                   std::to_string(rules.rate_num) + "/" + std::to_string(rules.rate_den));
    const DemuxedVideo video = read_video(context, index);
    if (video.frames == 0) return v.add("no video frames");
    if (video.longest_gop > rules.max_gop)
        v.add("group of pictures of " + std::to_string(video.longest_gop) + " frames, at most " + std::to_string(rules.max_gop));
    check_sequence_header(read_sequence_header(video.first_packet), rules, v);
    if (rules.scan_offset && !has_scan_offset_data(video.first_packet)) v.add("no scan offset user data");
    const double seconds = video.frames * double(rules.rate_den) / rules.rate_num;
    const double average = video.bytes * 8 / seconds;
    if (average > rules.max_bit_rate * 1.05)
        v.add("video bit rate " + std::to_string(int64_t(average)) + " above " + std::to_string(rules.max_bit_rate));
}

void check_audio(AVFormatContext* context, const DiscRules& rules, Violations& v)
{
    const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return v.add("no audio stream");
    const AVCodecParameters* audio = context->streams[index]->codecpar;
    v.expect_equal("audio codec", std::string(avcodec_get_name(audio->codec_id)), rules.audio_codec);
    v.expect_equal("audio sample rate", audio->sample_rate, rules.sample_rate);
    v.expect_equal("audio channels", audio->ch_layout.nb_channels, rules.channels);
    v.expect_equal("audio bit rate", audio->bit_rate, rules.audio_bit_rate);
}

} // namespace

std::vector<std::string> disc_rule_violations(const std::filesystem::path& file, const DiscRules& rules)
{
    Violations v;
    const std::vector<uint8_t> bytes = read_bytes(file);
    check_packs(bytes, rules, v);
    check_system_headers(bytes, rules, v);
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) {
        v.add("the file cannot be opened");
        return v.lines;
    }
    if (avformat_find_stream_info(context, nullptr) < 0) v.add("no stream information");
    v.expect_equal("container", std::string(context->iformat->name), std::string("mpeg"));
    check_audio(context, rules, v); // before the video check reads every packet
    check_video(context, rules, v);
    avformat_close_input(&context);
    return v.lines;
}

} // namespace quillon::test
