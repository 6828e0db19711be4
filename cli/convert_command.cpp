// quillon convert: waits for the conversion component.
#include <cstdio>

#include "cli/cli_support.h"
#include "cli/commands.h"

namespace quillon::cli {

int run_convert(const CliRequest&)
{
    std::fputs("quillon: convert is not available in this build\n", stderr);
    return exit_failed;
}

} // namespace quillon::cli
