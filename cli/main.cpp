// quillon: converts video files from the command line through the same
// conversion component, prober and option mapping as the window.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_support.h"
#include "cli/commands.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "0"
#endif

using namespace quillon::cli;

int main(int argc, char** argv)
{
    CliRequest request;
    try {
        request = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quillon: %s\nTry 'quillon --help'.\n", e.what());
        return exit_usage;
    }
    if (request.version) {
        std::printf("quillon %s\n", QUILLON_VERSION);
        return exit_ok;
    }
    if (request.help) {
        std::fputs(help_text(request.command).c_str(), stdout);
        return exit_ok;
    }
    try {
        switch (request.command) {
        case Command::convert: return run_convert(request);
        case Command::engine: return run_engine(request);
        case Command::probe: return run_probe(request);
        case Command::frame: return run_frame(request);
        case Command::none: break;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillon: %s\n", e.what());
        return exit_failed;
    }
    return exit_usage;
}
