#include <gtest/gtest.h>

#include "updates/update_checks.h"

namespace {

using updates::Announced;
using updates::Updatable;

TEST(UpdateChecks, RunAtStartThenEveryFewHoursAndNotOnAMeteredConnectionUnlessAllowed) {
    constexpr uint64_t kHour = 3600ull * 1000;
    const struct {
        uint64_t now, last;
        int hours;
        uint64_t wait;
    } cases[] = {
        {5000, 0, 6, 0},                     // none ran yet in this run: at once
        {kHour, 1, 6, 5 * kHour + 1},        // six hours after the last began
        {7 * kHour, kHour, 6, 0},            // due exactly
        {9 * kHour, kHour, 6, 0},            // overdue (the machine slept)
        {2 * kHour, kHour, 168, 167 * kHour},
        {kHour + 1, 1, 0, 0},                // a bad setting checks hourly, never in a tight loop
    };
    for (const auto& c : cases) EXPECT_EQ(updates::msUntilNextCheck(c.now, c.last, c.hours), c.wait) << c.now;
    EXPECT_TRUE(updates::mayCheck(false, false));
    EXPECT_FALSE(updates::mayCheck(true, false));
    EXPECT_TRUE(updates::mayCheck(true, true));
    EXPECT_FALSE(updates::meteredCost(0x0) || updates::meteredCost(0x1) || updates::meteredCost(0x2));
    EXPECT_TRUE(updates::meteredCost(0x4) && updates::meteredCost(0x1 | 0x40000) && updates::meteredCost(0x2 | 0x80000));
}

TEST(UpdateChecks, ANoticeNamesEachAppOncePerVersionAcrossARestart) {
    const std::vector<Updatable> now = {{3, L"晨光日历", L"2.0"}, {7, L"清风便签", L"1.5"}, {9, L"Spruce", L"4.1"}};
    Announced announced = {{3, L"2.0"}, {7, L"1.4"}};
    const std::vector<Updatable> fresh = updates::toAnnounce(now, announced);
    ASSERT_EQ(fresh.size(), 2u);  // 清风便签 has moved on since its notice; Spruce is new
    EXPECT_EQ(fresh[0].id, 7);
    EXPECT_EQ(fresh[1].id, 9);
    updates::markAnnounced(announced, fresh);
    // The next run reads what this one kept: nothing is named twice.
    const Announced kept = updates::parseAnnounced(updates::announcedText(announced));
    EXPECT_EQ(kept, announced);
    EXPECT_TRUE(updates::toAnnounce(now, kept).empty());
    for (const char* broken : {"", "[]", "{\"announced\":{}}", "{\"announced\":[{\"id\":-1,\"version\":\"1\"}]}",
                               "{\"announced\":[{\"id\":\"3\",\"version\":\"1\"},null]}"})
        EXPECT_TRUE(updates::parseAnnounced(broken).empty()) << broken;
}

}  // namespace
