#include <gtest/gtest.h>

#include "render/app_icon.h"
#include "render/download_page_painter.h"
#include "render/focus_targets.h"
#include "render/layout.h"
#include "render_fixture.h"
#include "support/paint_surface.h"

namespace {

using rendertest::describe;
using rendertest::nearColour;
using rendertest::over;
using rendertest::sameRect;

class DownloadPagePaint : public rendertest::PaintTest {
protected:
    DownloadPagePaint() { app.page = Page::Downloads; }
    // The page's own regions: those below the header.
    std::vector<HitRegion> contentRegions() const {
        std::vector<HitRegion> found;
        for (const HitRegion& r : app.hitRegions)
            if (r.rect.top >= layout::kHeaderHeight && r.kind != HitKind::Category && r.kind != HitKind::Reload)
                found.push_back(r);
        return found;
    }
};

TEST_F(DownloadPagePaint, EmptyPageHasTheHeaderButtonsOnly) {
    paint(1000, 660);
    const std::vector<HitRegion> regions = contentRegions();
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions[0].kind, HitKind::ClearCompleted);
    EXPECT_TRUE(sameRect(regions[0].rect, {880, 86, 976, 112}));
    EXPECT_EQ(regions[1].kind, HitKind::OpenDir);
    EXPECT_TRUE(sameRect(regions[1].rect, {898, 120, 976, 146}));
    EXPECT_EQ(regions[2].kind, HitKind::ChangeDir);
    EXPECT_TRUE(sameRect(regions[2].rect, {812, 120, 890, 146}));
    EXPECT_TRUE(regionsOf(HitKind::CardAction).empty());
}

TEST_F(DownloadPagePaint, RowButtonsSitInTheirSlotsInAscendingAppId) {
    addTask(40, Installing);
    addTask(7, Downloading, 10, 100);
    addTask(12, Completed);
    addTask(13, Completed).isArchive = true;
    addTask(20, Failed);
    addTask(25, Paused, 30, 100);
    addApp(25, L"映月播放器", L"c0");  // the catalogue still lists its package: 继续 goes on with it
    paint(1180, 780);
    const int w = 1180;
    struct Expected {
        HitKind kind;
        int32_t param;
        RECT rect;
    };
    auto primary = [&](int k) { int b = 216 + 96 * k; return RECT{w - 112, b - 30, w - 36, b}; };
    auto second = [&](int k) { int b = 216 + 96 * k; return RECT{w - 198, b - 30, w - 122, b}; };
    auto wide = [&](int k) { int b = 216 + 96 * k; return RECT{w - 136, b - 30, w - 36, b}; };
    const Expected expected[] = {
        {HitKind::RowCancel, 7, primary(0)},     {HitKind::RowPause, 7, second(0)},
        {HitKind::RowInstall, 12, primary(1)},   {HitKind::RowOpenFolder, 12, second(1)},
        {HitKind::RowOpenFolder, 13, wide(2)},   {HitKind::RowRetry, 20, primary(3)},
        {HitKind::RowCancel, 25, primary(4)},    {HitKind::RowResume, 25, second(4)},
        {HitKind::RowOpenFolder, 40, wide(5)},
    };
    std::vector<HitRegion> rows;
    for (const HitRegion& r : contentRegions())
        if (r.kind != HitKind::ClearCompleted && r.kind != HitKind::OpenDir && r.kind != HitKind::ChangeDir)
            rows.push_back(r);
    ASSERT_EQ(rows.size(), std::size(expected));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].kind, expected[i].kind) << i;
        EXPECT_EQ(rows[i].param, expected[i].param) << i;
        EXPECT_TRUE(sameRect(rows[i].rect, expected[i].rect)) << i << " " << describe(rows[i].rect).c_str();
    }
    // Filled buttons are blue, outlined ones white: 取消 and 暂停 are outlined, 继续 filled.
    EXPECT_TRUE(nearColour(pixel(w - 74, 312 - 27), 0x2563EB, 2));
    EXPECT_TRUE(nearColour(pixel(w - 160, 312 - 27), 0xFFFFFF, 2));
    EXPECT_TRUE(nearColour(pixel(w - 74, 216 - 27), 0xFFFFFF, 2));
    EXPECT_TRUE(nearColour(pixel(w - 160, 216 - 27), 0xFFFFFF, 2));
    EXPECT_TRUE(nearColour(pixel(w - 74, 600 - 27), 0xFFFFFF, 2));
    EXPECT_TRUE(nearColour(pixel(w - 160, 600 - 27), 0x2563EB, 2));
}

TEST_F(DownloadPagePaint, FifthRowFitsAndTheSixthCannotBeClicked) {
    for (int id = 1; id <= 6; ++id) addTask(id, Downloading, 1, 2);
    paint(1000, 660);
    EXPECT_TRUE(sameRect(regionOf(HitKind::RowCancel, 5).rect, {888, 570, 964, 600}));
    EXPECT_TRUE(sameRect(regionOf(HitKind::RowPause, 5).rect, {802, 570, 878, 600}));
    EXPECT_GE(regionOf(HitKind::RowPause, 6).rect.top, 660);  // below the window: no point of it is in the client
}

// The keyboard's focus stays on its download when one is added above it, and follows the keys' moves.
TEST_F(DownloadPagePaint, TheFocusStaysOnItsRowWhenARowIsAddedAbove) {
    for (int id : {10, 20}) addTask(id, Downloading, 1, 2);
    app.focus = KeyboardFocus{FocusTarget{FocusRegion::Content, 1, 1}, true};
    paint(1000, 660);
    addTask(5, Downloading, 1, 2);
    paint(1000, 660);
    EXPECT_EQ(focusControl(app, inputs, app.focus.target, 1000, 660).value().param, 20);  // what Space presses
    app.focus.target.index = 0;  // moved by a key: the new place holds
    EXPECT_EQ(holdFocus(app, inputs, 1000, 660).index, 0);
}

// Rows wholly below the window are not drawn, so their icons are not fetched; their buttons stay recorded.
TEST_F(DownloadPagePaint, RowsBelowTheWindowFetchNoIcon) {
    addCategories({L"工具"});
    for (int id = 1; id <= 8; ++id) {
        addApp(id, L"应用", L"c0").icon = L"/media/icons/" + std::to_wstring(id) + L".png";
        addTask(id, Downloading, 1, 2);
    }
    std::vector<int32_t> requested;
    inputs.requestIcon = [&requested](const AppInfo& info, int size) {
        EXPECT_EQ(size, 48) << "rows draw icons at 48 pixels";
        requested.push_back(info.id);
    };
    paint(1000, 660);
    EXPECT_EQ(requested, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));  // the sixth row (top 638) is partly seen
    for (int32_t id = 7; id <= 8; ++id) EXPECT_GE(regionOf(HitKind::RowCancel, id).rect.top, 660) << id;
}

TEST_F(DownloadPagePaint, ProgressBarByStateAndPercent) {
    const int w = 1000;
    addTask(1, Downloading, 0, 1000);
    addTask(2, Downloading, 500, 1000);
    addTask(3, Downloading, 1000, 1000);
    addTask(4, Downloading, 700, 0);  // unknown total: no fill
    addTask(5, Failed, 300, 1000);
    addTask(6, Completed, 1000, 1000);
    addTask(7, Paused, 500, 1000);
    paint(w, 900);
    auto barY = [](int k) { return 216 + 96 * k - 9; };
    const uint32_t track = 0xF0F1F4, blue = 0x2563EB;
    EXPECT_TRUE(nearColour(pixel(302, barY(0)), track, 1));
    EXPECT_TRUE(nearColour(pixel(515, barY(1)), blue, 2));  // 50 % of 442 ends at 519
    EXPECT_TRUE(nearColour(pixel(524, barY(1)), track, 1));
    EXPECT_TRUE(nearColour(pixel(736, barY(2)), blue, 2));  // 100 % reaches the track's end at 740
    EXPECT_TRUE(nearColour(pixel(302, barY(3)), track, 1));
    EXPECT_TRUE(nearColour(pixel(600, barY(4)), over(0x46F53F3F, track), 3));
    EXPECT_TRUE(nearColour(pixel(600, barY(5)), 0x00B42A, 2));
    EXPECT_TRUE(nearColour(pixel(515, barY(6)), blue, 2));  // paused: the fill stays where it was
    EXPECT_TRUE(nearColour(pixel(524, barY(6)), track, 1));
}

TEST_F(DownloadPagePaint, DigestMismatchTitleIsRedAndUnknownAppsGetThePlaceholder) {
    addTask(99, Completed).md5Ok = false;  // not in the catalogue
    paint(1180, 780);
    const int b = 216;
    bool red = false;
    for (int x = 298; x < 700 && !red; ++x)
        for (int y = b - 46; y < b - 22 && !red; ++y) red = nearColour(pixel(x, y), 0xF53F3F, 24);
    EXPECT_TRUE(red);
    EXPECT_TRUE(nearColour(pixel(241, b - 15), placeholderColours(nullptr).fill, 2));
}

TEST_F(DownloadPagePaint, OutlinedButtonsShowTheirHoverLook) {
    const int w = 1180;
    paint(w, 780);
    auto snapshot = [&](const RECT& r) {
        std::vector<uint32_t> pixels;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) pixels.push_back(pixel(x, y));
        return pixels;
    };
    const RECT open{w - 102, 120, w - 24, 146}, clear{w - 120, 86, w - 24, 112};
    const auto openIdle = snapshot(open), clearIdle = snapshot(clear);
    const uint32_t clearEdge = pixel(w - 72, 86), openEdge = pixel(w - 63, 120);

    hover(HitKind::OpenDir);
    paint(w, 780);
    EXPECT_NE(snapshot(open), openIdle);
    EXPECT_NE(pixel(w - 63, 120), openEdge);  // the outline turns blue
    EXPECT_EQ(snapshot(clear), clearIdle);

    hover(HitKind::ClearCompleted);
    paint(w, 780);
    EXPECT_NE(snapshot(clear), clearIdle);  // the label turns blue
    EXPECT_EQ(pixel(w - 72, 86), clearEdge);  // the outline does not
}

// A row's card, icon, title and buttons are a kept face; the bar and status line are drawn over it.
// Both follow the task from paint to paint.
TEST_F(DownloadPagePaint, KeptRowsFollowTheirTask) {
    const int w = 1000;
    TaskSnapshot& task = addTask(5, Downloading, 250, 1000);
    paint(w, 660);
    const RECT slot = layout::rowPrimarySlot(w, 216);
    const uint32_t cancelButton = pixel(slot.left + 10, slot.top + 4);  // 取消: outlined, white
    EXPECT_TRUE(nearColour(cancelButton, 0xFFFFFF, 2));
    const int quarter = downloadRowProgressRight(w, 25), threeQuarters = downloadRowProgressRight(w, 75);
    EXPECT_TRUE(nearColour(pixel(quarter - 6, 207), 0x2563EB, 2));
    EXPECT_TRUE(nearColour(pixel(threeQuarters - 6, 207), 0xF0F1F4, 1));

    task.receivedBytes = 750;
    paint(w, 660);
    EXPECT_TRUE(nearColour(pixel(threeQuarters - 6, 207), 0x2563EB, 2));

    task.state = Completed;  // "安装" takes the slot, filled blue
    task.receivedBytes = 1000;
    paint(w, 660);
    EXPECT_TRUE(nearColour(pixel(slot.left + 10, slot.top + 4), 0x2563EB, 2));
    EXPECT_TRUE(nearColour(pixel(threeQuarters - 6, 207), 0x00B42A, 2));
}

class UpdatesPagePaint : public rendertest::PaintTest {
protected:
    UpdatesPagePaint() {
        app.page = Page::Updates;
        app.installed.everRead = true;
    }
    AppInfo& addUpdatable(int32_t id) {
        AppInfo& info = addApp(id, L"应用" + std::to_wstring(id), L"c0");
        info.version = L"2.0";
        InstallStatus status;
        status.registration.displayVersion = L"1.0";
        status.updatable = true;
        app.installed.byId[id] = status;
        return info;
    }
    bool showsMessage(const std::wstring& text) const {
        return qbtest::showsText(*surface_, {200, 214, surface_->width(), 284},
                                 {201, 214, surface_->width(), 284}, text, app.uiFonts[FontBody], 0x86909C, 0xF5F6F8,
                                 kTextCentred);
    }
};

TEST_F(UpdatesPagePaint, RowsScrollUnderTheHeadingLineAndOnlyTheirShownPartIsClicked) {
    for (int32_t id = 1; id <= 8; ++id) addUpdatable(id);
    addApp(20, L"未安装", L"c0");
    addUpdatable(21).hasPackage = false;  // nothing to update with
    addUpdatable(22);
    app.installed.updateRefused[22] = L"2.0";  // its update left the version as it was
    app.contentScroll = 100000;
    paint(1000, 660);
    // Eight rows are 766 pixels in a view of 510: the offset is clamped to 270.
    EXPECT_EQ(app.contentScroll, 270);
    EXPECT_TRUE(app.contentScrollBar.visible);
    EXPECT_TRUE(sameRect(app.contentScrollBar.track, {981, 150, 985, 660}));
    std::vector<int32_t> rows;
    for (const HitRegion& r : regionsOf(HitKind::UpdateRow)) rows.push_back(r.param);
    // The third row shows its lower edge under the heading line, but not its button.
    EXPECT_EQ(rows, (std::vector<int32_t>{4, 5, 6, 7, 8}));
    EXPECT_TRUE(sameRect(regionOf(HitKind::UpdateRow, 8).rect, {864, 588, 964, 618}));
    EXPECT_TRUE(sameRect(regionOf(HitKind::UpdateAll).rect, {880, 86, 976, 112}));

    app.contentScroll = 40;  // the first row's button half under the heading line
    paint(1000, 660);
    EXPECT_TRUE(sameRect(regionOf(HitKind::UpdateRow, 1).rect, {864, 150, 964, 176}));
    EXPECT_TRUE(nearColour(pixel(870, 163), 0xFF7D00, 2));
    EXPECT_TRUE(nearColour(pixel(870, 148), 0xF5F6F8, 0));  // cut at the view: nothing drawn above it
}

TEST_F(UpdatesPagePaint, EachRowShowsTheCardsButtonForItsTask) {
    for (int32_t id = 1; id <= 5; ++id) addUpdatable(id);
    addTask(2, Downloading, 50, 100);
    addTask(3, InstallQueued);
    addTask(4, Installing);
    addTask(5, Failed);  // a failed update offers 升 级 again
    hover(HitKind::UpdateRow, 1);
    paint(1180, 780);
    const int left = 1180 - 136 + 6;
    auto at = [&](int k) { return pixel(left, layout::downloadRowBase(k) - 15); };
    EXPECT_TRUE(nearColour(at(0), 0xE56F00, 2));  // hovered
    EXPECT_TRUE(nearColour(at(1), over(0x462563EB, 0xF2F3F5), 2));
    EXPECT_TRUE(nearColour(pixel(1180 - 45, layout::downloadRowBase(1) - 15), 0xF2F3F5, 2));  // past 50 %
    EXPECT_TRUE(nearColour(at(2), 0xF2F3F5, 2));
    EXPECT_TRUE(nearColour(at(3), over(0x2600B42A, 0xFFFFFF), 2));
    EXPECT_TRUE(nearColour(at(4), 0xFF7D00, 2));
    EXPECT_EQ(regionsOf(HitKind::UpdateRow).size(), 5u);
    EXPECT_FALSE(app.contentScrollBar.visible);
}

TEST_F(UpdatesPagePaint, AnEmptyPageSaysWhetherTheRegistrationsWereRead) {
    addApp(1, L"画图", L"c0");
    app.installed.everRead = false;
    paint(1000, 660);
    EXPECT_TRUE(showsMessage(L"正在检查已安装的软件..."));
    EXPECT_TRUE(regionsOf(HitKind::UpdateAll).empty());
    app.installed.everRead = true;
    paint(1000, 660);
    EXPECT_TRUE(showsMessage(L"所有软件都是最新版本"));
    EXPECT_FALSE(showsMessage(L"正在检查已安装的软件..."));
    EXPECT_TRUE(regionsOf(HitKind::UpdateRow).empty());
}

}  // namespace
