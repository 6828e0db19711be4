// The subcommands; each returns the process exit status.
#pragma once

#include "cli/cli_args.h"

namespace quillon::cli {

int run_convert(const CliRequest& request);
int run_engine(const CliRequest& request);
int run_probe(const CliRequest& request);
int run_frame(const CliRequest& request);

// Loads the media libraries from beside the program (else the system's);
// false after printing the loader's message.
bool load_libraries();

} // namespace quillon::cli
