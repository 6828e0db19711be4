// The quillon command line: one table of options, read by the parser and by
// the help texts.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ChoiceMapping/output_choices.h"

namespace quillon::cli {

enum class Command { none, convert, engine, probe, frame };

// A command line that cannot be acted on (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CliRequest {
    Command command = Command::none;
    bool help = false;
    bool version = false;
    bool json = false;
    std::string log_level = "error"; // quiet, error, info, debug, all
    std::vector<std::string> files;   // convert, probe, frame: the sources; engine: the arguments

    // convert
    std::string output_dir;
    TOutputChoices choices;
    std::optional<int> quality;       // checked against the format's list once all is read
    int start_ms = -1;
    int duration_ms = -1;
    std::vector<std::string> output_options; // NAME=VALUE lines
    std::vector<std::string> input_options;
    int jobs = 1;

    // frame
    std::optional<double> at_seconds;
    std::string picture_file;
};

struct CliOption {
    std::string_view long_name; // without "--"
    char short_name;            // 0: none
    std::string_view value;     // what the value is called in the help; empty: a switch
    unsigned commands;          // bits of (1 << Command)
    std::string_view help;
    void (*apply)(CliRequest& request, const std::string& value);
};

std::span<const CliOption> cli_options();

// Reads argv (argv[0] excluded from `args`). Raises UsageError.
CliRequest parse_command_line(const std::vector<std::string>& args);

// The help of the program (Command::none) or of one command.
std::string help_text(Command command);

std::string_view command_name(Command command);

} // namespace quillon::cli
