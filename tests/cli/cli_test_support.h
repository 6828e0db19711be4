// Shared pieces of the command-line suites: tiny generated clips and a
// scratch folder per test.
#pragma once

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <string>

#include "cli/quillon_process.h"
#include "fixtures/fixture.h"
#include "support/engine_fixture.h"
#include "support/media_check.h"
#include "support/test_support.h"

namespace quillon::test {

// A 1 s clip of 160x120 at 25 fps with stereo sound at 48 kHz.
inline fixtures::ClipSpec tiny_clip(fixtures::Container container = fixtures::Container::mp4)
{
    return {.container = container, .duration = 1.0, .width = 160, .height = 120};
}

class CliTest : public ::testing::Test {
protected:
    ScratchDir scratch{"cli"};
    std::string path(const std::string& name) const { return (scratch / name).string(); }
};

// The program's output with its error output, for failure messages.
inline std::string shown(const ProgramResult& r) { return "stdout:\n" + r.out + "\nstderr:\n" + r.err; }

// Every line of the output read as a JSON object.
inline std::vector<QJsonObject> json_lines(const ProgramResult& r)
{
    std::vector<QJsonObject> objects;
    for (const std::string& line : r.out_lines()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << "not JSON: " << line;
        EXPECT_TRUE(document.isObject()) << line;
        objects.push_back(document.object());
    }
    return objects;
}

inline std::string text(const QJsonValue& value) { return value.toString().toStdString(); }


} // namespace quillon::test
