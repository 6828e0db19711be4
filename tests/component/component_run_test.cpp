// Running task lists for real: sequential and threaded runs, the order and
// limit of starts, stopping, pausing, failures, and freeing tasks while their
// workers report.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "component/component_fixture.h"
#include "support/media_check.h"

using namespace quillon;
using namespace quillon::test;
using namespace std::chrono_literals;

namespace {

// Read at the clip's own pace, so a task is still running when the test acts.
const std::string paced = "re";

std::vector<int> indexes(const std::vector<Event>& events)
{
    std::vector<int> result;
    for (const Event& event : events) result.push_back(event.index);
    return result;
}

class ComponentRunTest : public ComponentTest {};

TEST_F(ComponentRunTest, SequentialRunReportsEveryTaskThenTheEndBeforeReturning)
{
    for (int i = 0; i < 3; ++i) add_task(tiny_clip(), "seq" + std::to_string(i) + ".mpg");
    component.StartConvert(0);

    const std::vector<Event> ends = recorder.terminations();
    EXPECT_EQ(indexes(ends), (std::vector<int>{0, 1, 2, -1}));
    for (const Event& end : ends) {
        EXPECT_TRUE(end.finished) << end.index;
        EXPECT_FALSE(end.exception) << end.text;
        EXPECT_EQ(end.thread, std::this_thread::get_id()) << "sequential runs stay on the calling thread";
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(component.Task(i).ThreadID.load(), std::this_thread::get_id());
        EXPECT_TRUE(recorder.saw_progress(i)) << i;
        EXPECT_EQ(count_decoded_video_frames(scratch / ("seq" + std::to_string(i) + ".mpg")), 25) << i;
    }
}

TEST_F(ComponentRunTest, TwoThreadsRunFiveTasksInListOrderNeverMoreThanTwoAtOnce)
{
    for (int i = 0; i < 5; ++i) add_task(tiny_clip(0.6), "pair" + std::to_string(i) + ".mpg", paced);
    // At every end report, see which tasks have a worker: always a prefix of
    // the list, and at most two more than the tasks that ended before.
    std::vector<std::vector<bool>> started_at_end;
    component.SetOnTerminate([&](int index, bool finished, bool exception, const std::string& message) {
        if (index >= 0) {
            std::vector<bool> started;
            for (int i = 0; i < 5; ++i) started.push_back(component.Task(i).ThreadID.load() != std::thread::id());
            started_at_end.push_back(started);
        }
        recorder.add({Event::terminate, index, llQuiet, message, finished, exception, std::this_thread::get_id()});
    });
    component.StartConvert(2);
    ASSERT_TRUE(recorder.wait_for_end());

    ASSERT_EQ(started_at_end.size(), 5u);
    for (std::size_t m = 0; m < started_at_end.size(); ++m) {
        const std::vector<bool>& started = started_at_end[m];
        const auto count = std::count(started.begin(), started.end(), true);
        EXPECT_TRUE(std::is_partitioned(started.begin(), started.end(), [](bool b) { return b; }))
            << "tasks start in list order (report " << m << ")";
        EXPECT_LE(count, static_cast<long>(2 + m)) << "at most two tasks at once (report " << m << ")";
        EXPECT_GE(count, static_cast<long>(std::min<std::size_t>(5, 2 + m)) - 1) << "report " << m;
    }
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(ends.size(), 6u);
    EXPECT_EQ(ends.back().index, -1) << "the end of the run comes after the fifth task";
    std::set<std::thread::id> workers;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(ends[i].finished);
        workers.insert(component.Task(i).ThreadID.load());
    }
    EXPECT_EQ(workers.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(workers.size(), 5u) << "every task had a worker of its own";
}

TEST_F(ComponentRunTest, MoreThreadsThanTasksStartsEveryTaskAtOnce)
{
    for (int i = 0; i < 2; ++i) add_task(tiny_clip(), "wide" + std::to_string(i) + ".mpg", paced);
    component.StartConvert(5);
    // Both workers exist before either could have ended.
    EXPECT_NE(component.Task(0).ThreadID.load(), std::thread::id());
    EXPECT_NE(component.Task(1).ThreadID.load(), std::thread::id());
    ASSERT_TRUE(recorder.wait_for_progress(0));
    ASSERT_TRUE(recorder.wait_for_progress(1));
    EXPECT_TRUE(recorder.terminations().empty()) << "both ran side by side";
    ASSERT_TRUE(recorder.wait_for_end());
    EXPECT_EQ(recorder.terminations().size(), 3u);
}

TEST_F(ComponentRunTest, RunWithoutTasksRaisesNothing)
{
    component.StartConvert(0);
    component.StartConvert(2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.count(), 0u);
}

TEST_F(ComponentRunTest, SecondRunOfFinishedTasksDoesNothing)
{
    for (int i = 0; i < 2; ++i) add_task(tiny_clip(), "again" + std::to_string(i) + ".mpg");
    component.StartConvert(0);
    ASSERT_EQ(recorder.terminations().size(), 3u);
    recorder.clear();
    component.StartConvert(0);
    component.StartConvert(1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.count(), 0u);
}

TEST_F(ComponentRunTest, StopEndsRunningTasksAndReportsThoseNeverStarted)
{
    for (int i = 0; i < 4; ++i) add_task(tiny_clip(2.0), "stop" + std::to_string(i) + ".mpg", paced);
    component.StartConvert(1);
    ASSERT_TRUE(recorder.wait_for_progress(0));
    component.StopConvert();
    ASSERT_TRUE(recorder.wait_for_end(5s));

    const std::vector<Event> ends = recorder.terminations();
    EXPECT_EQ(indexes(ends), (std::vector<int>{0, 1, 2, 3, -1}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(ends[i].finished) << i;
        EXPECT_FALSE(ends[i].exception) << ends[i].text;
        EXPECT_EQ(ends[i].text, "");
    }
    for (int i = 1; i < 4; ++i) {
        EXPECT_NE(ends[i].thread, std::this_thread::get_id()) << "a never-run task reports from its own thread";
        EXPECT_FALSE(recorder.saw_progress(i));
    }
    const MediaFacts stopped = read_media(scratch / "stop0.mpg");
    ASSERT_TRUE(stopped.opened) << "the stopped task still closed its file";
    ASSERT_NE(stopped.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_LT(stopped.first(AVMEDIA_TYPE_VIDEO)->packets, 50);
}

TEST_F(ComponentRunTest, PauseHoldsEveryEventAndResumeCompletesTheFile)
{
    add_task(tiny_clip(2.0), "paused.mpg", paced);
    component.StartConvert(1);
    ASSERT_TRUE(recorder.wait_for_progress(0));
    component.PauseConvert();
    std::this_thread::sleep_for(200ms); // the worker reaches its gate
    const std::size_t before = recorder.count();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(recorder.count(), before) << "no progress and no log while paused";
    component.ResumeConvert();
    ASSERT_TRUE(recorder.wait_for_end());
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_TRUE(ends[0].finished);
    EXPECT_EQ(count_decoded_video_frames(scratch / "paused.mpg"), 50);
}

TEST_F(ComponentRunTest, StartFailureIsReportedAndTheRunGoesOn)
{
    const int without_output = component.AddTask(tiny_clip());
    ASSERT_EQ(without_output, 0) << component.LastError();
    add_task(tiny_clip(), "after.mpg");
    component.StartConvert(1);
    ASSERT_TRUE(recorder.wait_for_end());
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(indexes(ends), (std::vector<int>{0, 1, -1}));
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(ends[0].exception);
    EXPECT_EQ(ends[0].text, "At least one output file must be specified");
    EXPECT_TRUE(ends[1].finished);
    bool logged = false;
    for (const Event& line : recorder.logs(0))
        logged |= line.level == llQuiet && line.text == "At least one output file must be specified";
    EXPECT_TRUE(logged) << "the failure is also logged, at the level never filtered";
}

TEST_F(ComponentRunTest, FailureWhileRunningCarriesItsText)
{
    // MPEG-1 video has no pictures this large: opening the encoder fails.
    add_task(tiny_clip(), "too-large.mpg", {}, "vcodec=mpeg1video\ns=4096x4096");
    component.StartConvert(1);
    ASSERT_TRUE(recorder.wait_for_end());
    const std::vector<Event> ends = recorder.terminations();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(ends[0].exception);
    EXPECT_EQ(ends[0].text.rfind("Error while opening codec for output stream #0.0", 0), 0u) << ends[0].text;
    EXPECT_EQ(ends[1].index, -1);
}

TEST_F(ComponentRunTest, InputThatCannotBeOpenedGivesMinusOneAndTheReason)
{
    const int index = component.AddTask((scratch / "missing.mpg").string());
    EXPECT_EQ(index, -1);
    EXPECT_NE(component.LastError(), "");
    EXPECT_EQ(component.TaskCount(), 0);

    TInputOptions forced;
    forced.FileFormat = "no-such-format";
    EXPECT_EQ(component.AddTask(tiny_clip(), &forced), -1);
    EXPECT_NE(component.LastError().find("no-such-format"), std::string::npos) << component.LastError();
}

TEST_F(ComponentRunTest, RecordsAreCopiedAndFilledIn)
{
    TInputOptions in;
    const int index = component.AddTask(tiny_clip(), &in);
    ASSERT_EQ(index, 0);
    EXPECT_EQ(in.FileName, tiny_clip().string()) << "an empty FileName gets the given name";
    EXPECT_EQ(component.Task(0).InputOptions.FileName, in.FileName);

    TInputOptions named;
    named.FileName = "kept";
    ASSERT_EQ(component.AddTask(tiny_clip(), &named), 1);
    EXPECT_EQ(named.FileName, "kept");

    // Without a record: the default output options, no join.
    ASSERT_TRUE(component.AddOutput(0, scratch / "plain.mpg")) << component.LastError();
    EXPECT_EQ(component.Task(0).OutputOptions.FileName, "");
    EXPECT_FALSE(component.Task(0).OutputOptions.Join);
    EXPECT_THROW(component.AddOutput(7, scratch / "none.mpg"), std::out_of_range);
    component.RemoveTask(1);
    component.StartConvert(0);
    EXPECT_EQ(count_decoded_video_frames(scratch / "plain.mpg"), 25);
}

TEST_F(ComponentRunTest, RemovingATaskRenumbersTheRest)
{
    for (int i = 0; i < 3; ++i) add_task(tiny_clip(), "renumber" + std::to_string(i) + ".mpg");
    component.RemoveTask(0);
    ASSERT_EQ(component.TaskCount(), 2);
    EXPECT_EQ(component.Task(0).Index, 0);
    EXPECT_EQ(component.Task(1).Index, 1);
    EXPECT_THROW(component.RemoveTask(2), std::out_of_range);
    component.StartConvert(0);
    EXPECT_EQ(indexes(recorder.terminations()), (std::vector<int>{0, 1, -1}));
    EXPECT_FALSE(std::filesystem::exists(scratch / "renumber0.mpg"));
    EXPECT_TRUE(std::filesystem::exists(scratch / "renumber2.mpg"));
}

TEST_F(ComponentRunTest, PropertiesKeepTheirRules)
{
    component.SetProgressInterval(50);
    EXPECT_EQ(component.ProgressInterval(), 100);
    component.SetProgressInterval(250);
    EXPECT_EQ(component.ProgressInterval(), 250);
    EXPECT_EQ(component.Version(), "2.4");
    EXPECT_EQ(component.LogLevel(), llInfo);
    EXPECT_EQ(component.ThreadPriority(), tpNormal);

    add_task(tiny_clip(), "flags.mpg");
    component.SetPreviewBitmap(true);
    component.SetPreview(true);
    component.SetPreview(false);
    EXPECT_EQ(component.Task(0).preview_flags, 2) << "each setter changes its own bit on every task";
    const int later = component.AddTask(tiny_clip());
    EXPECT_EQ(component.Task(later).preview_flags, 2) << "new tasks take the current flags";
}

TEST_F(ComponentRunTest, ClearingTasksWhileWorkersReportWaitsForThem)
{
    for (int i = 0; i < 3; ++i) add_task(tiny_clip(), "clear" + std::to_string(i) + ".mpg", paced);
    component.StartConvert(2);
    ASSERT_TRUE(recorder.wait_for_progress(0));
    component.ClearTasks();
    EXPECT_EQ(component.TaskCount(), 0);
    const std::size_t after = recorder.count();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.count(), after) << "nothing reports once the tasks are gone";
    EXPECT_TRUE(read_media(scratch / "clear0.mpg").opened);
}

TEST_F(ComponentRunTest, DestroyingTheComponentDuringAThreadedRunStopsAndWaits)
{
    auto doomed = std::make_unique<TConversionComponent>();
    EventRecorder events;
    events.attach(*doomed);
    for (int i = 0; i < 3; ++i) {
        TInputOptions in;
        in.ExtOptions = paced;
        const int index = doomed->AddTask(tiny_clip(2.0), &in);
        ASSERT_GE(index, 0) << doomed->LastError();
        ASSERT_TRUE(doomed->AddOutput(index, scratch / ("doomed" + std::to_string(i) + ".mpg")));
    }
    doomed->StartConvert(2);
    ASSERT_TRUE(events.wait_for_progress(0));
    doomed.reset();
    const std::size_t after = events.count();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(events.count(), after);
    EXPECT_TRUE(read_media(scratch / "doomed0.mpg").opened);
}

TEST_F(ComponentRunTest, TaskProbersAnswerUntilTheTaskRuns)
{
    ASSERT_TRUE(component.AVProbe().LoadFile(tiny_avi_clip())) << component.AVProbe().LastError();
    EXPECT_EQ(component.AVProbe().FormatName(), "avi");

    add_task(tiny_clip(), "probed.mpg");
    TAVProbe& probe = component.AVProbes(0);
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.FirstVideoStream(), 0);
    EXPECT_FALSE(probe.OwnsContext()) << "the task's input is only borrowed";
    EXPECT_THROW(component.AVProbes(1), std::out_of_range);
    component.StartConvert(0);
    EXPECT_EQ(probe.StreamCount(), -1) << "the run closed the input, so the prober let go of it";
    EXPECT_EQ(component.AVProbe().FormatName(), "avi") << "the component's own prober is untouched";
}

TEST_F(ComponentRunTest, OutputRecordsChooseOneHookModeAndReportBadValues)
{
    struct Case {
        bool custom, before;
        bool custom_sink, before_sink;
    };
    const Case cases[] = {
        {true, true, true, false}, {true, false, true, false}, {false, true, false, true}, {false, false, false, false}};
    for (const Case& c : cases) {
        const int index = component.AddTask(tiny_clip());
        ASSERT_GE(index, 0) << component.LastError();
        TOutputOptions out;
        out.CustomHook = c.custom;
        out.BeforeHook = c.before;
        ASSERT_TRUE(component.AddOutput(index, scratch / ("hooks" + std::to_string(index) + ".mpg"), &out))
            << component.LastError();
        EXPECT_EQ(out.FileName, (scratch / ("hooks" + std::to_string(index) + ".mpg")).string());
        EXPECT_EQ(static_cast<bool>(component.Task(index).custom_hook_sink), c.custom_sink) << index;
        EXPECT_EQ(static_cast<bool>(component.Task(index).before_hook_sink), c.before_sink) << index;
    }

    TOutputOptions bad;
    bad.FrameSize = "wide";
    EXPECT_FALSE(component.AddOutput(0, scratch / "bad.mpg", &bad));
    EXPECT_EQ(component.LastError(), "Incorrect frame size");
    component.ClearTasks();
    EXPECT_EQ(component.LastError(), "");
}

} // namespace
