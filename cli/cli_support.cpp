#include "cli/cli_support.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

namespace quillon::cli {
namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void on_interrupt(int)
{
    if (interrupts.fetch_add(1) > 0) _exit(exit_interrupted);
}

} // namespace

void install_interrupt_handler()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return interrupts.load() > 0; }

std::string program_folder()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return exe.parent_path().string() + "/";
}

int log_level_index(std::string_view name)
{
    constexpr std::string_view names[] = {"quiet", "error", "info", "debug", "all"};
    for (int i = 0; i < 5; ++i)
        if (names[i] == name) return i;
    return 1;
}

std::string_view engine_level_name(int level)
{
    if (level <= 0) return "error";
    if (level == 1) return "info";
    return "debug";
}

} // namespace quillon::cli
