// Runs the quillon program as a child process and collects what it wrote.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillon::test {

struct ProgramResult {
    int exit_code = -1; // -1: killed by a signal or timed out
    bool timed_out = false;
    int64_t peak_kib = 0; // the child's largest resident set
    std::string out, err;
    std::vector<std::string> out_lines() const;
};

struct ProgramRun {
    std::vector<std::string> args;
    std::filesystem::path directory{};        // the child's working folder; empty: ours
    std::chrono::seconds timeout{120};
    int64_t address_space = 0;                // RLIMIT_AS of the child in bytes; 0: no cap
    // Called with the output so far each time more arrives; returning true
    // sends SIGINT to the child (once).
    std::function<bool(const std::string& out)> interrupt_when{};
};

std::filesystem::path quillon_program();

ProgramResult run_program(const std::filesystem::path& program, const ProgramRun& run);
inline ProgramResult run_quillon(const ProgramRun& run) { return run_program(quillon_program(), run); }

} // namespace quillon::test
