// Calls handed to the main thread: the queue, and a stop that must not
// deadlock against a worker waiting for the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

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

// A component whose workers hand a call to the main thread with every
// progress report, as preview pictures are delivered.
class HandingOverComponent : public TConversionComponent {
public:
    HandingOverComponent() { SetMainThreadHandoff(queue); }
    ~HandingOverComponent() override { Shutdown(); }

    std::shared_ptr<TQueuedHandoff> queue = std::make_shared<TQueuedHandoff>();
    std::atomic<bool> handing_over{false};
    std::atomic<int> delivered{0};
    std::atomic<bool> wrong_thread{false};

protected:
    void DoProgress(TCustomFFmpeg& sender, const ProgressFigures& figures) override
    {
        TConversionComponent::DoProgress(sender, figures);
        if (IsMainThread()) return;
        handing_over = true;
        queue->RunOnMain([this] {
            wrong_thread = wrong_thread || !IsMainThread();
            ++delivered;
        });
    }
};

TEST(ComponentHandoff, StopServesAWorkerThatWaitsForTheMainThread)
{
    load_libraries();
    ScratchDir scratch("handoff");
    HandingOverComponent component;
    EventRecorder recorder;
    recorder.attach(component);
    component.SetProgressInterval(100);
    TInputOptions in;
    in.ExtOptions = "re";
    ASSERT_EQ(component.AddTask(tiny_clip(2.0), &in), 0) << component.LastError();
    ASSERT_TRUE(component.AddOutput(0, scratch / "handoff.mpg"));
    component.StartConvert(1);
    while (!component.handing_over) std::this_thread::sleep_for(5ms);
    // The worker now waits for this thread, which serves it only while it waits itself.
    component.StopConvert();
    EXPECT_GE(component.delivered, 1);
    EXPECT_FALSE(component.wrong_thread);
    ASSERT_TRUE(recorder.wait_for_end(5s));
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(read_media(scratch / "handoff.mpg").opened);
}

} // namespace
