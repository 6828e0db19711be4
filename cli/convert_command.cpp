// quillon convert: each file is probed, its choices mapped onto the options
// records, and the files converted as tasks of the conversion component,
// the way the window does it.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>

#include "ChoiceMapping/choice_source.h"
#include "Component/conversion_component.h"
#include "Probe/av_probe.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/run_report.h"

namespace quillon::cli {
namespace {

std::string lines_of(const std::vector<std::string>& options)
{
    std::string text;
    for (const std::string& line : options) text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::string_view level_name(TLogLevel level)
{
    constexpr std::string_view names[] = {"quiet", "error", "info", "debug", "all"};
    return names[std::clamp(int(level), 0, 4)];
}

class ConvertRun {
public:
    explicit ConvertRun(const CliRequest& request);
    ~ConvertRun() { component_.reset(); } // no event arrives after this

    bool load();
    void add_files();
    int run();

private:
    void add_file(std::size_t file);
    bool prepare_records(std::size_t file, TInputOptions& input, TOutputOptions& output);
    void file_failed(std::size_t file, const std::string& message);
    void watch_run();
    void notice_started_tasks();
    int finish();

    void on_log(int task, TLogLevel level, const std::string& text);
    void on_progress(int task, int frame, int fps, int time_ms, float bitrate, int64_t size, int total_ms);
    void on_terminate(int task, bool finished, bool failed, const std::string& message);
    RunFile* file_of_task(int task, int& file);

    const CliRequest& request_;
    std::unique_ptr<RunReport> report_;
    std::mutex lock_; // guards files_, task_files_, run_ended_ and the report
    std::condition_variable changed_;
    std::vector<RunFile> files_;
    std::vector<std::size_t> task_files_; // task index -> file
    std::set<std::string> reserved_;      // outputs of this run
    bool run_ended_ = false;
    std::unique_ptr<TConversionComponent> component_;
};

ConvertRun::ConvertRun(const CliRequest& request)
    : request_(request), report_(make_run_report(request.json)), component_(std::make_unique<TConversionComponent>())
{
    files_.resize(request.files.size());
    for (std::size_t i = 0; i < files_.size(); ++i) files_[i].source = request.files[i];
    component_->SetOnLog([this](int i, TLogLevel l, const std::string& m) { on_log(i, l, m); });
    component_->SetOnProgress([this](int i, int frame, int fps, int time, float, float rate, int64_t size, int total) {
        on_progress(i, frame, fps, time, rate, size, total);
    });
    component_->SetOnTerminate([this](int i, bool f, bool e, const std::string& m) { on_terminate(i, f, e, m); });
}

bool ConvertRun::load()
{
    if (!component_->LoadFFmpeg(program_folder())) {
        std::fprintf(stderr, "quillon: %s\n", component_->LastError().c_str());
        return false;
    }
    component_->SetLogLevel(TLogLevel(log_level_index(request_.log_level)));
    if (!request_.output_dir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(request_.output_dir, error);
        if (error) {
            std::fprintf(stderr, "quillon: %s: %s\n", request_.output_dir.c_str(), error.message().c_str());
            return false;
        }
    }
    return true;
}

void ConvertRun::file_failed(std::size_t file, const std::string& message)
{
    std::lock_guard guard(lock_);
    files_[file].status = FileStatus::failed;
    files_[file].message = message;
    report_->ended(files_, int(file));
}

// The records the options window would make for the file with these choices.
bool ConvertRun::prepare_records(std::size_t file, TInputOptions& input, TOutputOptions& output)
{
    TAVProbe& probe = component_->AVProbe(); // the component's own prober, as the window uses it
    if (!probe.LoadFile(files_[file].source)) {
        file_failed(file, probe.LastError());
        return false;
    }
    const TChoiceSource source = ChoiceSourceFromProbe(probe);
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    probe.CloseFile();

    input = BuildInputOptions(source);
    input.StartTimeMS = request_.start_ms;
    input.ExtOptions = lines_of(request_.input_options);
    const NameTaken taken = [this](const std::string& name) { return reserved_.count(name) || FileExists(name); };
    output = BuildOutputOptions(request_.choices, request_.output_dir, source, taken);
    output.RecordingTimeMS = request_.duration_ms;
    output.ExtOptions = lines_of(request_.output_options);

    int expected = info.Duration > 0 ? int(info.Duration / 1000) - std::max(request_.start_ms, 0) : -1;
    if (request_.duration_ms > 0) expected = expected > 0 ? std::min(expected, request_.duration_ms) : request_.duration_ms;
    std::lock_guard guard(lock_);
    files_[file].expected_ms = expected;
    return true;
}

void ConvertRun::add_file(std::size_t file)
{
    TInputOptions input;
    TOutputOptions output;
    if (!prepare_records(file, input, output)) return;
    const int task = component_->AddTask(files_[file].source, &input);
    if (task < 0) return file_failed(file, component_->LastError());
    if (!component_->AddOutput(task, output.FileName, &output)) {
        const std::string message = component_->LastError();
        component_->RemoveTask(task);
        return file_failed(file, message);
    }
    reserved_.insert(output.FileName);
    std::lock_guard guard(lock_);
    files_[file].output = output.FileName;
    task_files_.push_back(file);
}

void ConvertRun::add_files()
{
    for (std::size_t file = 0; file < files_.size(); ++file) {
        if (interrupted()) {
            std::lock_guard guard(lock_);
            files_[file].status = FileStatus::not_started;
        } else {
            add_file(file);
        }
    }
}

RunFile* ConvertRun::file_of_task(int task, int& file)
{
    if (task < 0 || task >= int(task_files_.size())) return nullptr;
    file = int(task_files_[task]);
    return &files_[task_files_[task]];
}

void ConvertRun::on_log(int task, TLogLevel level, const std::string& text)
{
    // A failure (llQuiet) comes again with its end report; the component
    // delivers every line, the level chosen decides what is shown.
    if (level == llQuiet || int(level) > log_level_index(request_.log_level)) return;
    std::lock_guard guard(lock_);
    int file = -1;
    file_of_task(task, file);
    report_->log(files_, file, level_name(level), text);
}

void ConvertRun::on_progress(int task, int frame, int fps, int time_ms, float bitrate, int64_t size, int total_ms)
{
    std::lock_guard guard(lock_);
    int file = -1;
    RunFile* f = file_of_task(task, file);
    if (!f) return;
    if (f->status == FileStatus::waiting) {
        f->status = FileStatus::converting;
        f->started = std::chrono::steady_clock::now();
    }
    f->frame = frame;
    f->fps = fps;
    f->time_ms = time_ms;
    f->bitrate_kbps = bitrate;
    f->size = size;
    if (f->expected_ms <= 0) f->expected_ms = total_ms;
    report_->progress(files_, file);
}

void ConvertRun::on_terminate(int task, bool finished, bool failed, const std::string& message)
{
    std::lock_guard guard(lock_);
    if (task < 0) {
        run_ended_ = true;
        changed_.notify_all();
        return;
    }
    int file = -1;
    RunFile* f = file_of_task(task, file);
    if (!f) return;
    const bool ran = f->status == FileStatus::converting || size_on_disk(f->output) > 0;
    if (ran) f->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - f->started).count();
    f->status = failed ? FileStatus::failed : finished ? FileStatus::done : ran ? FileStatus::stopped : FileStatus::not_started;
    f->message = failed ? message : "";
    report_->ended(files_, file);
}

// Tasks that began to run since the last look get their live line at once.
void ConvertRun::notice_started_tasks()
{
    std::vector<int> started;
    for (int task = 0; task < component_->TaskCount(); ++task)
        if (component_->Task(task).running) started.push_back(task);
    std::lock_guard guard(lock_);
    for (int task : started) {
        int file = -1;
        RunFile* f = file_of_task(task, file);
        if (!f || f->status != FileStatus::waiting) continue;
        f->status = FileStatus::converting;
        f->started = std::chrono::steady_clock::now();
        report_->progress(files_, file);
    }
}

// Waits for the end of the run; Ctrl-C stops it (trailers are still written).
void ConvertRun::watch_run()
{
    bool stopping = false;
    for (;;) {
        if (interrupted() && !stopping) {
            stopping = true;
            component_->StopConvert();
        }
        notice_started_tasks();
        std::unique_lock lock(lock_);
        if (run_ended_) return;
        changed_.wait_for(lock, std::chrono::milliseconds(50));
        if (run_ended_) return;
    }
}

int ConvertRun::finish()
{
    component_->ClearTasks(); // releases the jobs; empty outputs are removed
    std::lock_guard guard(lock_);
    bool all_done = true;
    for (RunFile& f : files_) {
        if (!f.output.empty()) f.output_size = size_on_disk(f.output);
        all_done = all_done && f.status == FileStatus::done;
    }
    const int status = interrupted() ? exit_interrupted : all_done ? exit_ok : exit_failed;
    report_->summary(files_, status);
    return status;
}

int ConvertRun::run()
{
    if (interrupted()) { // stopped while the files were being opened
        std::lock_guard guard(lock_);
        for (std::size_t file : task_files_) files_[file].status = FileStatus::not_started;
    } else if (component_->TaskCount() > 0) {
        component_->StartConvert(request_.jobs);
        watch_run();
    }
    return finish();
}

} // namespace

int run_convert(const CliRequest& request)
{
    install_interrupt_handler();
    ConvertRun run(request);
    if (!run.load()) return exit_failed;
    run.add_files();
    return run.run();
}

} // namespace quillon::cli
