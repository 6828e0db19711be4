// Fuzzed option text applied to a job, then the job run on a short clip.
//
// The text is split at a line "--" into the options set before the input
// opens and those set before the output opens. When it begins with "!", each
// part goes through ApplyExtOptions as the options records hand it over (the
// output part a second time once the output exists); otherwise each line is
// cut at its first "=" and handed to parse_option as it is. A refused option
// is a reported failure; so is a job that fails. Anything else is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"
#include "fixtures/fixture.h"
#include "fuzz_support.h"

using namespace quillon;

namespace {

std::filesystem::path clip_path;
const std::string output_name = "sortie-\xc3\xa9t\xc3\xa9.mpg";

// The run stays short whatever the options say: half a second, 25 pictures,
// no pacing to real time, and no picture above 4096 x 4096.
constexpr int64_t longest_run_us = 500000;
constexpr int most_pictures = 25;
constexpr int64_t most_pixels = int64_t{4096} * 4096;

std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        lines.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

// Statistics files go into the working folder only.
bool writes_elsewhere(std::string_view name, std::string_view value)
{
    return (name == "vstats_file" || name == "passlogfile") && value.find('/') != std::string_view::npos;
}

void apply_lines(TCustomFFmpeg& engine, std::string_view part)
{
    for (std::string_view line : lines_of(part)) {
        const size_t equals = line.find('=');
        const std::string_view name = line.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
        if (!writes_elsewhere(name, value)) engine.parse_option(std::string(name), std::string(value));
    }
}

bool safe_for_ext(std::string_view part)
{
    for (std::string_view line : lines_of(part)) {
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos && writes_elsewhere(line.substr(0, equals), line.substr(equals + 1)))
            return false;
    }
    return true;
}

void bound_the_run(TCustomFFmpeg& engine)
{
    engine.rate_emu = false;
    engine.recording_time = std::min(engine.recording_time, longest_run_us);
    engine.max_frames[0] = std::min(engine.max_frames[0], most_pictures);
}

bool picture_too_large(const TCustomFFmpeg& engine)
{
    const int64_t width = int64_t{engine.frame_width} + engine.pad_left + engine.pad_right;
    const int64_t height = int64_t{engine.frame_height} + engine.pad_top + engine.pad_bottom;
    return width * height > most_pixels;
}

void run(std::string_view text)
{
    const bool through_records = !text.empty() && text.front() == '!';
    if (through_records) text.remove_prefix(1);
    const size_t split = text.find("\n--\n");
    const std::string_view input_part = text.substr(0, split);
    const std::string_view output_part = split == std::string_view::npos ? std::string_view() : text.substr(split + 4);
    if (through_records && !(safe_for_ext(input_part) && safe_for_ext(output_part))) return;

    TCustomFFmpeg engine;
    engine.prepare_job();
    try {
        if (through_records) ApplyExtOptions(engine, std::string(input_part), false);
        else apply_lines(engine, input_part);
        if (!engine.open_input_file(clip_path.string())) return;
        if (through_records) ApplyExtOptions(engine, std::string(output_part), false);
        else apply_lines(engine, output_part);
        bound_the_run(engine);
        if (picture_too_large(engine)) return;
        if (engine.open_output_file(output_name) < 1) return;
        if (through_records) ApplyExtOptions(engine, std::string(output_part), true);
    } catch (const std::exception&) {
        return; // a refused option: the caller is told, nothing ran
    }
    engine.start_job(false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    clip_path = fuzz::prepare() / "clip.mpg";
    fixtures::ClipSpec spec{.container = fixtures::Container::mpeg1_system, .duration = 0.4};
    spec.width = 160;
    spec.height = 120;
    fixtures::make_clip(clip_path, spec);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(std::string_view(reinterpret_cast<const char*>(data), size));
    // Everything an input wrote (the output, pass logs, statistics) goes, so
    // each input runs alone and a finding replays by itself.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(clip_path.parent_path(), ignored))
        if (entry.path() != clip_path) std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
