// Frame grabbing: pictures checked against the frame number the generated
// clip draws, the kept picture, the end of the stream, still pictures, the
// next-frame request, both picture paths, and PNG files of grabbed pictures.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <fstream>

#include "Bitmap/png_writer.h"
#include "Probe/av_probe.h"
#include "probe/probe_media.h"
#include "support/test_support.h"

using namespace quillon;

namespace {

using test::Clip;

std::string clip(Clip c)
{
    return test::probe_clip(c).string();
}

const std::filesystem::path& media_folder()
{
    return test::probe_media_folder();
}

// Frame number of a time in microseconds at 25 frames per second.
int frame_at(int64_t microseconds)
{
    return static_cast<int>(std::llround(microseconds * 25 / 1e6));
}

bool same_pixels(const TBitmap& a, const TBitmap& b)
{
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::memcmp(a.Bits(), b.Bits(), static_cast<std::size_t>(a.Stride()) * a.Height()) == 0;
}

class FrameGrab : public ::testing::Test {
protected:
    void SetUp() override { test::load_libraries(); }
    int64_t read_position() const { return lib::avio_seek(probe.FormatContext()->pb, 0, SEEK_CUR); }
    TAVProbe probe;
};

TEST_F(FrameGrab, PicturesShowTheFrameOfTheirTime)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4))) << probe.LastError();
    for (int64_t position : {0, 400000, 1000000, 1960000, 1200000}) {
        const TBitmap& picture = probe.GetFrameBitmap(-1, position);
        ASSERT_EQ(picture.Width(), 320) << probe.LastError();
        ASSERT_EQ(picture.Height(), 240);
        ASSERT_GE(probe.LastFramePTS(), 0) << position;
        // The picture is the one its time says, at or after the wanted position.
        EXPECT_EQ(test::frame_number_of(picture), frame_at(probe.LastFramePTS())) << position;
        EXPECT_GE(test::frame_number_of(picture), frame_at(position)) << position;
        EXPECT_TRUE(same_pixels(picture, probe.KeptBitmap()));
    }
}

TEST_F(FrameGrab, RepeatedRequestIsAnsweredFromTheKeptPicture)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    const TBitmap& first = probe.GetFrameBitmap(-1, 800000);
    const int number = test::frame_number_of(first);
    ASSERT_GE(number, 20);
    const int64_t position = read_position();
    const TBitmap& second = probe.GetFrameBitmap(-1, 800000);
    EXPECT_EQ(test::frame_number_of(second), number);
    EXPECT_EQ(read_position(), position) << "the file was read again";
    EXPECT_EQ(probe.LastFramePTS(), -1) << "nothing was decoded";
}

TEST_F(FrameGrab, RequestBeyondTheEndIsBlackAndRemembered)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int64_t position = attempt ? read_position() : -1;
        const TBitmap& picture = probe.GetFrameBitmap(-1, 10000000);
        EXPECT_EQ(probe.LastError(), "stream eof reached.");
        EXPECT_EQ(picture.Width(), 320);
        EXPECT_EQ(picture.Height(), 240);
        EXPECT_TRUE(test::all_black(picture));
        EXPECT_EQ(probe.LastFramePTS(), -1);
        if (attempt) {
            EXPECT_EQ(read_position(), position) << "the second answer read the file";
        }
    }
    // A later request inside the clip decodes again.
    EXPECT_GE(test::frame_number_of(probe.GetFrameBitmap(-1, 1000000)), 25);
}

TEST_F(FrameGrab, StillPictureIsTheSameAtEveryPosition)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::png))) << probe.LastError();
    const TBitmap& first = probe.GetFrameBitmap(-1, 0);
    ASSERT_EQ(first.Width(), 320) << probe.LastError();
    EXPECT_EQ(test::frame_number_of(first), 0);
    TBitmap copy;
    copy.Assign(first);
    EXPECT_TRUE(probe.Seek(-1, 3000000));
    for (int64_t position : {5000000, 0, -1}) {
        EXPECT_TRUE(same_pixels(probe.GetFrameBitmap(-1, position), copy)) << position;
        EXPECT_EQ(probe.LastFramePTS(), -1);
    }
}

TEST_F(FrameGrab, NegativePositionTakesTheNextFrame)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    ASSERT_TRUE(probe.Seek(-1, 0));
    int previous = -1;
    for (int i = 0; i < 5; ++i) {
        const TBitmap& picture = probe.GetNextFrameBitmap(-1);
        const int number = test::frame_number_of(picture);
        EXPECT_EQ(number, previous + 1) << "frame " << i;
        EXPECT_EQ(number, frame_at(probe.LastFramePTS()));
        previous = number;
    }
}

TEST_F(FrameGrab, SeekThenNextFrameReachesTheWantedTime)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    ASSERT_TRUE(probe.Seek(-1, 1000000));
    const int number = test::frame_number_of(probe.GetNextFrameBitmap(-1));
    EXPECT_EQ(number, frame_at(probe.LastFramePTS()));
    EXPECT_GE(number, 0);
    EXPECT_TRUE(probe.Seek(-1, -5)); // a negative position seeks to the start
    EXPECT_EQ(test::frame_number_of(probe.GetNextFrameBitmap(-1)), 0);
}

TEST_F(FrameGrab, RawBgrPicturesOfEvenAndOddWidth)
{
    for (const auto& [raw, width] : {std::pair{Clip::bgr_even, 320}, std::pair{Clip::bgr_odd, 321}}) {
        ASSERT_TRUE(probe.LoadFile(clip(raw))) << probe.LastError();
        const TBitmap& picture = probe.GetFrameBitmap(-1, 480000);
        ASSERT_EQ(picture.Width(), width) << probe.LastError();
        EXPECT_EQ(picture.Stride(), (width * 3 + 3) / 4 * 4);
        EXPECT_EQ(test::frame_number_of(picture), frame_at(probe.LastFramePTS())) << width;
        EXPECT_GE(test::frame_number_of(picture), 12) << width;
    }
}

TEST_F(FrameGrab, BadRequestsEmptyThePicture)
{
    EXPECT_TRUE(probe.GetFrameBitmap(-1, 0).Empty());
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    EXPECT_FALSE(probe.Seek(-1, 0));
    EXPECT_EQ(probe.LastError(), "file not loaded.");

    ASSERT_TRUE(probe.LoadFile(clip(Clip::wav)));
    EXPECT_TRUE(probe.GetFrameBitmap(-1, 0).Empty());
    EXPECT_EQ(probe.LastError(), "no video stream.");

    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    ASSERT_FALSE(probe.GetFrameBitmap(-1, 0).Empty());
    EXPECT_TRUE(probe.GetFrameBitmap(2, 0).Empty());
    EXPECT_EQ(probe.LastError(), "stream index #2 is invalid.");
    ASSERT_FALSE(probe.GetFrameBitmap(-1, 0).Empty());
    EXPECT_TRUE(probe.GetFrameBitmap(probe.FirstAudioStream(), 0).Empty());
    EXPECT_EQ(probe.LastError(), "stream #" + std::to_string(probe.FirstAudioStream()) + " is not video stream.");
    EXPECT_FALSE(probe.Seek(5, 0));
    EXPECT_EQ(probe.LastError(), "stream index #5 is invalid.");
}

TEST_F(FrameGrab, CloseFileEmptiesBothPictures)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::mp4)));
    ASSERT_FALSE(probe.GetFrameBitmap(-1, 400000).Empty());
    probe.CloseFile();
    EXPECT_TRUE(probe.KeptBitmap().Empty());
    EXPECT_TRUE(probe.GetFrameBitmap(-1, 400000).Empty());
    EXPECT_EQ(probe.LastFramePTS(), -1);
}

TEST_F(FrameGrab, GrabbedPictureSavedAsPngReadsBackTheSame)
{
    ASSERT_TRUE(probe.LoadFile(clip(Clip::bgr_odd)));
    TBitmap grabbed;
    grabbed.Assign(probe.GetFrameBitmap(-1, 200000));
    ASSERT_FALSE(grabbed.Empty());
    std::setlocale(LC_ALL, "C");
    const std::string name = (media_folder() / "grab \xc3\xa9.png").string();
    std::ofstream(name) << "an older file that the picture replaces";
    std::string error;
    ASSERT_TRUE(SaveBitmapAsPng(grabbed, name, error)) << error;
    ASSERT_TRUE(probe.LoadFile(name)) << probe.LastError();
    EXPECT_EQ(probe.FormatName(), "png_pipe");
    EXPECT_TRUE(same_pixels(probe.GetFrameBitmap(-1, 0), grabbed));

    TBitmap empty;
    EXPECT_FALSE(SaveBitmapAsPng(empty, name, error));
    EXPECT_EQ(error, name + ": the picture is empty");
    EXPECT_FALSE(SaveBitmapAsPng(grabbed, (media_folder() / "no folder" / "x.png").string(), error));
    EXPECT_EQ(error, (media_folder() / "no folder" / "x.png").string() + ": no such file or directory");
}

} // namespace
