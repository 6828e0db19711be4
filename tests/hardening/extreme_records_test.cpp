// Options records with one field at an extreme value (the smallest and the
// largest number of its type, zero, empty, very long, non-ASCII or control
// text, NaN and infinities), applied as the component applies them and then
// converted, each in a bounded child process. Every record must either be
// refused with the option layer's message or give a job that converts or
// fails with a message: no crash, no hang, no empty output left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "Options/options_apply.h"
#include "support/bounded_child.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"

namespace fs = std::filesystem;
using namespace quillon;
using namespace quillon::test;

namespace {

struct Records {
    TInputOptions input;
    TOutputOptions output;
};

struct Case {
    std::string label;
    std::function<void(Records&)> change;
};

constexpr int int_min = std::numeric_limits<int>::min();
constexpr int int_max = std::numeric_limits<int>::max();
constexpr int64_t int64_min = std::numeric_limits<int64_t>::min();
constexpr int64_t int64_max = std::numeric_limits<int64_t>::max();

const std::vector<int> int_values{int_min, 0, int_max};
const std::vector<int64_t> int64_values{int64_min, 0, int64_max};
const std::vector<double> real_values{-1e300, 0.0, 1e300, std::nan(""), std::numeric_limits<double>::infinity()};

struct TextValue {
    const char* label;
    std::string text;
};

const std::vector<TextValue>& text_values()
{
    static const std::vector<TextValue> values{
        {"empty", ""},
        {"negative", "-99999999999999999999"},
        {"huge", "99999999999999999999x99999999999999999999"},
        {"non-ASCII", "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xac"},
        {"control", std::string("a=b\r\n\x01\x7f=\n=\xff", 12)},
        {"64 KiB", std::string(65536, '9')},
    };
    return values;
}

template <typename Record, typename Field, typename Value>
void add(std::vector<Case>& cases, const std::string& record, const char* name, Field Record::*field,
         const std::vector<Value>& values)
{
    for (const Value& value : values) {
        std::ostringstream label;
        label << record << "." << name << " = " << value;
        cases.push_back({label.str(), [=](Records& r) {
                             if constexpr (std::is_same_v<Record, TInputOptions>) r.input.*field = Field(value);
                             else if constexpr (std::is_same_v<Record, TOutputOptions>) r.output.*field = Field(value);
                             else r.output.Info.*field = Field(value);
                         }});
    }
}

template <typename Record>
void add_text(std::vector<Case>& cases, const std::string& record, const char* name, std::string Record::*field)
{
    for (const TextValue& value : text_values())
        cases.push_back({record + "." + name + " = " + value.label, [=](Records& r) {
                             if constexpr (std::is_same_v<Record, TInputOptions>) r.input.*field = value.text;
                             else if constexpr (std::is_same_v<Record, TOutputOptions>) r.output.*field = value.text;
                             else r.output.Info.*field = value.text;
                         }});
}

std::vector<Case> input_cases()
{
    std::vector<Case> cases;
    using I = TInputOptions;
    for (auto [name, field] : {std::pair{"FileFormat", &I::FileFormat}, {"ExtOptions", &I::ExtOptions}})
        add_text(cases, "input", name, field);
    for (auto [name, field] : {std::pair{"StartTimeMS", &I::StartTimeMS}, {"ProgramID", &I::ProgramID}})
        add(cases, "input", name, field, int_values);
    add(cases, "input", "StartTimeUS", &I::StartTimeUS, int64_values);
    return cases;
}

std::vector<Case> output_number_cases()
{
    std::vector<Case> cases;
    using O = TOutputOptions;
    const std::pair<const char*, int O::*> ints[] = {
        {"PacketSize", &O::PacketSize},     {"MuxRate", &O::MuxRate},
        {"AudioVolume", &O::AudioVolume},   {"AudioChannels", &O::AudioChannels},
        {"AudioSampleRate", &O::AudioSampleRate}, {"AudioBitrate", &O::AudioBitrate},
        {"AudioBitrateTolerance", &O::AudioBitrateTolerance}, {"AudioSync", &O::AudioSync},
        {"CropTop", &O::CropTop},           {"CropBottom", &O::CropBottom},
        {"CropLeft", &O::CropLeft},         {"CropRight", &O::CropRight},
        {"PadTop", &O::PadTop},             {"PadBottom", &O::PadBottom},
        {"PadLeft", &O::PadLeft},           {"PadRight", &O::PadRight},
        {"GOPSize", &O::GOPSize},           {"VideoBitrate", &O::VideoBitrate},
        {"VideoMaxRate", &O::VideoMaxRate}, {"VideoMinRate", &O::VideoMinRate},
        {"VideoBitrateTolerance", &O::VideoBitrateTolerance}, {"VideoBufSize", &O::VideoBufSize},
        {"VideoSync", &O::VideoSync},       {"StartTimeMS", &O::StartTimeMS},
        {"RecordingTimeMS", &O::RecordingTimeMS}, {"Target", &O::Target},
        {"TargetNorm", &O::TargetNorm},     {"DefaultNorm", &O::DefaultNorm},
    };
    for (const auto& [name, field] : ints) add(cases, "output", name, field, int_values);
    for (auto [name, field] : {std::pair{"StartTimeUS", &O::StartTimeUS}, {"RecordingTimeUS", &O::RecordingTimeUS}})
        add(cases, "output", name, field, int64_values);
    for (auto [name, field] : {std::pair{"MuxDelay", &O::MuxDelay}, {"MuxPreload", &O::MuxPreload}})
        add(cases, "output", name, field, real_values);
    add(cases, "output", "PadColor", &O::PadColor, std::vector<uint32_t>{0xffffffffu});
    for (auto [name, field] : {std::pair{"DisableAudio", &O::DisableAudio}, {"DisableVideo", &O::DisableVideo},
                               {"DisableSubtitle", &O::DisableSubtitle}, {"CopyTimestamps", &O::CopyTimestamps},
                               {"CustomHook", &O::CustomHook}, {"BeforeHook", &O::BeforeHook}, {"Join", &O::Join}})
        add(cases, "output", name, field, std::vector<bool>{true});
    // Every preset with a norm out of range, and the disc presets with every field at its largest.
    for (int target : {1, 2, 3})
        cases.push_back({"output.Target = " + std::to_string(target) + " with norms out of range", [=](Records& r) {
                             r.output.Target = target;
                             r.output.TargetNorm = int_max;
                             r.output.DefaultNorm = int_min;
                         }});
    return cases;
}

std::vector<Case> output_text_cases()
{
    std::vector<Case> cases;
    using O = TOutputOptions;
    const std::pair<const char*, std::string O::*> texts[] = {
        {"FileFormat", &O::FileFormat},     {"AudioCodec", &O::AudioCodec},   {"AudioLanguage", &O::AudioLanguage},
        {"AudioTag", &O::AudioTag},         {"VideoCodec", &O::VideoCodec},   {"FrameRate", &O::FrameRate},
        {"FrameSize", &O::FrameSize},       {"FrameAspectRatio", &O::FrameAspectRatio},
        {"VideoTag", &O::VideoTag},         {"VideoFilters", &O::VideoFilters},
        {"SubtitleLanguage", &O::SubtitleLanguage}, {"HookTimeRanges", &O::HookTimeRanges},
        {"ExtOptions", &O::ExtOptions},
    };
    for (const auto& [name, field] : texts) add_text(cases, "output", name, field);
    using S = TStreamInfo;
    for (auto [name, field] : {std::pair{"Title", &S::Title}, {"Author", &S::Author}, {"Copyright", &S::Copyright},
                               {"Comment", &S::Comment}, {"Album", &S::Album}, {"Genre", &S::Genre}})
        add_text(cases, "info", name, field);
    for (auto [name, field] : {std::pair{"Year", &S::Year}, {"Track", &S::Track}}) add(cases, "info", name, field, int_values);
    add(cases, "info", "TimeStamp", &S::TimeStamp, real_values);
    return cases;
}

// ---- The run in the child -------------------------------------------------------

std::string convert(const fs::path& input, const fs::path& output, const Records& records)
{
    RecordingEngine engine;
    try {
        ApplyInputOptions(engine, records.input);
        if (!engine.open_input_file(input.string())) return "input refused: " + engine.last_error;
        ApplyOutputOptions(engine, records.output);
        if (engine.open_output_file(output.string(), records.output.Join) < 1)
            return "output refused: " + engine.last_error;
        ApplyExtOptions(engine, records.output.ExtOptions, true);
        if (!records.output.CustomHook && !records.output.BeforeHook)
            ApplyHookTimeRanges(engine, records.output.HookTimeRanges);
    } catch (const FFmpegException& error) {
        return std::string("refused: ") + error.what();
    }
    engine.start_job(false);
    if (engine.failed) return "failed: " + engine.error_message;
    return engine.finished ? "converted" : "not finished";
}

bool has_reason(const std::string& text, const std::string& prefix)
{
    return text.starts_with(prefix) && text.size() > prefix.size() + 2;
}

class ExtremeRecords : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { load_libraries(); }

    void run_cases(const std::vector<Case>& cases)
    {
        fixtures::ClipSpec spec{.container = fixtures::Container::mpeg1_system, .duration = 0.4};
        spec.width = 160;
        spec.height = 120;
        const fs::path source = clip("records-source.mpg", spec);
        ChildLimits limits;
        limits.seconds = 60;
        limits.address_space = int64_t{3} << 30;
        int index = 0;
        for (const Case& c : cases) {
            Records records;
            records.output.VideoCodec = "mpeg1video";
            records.output.AudioCodec = "mp2";
            c.change(records);
            const fs::path output = scratch / ("out" + std::to_string(index++) + ".mpg");
            const ChildOutcome outcome = run_bounded([&] { return convert(source, output, records); }, limits);
            check(c.label, outcome, output);
        }
    }

    void check(const std::string& label, const ChildOutcome& outcome, const fs::path& output)
    {
        std::cout << "[ records  ] " << label << ": " << outcome.text.substr(0, 160) << "\n";
        ASSERT_TRUE(outcome.ok()) << label << ": " << outcome.describe() << "\n" << outcome.errors;
        const std::string& text = outcome.text;
        const bool refused = has_reason(text, "refused: ") || has_reason(text, "input refused: ") ||
                             has_reason(text, "output refused: ");
        EXPECT_TRUE(text == "converted" || refused || has_reason(text, "failed: ")) << label << ": " << text;
        std::error_code error;
        if (fs::exists(output, error)) {
            EXPECT_GT(fs::file_size(output), 0u) << label << ": empty output left behind";
        }
        if (text == "converted") {
            EXPECT_TRUE(read_media(output).opened) << label << ": the output does not read back";
        }
    }

    ScratchDir scratch{"records"};
};

TEST_P(ExtremeRecords, EachFieldAtItsExtremesIsRefusedOrConverted)
{
    const std::string group = GetParam();
    run_cases(group == "input" ? input_cases() : group == "output numbers" ? output_number_cases() : output_text_cases());
}

INSTANTIATE_TEST_SUITE_P(Records, ExtremeRecords, ::testing::Values("input", "output numbers", "output texts"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

} // namespace
