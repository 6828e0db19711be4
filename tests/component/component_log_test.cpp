// Library log lines reaching OnLog: pieces joined per thread, the prefix rule,
// the level filter and mapping, lines cut at the buffer's end, and lines
// attributed to the task whose thread printed them.
#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <regex>

#include "Component/log_text.h"
#include "component/component_fixture.h"

using namespace quillon;
using namespace quillon::test;
using namespace std::chrono_literals;

namespace {

// A library context of our own: what the log callback sees of a real one.
struct FakeContext {
    const AVClass* av_class;
};

AVClass make_class(const char* name)
{
    AVClass descriptor{};
    descriptor.class_name = name;
    descriptor.item_name = av_default_item_name;
    descriptor.version = LIBAVUTIL_VERSION_INT;
    return descriptor;
}

const AVClass alpha_class = make_class("alpha");
const AVClass beta_class = make_class("beta");
FakeContext alpha{&alpha_class};
FakeContext beta{&beta_class};

std::string prefix(const AVClass& descriptor)
{
    char text[64];
    std::snprintf(text, sizeof text, "[%s @ %08" PRIXPTR "]", descriptor.class_name,
                  reinterpret_cast<uintptr_t>(&descriptor));
    return text;
}

std::vector<std::string> texts(const std::vector<Event>& events)
{
    std::vector<std::string> result;
    for (const Event& event : events) result.push_back(event.text);
    return result;
}

bool valid_utf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

class ComponentLogTest : public ComponentTest {
protected:
    void SetUp() override
    {
        ComponentTest::SetUp();
        component.SetLogLevel(llInfo);
    }
};

TEST_F(ComponentLogTest, PiecesBecomeWholeLinesWithOnePrefix)
{
    struct Piece {
        FakeContext* context;
        const char* text;
    };
    struct Case {
        std::vector<Piece> pieces;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{{&alpha, "first "}, {&beta, "second\n"}}, {prefix(alpha_class) + "first second"}},
        {{{&alpha, "one\ntwo\n"}}, {prefix(alpha_class) + "one", "two"}},
        {{{&beta, "above\n\nbelow\n"}}, {prefix(beta_class) + "above", "", "below"}},
        {{{nullptr, "no context\n"}}, {"no context"}},
        {{{&alpha, "open "}, {nullptr, "middle "}, {&beta, "close\n"}, {&beta, "next\n"}},
         {prefix(alpha_class) + "open middle close", prefix(beta_class) + "next"}},
    };
    for (const Case& c : cases) {
        recorder.clear();
        for (const Piece& piece : c.pieces) lib::av_log(piece.context, AV_LOG_INFO, "%s", piece.text);
        const std::vector<Event> lines = recorder.logs(-1);
        EXPECT_EQ(texts(lines), c.lines);
        for (const Event& line : lines) EXPECT_EQ(line.level, llInfo);
    }
}

TEST_F(ComponentLogTest, LevelsAreFilteredAndMapped)
{
    struct Case {
        TLogLevel setting;
        int library_level;
        bool delivered;
        TLogLevel arrives_as;
    };
    const std::vector<Case> cases = {
        {llInfo, AV_LOG_ERROR, true, llError},     {llInfo, AV_LOG_WARNING, true, llError},
        {llInfo, AV_LOG_INFO, true, llInfo},       {llInfo, AV_LOG_VERBOSE, false, llQuiet},
        {llDebug, AV_LOG_DEBUG, true, llDebug},    {llDebug, AV_LOG_TRACE, false, llQuiet},
        {llAll, AV_LOG_TRACE, true, llAll},        {llError, AV_LOG_INFO, false, llQuiet},
        {llError, AV_LOG_ERROR, true, llError},    {llQuiet, AV_LOG_PANIC, false, llQuiet},
        {llQuiet, AV_LOG_ERROR, false, llQuiet},
    };
    for (const Case& c : cases) {
        recorder.clear();
        component.SetLogLevel(c.setting);
        lib::av_log(&alpha, c.library_level, "level %d\n", c.library_level);
        const std::vector<Event> lines = recorder.logs(-1);
        ASSERT_EQ(lines.size(), c.delivered ? 1u : 0u) << "setting " << c.setting << ", level " << c.library_level;
        if (c.delivered) {
            EXPECT_EQ(lines[0].level, c.arrives_as) << "level " << c.library_level;
        }
    }
}

TEST_F(ComponentLogTest, QuietStillDeliversTheFailureThatEndsATask)
{
    component.SetLogLevel(llQuiet);
    ASSERT_EQ(component.AddTask(tiny_clip()), 0) << component.LastError();
    recorder.clear();
    component.StartConvert(0); // no output: the start fails
    const std::vector<Event> lines = recorder.logs(0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, llQuiet);
    EXPECT_EQ(lines[0].text, "At least one output file must be specified");
}

TEST_F(ComponentLogTest, LinesOfOtherThreadsGoNowhereAndMainThreadLinesGoToNoTask)
{
    ASSERT_EQ(component.AddTask(tiny_clip()), 0);
    recorder.clear();
    std::thread stranger([] { lib::av_log(&alpha, AV_LOG_INFO, "from a stranger\n"); });
    stranger.join();
    EXPECT_EQ(recorder.count(), 0u);
    lib::av_log(&alpha, AV_LOG_INFO, "from the main thread\n");
    EXPECT_EQ(texts(recorder.logs(-1)), std::vector<std::string>{prefix(alpha_class) + "from the main thread"});
}

TEST_F(ComponentLogTest, SequentialRunGivesMainThreadLinesToTheFirstStartedTask)
{
    for (int i = 0; i < 2; ++i) add_task(tiny_clip(), "owner" + std::to_string(i) + ".mpg");
    component.StartConvert(0);
    recorder.clear();
    lib::av_log(&alpha, AV_LOG_INFO, "afterwards\n");
    EXPECT_EQ(recorder.logs(0).size(), 1u);
    EXPECT_TRUE(recorder.logs(-1).empty());
}

TEST_F(ComponentLogTest, LongLinesAreCutAtTheBufferWithoutBreakingACharacter)
{
    const std::string start = prefix(alpha_class);
    for (int shift = 0; shift < 2; ++shift) {
        recorder.clear();
        const std::string body = std::string(shift, 'x') + [] {
            std::string accents;
            for (int i = 0; i < 1500; ++i) accents += "\xC3\xA9"; // é
            return accents;
        }();
        lib::av_log(&alpha, AV_LOG_INFO, "%s\n", body.c_str());
        lib::av_log(&alpha, AV_LOG_INFO, "after\n");
        const std::vector<std::string> lines = texts(recorder.logs(-1));
        ASSERT_EQ(lines.size(), 2u) << "shift " << shift;
        EXPECT_LT(lines[0].size(), log_buffer_size);
        EXPECT_GE(lines[0].size(), log_buffer_size - 4);
        EXPECT_EQ(lines[0].rfind(start, 0), 0u);
        EXPECT_TRUE(valid_utf8(lines[0])) << "shift " << shift;
        EXPECT_EQ(lines[1], start + "after") << "the cut line left nothing pending";
    }
}

TEST_F(ComponentLogTest, ConcurrentThreadsKeepTheirLinesWholeAndAttributed)
{
    ASSERT_EQ(component.AddTask(tiny_clip()), 0);
    ASSERT_EQ(component.AddTask(tiny_clip()), 1);
    recorder.clear();
    constexpr int lines_each = 300;
    std::atomic<bool> go{false};
    auto printer = [&](FakeContext* context, const char* name) {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < lines_each; ++i) {
            lib::av_log(context, AV_LOG_INFO, "%s-%d-", name, i);
            lib::av_log(nullptr, AV_LOG_INFO, "middle-");
            lib::av_log(context, AV_LOG_INFO, "end\n");
        }
    };
    std::thread first(printer, &alpha, "alpha");
    std::thread second(printer, &beta, "beta");
    component.Task(0).ThreadID = first.get_id();
    component.Task(1).ThreadID = second.get_id();
    go = true;
    first.join();
    second.join();

    const std::pair<const AVClass*, const char*> owners[] = {{&alpha_class, "alpha"}, {&beta_class, "beta"}};
    for (int task = 0; task < 2; ++task) {
        const std::vector<std::string> lines = texts(recorder.logs(task));
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(lines_each)) << "task " << task;
        for (int i = 0; i < lines_each; ++i)
            ASSERT_EQ(lines[i], prefix(*owners[task].first) + owners[task].second + "-" + std::to_string(i) +
                                    "-middle-end");
    }
    EXPECT_TRUE(recorder.logs(-1).empty());
}

TEST_F(ComponentLogTest, LibraryLinesOfTwoConversionsReachTheirOwnTasks)
{
    component.SetLogLevel(llDebug);
    add_task(tiny_clip(), "from-ps.mpg", "re");
    add_task(tiny_avi_clip(), "from-avi.mpg", "re");
    recorder.clear(); // opening the inputs printed on this thread, for no task yet
    component.StartConvert(2);
    ASSERT_TRUE(recorder.wait_for_end());
    component.SetLogLevel(llInfo);

    const std::regex prefixed(R"(^\[([^ \]]+) @ [0-9A-F]{8,}\])");
    const std::regex any_prefix(R"(\[[^ \]]+ @ [0-9A-F]{8,}\])");
    const std::map<std::string, int> owner = {{"avi", 1}, {"mpeg4", 1}, {"mp3float", 1}, {"mpeg2video", 0}};
    std::map<int, int> owned_lines;
    for (const Event& event : recorder.events()) {
        if (event.kind != Event::log) continue;
        // Library lines come without their line feeds (the engine's totals line ends in its own "\r\n").
        const bool engine_line_end = event.text.size() >= 2 && event.text.ends_with("\r\n");
        EXPECT_EQ(event.text.find('\n'), engine_line_end ? event.text.size() - 1 : std::string::npos) << event.text;
        const auto prefixes = std::distance(std::sregex_iterator(event.text.begin(), event.text.end(), any_prefix),
                                            std::sregex_iterator());
        EXPECT_LE(prefixes, 1) << "merged line: " << event.text;
        std::smatch match;
        if (!std::regex_search(event.text, match, prefixed)) continue;
        auto found = owner.find(match[1]);
        if (found == owner.end()) continue;
        EXPECT_EQ(event.index, found->second) << event.text;
        ++owned_lines[found->second];
    }
    EXPECT_GT(owned_lines[0], 0) << "the first task's decoder printed nothing";
    EXPECT_GT(owned_lines[1], 0) << "the second task's demuxer and decoders printed nothing";
}

} // namespace
