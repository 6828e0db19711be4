// What a conversion run shows: a live progress line per running file on a
// terminal, plain lines otherwise, or one JSON object per line; and the
// summary at the end. The caller serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quillon::cli {

enum class FileStatus { waiting, converting, done, failed, stopped, not_started };

std::string_view status_name(FileStatus status);

struct RunFile {
    std::string source;
    std::string output;        // several outputs joined with ", "
    int64_t output_size = -1;  // bytes on disk at the end; -1 none
    FileStatus status = FileStatus::waiting;
    std::string message;
    int expected_ms = -1; // output length expected; -1 unknown
    // The last progress report.
    int frame = -1;
    int fps = -1;
    int time_ms = 0;
    float bitrate_kbps = 0;
    int64_t size = 0;
    std::chrono::steady_clock::time_point started{};
    double seconds = 0; // wall time of the conversion

    int percent() const; // -1 unknown
    double seconds_left() const; // < 0 unknown
};

class RunReport {
public:
    virtual ~RunReport() = default;
    // `index`: the file (-1: none); `level`: "error", "info", "debug", ...
    virtual void log(const std::vector<RunFile>& files, int index, std::string_view level, const std::string& text) = 0;
    virtual void progress(const std::vector<RunFile>& files, int index) = 0;
    virtual void ended(const std::vector<RunFile>& files, int index) = 0;
    virtual void summary(const std::vector<RunFile>& files, int exit_code) = 0;
};

// JSON when asked; else live lines when `out` is a terminal; else plain lines.
std::unique_ptr<RunReport> make_run_report(bool json, std::FILE* out = stdout, std::FILE* err = stderr);

// The size of a file on disk; -1 when it does not exist.
int64_t size_on_disk(const std::string& file);

} // namespace quillon::cli
