#include "cli/quillon_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <sstream>

#include "support/test_support.h"

namespace quillon::test {

std::vector<std::string> ProgramResult::out_lines() const
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::filesystem::path quillon_program() { return build_dir() / "bin" / "quillon"; }

namespace {

// Everything the child needs is made before the fork: after it, only
// async-signal-safe calls.
struct ChildSetup {
    std::vector<std::string> args, environment;
    std::vector<char*> argv, envp;

    ChildSetup(const std::filesystem::path& program, const ProgramRun& run)
    {
        args.push_back(program.string());
        args.insert(args.end(), run.args.begin(), run.args.end());
        // The sanitizer builds of the program need the same setting as the suites.
        std::string asan = "ASAN_OPTIONS=intercept_tls_get_addr=0";
        for (char** e = environ; *e; ++e) {
            if (std::string_view(*e).rfind("ASAN_OPTIONS=", 0) == 0) asan = std::string(*e) + ":intercept_tls_get_addr=0";
            else environment.emplace_back(*e);
        }
        environment.push_back(asan);
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

[[noreturn]] void exec_child(ChildSetup& setup, const ProgramRun& run, int out, int err)
{
    if (run.address_space > 0) {
        const rlimit cap{rlim_t(run.address_space), rlim_t(run.address_space)};
        if (setrlimit(RLIMIT_AS, &cap) != 0) _exit(127);
    }
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    if (!run.directory.empty() && chdir(run.directory.c_str()) != 0) _exit(127);
    execve(setup.argv[0], setup.argv.data(), setup.envp.data());
    _exit(127);
}

bool read_some(int fd, std::string& into)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, std::size_t(n));
    return true;
}

} // namespace

ProgramResult run_program(const std::filesystem::path& program, const ProgramRun& run)
{
    ProgramResult result;
    ChildSetup setup(program, run);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
    const pid_t child = fork();
    if (child == 0) exec_child(setup, run, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + run.timeout;
    bool out_open = true, err_open = true, interrupted = false;
    while (out_open || err_open) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd fds[2] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        if (fds[0].revents && !read_some(out[0], result.out)) out_open = false;
        if (fds[1].revents && !read_some(err[0], result.err)) err_open = false;
        if (!interrupted && run.interrupt_when && run.interrupt_when(result.out)) {
            kill(child, SIGINT);
            interrupted = true;
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    result.peak_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    return result;
}

} // namespace quillon::test
