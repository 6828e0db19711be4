// quillon probe and frame: wait for the prober.
#include <cstdio>

#include "cli/cli_support.h"
#include "cli/commands.h"

namespace quillon::cli {

int run_probe(const CliRequest&)
{
    std::fputs("quillon: probe is not available in this build\n", stderr);
    return exit_failed;
}

int run_frame(const CliRequest&)
{
    std::fputs("quillon: frame is not available in this build\n", stderr);
    return exit_failed;
}

} // namespace quillon::cli
