// Preview delivery on a worker thread: bitmaps at most once per interval,
// the preview window and its closing, and flag changes from another thread
// while a picture is being shown (which must not wait on each other).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Bitmap/bitmap.h"
#include "Previewer/previewer.h"
#include "hooks/hook_support.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;
using namespace std::chrono_literals;

namespace {

const Options mpeg_out{{"vcodec", "mpeg1video"}, {"qscale", "4"}};

std::filesystem::path preview_clip()
{
    return clip("preview-2s.mp4", ClipSpec{.duration = 2, .audio = false});
}

int64_t now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Shown {
    int64_t wall = 0;
    int frame_number = 0;
    int64_t pts = 0;
    int painted = -1; // the clip's frame number read from the picture
    std::thread::id thread;
};

Shown record(const TBitmap& bitmap, int frame_number, int64_t pts)
{
    return {now_us(), frame_number, pts,
            fixtures::read_frame_number(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride()),
            std::this_thread::get_id()};
}

// A preview window that records what it was shown; the user "closes" it
// after a number of frames, and a test may act while a frame is shown.
struct WindowRecord {
    std::mutex lock;
    std::vector<Shown> shown;
    int close_after = 1000;
    std::function<void()> while_showing;
    std::atomic<int> made{0}, destroyed{0};
    std::atomic<bool> showing{false};
};

class FakePreviewer : public TPreviewer {
public:
    explicit FakePreviewer(WindowRecord& record) : record_(record) { ++record_.made; }
    ~FakePreviewer() override
    {
        EXPECT_FALSE(record_.showing) << "a window is never destroyed while it shows a frame";
        ++record_.destroyed;
    }
    bool ShowFrame(const TBitmap& picture, int frame_number, int64_t pts) override
    {
        record_.showing = true;
        if (record_.while_showing) record_.while_showing();
        std::lock_guard guard(record_.lock);
        record_.shown.push_back(record(picture, frame_number, pts));
        record_.showing = false;
        return static_cast<int>(record_.shown.size()) < record_.close_after;
    }

private:
    WindowRecord& record_;
};

class PreviewTest : public EngineTest {
protected:
    void TearDown() override { SetPreviewerFactory(nullptr); }
    void use_windows(WindowRecord& record)
    {
        SetPreviewerFactory([&record] { return std::make_unique<FakePreviewer>(record); });
    }
};

// Runs `change` on another thread and waits up to two seconds for it; false
// when it did not finish (it would be blocked behind the waiting worker).
bool finishes_meanwhile(std::function<void()> change)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([change, done] {
        change();
        done->set_value();
    }).detach();
    return finished.wait_for(2s) == std::future_status::ready;
}

TEST_F(PreviewTest, BitmapsComeAtMostOncePerIntervalWithDecodedFrameNumbers)
{
    WindowRecord window;
    use_windows(window);
    HookEngine engine;
    engine.rate_emu = true; // pictures are encoded every 40 ms of wall clock
    engine.set_preview_flags(3); // bitmaps take precedence over the window
    std::mutex lock;
    std::vector<Shown> shown;
    engine.preview_bitmap_sink = [&](TCustomFFmpeg&, TBitmap& bitmap, int frame_number, int64_t pts) {
        std::lock_guard guard(lock);
        shown.push_back(record(bitmap, frame_number, pts));
    };
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "preview.mpg"));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;

    std::lock_guard guard(lock);
    ASSERT_GE(shown.size(), 8u);
    EXPECT_LE(shown.size(), 20u) << "two seconds hold at most twenty intervals of 100 ms";
    int thirds = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_NE(shown[i].thread, std::this_thread::get_id()) << "delivered from the worker";
        EXPECT_EQ(shown[i].painted, shown[i].frame_number - 1) << "frame numbers count decoded pictures from 1";
        EXPECT_EQ(shown[i].pts, 40000 * shown[i].painted);
        if (i == 0) continue;
        // Times are taken in the sink, after the picture's conversion, so a
        // single gap may look shorter than the interval by that much.
        EXPECT_GT(shown[i].wall - shown[i - 1].wall, 50000) << "no picture close after another";
        EXPECT_GT(shown[i].frame_number, shown[i - 1].frame_number);
        thirds += shown[i].frame_number - shown[i - 1].frame_number == 3;
    }
    EXPECT_GT(shown.back().wall - shown.front().wall, 100000 * int64_t(shown.size() - 1) - 50000)
        << "at most one picture per interval";
    // At 40 ms a picture the first one after 100 ms is the third (120 ms).
    EXPECT_GE(2 * thirds, static_cast<int>(shown.size()) - 1);
    EXPECT_EQ(window.made, 0) << "no window while bitmaps are delivered";
    EXPECT_EQ(engine.preview_flags, 3);
}

TEST_F(PreviewTest, ClosingTheWindowStopsPreviewsForTheTask)
{
    WindowRecord window;
    window.close_after = 3;
    use_windows(window);
    HookEngine engine;
    engine.preview_interval_us = 0;
    engine.set_preview_flags(1);
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "window.mpg"));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_EQ(window.made, 1);
    EXPECT_EQ(window.shown.size(), 3u) << "no frame is shown after the window was closed";
    EXPECT_EQ(window.destroyed, 1) << "the closed window is freed";
    EXPECT_EQ(engine.preview_flags, 0);
    EXPECT_FALSE(engine.has_previewer());
    EXPECT_EQ(count_decoded_video_frames(scratch / "window.mpg"), 50) << "the conversion itself goes on";
}

TEST_F(PreviewTest, ClearingTheWindowFlagFreesTheWindow)
{
    WindowRecord window;
    use_windows(window);
    HookEngine engine;
    engine.set_preview_flags(1);
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "kept.mpg"));
    engine.run_threaded();
    EXPECT_EQ(window.made, 1);
    EXPECT_GE(window.shown.size(), 1u);
    EXPECT_TRUE(engine.has_previewer()) << "the window stays while the flag is set";
    engine.set_preview_flags(3);
    EXPECT_EQ(window.destroyed, 0) << "bit 0 still set";
    engine.set_preview_bit(2, false);
    EXPECT_EQ(window.destroyed, 0);
    engine.set_preview_bit(1, false);
    EXPECT_EQ(window.destroyed, 1);
    EXPECT_EQ(engine.preview_flags, 0);
    EXPECT_FALSE(engine.has_previewer());
}

TEST_F(PreviewTest, WithoutWindowsTheWindowFlagIsDropped)
{
    HookEngine engine;
    engine.set_preview_flags(1);
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "nowindow.mpg"));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_EQ(engine.preview_flags, 0);
}

TEST_F(PreviewTest, FlagsChangeWhileABitmapIsHandedOver)
{
    HookEngine engine;
    engine.preview_interval_us = 0;
    engine.set_preview_flags(2);
    std::atomic<int> delivered{0}, blocked{0};
    engine.preview_bitmap_sink = [&](TCustomFFmpeg&, TBitmap&, int, int64_t) {
        // The main thread changes the settings while it serves the hand-off.
        if (!finishes_meanwhile([&] { engine.set_preview_flags(++delivered < 10 ? 2 : 0); })) ++blocked;
    };
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "change.mpg"));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_EQ(blocked, 0) << "the flag change waited for the delivery";
    EXPECT_EQ(delivered, 10) << "the cleared flag ends the deliveries";
}

TEST_F(PreviewTest, WindowClosedByTheSettingsWhileItShowsAFrame)
{
    WindowRecord window;
    use_windows(window);
    HookEngine engine;
    engine.preview_interval_us = 0;
    engine.set_preview_flags(1);
    std::atomic<int> blocked{0};
    window.while_showing = [&] {
        if (!finishes_meanwhile([&] { engine.set_preview_flags(0); })) ++blocked;
    };
    ASSERT_TRUE(engine.set_up(preview_clip(), mpeg_out, scratch / "closed.mpg"));
    engine.run_threaded();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    EXPECT_EQ(blocked, 0);
    EXPECT_EQ(window.shown.size(), 1u);
    EXPECT_EQ(window.destroyed, 1) << "freed once the frame was shown";
    EXPECT_FALSE(engine.has_previewer());
}

} // namespace
