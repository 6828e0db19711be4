// Runs a piece of test code in a child process with a time bound and a cap on
// its address space, so a crash, a hang or a runaway allocation in the code
// under test shows as a failed case instead of ending the test program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quillon::test {

struct ChildLimits {
    double seconds = 60;              // wall-clock bound; the child is killed after it
    int64_t address_space = int64_t{4} << 30; // RLIMIT_AS in bytes; 0: no cap
    int64_t file_size = 0;            // RLIMIT_FSIZE in bytes; 0: no cap
};

struct ChildOutcome {
    bool exited = false;   // ended by itself with exit status 0
    int exit_code = -1;
    int signal = 0;        // the signal that ended it, if any
    bool timed_out = false;
    std::string text;      // what the body returned
    std::string errors;    // the end of what the child wrote to its standard error
    int64_t peak_kib = 0;  // the child's largest resident set

    bool ok() const { return exited && !timed_out; }
    // "exit 0", "signal 11 (Segmentation fault)", "timed out after 60 s", ...
    std::string describe() const;
};

// Forks; the child applies the limits, runs `body` and hands its text back
// (in a sanitizer build with the leak checker's verdict appended on a leak).
// The child's standard error (the libraries' log, a sanitizer's report) is
// kept aside; its last lines come back in `errors`.
// Call it while the calling process runs no other threads.
ChildOutcome run_bounded(const std::function<std::string()>& body, const ChildLimits& limits = {});

// True in a build with the address sanitizer, whose shadow memory does not
// fit under an address-space cap: there the cap is left out.
bool address_space_cap_possible();

} // namespace quillon::test
