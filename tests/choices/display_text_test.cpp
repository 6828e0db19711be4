// The conversion list's time and size texts.
#include <gtest/gtest.h>

#include "Formatting/display_text.h"

namespace quillon {
namespace {

TEST(DisplayText, TimesAreHoursMinutesSecondsNeverCut)
{
    EXPECT_EQ(FormatTime(0), "00:00:00");
    EXPECT_EQ(FormatTime(3725), "01:02:05");
    EXPECT_EQ(FormatTime(360000), "100:00:00");
}

TEST(DisplayText, SizesChangeUnitStrictlyAboveEachPower)
{
    const std::pair<int64_t, std::string> cases[] = {
        {0, "0 bytes"},           {1024, "1024 bytes"},    {1025, "1 KB"},          {1536, "1.5 KB"},
        {1048576, "1024 KB"},     {1572864, "1.5 MB"},     {3221225472, "3 GB"},    {1075000000, "1 GB"},
        {1300000, "1.24 MB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

} // namespace
} // namespace quillon
