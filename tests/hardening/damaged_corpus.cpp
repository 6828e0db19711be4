#include "hardening/damaged_corpus.h"

#include <initializer_list>
#include <string_view>

namespace fs = std::filesystem;
namespace fx = quillon::fixtures;
using fx::Container;
using fx::Damage;

namespace quillon::test::corpus {

namespace {


Case damaged(const std::string& label, Damage damage, double where, unsigned seed = 1)
{
    return {label, [=](const fs::path& good, const fs::path& out) { fx::damage_file(good, out, damage, where, seed); }};
}

// A copy of the good clip with `bytes` written `offset` bytes after `marker`.
Case patched(const std::string& label, std::string_view marker, size_t offset, std::string_view bytes, bool every = false)
{
    return {label, [=, marker = std::string(marker), bytes = std::string(bytes)](const fs::path& good, const fs::path& out) {
                fs::copy_file(good, out, fs::copy_options::overwrite_existing);
                fx::patch_after(out, marker, offset, bytes, every);
            }};
}

std::string raw(std::initializer_list<unsigned char> values) { return {values.begin(), values.end()}; }

// Damage that fits every container: cuts, inverted bytes, zeros and garbage.
std::vector<Case> common_damage()
{
    return {
        damaged("cut-at-3%", Damage::truncated, 0.03),      damaged("cut-at-60%", Damage::truncated, 0.6),
        damaged("flipped-header", Damage::flipped, 0.0, 3), damaged("flipped-middle", Damage::flipped, 0.5, 4),
        damaged("zeroed-middle", Damage::zeroed, 0.5),      damaged("garbage-at-30%", Damage::garbage_middle, 0.3, 5),
    };
}

// The MPEG video sequence header: 12-bit width and height, then aspect and rate codes.
std::vector<Case> sequence_header_patches()
{
    const std::string header = raw({0, 0, 1, 0xb3});
    return {
        patched("size-4095x4095", header, 4, raw({0xff, 0xff, 0xff}), true),
        patched("size-0x0", header, 4, raw({0, 0, 0}), true),
        patched("forbidden-rate-code", header, 7, raw({0x1f}), true),
    };
}

// Absurd header values, per container.
std::vector<Case> header_patches(Container container)
{
    switch (container) {
    case Container::mp4: {
        const std::string video_entry = "avc1" + raw({0, 0, 0, 0, 0, 0, 0, 1});
        return {
            patched("timescale-1", "mdhd", 16, raw({0, 0, 0, 1}), true),
            patched("timescale-0", "mdhd", 16, raw({0, 0, 0, 0}), true),
            patched("size-65535x65535", video_entry, 28, raw({0xff, 0xff, 0xff, 0xff})),
            patched("sample-delta-huge", "stts", 16, raw({0x7f, 0xff, 0xff, 0xff}), true),
        };
    }
    case Container::matroska:
        return {
            patched("frame-duration-1ns", raw({0x23, 0xe3, 0x83, 0x84}), 4, raw({0, 0, 0, 1})),
            patched("width-65535", raw({0xb0, 0x82, 0x01, 0x40}), 2, raw({0xff, 0xff})),
            patched("timecode-scale-1", raw({0x2a, 0xd7, 0xb1, 0x83, 0x0f, 0x42, 0x40}), 4, raw({0, 0, 1})),
            patched("sample-rate-max-double", raw({0xb5, 0x88, 0x40, 0xe7, 0x70}), 2,
                    raw({0x7f, 0xef, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})),
            patched("channels-255", raw({0x9f, 0x81, 0x02}), 2, raw({0xff})),
        };
    case Container::avi:
        return {
            patched("1us-per-frame", "avih", 8, raw({1, 0, 0, 0})),
            patched("rate-2147483647", "strh", 28, raw({1, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f})),
            patched("rate-scale-0", "strh", 28, raw({0, 0, 0, 0})),
            patched("size-2147483647", "strf", 12, raw({0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff, 0x7f})),
        };
    case Container::mpeg_ps:
    case Container::mpeg1_system: return sequence_header_patches();
    case Container::mpeg_ts: {
        std::vector<Case> cases = sequence_header_patches();
        cases.push_back(patched("unknown-stream-type", raw({0x47, 0x50, 0x00}), 17, raw({0xff})));
        return cases;
    }
    case Container::wav:
        return {
            patched("channels-0", "fmt ", 10, raw({0, 0})),
            patched("rate-2147483647", "fmt ", 12, raw({0xff, 0xff, 0xff, 0x7f})),
            patched("block-align-0", "fmt ", 20, raw({0, 0})),
            patched("bits-65535", "fmt ", 22, raw({0xff, 0xff})),
        };
    case Container::mp3:
        return {
            patched("bad-frame-header", raw({0xff, 0xfb}), 2, raw({0xfc})),
            patched("frame-count-huge", "Info", 8, raw({0x7f, 0xff, 0xff, 0xff})),
            patched("tag-size-huge", "ID3", 6, raw({0x7f, 0x7f, 0x7f, 0x7f})),
        };
    case Container::png:
        return {
            patched("size-2147483647", "IHDR", 4, raw({0x7f, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff})),
            patched("width-0", "IHDR", 4, raw({0, 0, 0, 0})),
            patched("bit-depth-3", "IHDR", 12, raw({3})),
        };
    case Container::jpeg:
        return {
            patched("size-65535x65535", raw({0xff, 0xc0}), 5, raw({0xff, 0xff, 0xff, 0xff})),
            patched("size-0x0", raw({0xff, 0xc0}), 5, raw({0, 0, 0, 0})),
            patched("quant-table-length-huge", raw({0xff, 0xdb}), 2, raw({0xff, 0xff})),
        };
    }
    return {};
}

} // namespace

std::vector<Container> containers()
{
    return {Container::mp4,          Container::matroska, Container::avi, Container::mpeg_ps,
            Container::mpeg1_system, Container::mpeg_ts,  Container::wav, Container::mp3,
            Container::png,          Container::jpeg};
}

fx::ClipSpec source_spec(Container container)
{
    fx::ClipSpec spec{.container = container, .duration = 1.0};
    const auto content = fx::container_info(container).content;
    if (content == fx::Content::audio_only) spec.video = false;
    if (content == fx::Content::still) spec.audio = false;
    return spec;
}

std::vector<Case> cases(Container container)
{
    std::vector<Case> all = common_damage();
    for (Case& c : header_patches(container)) all.push_back(std::move(c));
    return all;
}

std::vector<fs::path> make_files(Container container, const fs::path& good, const fs::path& folder)
{
    const std::string_view extension = fx::container_info(container).extension;
    std::vector<fs::path> files;
    for (const Case& c : cases(container)) {
        const std::string name = c.label + (files.size() % 2 ? "-\xc3\xa9t\xc3\xa9" : "") + std::string(extension);
        files.push_back(folder / name);
        c.make(good, files.back());
    }
    return files;
}

std::vector<fs::path> make_not_media(const fs::path& good, const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const char* name : {"empty.mp4", "empty-\xc3\xa9.mpg"}) {
        files.push_back(folder / name);
        fx::damage_file(good, files.back(), Damage::zero_length);
    }
    for (const char* name : {"notes.avi", "notes.mkv", "notes-\xc3\xa9.vob", "notes.ts"}) {
        files.push_back(folder / name);
        fx::damage_file(good, files.back(), Damage::not_media);
    }
    for (const char* name : {"folder.mkv", "folder-\xc3\xa9.mp4"}) {
        files.push_back(folder / name);
        fs::create_directories(files.back());
    }
    return files;
}

} // namespace quillon::test::corpus
