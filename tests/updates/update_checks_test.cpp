#include <gtest/gtest.h>

#include "updates/auto_update.h"
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
    EXPECT_FALSE(updates::meteredCost(0x0) || updates::meteredCost(0x1));
    EXPECT_TRUE(updates::meteredCost(0x2) && updates::meteredCost(0x4) && updates::meteredCost(0x1 | 0x40000));
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

TEST(AutoUpdate, OnlyVouchedSilentPackagesInstallAndOnlyWhenTheCheckWasConfirmedTheUserIdleAndPowerEnough) {
    using updates::AutoInstall;
    using updates::AutoStart;
    const struct { bool sha256, match, silent, broken, refused, archive; AutoInstall expected; } packages[] = {
        {true, true, true, false, false, false, AutoInstall::Install},
        {false, true, true, false, false, false, AutoInstall::AwaitClick},  // an MD5 alone vouches for none
        {true, true, false, false, false, false, AutoInstall::AwaitClick},  // 静默安装 off, or a wizard only
        {true, true, true, false, false, true, AutoInstall::AwaitClick},    // an archive: the user unpacks it
        {true, false, true, false, false, false, AutoInstall::Refused},
        {true, true, true, true, false, false, AutoInstall::Refused},
        {true, true, true, false, true, false, AutoInstall::Refused},       // not the pinned publisher
    };
    for (const auto& p : packages) {
        const updates::PackageFacts facts{p.sha256, p.match, p.silent, p.broken, p.refused, p.archive};
        EXPECT_EQ(updates::autoInstallFor(facts), p.expected) << "row " << (&p - packages);
    }
    constexpr uint64_t kMinute = 60 * 1000;
    const struct { bool confirmed; uint64_t idleMs; int idleMinutes; bool onBattery; int percent; AutoStart expected; }
    starts[] = {
        {true, 0, 0, false, -1, AutoStart::Now},                       // 0 minutes: any time
        {false, 60 * kMinute, 5, false, 100, AutoStart::NotThisCheck},  // the cached copy alone
        {true, 5 * kMinute - 1, 5, false, 100, AutoStart::WaitForIdle},
        {true, 5 * kMinute, 5, false, 100, AutoStart::Now},
        {true, 1440 * kMinute, 1440, false, 100, AutoStart::Now},
        {true, 0, 0, true, 29, AutoStart::WaitForPower},
        {true, 0, 0, true, 30, AutoStart::Now},
        {true, 0, 0, false, 10, AutoStart::Now},                       // charging
        {true, 0, 0, true, -1, AutoStart::Now},                        // the charge is not known
    };
    for (const auto& s : starts)
        EXPECT_EQ(updates::autoStartVerdict({s.confirmed, s.idleMs, s.idleMinutes, s.onBattery, s.percent}), s.expected)
            << s.idleMs << " " << s.percent;
    updates::StartFacts metered{true, 0, 0, false, -1};
    metered.metered = true;  // no package comes over a metered connection unless checks may
    EXPECT_EQ(updates::autoStartVerdict(metered), AutoStart::NotThisCheck);
}

}  // namespace
