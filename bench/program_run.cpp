#include "program_run.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace quillon::bench {

double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::filesystem::path quillon_program()
{
    return std::filesystem::canonical("/proc/self/exe").parent_path() / "quillon";
}

long status_kb(pid_t process, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

namespace {

pid_t start_child(const std::filesystem::path& program, const std::vector<std::string>& args, int out)
{
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Hands each complete line of `pending` to the watcher.
void deliver_lines(std::string& pending, const ProgramWatch& watch)
{
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        if (watch.on_line) watch.on_line(pending.substr(0, end));
        pending.erase(0, end + 1);
    }
}

} // namespace

ProgramOutcome run_program(const std::filesystem::path& program, const std::vector<std::string>& args,
                           const ProgramWatch& watch)
{
    int channel[2];
    if (pipe(channel) != 0) return {};
    const double start = seconds_now();
    const pid_t child = start_child(program, args, channel[1]);
    close(channel[1]);
    std::string pending;
    for (;;) {
        pollfd readable{channel[0], POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(watch.tick.count()));
        if (ready > 0) {
            char buffer[4096];
            const ssize_t got = read(channel[0], buffer, sizeof buffer);
            if (got <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(got));
            deliver_lines(pending, watch);
        }
        if (watch.on_tick) watch.on_tick(child);
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ProgramOutcome outcome;
    outcome.seconds = seconds_now() - start;
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace quillon::bench
