// A prepared engine whose log lines are collected, for the option suites.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FFmpeg/custom_ffmpeg.h"
#include "support/test_support.h"

namespace quillon::test {

class PreparedEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        load_libraries();
        engine.prepare_job();
        ASSERT_TRUE(engine.prepared());
        engine.log_sink = [this](TCustomFFmpeg&, int level, const std::string& text) {
            EXPECT_EQ(level, 1) << text;
            lines.push_back(text);
        };
    }

    // The message of the FFmpegException the call raises; empty when it raises none.
    static std::string error_of(const std::function<void()>& call)
    {
        try {
            call();
        } catch (const FFmpegException& error) {
            return error.what();
        }
        return {};
    }

    std::string option_error(const std::string& name, const std::string& value)
    {
        return error_of([&] { engine.parse_option(name, value); });
    }

    TCustomFFmpeg engine;
    std::vector<std::string> lines;
};

} // namespace quillon::test
