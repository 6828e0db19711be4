// Video filter graphs between decoder and encoder: real conversions with
// "hflip", "crop", "transpose" and an automatic scaler, and the refusals of
// crop options or resizing filters together with pad bands.
#include <gtest/gtest.h>

#include "hooks/hook_support.h"

using namespace quillon;
using namespace quillon::test;
using fixtures::ClipSpec;

namespace {

const Options mpeg_out{{"vcodec", "mpeg1video"}, {"qscale", "2"}};
const char* const pad_conflict = "Cannot enable pad options and the filters which resize frame at the same time. "
                                 "(crop, rotate, scale, transpose, etc.)";

std::filesystem::path filter_clip()
{
    return clip("filters-2s.mp4", ClipSpec{.duration = 2, .audio = false});
}

Options with(Options options, const Options& more)
{
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

// The clip's frame number read from the picture, optionally mirrored first.
int number_of(const BgrPicture& picture, bool mirrored, int top = 0)
{
    std::vector<uint8_t> rows;
    for (int y = top; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* pixel = picture.at(mirrored ? picture.width - 1 - x : x, y);
            rows.insert(rows.end(), pixel, pixel + 3);
        }
    return fixtures::read_frame_number(rows.data(), picture.width, picture.height - top, picture.stride());
}

class VideoFilterTest : public EngineTest {};

TEST_F(VideoFilterTest, FilterGraphsReachTheEncoder)
{
    struct Case {
        const char* name;
        Options options;
        int width, height;
        bool mirrored;
        bool readable; // the frame number survives the filters
        int pad_top = 0;
    };
    const Case cases[] = {
        {"hflip", {{"vfilters", "hflip"}}, 320, 240, true, true},
        {"hflip with scaling", {{"vfilters", "hflip"}, {"s", "352x288"}}, 352, 288, true, true},
        {"hflip twice", {{"vfilters", "hflip,hflip"}}, 320, 240, false, true},
        {"crop", {{"vfilters", "crop=160:120:0:120"}}, 160, 120, false, false},
        {"transpose", {{"vfilters", "transpose=1"}}, 240, 320, false, false},
        {"hflip with pads", {{"vfilters", "hflip"}, {"s", "320x240"}, {"padtop", "16"}, {"padbottom", "16"}}, 320, 272,
         true, true, 16},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        const auto out = scratch / "filtered.mpg";
        ASSERT_TRUE(engine.set_up(filter_clip(), with(mpeg_out, c.options), out));
        engine.run_here();
        ASSERT_FALSE(engine.failed) << c.name << ": " << engine.error_message;
        const MediaFacts facts = read_media(out);
        const StreamFacts* video = facts.first(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr) << c.name;
        EXPECT_EQ(video->width, c.width) << c.name;
        EXPECT_EQ(video->height, c.height) << c.name;
        int pictures = 0;
        for_each_bgr_picture(out, [&](const BgrPicture& picture) {
            ++pictures;
            if (c.readable) {
                EXPECT_EQ(number_of(picture, c.mirrored, c.pad_top), picture.index) << c.name;
                if (picture.index % 2) { // odd numbers read differently when mirrored
                    EXPECT_NE(number_of(picture, !c.mirrored, c.pad_top), picture.index) << c.name;
                }
            }
            if (c.pad_top) {
                EXPECT_LT(mean_level(picture, 100, 2, 10), 30) << c.name << ": the pad band";
            }
            return true;
        });
        EXPECT_EQ(pictures, 50) << c.name;
    }
}

TEST_F(VideoFilterTest, CropFromAnOddCornerKeepsThatCorner)
{
    // The right half of the picture holds the low bits of the frame number:
    // blocks 8..15, each 20 pixels wide. Frame 255 has all of them white.
    HookEngine engine;
    const auto out = scratch / "corner.mpg";
    ASSERT_TRUE(engine.set_up(filter_clip(), with(mpeg_out, {{"vfilters", "crop=160:64:160:0"}}), out));
    engine.run_here();
    ASSERT_FALSE(engine.failed) << engine.error_message;
    for_each_bgr_picture(out, [&](const BgrPicture& picture) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool set = (picture.index >> (7 - bit)) & 1;
            const double level = mean_level(picture, bit * 20 + 6, 4, 8);
            EXPECT_EQ(level > 128, set) << "picture " << picture.index << ", bit " << bit;
        }
        return picture.index < 20;
    });
}

TEST_F(VideoFilterTest, CropOrResizingFiltersWithPadsAreRefusedWhenTheOutputOpens)
{
    struct Case {
        Options options;
        const char* message;
    };
    const Case cases[] = {
        {{{"vfilters", "hflip"}, {"croptop", "16"}}, "Cannot enable crop options and filters at the same time."},
        {{{"vfilters", "hflip,Transpose=1"}, {"padtop", "16"}}, pad_conflict},
        {{{"vfilters", "scale=100:100"}, {"padleft", "16"}}, pad_conflict},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        ASSERT_TRUE(engine.open_input_file(filter_clip()));
        for (const auto& [name, value] : c.options) engine.parse_option(name, value);
        EXPECT_LT(engine.open_output_file(scratch / "refused.mpg"), 1);
        EXPECT_EQ(engine.last_error, c.message);
    }
}

TEST_F(VideoFilterTest, FilterSetUpFailuresEndTheJob)
{
    struct Case {
        const char* name;
        Options before_output, after_output;
        std::string message;
    };
    const Case cases[] = {
        // A resizing filter the name test does not know: the graph's size differs from the frame size.
        {"pad filter with pad bands", {{"vfilters", "pad=336:256"}, {"s", "320x240"}, {"padtop", "8"}, {"padbottom", "8"}}, {},
         std::string("Error opening filters: ") + pad_conflict},
        {"crop set after the output", {{"vfilters", "hflip"}}, {{"croptop", "16"}},
         "Error opening filters: Cannot enable crop options and filters at the same time."},
        {"unknown filter", {{"vfilters", "no_such_filter"}}, {}, "Error opening filters!"},
    };
    for (const Case& c : cases) {
        HookEngine engine;
        ASSERT_TRUE(engine.open_input_file(filter_clip()));
        for (const auto& [name, value] : with(mpeg_out, c.before_output)) engine.parse_option(name, value);
        ASSERT_EQ(engine.open_output_file(scratch / "failing.mpg"), 1) << c.name << ": " << engine.last_error;
        for (const auto& [name, value] : c.after_output) engine.parse_option(name, value);
        engine.run_here();
        EXPECT_TRUE(engine.failed) << c.name;
        EXPECT_EQ(engine.error_message, c.message) << c.name;
    }
}

} // namespace
