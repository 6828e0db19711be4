// Process-wide helpers of the command line: Ctrl-C, the program's folder,
// loading the libraries, and the exit statuses.
#pragma once

#include <string>
#include <string_view>

namespace quillon::cli {

enum ExitStatus { exit_ok = 0, exit_failed = 1, exit_usage = 2, exit_interrupted = 130 };

// SIGINT and SIGTERM ask the run to stop (interrupted() turns true); a
// second one ends the process at once with status 130.
void install_interrupt_handler();
bool interrupted();

// The folder of the running program, with a trailing separator.
std::string program_folder();

// The level names of --log-level, from quiet (0) to all (4).
int log_level_index(std::string_view name);
// The name for a message level on the engine's scale (-1 failure, 0 error, 1 info, 2 debug...).
std::string_view engine_level_name(int level);

} // namespace quillon::cli
