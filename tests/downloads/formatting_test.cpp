#include <gtest/gtest.h>

#include <windows.h>

#include "downloads/formatting.h"

namespace {

TEST(Formatting, SizesAtTheUnitBoundaries) {
    struct Case {
        int64_t bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {-5, L"0 B"},           {0, L"0 B"},
        {1, L"1 B"},            {1023, L"1023 B"},
        {1024, L"1 KB"},        {2047, L"1 KB"},
        {1048575, L"1023 KB"},  {1048576, L"1.0 MB"},
        {1572864, L"1.5 MB"},   {1073741823, L"1024.0 MB"},
        {1073741824, L"1.00 GB"}, {5368709120LL, L"5.00 GB"},
        {INT64_MAX, L"8589934592.00 GB"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatSize(c.bytes), c.text) << c.bytes;
}

TEST(Formatting, SpeedsAtTheUnitBoundaries) {
    struct Case {
        int32_t speed;
        const wchar_t* text;
    };
    const Case cases[] = {
        {INT32_MIN, L""}, {-1, L""},           {0, L""},           {1, L"1 B/s"},
        {1023, L"1023 B/s"}, {1024, L"1 KB/s"}, {1536, L"1 KB/s"},  {1048575, L"1023 KB/s"},
        {1048576, L"1.0 MB/s"}, {INT32_MAX, L"2048.0 MB/s"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatSpeed(c.speed), c.text) << c.speed;
}

TEST(Formatting, DatesShowLocalMonthAndDay) {
    EXPECT_EQ(formatDate(0), L"");
    EXPECT_EQ(formatDate(-1), L"");
    EXPECT_EQ(formatDate(INT64_MAX), L"");
    // Noon UTC is the same calendar day in every zone within eleven hours of UTC.
    EXPECT_EQ(formatDate(1733659200000LL), L"12-08");  // 2024-12-08 12:00 UTC
    EXPECT_EQ(formatDate(1718280000000LL), L"06-13");  // 2024-06-13 12:00 UTC

    // 1 March 00:30 UTC: the 1st at or east of UTC, the last day of February west of it.
    TIME_ZONE_INFORMATION zone{};
    const DWORD mode = ::GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (mode == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    if (mode == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    EXPECT_EQ(formatDate(1709253000000LL), bias <= 0 ? L"03-01" : L"02-29");  // 2024-03-01 00:30 UTC
}

}  // namespace
