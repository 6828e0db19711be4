#include "component/component_fixture.h"

#include <algorithm>

namespace quillon::test {

std::filesystem::path tiny_clip(double seconds)
{
    fixtures::ClipSpec spec;
    spec.container = fixtures::Container::mpeg_ps;
    spec.duration = seconds;
    spec.width = 160;
    spec.height = 120;
    spec.sample_rate = 44100;
    return clip("tiny-" + std::to_string(static_cast<int>(seconds * 1000)) + ".mpg", spec);
}

std::filesystem::path tiny_avi_clip(double seconds)
{
    fixtures::ClipSpec spec;
    spec.container = fixtures::Container::avi;
    spec.duration = seconds;
    spec.width = 160;
    spec.height = 120;
    spec.sample_rate = 44100;
    return clip("tiny-" + std::to_string(static_cast<int>(seconds * 1000)) + ".avi", spec);
}

void EventRecorder::attach(TConversionComponent& component)
{
    component.SetOnLog([this](int index, TLogLevel level, const std::string& text) {
        add({Event::log, index, level, text, false, false, std::this_thread::get_id()});
    });
    component.SetOnProgress([this](int index, int, int, int, float, float, int64_t, int) {
        add({Event::progress, index, llQuiet, {}, false, false, std::this_thread::get_id()});
    });
    component.SetOnTerminate([this](int index, bool finished, bool exception, const std::string& message) {
        add({Event::terminate, index, llQuiet, message, finished, exception, std::this_thread::get_id()});
    });
}

void EventRecorder::add(Event event)
{
    std::lock_guard guard(lock_);
    events_.push_back(std::move(event));
    changed_.notify_all();
}

std::vector<Event> EventRecorder::events() const
{
    std::lock_guard guard(lock_);
    return events_;
}

std::vector<Event> EventRecorder::terminations() const
{
    std::vector<Event> result;
    for (const Event& event : events())
        if (event.kind == Event::terminate) result.push_back(event);
    return result;
}

std::vector<Event> EventRecorder::logs(int index) const
{
    std::vector<Event> result;
    for (const Event& event : events())
        if (event.kind == Event::log && event.index == index) result.push_back(event);
    return result;
}

std::size_t EventRecorder::count() const
{
    std::lock_guard guard(lock_);
    return events_.size();
}

bool EventRecorder::saw_progress(int index) const
{
    std::lock_guard guard(lock_);
    return std::any_of(events_.begin(), events_.end(),
                       [&](const Event& e) { return e.kind == Event::progress && e.index == index; });
}

bool EventRecorder::wait_for_end(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [this] {
        return std::any_of(events_.begin(), events_.end(),
                           [](const Event& e) { return e.kind == Event::terminate && e.index == -1; });
    });
}

bool EventRecorder::wait_for_progress(int index, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(events_.begin(), events_.end(),
                           [&](const Event& e) { return e.kind == Event::progress && e.index == index; });
    });
}

void EventRecorder::clear()
{
    std::lock_guard guard(lock_);
    events_.clear();
}

void ComponentTest::SetUp()
{
    load_libraries();
    recorder.attach(component);
    component.SetProgressInterval(100);
}

int ComponentTest::add_task(const std::filesystem::path& input, const std::string& output,
                            const std::string& input_options, const std::string& output_options)
{
    TInputOptions in;
    in.ExtOptions = input_options;
    const int index = component.AddTask(input, &in);
    if (index < 0) {
        ADD_FAILURE() << "AddTask: " << component.LastError();
        return index;
    }
    TOutputOptions out;
    out.ExtOptions = output_options;
    if (!component.AddOutput(index, scratch / output, &out)) ADD_FAILURE() << "AddOutput: " << component.LastError();
    return index;
}

} // namespace quillon::test
