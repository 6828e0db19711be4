// The three ways of showing a run, and the summary table.
#include "cli/run_report.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "Formatting/display_text.h"
#include "cli/json_text.h"

namespace quillon::cli {

std::string_view status_name(FileStatus status)
{
    switch (status) {
    case FileStatus::waiting: return "waiting";
    case FileStatus::converting: return "converting";
    case FileStatus::done: return "done";
    case FileStatus::failed: return "failed";
    case FileStatus::stopped: return "stopped";
    case FileStatus::not_started: return "not started";
    }
    return "";
}

int RunFile::percent() const
{
    if (status == FileStatus::done) return 100;
    if (expected_ms <= 0) return -1;
    return int(std::clamp<int64_t>(int64_t(time_ms) * 100 / expected_ms, 0, 100));
}

double RunFile::seconds_left() const
{
    const int p = percent();
    if (p <= 0 || status != FileStatus::converting) return -1;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return elapsed * (100 - p) / p;
}

int64_t size_on_disk(const std::string& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? -1 : int64_t(size);
}

namespace {

std::string base_name(const std::string& file) { return std::filesystem::path(file).filename().string(); }

std::string progress_line(const std::vector<RunFile>& files, std::size_t index)
{
    const RunFile& f = files[index];
    std::ostringstream line;
    const int p = f.percent();
    if (files.size() > 1) line << "[" << index + 1 << "/" << files.size() << "] ";
    line << (p < 0 ? std::string("  ?%") : (p < 10 ? "  " : p < 100 ? " " : "") + std::to_string(p) + "%") << "  "
         << base_name(f.source) << "  " << FormatTime(f.time_ms / 1000) << "  " << FormatSize(f.size);
    if (f.fps >= 0) line << "  " << f.fps << " fps";
    const double left = f.seconds_left();
    if (left >= 0) line << "  left " << FormatTime(int64_t(left + 0.5));
    return line.str();
}

// The message, prefixed with the source unless it names it already (the
// libraries' open errors do).
std::string message_line(const RunFile& f)
{
    return f.message.rfind(f.source + ":", 0) == 0 ? f.message : f.source + ": " + f.message;
}

std::string end_line(const RunFile& f)
{
    std::string line = std::string(status_name(f.status)) + ": ";
    if (!f.message.empty()) return line + message_line(f);
    line += f.source;
    if (!f.output.empty()) line += " -> " + f.output;
    return line;
}

std::string seconds_text(double seconds)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << seconds << " s";
    return text.str();
}

// FILE, OUTPUT, STATUS, TIME and SIZE in aligned columns, then the messages.
std::string summary_table(const std::vector<RunFile>& files)
{
    std::vector<std::vector<std::string>> rows{{"FILE", "OUTPUT", "STATUS", "TIME", "SIZE"}};
    for (const RunFile& f : files) {
        const int64_t size = f.output_size;
        rows.push_back({f.source, f.output.empty() ? "-" : f.output, std::string(status_name(f.status)),
                        f.status == FileStatus::not_started || f.status == FileStatus::waiting ? "-" : seconds_text(f.seconds),
                        size < 0 ? "-" : FormatSize(size)});
    }
    std::vector<std::size_t> width(5, 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    std::ostringstream table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
        }
        table << line << "\n";
    }
    for (const RunFile& f : files)
        if (!f.message.empty()) table << message_line(f) << "\n";
    return table.str();
}

std::string file_label(const std::vector<RunFile>& files, int index)
{
    return index >= 0 && index < int(files.size()) ? base_name(files[index].source) + ": " : "";
}

class PlainReport : public RunReport {
public:
    PlainReport(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    void log(const std::vector<RunFile>& files, int index, std::string_view level, const std::string& text) override
    {
        std::fprintf(err_, "%s%.*s: %s\n", file_label(files, index).c_str(), int(level.size()), level.data(), text.c_str());
        std::fflush(err_);
    }
    void progress(const std::vector<RunFile>& files, int index) override
    {
        std::fprintf(out_, "%s\n", progress_line(files, std::size_t(index)).c_str());
        std::fflush(out_);
    }
    void ended(const std::vector<RunFile>& files, int index) override
    {
        std::fprintf(out_, "%s\n", end_line(files[index]).c_str());
        std::fflush(out_);
    }
    void summary(const std::vector<RunFile>& files, int) override
    {
        std::fprintf(out_, "\n%s", summary_table(files).c_str());
        std::fflush(out_);
    }

protected:
    std::FILE* out_;
    std::FILE* err_;
};

// Redraws a block of lines, one per running file, below everything else.
class LiveReport : public PlainReport {
public:
    using PlainReport::PlainReport;

    void log(const std::vector<RunFile>& files, int index, std::string_view level, const std::string& text) override
    {
        erase();
        PlainReport::log(files, index, level, text);
        draw(files);
    }
    void progress(const std::vector<RunFile>& files, int) override
    {
        erase();
        draw(files);
    }
    void ended(const std::vector<RunFile>& files, int index) override
    {
        erase();
        PlainReport::ended(files, index);
        draw(files);
    }
    void summary(const std::vector<RunFile>& files, int exit_code) override
    {
        erase();
        PlainReport::summary(files, exit_code);
    }

private:
    void erase()
    {
        if (drawn_ > 0) std::fprintf(out_, "\x1b[%dA", drawn_);
        std::fprintf(out_, "\r\x1b[J");
        drawn_ = 0;
    }
    void draw(const std::vector<RunFile>& files)
    {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].status != FileStatus::converting) continue;
            std::fprintf(out_, "%s\n", progress_line(files, i).c_str());
            ++drawn_;
        }
        std::fflush(out_);
    }
    int drawn_ = 0;
};

class JsonReport : public RunReport {
public:
    explicit JsonReport(std::FILE* out) : out_(out) {}

    void log(const std::vector<RunFile>& files, int index, std::string_view level, const std::string& text) override
    {
        JsonObject o;
        o.add("event", "log").add("index", index);
        if (index >= 0 && index < int(files.size())) o.add("file", files[index].source);
        write(o.add("level", level).add("message", text));
    }
    void progress(const std::vector<RunFile>& files, int index) override
    {
        const RunFile& f = files[index];
        write(JsonObject()
                  .add("event", "progress")
                  .add("index", index)
                  .add("file", f.source)
                  .add("percent", f.percent())
                  .add("time_ms", f.time_ms)
                  .add("total_ms", f.expected_ms)
                  .add("size", f.size)
                  .add("frame", f.frame)
                  .add("fps", f.fps)
                  .add("bitrate_kbps", double(f.bitrate_kbps))
                  .add("seconds_left", f.seconds_left()));
    }
    void ended(const std::vector<RunFile>& files, int index) override
    {
        write(file_object(files[index]).add("event", "end").add("index", index));
    }
    void summary(const std::vector<RunFile>& files, int exit_code) override
    {
        std::string list = "[";
        int counts[6] = {};
        for (const RunFile& f : files) {
            list += (list.size() > 1 ? "," : "") + file_object(f).text();
            ++counts[int(f.status)];
        }
        write(JsonObject()
                  .add("event", "summary")
                  .add("exit_code", exit_code)
                  .add("converted", counts[int(FileStatus::done)])
                  .add("failed", counts[int(FileStatus::failed)])
                  .add("stopped", counts[int(FileStatus::stopped)])
                  .add("not_started", counts[int(FileStatus::not_started)])
                  .add_raw("files", list + "]"));
    }

private:
    static JsonObject file_object(const RunFile& f)
    {
        JsonObject o;
        o.add("file", f.source).add("output", f.output).add("status", status_name(f.status));
        o.add("message", f.message).add("seconds", f.seconds);
        o.add("size", f.output_size);
        return o;
    }
    void write(const JsonObject& object)
    {
        std::fprintf(out_, "%s\n", object.text().c_str());
        std::fflush(out_);
    }
    std::FILE* out_;
};

} // namespace

std::unique_ptr<RunReport> make_run_report(bool json, std::FILE* out, std::FILE* err)
{
    if (json) return std::make_unique<JsonReport>(out);
    if (isatty(fileno(out))) return std::make_unique<LiveReport>(out, err);
    return std::make_unique<PlainReport>(out, err);
}

} // namespace quillon::cli
