#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <climits>

namespace quelvo {
namespace {

TEST(DateTime, ZeroAndDayCount) {
    const TDateTime zero;
    EXPECT_TRUE(zero.IsZero());
    EXPECT_EQ(zero.Days(), 0);
    EXPECT_EQ(TDateTime::FromDate(1900, 1, 1).Days(), 2);
    EXPECT_EQ(TDateTime::FromDate(2000, 1, 1).Days(), 36526);  // a well-known serial
    EXPECT_EQ(TDateTime::FromDays(36526), TDateTime::FromDate(2000, 1, 1));
    EXPECT_EQ(TDateTime::FromDays(-1), TDateTime::FromDate(1899, 12, 29));
    EXPECT_FALSE(TDateTime::FromDate(2026, 1, 1).IsZero());
}

TEST(DateTime, BrazilianFormats) {
    const TDateTime t{2026, 3, 7, 9, 5, 4, 0};
    EXPECT_EQ(FormatShortDate(t), "07/03/2026");
    EXPECT_EQ(FormatLongTime(t), "09:05:04");
    EXPECT_EQ(FormatDateTime(t), "07/03/2026 09:05:04");
    EXPECT_EQ(FormatDateTime(TDateTime::FromDate(2015, 6, 22)), "22/06/2015");
    EXPECT_EQ(FormatDateTime(TDateTime{2015, 6, 22, 0, 0, 0, 1}), "22/06/2015 00:00:00");
}

TEST(DateTime, ParseShortDate) {
    EXPECT_EQ(ParseShortDate("29/02/2024"), TDateTime::FromDate(2024, 2, 29));
    EXPECT_EQ(ParseShortDate("1/2/2030"), TDateTime::FromDate(2030, 2, 1));
    for (const char* bad : {"", "29/02/2023", "31/04/2026", "2026-01-01", "01/01/26x", "1/1",
                            "aa/bb/cccc", "01/13/2026", "001/01/2026"}) {
        EXPECT_FALSE(ParseShortDate(bad)) << bad;
    }
}

TEST(DateTime, ThousandsSeparator) {
    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1234), "1.234");
    EXPECT_EQ(FormatThousands(1234567), "1.234.567");
    EXPECT_EQ(FormatThousands(-1000), "-1.000");
    EXPECT_EQ(FormatThousands(LLONG_MIN), "-9.223.372.036.854.775.808");
}

}  // namespace
}  // namespace quelvo
