// Damaged and unusual files: the prober answers with a clear error or partial
// information, never a crash or a hang, and does not read a large file whole.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Probe/av_probe.h"
#include "probe/probe_media.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
namespace fx = quillon::fixtures;
using namespace quillon;

namespace {

using test::Clip;

// Bytes this process has read through read() so far.
int64_t bytes_read_by_process()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    int64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

// Asks for everything a caller may ask; only the absence of crashes and hangs
// (and a consistent state) is checked here.
void ask_everything(TAVProbe& probe, const std::string& what)
{
    EXPECT_FALSE(probe.InfoText().empty()) << what;
    TFileStreamInfo file;
    probe.GetFileStreamInfo(file);
    TVideoStreamInfo video;
    probe.GetVideoStreamInfo(-1, video);
    TAudioStreamInfo audio;
    probe.GetAudioStreamInfo(-1, audio);
    if (probe.FirstVideoStream() < 0) return;
    for (int64_t position : {0, 500000, 1500000, 5000000, -1}) {
        const TBitmap& picture = probe.GetFrameBitmap(-1, position);
        if (picture.Empty()) {
            EXPECT_FALSE(probe.LastError().empty()) << what << " at " << position;
        }
    }
}

class DamagedMedia : public ::testing::Test {
protected:
    void SetUp() override { test::load_libraries(); }
    test::ScratchDir dir{"damaged"};
    TAVProbe probe;
};

TEST_F(DamagedMedia, EveryDamageGivesAnErrorOrPartialInformation)
{
    struct Case {
        Clip source;
        fx::Damage damage;
        double where;
    };
    const Case cases[] = {
        {Clip::mp4, fx::Damage::truncated, 0.5},      {Clip::mp4, fx::Damage::truncated, 0.02},
        {Clip::mp4, fx::Damage::garbage_middle, 0.5}, {Clip::mp4, fx::Damage::zeroed, 0.3},
        {Clip::ts_two, fx::Damage::truncated, 0.4},   {Clip::ts_two, fx::Damage::garbage_middle, 0.5},
        {Clip::bgr_odd, fx::Damage::truncated, 0.6},  {Clip::png, fx::Damage::truncated, 0.5},
        {Clip::mp4, fx::Damage::zero_length, 0},      {Clip::mp4, fx::Damage::not_media, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        const fs::path& source = test::probe_clip(c.source);
        const fs::path damaged = dir / ("damaged" + std::to_string(index++) + source.extension().string());
        fx::damage_file(source, damaged, c.damage, c.where);
        const std::string what = damaged.filename().string() + " from " + source.filename().string();
        if (probe.LoadFile(damaged.string())) {
            ask_everything(probe, what);
        } else {
            EXPECT_TRUE(probe.LastError().starts_with(damaged.string() + ": ")) << what << ": " << probe.LastError();
            EXPECT_EQ(probe.StreamCount(), -1) << what;
        }
    }
}

TEST_F(DamagedMedia, EmptyAndTextFilesAreUnknownFormats)
{
    for (fx::Damage damage : {fx::Damage::zero_length, fx::Damage::not_media}) {
        const fs::path file = dir / "plain.bin";
        fx::damage_file(test::probe_clip(Clip::mp4), file, damage);
        EXPECT_FALSE(probe.LoadFile(file.string()));
        EXPECT_EQ(probe.LastError(), file.string() + ": Unknown format");
    }
}

TEST_F(DamagedMedia, LargeFileIsNotReadWhole)
{
    // A transport stream followed by 3 GiB of zeros (a sparse file).
    const fs::path big = dir / "big.ts";
    fs::copy_file(test::probe_clip(Clip::ts_two), big);
    fs::resize_file(big, fs::file_size(big) + (int64_t{3} << 30));
    const int64_t before = bytes_read_by_process();
    ASSERT_TRUE(probe.LoadFile(big.string())) << probe.LastError();
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_FALSE(probe.InfoText().empty());
    const int64_t read = bytes_read_by_process() - before;
    EXPECT_LT(read, int64_t{64} << 20) << "bytes read to probe a 3 GiB file";
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(big)));
    EXPECT_NE(probe.InfoText().find("File Size: 3.00 GB"), std::string::npos);
}

} // namespace
