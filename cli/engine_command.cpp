// quillon engine: the engine's option vocabulary straight from the command
// line, the way the classic transcoder reads it.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/option_table.h"
#include "FFmpegLoader/loader.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/run_report.h"

namespace quillon::cli {

bool load_libraries()
{
    TFFmpegLoader::set_library_folder(program_folder());
    if (TFFmpegLoader::load(required_libraries)) return true;
    std::fprintf(stderr, "quillon: %s\n", TFFmpegLoader::last_error().c_str());
    return false;
}

namespace {

// Options the table reads without a value take none on the command line,
// except those that the classic transcoder gave an argument it no longer uses.
bool takes_value(const std::string& name)
{
    const OptionRow* row = find_option(name);
    if (!row) return true;
    if (row->kind != ValueKind::none && row->kind != ValueKind::flag && row->kind != ValueKind::set) return true;
    return name == "threads" || name == "apre" || name == "vpre" || name == "spre";
}

class EngineRun {
public:
    EngineRun(const CliRequest& request) : report_(make_run_report(request.json)), level_(log_level_index(request.log_level))
    {
        files_.resize(1);
        engine_.prepare_job();
        engine_.set_verbosity(level_ - 1);
        engine_.log_sink = [this](TCustomFFmpeg&, int level, const std::string& text) { on_log(level, text); };
        engine_.progress_sink = [this](TCustomFFmpeg&, const ProgressFigures& figures) { on_progress(figures); };
        engine_.terminate_sink = [this](TCustomFFmpeg&) { on_end(); };
    }

    // Reads the arguments into the job; an exit status when they cannot be used.
    int configure(const std::vector<std::string>& args);
    int run();

private:
    int fail(int status, const std::string& text)
    {
        std::fprintf(stderr, "quillon: %s\n", text.c_str());
        return status;
    }
    int apply_option(const std::vector<std::string>& args, std::size_t& i);
    void on_log(int level, const std::string& text);
    void on_progress(const ProgressFigures& figures);
    void on_end();
    void wait_for_end();
    static void add_name(std::string& list, const std::string& name) { list += (list.empty() ? "" : ", ") + name; }

    std::unique_ptr<RunReport> report_;
    int level_;
    std::vector<RunFile> files_;
    std::vector<std::string> outputs_;
    std::mutex lock_;
    std::condition_variable ended_;
    bool end_reported_ = false;
    TCustomFFmpeg engine_; // last: destroyed (and stopped) first
};

int EngineRun::apply_option(const std::vector<std::string>& args, std::size_t& i)
{
    const std::string name = args[i].substr(1);
    std::string value;
    if (takes_value(name)) {
        if (i + 1 >= args.size()) return fail(exit_usage, args[i] + " needs a value");
        value = args[++i];
    }
    try {
        if (find_option(name)) engine_.parse_option(name, value);
        else if (!engine_.set_generic_option(name, value))
            return fail(exit_usage, "unknown option or invalid value: " + args[i - 1] + " " + value);
    } catch (const std::exception& e) {
        return fail(exit_usage, "-" + name + ": " + e.what());
    }
    return exit_ok;
}

int EngineRun::configure(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-i") {
            if (i + 1 >= args.size()) return fail(exit_usage, "-i needs a file name");
            if (!engine_.open_input_file(args[++i])) return fail(exit_failed, engine_.last_error);
            add_name(files_[0].source, args[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (const int status = apply_option(args, i)) return status;
        } else {
            if (engine_.open_output_file(arg) < 0) return fail(exit_failed, engine_.last_error);
            add_name(files_[0].output, arg);
            outputs_.push_back(arg);
        }
    }
    if (engine_.input_files.empty()) return fail(exit_usage, "At least one input file must be specified");
    if (outputs_.empty()) return fail(exit_usage, "At least one output file must be specified");
    return exit_ok;
}

void EngineRun::on_log(int level, const std::string& text)
{
    // A failure (level -1) comes again with the end report.
    if (level < 0 || std::min(level + 1, 4) > level_) return;
    std::lock_guard guard(lock_);
    report_->log(files_, 0, engine_level_name(level), text);
}

void EngineRun::on_progress(const ProgressFigures& figures)
{
    std::lock_guard guard(lock_);
    RunFile& f = files_[0];
    f.frame = figures.frame_number;
    f.fps = figures.fps;
    f.time_ms = figures.current_duration_ms;
    f.bitrate_kbps = figures.bitrate_kbps;
    f.size = figures.current_size;
    f.expected_ms = figures.total_duration_ms;
    report_->progress(files_, 0);
}

void EngineRun::on_end()
{
    std::lock_guard guard(lock_);
    RunFile& f = files_[0];
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - f.started).count();
    f.status = engine_.failed ? FileStatus::failed : engine_.finished ? FileStatus::done : FileStatus::stopped;
    if (engine_.failed) f.message = engine_.error_message;
    end_reported_ = true;
    ended_.notify_all();
}

// Polls for Ctrl-C while the worker runs; the engine then stops at its next
// packet and still writes its trailers.
void EngineRun::wait_for_end()
{
    std::unique_lock lock(lock_);
    while (!end_reported_) {
        if (interrupted()) engine_.stop_requested = true;
        ended_.wait_for(lock, std::chrono::milliseconds(50));
    }
}

int EngineRun::run()
{
    {
        std::lock_guard guard(lock_);
        files_[0].status = FileStatus::converting;
        files_[0].started = std::chrono::steady_clock::now();
        files_[0].expected_ms = engine_.total_duration_ms;
    }
    if (engine_.start_job(true)) engine_.resume_job();
    wait_for_end();
    engine_.stop_job(); // joins the worker
    std::lock_guard guard(lock_);
    RunFile& f = files_[0];
    for (const std::string& name : outputs_)
        if (const int64_t size = size_on_disk(name); size >= 0) f.output_size = std::max<int64_t>(f.output_size, 0) + size;
    const int status = interrupted() ? exit_interrupted : f.status == FileStatus::done ? exit_ok : exit_failed;
    report_->ended(files_, 0);
    report_->summary(files_, status);
    return status;
}

} // namespace

int run_engine(const CliRequest& request)
{
    if (!load_libraries()) return exit_failed;
    install_interrupt_handler();
    EngineRun run(request);
    if (const int status = run.configure(request.files)) return status;
    return run.run();
}

} // namespace quillon::cli
