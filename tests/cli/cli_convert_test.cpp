// quillon convert run as a child process on generated clips.
#include <regex>

#include "cli/cli_test_support.h"

namespace quillon::test {
namespace {

using fixtures::Container;
namespace fs = std::filesystem;

struct FormatCase {
    std::vector<std::string> options;
    std::string name;   // of the output
    std::string format; // container as read back
    std::string video;
    std::string audio;  // empty: none
    int sample_rate;
};

TEST_F(CliTest, EachFormatWithAutoChoices)
{
    const fs::path source = clip("tiny.mp4", tiny_clip());
    const FormatCase cases[] = {
        {{"-f", "mpeg1"}, "tiny.mpeg", "mpeg", "mpeg1video", "mp3", 22050},
        {{"-f", "mpeg2"}, "tiny.mpeg", "mpeg", "mpeg2video", "mp3", 22050},
        {{"-f", "m1v"}, "tiny.m1v", "mpegvideo", "mpeg1video", "", 0},
        {{"-f", "m2v"}, "tiny.m2v", "mpegvideo", "mpeg2video", "", 0},
        {{"-f", "mpeg1", "--avi"}, "tiny.mpeg", "avi", "mpeg1video", "mp3", 22050},
        {{"-f", "m2v", "--avi"}, "tiny.m2v", "avi", "mpeg2video", "", 0},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.options[1] + (c.options.size() > 2 ? " avi" : ""));
        ScratchDir out("cli-out");
        std::vector<std::string> args{"convert", "-O", out.path().string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(source.string());
        const ProgramResult r = run_quillon({args});
        ASSERT_EQ(r.exit_code, 0) << shown(r);
        const MediaFacts facts = read_media(out / c.name);
        ASSERT_TRUE(facts.opened) << c.name << "\n" << shown(r);
        EXPECT_EQ(facts.format, c.format);
        ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->codec, c.video);
        EXPECT_EQ(facts.first(AVMEDIA_TYPE_VIDEO)->width, 160);
        EXPECT_NEAR(facts.first(AVMEDIA_TYPE_VIDEO)->frame_rate, 29.97, 0.01); // "Auto" is 29.97
        if (c.audio.empty()) {
            EXPECT_EQ(facts.count(AVMEDIA_TYPE_AUDIO), 0);
        } else {
            ASSERT_NE(facts.first(AVMEDIA_TYPE_AUDIO), nullptr);
            EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->codec, c.audio);
            EXPECT_EQ(facts.first(AVMEDIA_TYPE_AUDIO)->sample_rate, c.sample_rate);
        }
        EXPECT_NE(r.out.find("done"), std::string::npos) << shown(r);
    }
}

TEST_F(CliTest, ExplicitChoicesReachTheOutput)
{
    const fs::path source = clip("tiny.mp4", tiny_clip());
    const ProgramResult r = run_quillon({{"convert", "-O", scratch.path().string(), "-f", "mpeg2", "-q", "4", "--size",
                                          "96x72", "--rate", "25", "--aspect", "16:9", "--volume", "300",
                                          "--sample-rate", "44100", "--channels", "mono", "--duration", "600",
                                          source.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const MediaFacts facts = read_media(scratch / "tiny.mpeg");
    const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
    const StreamFacts* audio = facts.first(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(video && audio) << shown(r);
    EXPECT_EQ(video->width, 96);
    EXPECT_EQ(video->height, 72);
    EXPECT_NEAR(video->frame_rate, 25, 0.01);
    EXPECT_NEAR(96.0 * video->sar_num / video->sar_den / 72, 16.0 / 9, 0.02) << video->sar_num << ":" << video->sar_den;
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_NEAR(video->last_end - video->first_time, 0.6, 0.1); // --duration 600
}

TEST_F(CliTest, StartAndExtraOptionsReachTheRecords)
{
    const fs::path source = clip("tiny.mp4", tiny_clip());
    ProgramResult r = run_quillon({{"convert", "-O", scratch.path().string(), "--avi", "--rate", "25", "--start", "480",
                                    "-x", "metadata=title=Hello", "--input-option", "f=mov", source.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    const MediaFacts facts = read_media(scratch / "tiny.mpeg");
    EXPECT_EQ(facts.format, "avi");
    EXPECT_EQ(facts.title, "Hello");
    EXPECT_EQ(frame_number_of_picture(scratch / "tiny.mpeg", 0), 12); // 0.48 s into a 25 fps source
    r = run_quillon({{"convert", "-O", (scratch / "bad").string(), "--input-option", "f=nosuchformat", source.string()}});
    EXPECT_EQ(r.exit_code, 1) << shown(r);
    EXPECT_NE(r.out.find("format: nosuchformat"), std::string::npos) << shown(r);
}

TEST_F(CliTest, OutputNamesNeverOverwriteAndDropOnlyTheLastExtension)
{
    const fs::path dotted = scratch / "a.b.avi";
    fs::copy_file(clip("tiny.avi", tiny_clip(Container::avi)), dotted);
    const fs::path mp4 = scratch / "clip.mp4";
    fs::copy_file(clip("tiny.mp4", tiny_clip()), mp4);
    // No output folder: next to the sources. Two sources with one base name in one run.
    fs::copy_file(clip("tiny.mkv", tiny_clip(Container::matroska)), scratch / "clip.mkv");
    ProgramResult r = run_quillon({{"convert", mp4.string(), (scratch / "clip.mkv").string(), dotted.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    EXPECT_TRUE(fs::exists(scratch / "clip.mpeg"));
    EXPECT_TRUE(fs::exists(scratch / "clip_(1).mpeg"));
    EXPECT_TRUE(fs::exists(scratch / "a.b.mpeg"));
    // A second run takes the next free numbers.
    r = run_quillon({{"convert", mp4.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    EXPECT_TRUE(fs::exists(scratch / "clip_(2).mpeg"));
    r = run_quillon({{"convert", "-f", "dvd", "--tv", "pal", mp4.string()}});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    EXPECT_TRUE(fs::exists(scratch / "clip_dvd.mpg"));
    EXPECT_EQ(read_media(scratch / "clip_(1).mpeg").first(AVMEDIA_TYPE_VIDEO)->codec, "mpeg1video");
}

TEST_F(CliTest, TwoJobsConvertFourFiles)
{
    std::vector<std::string> args{"convert", "-j", "2", "-O", (scratch / "out").string()};
    for (int i = 0; i < 4; ++i) {
        const fs::path file = scratch / ("file" + std::to_string(i) + ".mp4");
        fs::copy_file(clip("tiny.mp4", tiny_clip()), file);
        args.push_back(file.string());
    }
    const ProgramResult r = run_quillon({args});
    ASSERT_EQ(r.exit_code, 0) << shown(r);
    for (int i = 0; i < 4; ++i) {
        const MediaFacts facts = read_media(scratch / "out" / ("file" + std::to_string(i) + ".mpeg"));
        ASSERT_TRUE(facts.opened) << i;
        EXPECT_GE(count_decoded_video_frames(scratch / "out" / ("file" + std::to_string(i) + ".mpeg")), 28) << i;
    }
}

TEST_F(CliTest, DamagedFilesFailAloneWithTheSystemsMessage)
{
    const fs::path good = clip("tiny.mp4", tiny_clip());
    const fs::path text = scratch / "notes.avi", empty = scratch / "empty.mp4";
    fixtures::damage_file({}, text, fixtures::Damage::not_media);
    fixtures::damage_file({}, empty, fixtures::Damage::zero_length);
    const ProgramResult r = run_quillon({{"convert", "-O", (scratch / "out").string(), text.string(), good.string(),
                                          empty.string(), (scratch / "missing.mp4").string()}});
    EXPECT_EQ(r.exit_code, 1) << shown(r);
    EXPECT_TRUE(read_media(scratch / "out" / "tiny.mpeg").opened) << shown(r);
    EXPECT_FALSE(fs::exists(scratch / "out" / "notes.mpeg"));
    // The summary names each failure with the library's words.
    EXPECT_NE(r.out.find("notes.avi: Unknown format"), std::string::npos) << shown(r);
    EXPECT_NE(r.out.find("missing.mp4: no such file or directory"), std::string::npos) << shown(r);
    EXPECT_NE(r.out.find("empty.mp4: Unknown format"), std::string::npos) << shown(r);
}

TEST_F(CliTest, JsonLinesDescribeEveryEventAndTheSummary)
{
    const fs::path good = clip("tiny.mp4", tiny_clip());
    const fs::path notes = scratch / "notes.avi";
    fixtures::damage_file({}, notes, fixtures::Damage::not_media);
    const ProgramResult r = run_quillon({{"convert", "--json", "--log-level", "info", "-O",
                                          (scratch / "out").string(), good.string(), notes.string()}});
    EXPECT_EQ(r.exit_code, 1) << shown(r);
    const std::vector<QJsonObject> events = json_lines(r);
    ASSERT_FALSE(events.empty());
    int ends = 0, logs = 0;
    for (const QJsonObject& e : events) {
        ends += e["event"] == "end";
        logs += e["event"] == "log";
    }
    EXPECT_EQ(ends, 2);
    EXPECT_GT(logs, 0); // information lines of the conversion
    const QJsonObject summary = events.back();
    EXPECT_EQ(text(summary["event"]), "summary");
    EXPECT_EQ(summary["exit_code"].toInt(), 1);
    EXPECT_EQ(summary["converted"].toInt(), 1);
    EXPECT_EQ(summary["failed"].toInt(), 1);
    const QJsonArray files = summary["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(text(files[0].toObject()["status"]), "done");
    EXPECT_EQ(text(files[0].toObject()["output"]), (scratch / "out" / "tiny.mpeg").string());
    EXPECT_GT(files[0].toObject()["size"].toInteger(), 0);
    EXPECT_EQ(text(files[1].toObject()["status"]), "failed");
    EXPECT_FALSE(text(files[1].toObject()["message"]).empty());
}

TEST_F(CliTest, CtrlCStopsCleanlyAndKeepsThePartialOutput)
{
    // Long enough to be interrupted on a fast machine too: a minute of small
    // pictures scaled up for a DVD; the first report of the first file stops it.
    const fs::path source = clip("long.mp4", {.duration = 60, .width = 64, .height = 48});
    fs::copy_file(source, scratch / "second.mp4");
    const ProgramResult r = run_quillon({.args = {"convert", "--json", "-f", "dvd", "-O", (scratch / "out").string(),
                                                  source.string(), (scratch / "second.mp4").string()},
                                         .interrupt_when = [](const std::string& out) {
                                             return std::regex_search(out, std::regex("\"index\":0,[^\n]*\"time_ms\":[1-9]"));
                                         }});
    EXPECT_EQ(r.exit_code, 130) << shown(r);
    const std::vector<QJsonObject> events = json_lines(r);
    ASSERT_FALSE(events.empty()) << shown(r);
    const QJsonArray files = events.back()["files"].toArray();
    ASSERT_EQ(files.size(), 2) << shown(r);
    EXPECT_EQ(text(files[0].toObject()["status"]), "stopped");
    EXPECT_EQ(text(files[1].toObject()["status"]), "not started");
    const fs::path partial = scratch / "out" / "long_dvd.mpg";
    EXPECT_EQ(text(files[0].toObject()["output"]), partial.string());
    const MediaFacts facts = read_media(partial);
    ASSERT_TRUE(facts.opened) << shown(r);
    ASSERT_NE(facts.first(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_GT(facts.first(AVMEDIA_TYPE_VIDEO)->packets, 0);
    EXPECT_LT(facts.first(AVMEDIA_TYPE_VIDEO)->last_end, 59.0); // stopped before the end
    EXPECT_FALSE(fs::exists(scratch / "out" / "second_dvd.mpg") && fs::file_size(scratch / "out" / "second_dvd.mpg") > 0);
}

} // namespace
} // namespace quillon::test
