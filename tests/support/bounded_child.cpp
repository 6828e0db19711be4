#include "support/bounded_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_CHILD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_CHILD_ASAN 1
#endif
#endif
#ifdef QUILLON_CHILD_ASAN
#include <sanitizer/lsan_interface.h>
#endif

#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillon::test {

namespace {

#ifdef QUILLON_CHILD_ASAN
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

void set_limit(int resource, int64_t value)
{
    if (value <= 0) return;
    const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    setrlimit(resource, &limit);
}

[[noreturn]] void run_child(const std::function<std::string()>& body, const ChildLimits& limits, int out, int errors)
{
    if (errors >= 0) dup2(errors, STDERR_FILENO);
    if (address_space_cap_possible()) set_limit(RLIMIT_AS, limits.address_space);
    set_limit(RLIMIT_FSIZE, limits.file_size);
    if (limits.file_size > 0) signal(SIGXFSZ, SIG_IGN); // a write past the cap fails with EFBIG instead
    std::string text;
    try {
        text = body();
    } catch (const std::exception& e) {
        text = std::string("exception: ") + e.what();
    } catch (...) {
        text = "exception of unknown kind";
    }
#ifdef QUILLON_CHILD_ASAN
    // The child ends with _exit, which skips the leak checker: run it here.
    if (__lsan_do_recoverable_leak_check() != 0) text += " [memory leaked, see the child's error output]";
#endif
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(out, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    _exit(0); // no destructors or exit handlers of the parent's objects
}

// Reads what the child writes until it closes the pipe or the deadline passes.
bool read_until_closed(int in, std::string& text, std::chrono::steady_clock::time_point deadline)
{
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{in, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// The last part of the child's standard error.
std::string tail_of(int file)
{
    constexpr off_t kept = 4000;
    const off_t size = lseek(file, 0, SEEK_END);
    if (size <= 0) return {};
    std::string text(static_cast<size_t>(std::min(size, kept)), '\0');
    const ssize_t n = pread(file, text.data(), text.size(), size - static_cast<off_t>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

} // namespace

bool address_space_cap_possible() { return !sanitized; }

std::string ChildOutcome::describe() const
{
    if (timed_out) return "timed out";
    if (signal) return "signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    return "exit " + std::to_string(exit_code);
}

ChildOutcome run_bounded(const std::function<std::string()>& body, const ChildLimits& limits)
{
    ChildOutcome outcome;
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        outcome.text = "pipe failed";
        return outcome;
    }
    char errors_name[] = "/tmp/quillon-child-XXXXXX";
    const int errors = mkstemp(errors_name);
    if (errors >= 0) unlink(errors_name);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        run_child(body, limits, pipe_ends[1], errors);
    }
    close(pipe_ends[1]);
    if (child < 0) {
        if (errors >= 0) close(errors);
        close(pipe_ends[0]);
        outcome.text = "fork failed";
        return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int64_t>(limits.seconds * 1000));
    outcome.timed_out = !read_until_closed(pipe_ends[0], outcome.text, deadline);
    close(pipe_ends[0]);
    if (outcome.timed_out) kill(child, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.peak_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        outcome.exit_code = WEXITSTATUS(status);
        outcome.exited = outcome.exit_code == 0;
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    if (errors >= 0) {
        outcome.errors = tail_of(errors);
        close(errors);
    }
    return outcome;
}

} // namespace quillon::test
