// Loading, configuring, running and releasing frame-hook modules, and the
// "vhook" option that adds them.
#include <gtest/gtest.h>

#include "FrameHooks/frame_hook_chain.h"
#include "hooks/hook_support.h"

using namespace quillon;
using namespace quillon::test;

namespace {

class FrameHookChainTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        marker::reset();
    }
};

// A small YUV 4:2:0 picture for calling modules directly.
struct Picture {
    static constexpr int width = 64, height = 48;
    std::vector<uint8_t> luma = std::vector<uint8_t>(width * height, 200);
    std::vector<uint8_t> chroma = std::vector<uint8_t>(width * height / 2, 100);
    FrameHookPicture planes() { return {{luma.data(), chroma.data(), chroma.data() + width * height / 4, nullptr}, {width, width / 2, width / 2, 0}}; }
};

TEST_F(FrameHookChainTest, InstancesRunInTheOrderAddedAndAreReleasedOnce)
{
    FrameHookChain chain;
    const std::string path = hook_module("marker_hook.so");
    ASSERT_EQ(chain.add_module({path, "marker", "8", "8", "16"}), fhOk);
    ASSERT_EQ(chain.add_module({hook_module("plain_hook.so")}), fhOk) << "no Configure is needed without arguments";
    ASSERT_EQ(chain.add_module({path, "marker", "32", "16", "8"}), fhOk) << "the same module twice: a second instance";
    EXPECT_EQ(load_frame_hook_module(path), load_frame_hook_module(path)) << "a module is loaded once";
    Picture picture;
    FrameHookPicture planes = picture.planes();
    chain.process(planes, AV_PIX_FMT_YUV420P, Picture::width, Picture::height, 1234);
    chain.process(planes, AV_PIX_FMT_YUV420P, Picture::width, Picture::height, 5678);
    ASSERT_EQ(marker::calls(), 4);
    EXPECT_EQ(marker::instance(0), 1);
    EXPECT_EQ(marker::instance(1), 2);
    EXPECT_EQ(marker::instance(2), 1);
    EXPECT_EQ(marker::pts(3), 5678);
    EXPECT_EQ(picture.luma[10 * Picture::width + 10], 16) << "the first instance drew its square";
    EXPECT_EQ(picture.luma[20 * Picture::width + 36], 16) << "the second instance drew its square";
    EXPECT_EQ(picture.luma[40 * Picture::width + 60], 200);
    chain.release();
    EXPECT_EQ(marker::releases(), 2) << "the module without Release is released without a call";
    EXPECT_TRUE(chain.empty());
    chain.release();
    EXPECT_EQ(marker::releases(), 2);
}

TEST_F(FrameHookChainTest, FailuresGiveTheirResultAndLogLine)
{
    struct Case {
        const char* name;
        std::vector<std::string> words;
        int result;
        std::string line; // empty: nothing to look for
    };
    const std::string marker_path = hook_module("marker_hook.so");
    const std::string missing = hook_module("missing_hook.so");
    const std::string no_process = hook_module("no_process_hook.so");
    const std::string plain = hook_module("plain_hook.so");
    const Case cases[] = {
        {"no words", {}, fhBadModule, ""},
        {"missing file", {missing}, fhNotLoaded, missing + ": cannot open shared object file"},
        {"no Process", {no_process}, fhBadModule, "Failed to find Process entrypoint in " + no_process + "\n"},
        {"arguments without Configure", {plain, "x"}, fhBadModule, "Failed to find Configure entrypoint in " + plain + "\n"},
        {"Configure fails", {marker_path, "fail", "0", "0", "0"}, fhConfigureFailed, "Failed to Configure " + marker_path + "\n"},
        {"not a module", {"/etc/hostname"}, fhNotLoaded, "/etc/hostname"},
    };
    for (const Case& c : cases) {
        LibraryLog log;
        FrameHookChain chain;
        EXPECT_EQ(chain.add_module(c.words), c.result) << c.name;
        EXPECT_TRUE(chain.empty()) << c.name;
        if (!c.line.empty()) {
            EXPECT_TRUE(log.has(c.line)) << c.name << ": " << log.all();
        }
    }
}

TEST_F(FrameHookChainTest, BareNamesComeFromTheProgramFolderThenTheSystemSearch)
{
    LibraryLog log;
    FrameHookChain chain;
    EXPECT_EQ(chain.add_module({"quillon_plain_hook_beside.so"}), fhOk) << log.all();
    // A system library is found by the system's search; it is no module.
    EXPECT_EQ(chain.add_module({"libm.so.6"}), fhBadModule);
    EXPECT_TRUE(log.has("Failed to find Process entrypoint in libm.so.6")) << log.all();
    EXPECT_EQ(chain.add_module({"no_such_hook_anywhere.so"}), fhNotLoaded);
}

TEST_F(FrameHookChainTest, VhookSplitsItsValueIntoWords)
{
    const std::string path = hook_module("marker_hook.so").string();
    const std::string accepted[] = {
        path + " marker 1 2 3",
        path + "   marker  1 2   3 ",
        path + "|marker|1|2|3",
        "|" + path + "||marker|1|2|3|", // "|" wins over spaces, runs give no empty words
    };
    for (const std::string& value : accepted) {
        RecordingEngine engine;
        marker::reset();
        EXPECT_NO_THROW(engine.parse_option("vhook", value)) << value;
        EXPECT_EQ(marker::instances(), 1) << value << ": Configure saw five words";
        EXPECT_TRUE(engine.vhook_active) << value;
    }
    // With "|" as separator a space belongs to the word: "marker 1" is one word.
    RecordingEngine engine;
    EXPECT_THROW(engine.parse_option("vhook", path + "|marker 1|2|3"), FFmpegException);
    EXPECT_FALSE(engine.vhook_active);
}

TEST_F(FrameHookChainTest, VhookFailuresRaiseWithTheValue)
{
    std::string too_many = hook_module("plain_hook.so").string();
    for (int i = 0; i < 63; ++i) too_many += " w";
    const std::string values[] = {
        hook_module("missing_hook.so").string() + " a b",
        hook_module("no_process_hook.so").string(),
        hook_module("marker_hook.so").string() + " fail 0 0 0",
        too_many, // 64 words: more than a module's argument list holds
        "",
    };
    for (const std::string& value : values) {
        LibraryLog log;
        RecordingEngine engine;
        try {
            engine.parse_option("vhook", value);
            ADD_FAILURE() << "accepted: " << value;
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), "Failed to add video hook function: " + value);
        }
        EXPECT_FALSE(engine.vhook_active) << value;
    }
}

} // namespace
