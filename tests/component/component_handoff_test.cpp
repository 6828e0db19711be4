// Calls handed to the main thread: the queue, and a stop that must not
// deadlock against a worker waiting for the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "Bitmap/bitmap.h"
#include "component/component_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using namespace std::chrono_literals;

namespace {

TEST(MainThreadHandoff, QueuedCallsRunOnTheMainThreadAndReturnTheirFailures)
{
    TQueuedHandoff handoff;
    std::thread::id ran_on;
    std::atomic<bool> failed{false};
    std::thread worker([&] {
        handoff.RunOnMain([&] { ran_on = std::this_thread::get_id(); });
        try {
            handoff.RunOnMain([] { throw std::runtime_error("refused"); });
        } catch (const std::runtime_error& e) {
            failed = std::string(e.what()) == "refused";
        }
    });
    for (int served = 0; served < 2;) served += handoff.ServeFor(1s) ? 1 : 0;
    worker.join();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_TRUE(failed);

    bool direct = false;
    handoff.RunOnMain([&] { direct = true; });
    EXPECT_TRUE(direct) << "on the main thread the call runs at once";
}

TEST(MainThreadHandoff, DirectHandoffRunsOneCallAtATime)
{
    TDirectHandoff handoff;
    std::atomic<int> inside{0}, most{0};
    auto call = [&] {
        most = std::max(most.load(), ++inside);
        std::this_thread::sleep_for(2ms);
        --inside;
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&] {
            for (int k = 0; k < 10; ++k) handoff.RunOnMain(call);
        });
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(most, 1);
}

// A component whose workers deliver a preview picture with every progress
// report, as the engine's preview stage does.
class PreviewingComponent : public TConversionComponent {
public:
    explicit PreviewingComponent(std::shared_ptr<TMainThreadHandoff> handoff)
    {
        if (handoff) SetMainThreadHandoff(std::move(handoff));
        picture.SetSize(16, 8);
    }
    ~PreviewingComponent() override { Shutdown(); }

    std::atomic<bool> handing_over{false};
    std::atomic<int> frame{0};

protected:
    void DoProgress(TCustomFFmpeg& sender, const ProgressFigures& figures) override
    {
        TConversionComponent::DoProgress(sender, figures);
        handing_over = true;
        const int number = ++frame;
        DoPreviewBitmap(sender, picture, number, int64_t{40000} * number);
    }

private:
    TBitmap picture;
};

struct Delivery {
    int index;
    int width;
    int frame_number;
    int64_t pts;
    bool on_main;
};

class ComponentHandoffTest : public ::testing::Test {
protected:
    void SetUp() override { load_libraries(); }

    // One paced task of two seconds, started on a worker.
    void start(PreviewingComponent& component, std::vector<Delivery>& deliveries)
    {
        recorder.attach(component);
        component.SetProgressInterval(100);
        component.SetOnPreviewBitmap([&](int index, TBitmap& bitmap, int frame_number, int64_t pts) {
            deliveries.push_back({index, bitmap.Width(), frame_number, pts, component.IsMainThread()});
        });
        TInputOptions in;
        in.ExtOptions = "re";
        ASSERT_EQ(component.AddTask(tiny_clip(2.0), &in), 0) << component.LastError();
        ASSERT_TRUE(component.AddOutput(0, scratch / "handoff.mpg"));
        component.StartConvert(1);
    }

    void expect_delivered_in_order(const std::vector<Delivery>& deliveries)
    {
        ASSERT_FALSE(deliveries.empty());
        for (std::size_t i = 0; i < deliveries.size(); ++i) {
            EXPECT_EQ(deliveries[i].index, 0);
            EXPECT_EQ(deliveries[i].width, 16);
            EXPECT_EQ(deliveries[i].frame_number, static_cast<int>(i) + 1);
            EXPECT_EQ(deliveries[i].pts, 40000 * deliveries[i].frame_number);
            EXPECT_TRUE(deliveries[i].on_main);
        }
    }

    ScratchDir scratch{"handoff"};
    EventRecorder recorder;
};

TEST_F(ComponentHandoffTest, PreviewPicturesReachTheMainThreadThroughItsQueue)
{
    auto queue = std::make_shared<TQueuedHandoff>();
    PreviewingComponent component(queue);
    std::vector<Delivery> deliveries;
    start(component, deliveries);
    while (!recorder.wait_for_end(0ms)) queue->ServeFor(10ms);
    expect_delivered_in_order(deliveries);
    EXPECT_GE(deliveries.size(), 5u);
}

TEST_F(ComponentHandoffTest, WithoutAMainLoopPicturesAreDeliveredOnTheWorker)
{
    PreviewingComponent component(nullptr);
    std::vector<Delivery> deliveries;
    start(component, deliveries);
    ASSERT_TRUE(recorder.wait_for_end());
    ASSERT_FALSE(deliveries.empty());
    for (const Delivery& delivery : deliveries) EXPECT_FALSE(delivery.on_main) << "delivered on the worker";
}

TEST_F(ComponentHandoffTest, StopServesAWorkerThatWaitsForTheMainThread)
{
    auto queue = std::make_shared<TQueuedHandoff>();
    PreviewingComponent component(queue);
    std::vector<Delivery> deliveries;
    start(component, deliveries);
    while (!component.handing_over) std::this_thread::sleep_for(5ms);
    // The worker now waits for this thread, which serves it only while it waits itself.
    component.StopConvert();
    expect_delivered_in_order(deliveries);
    ASSERT_TRUE(recorder.wait_for_end(5s));
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(read_media(scratch / "handoff.mpg").opened);
}

} // namespace
