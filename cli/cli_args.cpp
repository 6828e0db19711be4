// The option table of the quillon command line, its parser and its help.
#include "cli/cli_args.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>

namespace quillon::cli {
namespace {

using R = CliRequest&;
using V = const std::string&;

constexpr unsigned bit(Command c) { return 1u << unsigned(c); }
constexpr unsigned kNone = bit(Command::none), kConvert = bit(Command::convert), kEngine = bit(Command::engine),
                   kProbe = bit(Command::probe), kFrame = bit(Command::frame);
constexpr unsigned kAll = kNone | kConvert | kEngine | kProbe | kFrame;

std::string lower(std::string text)
{
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int whole_number(V text, std::string_view option, int low, int high)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw UsageError("--" + std::string(option) + " takes a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    return value;
}

// The index of `text` among `names` (compared without case), or a usage error.
template <typename Names>
int one_of(V text, std::string_view option, const Names& names)
{
    std::string list;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (lower(std::string(names[i])) == lower(text)) return int(i);
        list += (i ? "|" : "") + std::string(names[i]);
    }
    throw UsageError("--" + std::string(option) + " takes " + list + ", not '" + text + "'");
}

std::vector<std::string_view> format_names()
{
    std::vector<std::string_view> names;
    for (const FormatItem& format : OutputFormats()) names.push_back(format.Name);
    return names;
}

// Frame rates and sample rates as typed: "auto" for the list's "Auto".
template <typename List>
std::vector<std::string_view> typed_names(const List& list)
{
    std::vector<std::string_view> names(list.begin(), list.end());
    names[0] = "auto";
    return names;
}

void set_size(R r, V v)
{
    if (lower(v) == "auto") return void(r.choices.FrameSize.clear());
    const auto x = v.find('x');
    const auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (x == std::string::npos || !digits(std::string_view(v).substr(0, x)) || !digits(std::string_view(v).substr(x + 1)))
        throw UsageError("--size takes auto or WIDTHxHEIGHT, not '" + v + "'");
    r.choices.FrameSize = v;
}

void set_quality(R r, V v)
{
    if (lower(v) == "auto") r.quality = 0;
    else r.quality = whole_number(v, "quality", 1, 6);
}

void set_at(R r, V v)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), seconds);
    if (v.empty() || error != std::errc() || end != v.data() + v.size() || !std::isfinite(seconds) || seconds < 0)
        throw UsageError("--at takes a position in seconds, not '" + v + "'");
    r.at_seconds = seconds;
}

constexpr int max_kbps = 100000;
constexpr int max_ms = 2000000000;

constexpr CliOption options[] = {
    {"help", 'h', "", kAll, "show this help", [](R r, V) { r.help = true; }},
    {"version", 0, "", kNone, "print the version", [](R r, V) { r.version = true; }},
    {"output-dir", 'O', "DIR", kConvert, "write the outputs into DIR (default: next to each source)",
     [](R r, V v) { r.output_dir = v; }},
    {"format", 'f', "FORMAT", kConvert, "mpeg1 (default), mpeg2, m1v, m2v, vcd, svcd or dvd",
     [](R r, V v) { r.choices.Format = one_of(v, "format", format_names()); }},
    {"quality", 'q', "Q", kConvert, "auto (the source's bit rates, default) or a preset: 1-5 (mpeg1, m1v, vcd, svcd), 1-6 (mpeg2, m2v, dvd)",
     set_quality},
    {"size", 0, "WxH", kConvert, "picture size, or auto (the source's; disc formats: the norm's)", set_size},
    {"rate", 0, "FPS", kConvert, "auto, 23.976, 24, 25, 29.97 or 30 (disc formats: the norm's)",
     [](R r, V v) { r.choices.FrameRate = one_of(v, "rate", typed_names(FrameRates())); }},
    {"aspect", 0, "RATIO", kConvert, "auto, 4:3 or 16:9 (vcd: 4:3)",
     [](R r, V v) { r.choices.Aspect = one_of(v, "aspect", std::vector<std::string_view>{"auto", "4:3", "16:9"}); }},
    {"tv", 0, "NORM", kConvert, "disc formats: auto (from the source), pal or ntsc",
     [](R r, V v) { r.choices.TVType = one_of(v, "tv", std::vector<std::string_view>{"auto", "pal", "ntsc"}); }},
    {"volume", 0, "N", kConvert, "audio volume 0..512, 256 = unchanged",
     [](R r, V v) {
         r.choices.AdjustVolume = true;
         r.choices.Volume = whole_number(v, "volume", 0, 512);
     }},
    {"video-kbps", 0, "N", kConvert, "video bit rate in kbit/s, wins over the quality preset (disc formats: within the disc's limits)",
     [](R r, V v) {
         r.choices.SetVideoBitRate = true;
         r.choices.VideoKbps = whole_number(v, "video-kbps", 0, max_kbps);
     }},
    {"audio-kbps", 0, "N", kConvert, "audio bit rate in kbit/s (disc formats keep the disc's)",
     [](R r, V v) {
         r.choices.SetAudioBitRate = true;
         r.choices.AudioKbps = whole_number(v, "audio-kbps", 0, max_kbps);
     }},
    {"sample-rate", 0, "HZ", kConvert, "auto (22050), 8000, 11025, 22050 or 44100 (disc formats keep the disc's)",
     [](R r, V v) { r.choices.SampleRate = one_of(v, "sample-rate", typed_names(SampleRates())); }},
    {"channels", 0, "N", kConvert, "auto, mono or stereo (disc formats: stereo)",
     [](R r, V v) { r.choices.Channels = one_of(v, "channels", std::vector<std::string_view>{"auto", "mono", "stereo"}); }},
    {"avi", 0, "", kConvert, "use an AVI container (mpeg1, mpeg2, m1v, m2v)", [](R r, V) { r.choices.AviContainer = true; }},
    {"start", 0, "MS", kConvert, "start this many milliseconds into each source",
     [](R r, V v) { r.start_ms = whole_number(v, "start", 0, max_ms); }},
    {"duration", 0, "MS", kConvert, "convert at most this many milliseconds",
     [](R r, V v) { r.duration_ms = whole_number(v, "duration", 1, max_ms); }},
    {"option", 'x', "NAME=VALUE", kConvert, "an engine option for the outputs (repeatable)",
     [](R r, V v) { r.output_options.push_back(v); }},
    {"input-option", 0, "NAME=VALUE", kConvert, "an engine option for the inputs (repeatable)",
     [](R r, V v) { r.input_options.push_back(v); }},
    {"jobs", 'j', "N", kConvert, "convert N files at once (default 1)",
     [](R r, V v) { r.jobs = whole_number(v, "jobs", 1, 64); }},
    {"log-level", 0, "LEVEL", kConvert | kEngine, "quiet, error (default), info, debug or all",
     [](R r, V v) {
         static constexpr std::string_view levels[] = {"quiet", "error", "info", "debug", "all"};
         r.log_level = std::string(levels[one_of(v, "log-level", levels)]);
     }},
    {"json", 0, "", kConvert | kEngine | kProbe, "print one JSON object per line", [](R r, V) { r.json = true; }},
    {"at", 0, "SECONDS", kFrame, "the position of the frame", set_at},
    {"output", 'o', "FILE", kFrame, "the PNG file to write", [](R r, V v) { r.picture_file = v; }},
};

constexpr std::pair<Command, std::string_view> command_names[] = {
    {Command::convert, "convert"}, {Command::engine, "engine"}, {Command::probe, "probe"}, {Command::frame, "frame"}};

const CliOption* find_long(std::string_view name, Command command)
{
    for (const CliOption& o : options)
        if (o.long_name == name && (o.commands & bit(command))) return &o;
    return nullptr;
}

const CliOption* find_short(char name, Command command)
{
    for (const CliOption& o : options)
        if (name && o.short_name == name && (o.commands & bit(command))) return &o;
    return nullptr;
}

class ArgumentWalk {
public:
    ArgumentWalk(const std::vector<std::string>& args, std::size_t from) : args_(args), next_(from) {}
    bool done() const { return next_ >= args_.size(); }
    const std::string& take() { return args_[next_++]; }
    std::string value_for(const std::string& option)
    {
        if (done()) throw UsageError(option + " needs a value");
        return take();
    }

private:
    const std::vector<std::string>& args_;
    std::size_t next_;
};

// "--name", "--name=value", "-n value", "-nvalue"; false when `arg` is no option.
bool apply_option(CliRequest& request, const std::string& arg, ArgumentWalk& walk)
{
    if (arg.size() < 2 || arg[0] != '-') return false;
    const CliOption* option = nullptr;
    std::optional<std::string> inline_value;
    if (arg[1] == '-') {
        const auto equals = arg.find('=');
        option = find_long(std::string_view(arg).substr(2, equals == std::string::npos ? std::string::npos : equals - 2),
                           request.command);
        if (equals != std::string::npos) inline_value = arg.substr(equals + 1);
    } else {
        option = find_short(arg[1], request.command);
        if (arg.size() > 2) inline_value = arg.substr(2);
    }
    if (!option) throw UsageError("unknown option '" + arg + "'");
    if (option->value.empty()) {
        if (inline_value) throw UsageError(arg + " takes no value");
        option->apply(request, {});
    } else {
        option->apply(request, inline_value ? *inline_value : walk.value_for(arg));
    }
    return true;
}

// The engine's own arguments pass through untouched; only quillon's
// double-dash options are read here.
void read_engine_arguments(CliRequest& request, ArgumentWalk& walk)
{
    while (!walk.done()) {
        const std::string& arg = walk.take();
        const bool ours = arg.rfind("--", 0) == 0 && arg.size() > 2 &&
                          find_long(std::string_view(arg).substr(2, arg.find('=') - 2), Command::engine);
        if (ours) apply_option(request, arg, walk);
        else request.files.push_back(arg);
    }
}

void read_arguments(CliRequest& request, ArgumentWalk& walk)
{
    bool options_end = false;
    while (!walk.done()) {
        const std::string& arg = walk.take();
        if (!options_end && arg == "--") options_end = true;
        else if (options_end || !apply_option(request, arg, walk)) request.files.push_back(arg);
    }
}

void check_request(CliRequest& request)
{
    if (request.help || request.version) return;
    switch (request.command) {
    case Command::none: throw UsageError("no command given");
    case Command::convert: {
        if (request.files.empty()) throw UsageError("convert needs at least one file");
        const FormatItem& format = OutputFormats()[request.choices.Format];
        const int quality = request.quality.value_or(0);
        if (quality >= int(format.Quality.size()))
            throw UsageError("--quality for " + std::string(format.Name) + " is auto or 1 to " +
                             std::to_string(format.Quality.size() - 1));
        request.choices.Quality = quality;
        break;
    }
    case Command::engine:
        if (request.files.empty()) throw UsageError("engine needs options, inputs (-i FILE) and outputs");
        break;
    case Command::probe:
        if (request.files.size() != 1) throw UsageError("probe takes one file");
        break;
    case Command::frame:
        if (request.files.size() != 1) throw UsageError("frame takes one file");
        if (!request.at_seconds) throw UsageError("frame needs --at SECONDS");
        if (request.picture_file.empty()) throw UsageError("frame needs -o FILE.png");
        break;
    }
}

} // namespace

std::span<const CliOption> cli_options() { return options; }

std::string_view command_name(Command command)
{
    for (const auto& [c, name] : command_names)
        if (c == command) return name;
    return "";
}

CliRequest parse_command_line(const std::vector<std::string>& args)
{
    CliRequest request;
    std::size_t first = 0;
    if (!args.empty() && args[0].rfind("-", 0) != 0) {
        for (const auto& [c, name] : command_names)
            if (args[0] == name) request.command = c;
        if (request.command == Command::none) throw UsageError("unknown command '" + args[0] + "'");
        first = 1;
    }
    ArgumentWalk walk(args, first);
    if (request.command == Command::engine) read_engine_arguments(request, walk);
    else read_arguments(request, walk);
    if (request.command == Command::none && !request.files.empty())
        throw UsageError("unexpected argument '" + request.files[0] + "'");
    if (args.empty()) request.help = true;
    check_request(request);
    return request;
}

namespace {

constexpr std::string_view usages[] = {
    "usage: quillon COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  convert [OPTIONS] FILE...      convert files into MPEG, VCD, SVCD or DVD compatible MPEG\n"
    "  engine [OPTIONS] -i IN ... OUT run the conversion engine with its own option vocabulary\n"
    "  probe FILE [--json]            describe a media file\n"
    "  frame FILE --at S -o OUT.png   write one picture of a video as PNG\n"
    "\n"
    "'quillon COMMAND --help' describes a command.\n",
    "usage: quillon convert [OPTIONS] FILE...\n"
    "\n"
    "Converts each FILE. Exit status: 0 when every file was converted, 1 when\n"
    "any failed, 2 for a usage error, 130 when stopped with Ctrl-C.\n",
    "usage: quillon engine [GLOBAL-OPTIONS] [INPUT-OPTIONS] -i IN ... [OUTPUT-OPTIONS] OUT ...\n"
    "\n"
    "Each -NAME VALUE pair goes to the engine's option parser: options before -i IN\n"
    "apply to that input, options before an output name to that output. Options\n"
    "that the engine reads without a value take none (-an, -vn, -y, ...). Names the\n"
    "engine does not know go to the libraries' codec and container options.\n"
    "Example: quillon engine -i in.avi -target pal-dvd out.mpg\n",
    "usage: quillon probe FILE [--json]\n"
    "\n"
    "Prints the file's container, duration, bit rate and streams.\n",
    "usage: quillon frame FILE --at SECONDS -o OUT.png\n"
    "\n"
    "Writes the first picture at or after the position as a PNG file.\n",
};

} // namespace

std::string help_text(Command command)
{
    std::ostringstream text;
    text << usages[int(command)];
    bool header = false;
    for (const CliOption& o : options) {
        if (!(o.commands & bit(command))) continue;
        if (!header) text << "\noptions:\n";
        header = true;
        std::string left = "  ";
        left += o.short_name ? std::string("-") + o.short_name + ", " : "    ";
        left += "--" + std::string(o.long_name);
        if (!o.value.empty()) left += " " + std::string(o.value);
        text << left;
        if (left.size() < 30) text << std::string(30 - left.size(), ' ');
        else text << "\n" << std::string(30, ' ');
        text << o.help << "\n";
    }
    return text.str();
}

} // namespace quillon::cli
