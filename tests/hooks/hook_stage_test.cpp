// The hook stage: time segments, the before-hook, the custom hook on the RGB
// picture, deinterlacing, and the refusal to copy a stream that is hooked.
// Every case converts a generated clip and reads the pictures back.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "Bitmap/bitmap.h"
#include "FFmpeg/deinterlace.h"
#include "FFmpeg/rgb_converter.h"
#include "hooks/hook_support.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using fixtures::Container;

namespace {

constexpr int mark_x = 96, mark_y = 96, mark_size = 32;
const Options mpeg_out{{"vcodec", "mpeg1video"}, {"qscale", "2"}};

std::filesystem::path silent_clip(double seconds)
{
    return clip("hooks-" + std::to_string(static_cast<int>(seconds)) + "s.mp4",
                ClipSpec{.duration = seconds, .audio = false});
}

Options with(Options options, const Options& more)
{
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

void draw_mark(TBitmap& bitmap)
{
    for (int y = mark_y; y < mark_y + mark_size; ++y) std::memset(bitmap.ScanLine(y) + 3 * mark_x, 0, 3 * mark_size);
}

class HookStageTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        marker::reset();
    }
    // Which pictures of the output carry the mark, by index.
    std::vector<bool> marks(const std::filesystem::path& file)
    {
        std::vector<bool> found;
        for_each_bgr_picture(file, [&](const BgrPicture& picture) {
            found.push_back(has_mark(picture, mark_x, mark_y, mark_size));
            EXPECT_EQ(fixtures::read_frame_number(picture.pixels.data(), picture.width, picture.height, picture.stride()),
                      picture.index)
                << "the hooked pictures keep their order and content";
            return true;
        });
        return found;
    }
};

TEST_F(HookStageTest, SegmentsHookExactlyTheFramesInsideThem)
{
    HookEngine engine;
    engine.set_segments({{10000000, 12000000}, {2000000, 4000000}});
    const auto out = scratch / "segments.mpg";
    ASSERT_TRUE(engine.set_up(silent_clip(14), with(mpeg_out, {{"vhook", marker::hook("marker", mark_x, mark_y, mark_size)}}), out));
    engine.run_here();
    ASSERT_FALSE(engine.failed) << engine.error_message;

    // 2.00 s to 4.00 s and 10.00 s to 12.00 s at 25 pictures a second, both ends included.
    EXPECT_EQ(marker::calls(), 51 + 51);
    for (int i = 0; i < marker::calls(); ++i) {
        const int64_t pts = marker::pts(i);
        EXPECT_TRUE((pts >= 2000000 && pts <= 4000000) || (pts >= 10000000 && pts <= 12000000)) << pts;
    }
    EXPECT_FALSE(engine.vhook_active) << "after the last segment the modules are done for the job";
    const std::vector<bool> found = marks(out);
    ASSERT_EQ(found.size(), 350u);
    const std::map<int, bool> expected{{25, false}, {49, false}, {50, true},  {75, true},  {100, true}, {101, false},
                                       {150, false}, {275, true}, {300, true}, {301, false}, {325, false}, {349, false}};
    for (const auto& [index, marked] : expected) EXPECT_EQ(found[index], marked) << "picture " << index;
}

TEST_F(HookStageTest, BeforeHookDecidesPerFrameAndStopsTheModulesWhenItFails)
{
    struct Case {
        const char* name;
        std::function<THookAction(int call)> decide; // may throw
        int module_calls;
        int asked;
        std::function<bool(int picture)> marked;
    };
    const Case cases[] = {
        {"odd frames ignored", [](int call) { return call % 2 ? haIgnore : haContinue; }, 25, 50,
         [](int picture) { return picture % 2 == 1; }},
        {"fails at the tenth frame",
         [](int call) -> THookAction {
             if (call == 10) throw std::runtime_error("boom");
             return haContinue;
         },
         9, 10, [](int picture) { return picture < 9; }},
        {"stops at the fifth frame", [](int call) { return call == 5 ? haStop : haContinue; }, 4, 5,
         [](int picture) { return picture < 4; }},
    };
    for (const Case& c : cases) {
        marker::reset();
        HookEngine engine;
        int asked = 0;
        engine.before_hook_sink = [&](TCustomFFmpeg&, int64_t pts, THookAction& action) {
            EXPECT_EQ(pts, 40000 * asked) << c.name;
            action = c.decide(++asked);
        };
        const auto out = scratch / "before.mpg";
        ASSERT_TRUE(engine.set_up(silent_clip(2), with(mpeg_out, {{"vhook", marker::hook("marker", mark_x, mark_y, mark_size)}}), out));
        engine.run_threaded(); // the hooks are asked on the worker
        ASSERT_FALSE(engine.failed) << c.name << ": " << engine.error_message;
        EXPECT_EQ(marker::calls(), c.module_calls) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name << ": the before-hook is not asked once the modules stopped";
        const std::vector<bool> found = marks(out);
        ASSERT_EQ(found.size(), 50u) << c.name;
        for (int i = 0; i < 50; ++i) EXPECT_EQ(found[i], c.marked(i)) << c.name << ", picture " << i;
    }
}

TEST_F(HookStageTest, BeforeHookFailureIsLogged)
{
    HookEngine engine;
    engine.before_hook_sink = [](TCustomFFmpeg&, int64_t, THookAction&) { throw std::runtime_error("no answer"); };
    ASSERT_TRUE(engine.set_up(silent_clip(2), with(mpeg_out, {{"vhook", marker::hook("marker", 0, 0, 16)}}), scratch / "b.mpg"));
    engine.run_here();
    EXPECT_FALSE(engine.failed) << "a hook failure does not end the job";
    EXPECT_TRUE(engine.logged("Error occurs OnBeforeHook: no answer"));
    EXPECT_EQ(marker::calls(), 0);
}

TEST_F(HookStageTest, CustomHookDrawsOnTheRgbPictureInsteadOfTheModules)
{
    HookEngine engine;
    std::vector<int> numbers;
    std::vector<int64_t> times;
    engine.custom_hook_sink = [&](TCustomFFmpeg&, TBitmap& bitmap, int frame_number, int64_t pts, bool& update, bool& stop) {
        EXPECT_TRUE(update);
        EXPECT_FALSE(stop);
        EXPECT_EQ(bitmap.Width(), 320);
        EXPECT_EQ(bitmap.Height(), 240);
        EXPECT_EQ(fixtures::read_frame_number(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride()),
                  frame_number - 1)
            << "the bitmap shows the decoded picture";
        numbers.push_back(frame_number);
        times.push_back(pts);
        draw_mark(bitmap);
    };
    const auto out = scratch / "custom.mpg";
    ASSERT_TRUE(engine.set_up(silent_clip(2), with(mpeg_out, {{"vhook", marker::hook("marker", 0, 0, 16)}}), out));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    ASSERT_EQ(numbers.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(numbers[i], i + 1) << "frame numbers count the decoded pictures";
        EXPECT_EQ(times[i], 40000 * i);
    }
    EXPECT_EQ(marker::calls(), 0) << "with a custom hook the modules do not run";
    const std::vector<bool> found = marks(out);
    EXPECT_EQ(std::count(found.begin(), found.end(), true), 50);
}

TEST_F(HookStageTest, CustomHookStopsForTheRestOfTheJobOrSkipsAFrameThatFails)
{
    struct Case {
        const char* name;
        // Draws, then sets flags or throws, for one frame number.
        std::function<void(int frame_number, bool& update, bool& stop)> act;
        int calls;
        std::function<bool(int picture)> marked;
        const char* line;
    };
    const Case cases[] = {
        {"stop flag at frame 100", [](int n, bool&, bool& stop) { stop = n == 100; }, 100,
         [](int picture) { return picture < 100; }, nullptr},
        {"no update at frame 7", [](int n, bool& update, bool&) { update = n != 7; }, 150,
         [](int picture) { return picture != 6; }, nullptr},
        {"failure at frame 5",
         [](int n, bool&, bool&) {
             if (n == 5) throw std::runtime_error("brush lost");
         },
         150, [](int picture) { return picture != 4; }, "Error occurs OnCustomHook: brush lost"},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        int calls = 0;
        engine.custom_hook_sink = [&](TCustomFFmpeg&, TBitmap& bitmap, int n, int64_t, bool& update, bool& stop) {
            ++calls;
            draw_mark(bitmap);
            c.act(n, update, stop);
        };
        const auto out = scratch / "stop.mpg";
        ASSERT_TRUE(engine.set_up(silent_clip(6), mpeg_out, out));
        engine.run_here();
        ASSERT_FALSE(engine.failed) << c.name << ": " << engine.error_message;
        EXPECT_EQ(calls, c.calls) << c.name;
        if (c.line) {
            EXPECT_TRUE(engine.logged(c.line)) << c.name;
        }
        const std::vector<bool> found = marks(out);
        ASSERT_EQ(found.size(), 150u) << c.name;
        for (int i = 0; i < 150; ++i) EXPECT_EQ(found[i], c.marked(i)) << c.name << ", picture " << i;
    }
}

TEST_F(HookStageTest, Bgr24SourceIsHookedWithoutAScaler)
{
    const auto source = clip("hooks-bgr24.avi", ClipSpec{.container = Container::avi, .duration = 1,
                                                        .video_codec = "rawvideo", .pixel_format = "bgr24", .audio = false});
    HookEngine engine;
    int calls = 0;
    engine.custom_hook_sink = [&](TCustomFFmpeg&, TBitmap& bitmap, int, int64_t, bool&, bool&) {
        ++calls;
        EXPECT_FALSE(engine.hook_scalers()) << "the rows are copied straight between picture and bitmap";
        draw_mark(bitmap);
    };
    const auto out = scratch / "bgr.mpg";
    ASSERT_TRUE(engine.set_up(source, mpeg_out, out));
    engine.run_here();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_EQ(calls, 25);
    const std::vector<bool> found = marks(out);
    EXPECT_EQ(std::count(found.begin(), found.end(), true), 25);
}

FramePtr test_picture(AVPixelFormat format, int width, int height, uint8_t value)
{
    FramePtr picture(lib::av_frame_alloc());
    picture->format = format;
    picture->width = width;
    picture->height = height;
    EXPECT_GE(lib::av_frame_get_buffer(picture.get(), 0), 0);
    for (int plane = 0; plane < 4 && picture->data[plane]; ++plane)
        std::memset(picture->data[plane], value, picture->buf[plane] ? picture->buf[plane]->size : 0);
    return picture;
}

TEST_F(HookStageTest, RgbConverterCopiesBgrRowsStraightAndConvertsOtherFormats)
{
    RgbConverter converter;
    FramePtr bgr = test_picture(AV_PIX_FMT_BGR24, 33, 7, 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 99; ++x) bgr->data[0][y * bgr->linesize[0] + x] = static_cast<uint8_t>(x + y);
    ASSERT_TRUE(converter.to_rgb(bgr.get()));
    EXPECT_FALSE(converter.has_scalers());
    TBitmap& bitmap = converter.bitmap();
    ASSERT_EQ(bitmap.Width(), 33);
    EXPECT_EQ(bitmap.Stride(), 100) << "rows of 99 bytes padded to 4";
    EXPECT_EQ(std::memcmp(bitmap.ScanLine(6), bgr->data[0] + 6 * bgr->linesize[0], 99), 0);
    bitmap.ScanLine(3)[5] = 250;
    ASSERT_TRUE(converter.from_rgb(bgr.get()));
    EXPECT_EQ(bgr->data[0][3 * bgr->linesize[0] + 5], 250);
    EXPECT_FALSE(converter.has_scalers());

    FramePtr yuv = test_picture(AV_PIX_FMT_YUV420P, 64, 48, 128);
    ASSERT_TRUE(converter.to_rgb(yuv.get()));
    EXPECT_EQ(bitmap.Width(), 64) << "a picture of another size re-sizes the bitmap";
    EXPECT_NEAR(bitmap.ScanLine(10)[30], 130, 3) << "mid grey";
    std::memset(bitmap.ScanLine(0), 255, bitmap.Stride());
    ASSERT_TRUE(converter.from_rgb(yuv.get()));
    EXPECT_TRUE(converter.has_scalers());
    EXPECT_GT(yuv->data[0][5], 220) << "the white row reached the picture";
    converter.reset();
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_FALSE(converter.has_scalers());
    EXPECT_FALSE(converter.from_rgb(yuv.get())) << "nothing to write back after a reset";
}

TEST_F(HookStageTest, DeinterlacerRebuildsTheBottomFieldOfEightBitFormats)
{
    FramePtr source = test_picture(AV_PIX_FMT_YUV420P, 8, 6, 0);
    for (int y = 0; y < 6; ++y) std::memset(source->data[0] + y * source->linesize[0], y % 2 ? 0 : 40 * (y + 1), 8);
    FramePtr target = test_picture(AV_PIX_FMT_YUV420P, 8, 6, 7);
    ASSERT_TRUE(deinterlace_picture(target.get(), source.get()));
    const int expected[6] = {40, 80, 120, 160, 200, 200}; // even rows kept, odd rows the mean, the last one repeated
    for (int y = 0; y < 6; ++y) EXPECT_EQ(target->data[0][y * target->linesize[0] + 3], expected[y]) << "row " << y;

    for (AVPixelFormat format : {AV_PIX_FMT_GRAY16LE, AV_PIX_FMT_PAL8, AV_PIX_FMT_YUV420P10LE}) {
        FramePtr wide = test_picture(format, 8, 6, 1);
        FramePtr out = test_picture(format, 8, 6, 1);
        EXPECT_FALSE(deinterlace_picture(out.get(), wide.get())) << lib::av_get_pix_fmt_name(format);
    }
    FramePtr other_size = test_picture(AV_PIX_FMT_YUV420P, 8, 8, 0);
    EXPECT_FALSE(deinterlace_picture(other_size.get(), source.get()));
}

// Mean brightness difference between neighbouring rows of a square: large for
// interlaced (combed) content, small once deinterlaced.
double comb_contrast(const BgrPicture& picture, int x, int y, int size)
{
    double sum = 0;
    for (int row = y + 4; row < y + size - 4; ++row) {
        double a = 0, b = 0;
        for (int column = x + 4; column < x + size - 4; ++column) {
            a += picture.at(column, row)[1];
            b += picture.at(column, row + 1)[1];
        }
        sum += std::abs(a - b) / (size - 8);
    }
    return sum / (size - 8);
}

TEST_F(HookStageTest, DeinterlaceWithAndWithoutHooks)
{
    constexpr int comb_x = 160, comb_y = 64, comb_size = 64;
    const auto combed = scratch / "combed.mkv";
    {
        HookEngine maker; // two fields in one picture, kept losslessly
        ASSERT_TRUE(maker.set_up(silent_clip(2), {{"vcodec", "ffv1"}, {"vhook", marker::hook("comb", comb_x, comb_y, comb_size)}}, combed));
        maker.run_here();
        ASSERT_FALSE(maker.failed) << maker.error_message;
    }
    struct Case {
        const char* name;
        Options options;
        bool custom_hook;
        bool deinterlaced;
        bool marked;
    };
    const Case cases[] = {
        {"no deinterlace", {}, false, false, false},
        {"deinterlace", {{"deinterlace", ""}}, false, true, false},
        {"deinterlace and a module", {{"deinterlace", ""}, {"vhook", marker::hook("marker", mark_x, mark_y, mark_size)}}, false, true, true},
        {"deinterlace and the custom hook", {{"deinterlace", ""}}, true, true, true},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        if (c.custom_hook) engine.custom_hook_sink = [](TCustomFFmpeg&, TBitmap& bitmap, int, int64_t, bool&, bool&) { draw_mark(bitmap); };
        const auto out = scratch / "deinterlaced.mpg";
        ASSERT_TRUE(engine.set_up(combed, with(mpeg_out, c.options), out));
        engine.run_here();
        ASSERT_FALSE(engine.failed) << c.name << ": " << engine.error_message;
        int pictures = 0;
        for_each_bgr_picture(out, [&](const BgrPicture& picture) {
            ++pictures;
            const double contrast = comb_contrast(picture, comb_x, comb_y, comb_size);
            if (c.deinterlaced) {
                EXPECT_LT(contrast, 20) << c.name << ", picture " << picture.index;
            } else {
                EXPECT_GT(contrast, 100) << c.name << ", picture " << picture.index;
            }
            EXPECT_EQ(has_mark(picture, mark_x, mark_y, mark_size), c.marked) << c.name << ", picture " << picture.index;
            return true;
        });
        EXPECT_EQ(pictures, 50) << c.name << ": deinterlacing keeps every picture";
        EXPECT_FALSE(engine.logged("Deinterlacing failed.")) << c.name;
    }
}

TEST_F(HookStageTest, HookedStreamsCannotBeCopied)
{
    struct Case {
        const char* name;
        std::function<void(HookEngine&)> hook;
        const char* message;
    };
    const Case cases[] = {
        {"custom hook",
         [](HookEngine& e) { e.custom_hook_sink = [](TCustomFFmpeg&, TBitmap&, int, int64_t, bool&, bool&) {}; },
         "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
        {"modules", [](HookEngine& e) { e.parse_option("vhook", marker::hook("marker", 0, 0, 16)); },
         "-vcodec copy and -vhook are incompatible (frames are not decoded)"},
        {"preview", [](HookEngine& e) { e.set_preview_flags(2); },
         "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        c.hook(engine);
        ASSERT_TRUE(engine.set_up(silent_clip(2), {{"vcodec", "copy"}}, scratch / "copy.mkv"));
        engine.run_here();
        EXPECT_TRUE(engine.failed) << c.name;
        EXPECT_EQ(engine.error_message, c.message) << c.name;
    }
}

} // namespace
