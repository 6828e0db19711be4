// Runs the quillon program as a child process for the benchmarks: its
// standard output is read line by line, and the caller looks at the child
// between lines (its /proc figures) at a fixed pace.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillon::bench {

struct ProgramWatch {
    std::function<void(const std::string& line)> on_line{};
    std::function<void(pid_t child)> on_tick{}; // every `tick` and after each line
    std::chrono::milliseconds tick{200};
};

struct ProgramOutcome {
    int exit_code = -1; // -1: no normal exit
    double seconds = 0; // wall time from start to exit
};

// The quillon program beside this one.
std::filesystem::path quillon_program();

ProgramOutcome run_program(const std::filesystem::path& program, const std::vector<std::string>& args,
                           const ProgramWatch& watch);

// A figure of /proc/PID/status in kB ("VmRSS", "VmHWM"); -1 when absent.
long status_kb(pid_t process, const std::string& field);

double seconds_now();

} // namespace quillon::bench
