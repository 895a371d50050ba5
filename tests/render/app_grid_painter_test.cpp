#include <gtest/gtest.h>

#include "render/layout.h"
#include "render/paint_cache.h"
#include "render_fixture.h"

namespace {

using rendertest::describe;
using rendertest::nearColour;
using rendertest::over;
using rendertest::sameRect;

class GridPaint : public rendertest::PaintTest {
protected:
    void catalogueOf(int apps, const std::wstring& categoryName = L"办公软件") {
        addCategories({categoryName});
        app.selectedCategoryId = L"c0";
        for (int i = 1; i <= apps; ++i) addApp(i, L"应用" + std::to_wstring(i), L"c0");
    }
    RECT buttonOf(int32_t appId) const { return regionOf(HitKind::CardAction, appId).rect; }
    // Leftmost and rightmost column of dark text pixels in a band.
    std::pair<int, int> inkColumns(const RECT& band) const {
        int left = -1, right = -1;
        for (int x = band.left; x < band.right; ++x)
            for (int y = band.top; y < band.bottom; ++y)
                if ((pixel(x, y) & 0xFF) < 0x80) {
                    if (left < 0) left = x;
                    right = x;
                }
        return {left, right};
    }
};

TEST_F(GridPaint, SevenAppsInThreeColumnsAtTheSmallestWindow) {
    catalogueOf(7);
    app.contentScroll = 100000;
    paint(1000, 660);
    EXPECT_EQ(app.contentScroll, 224);
    const std::vector<HitRegion> buttons = regionsOf(HitKind::CardAction);
    ASSERT_EQ(buttons.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        const int x = 226 + (i % 3) * 254, y = 126 + (i / 3) * 248 - 224;
        EXPECT_EQ(buttons[i].param, i + 1);
        EXPECT_TRUE(sameRect(buttons[i].rect, {x + 70, y + 188, x + 170, y + 220})) << describe(buttons[i].rect).c_str();
    }
    const ScrollBarInfo& bar = app.contentScrollBar;
    EXPECT_TRUE(bar.visible);
    EXPECT_EQ(bar.maxScroll, 224);
    EXPECT_EQ(bar.viewHeight, 534);
    EXPECT_EQ(bar.thumbHeight, 383);
    EXPECT_EQ(bar.trackTop, 126);
    EXPECT_TRUE(sameRect(bar.track, {981, 126, 985, 660}));
    EXPECT_TRUE(sameRect(bar.thumb, {981, 277, 985, 660}));

    app.contentScroll = -40;
    paint(1000, 660);
    EXPECT_EQ(app.contentScroll, 0);
    EXPECT_TRUE(sameRect(app.contentScrollBar.thumb, {981, 126, 985, 509}));
}

TEST_F(GridPaint, FourColumnsAtTheDefaultWidthAndNoBarWhenTheCardsFit) {
    catalogueOf(8);
    app.contentScroll = 77;
    paint(1180, 780);
    EXPECT_EQ(app.contentScroll, 0);  // 2 rows (496) fit the 654-pixel view
    EXPECT_FALSE(app.contentScrollBar.visible);
    EXPECT_TRUE(sameRect(buttonOf(4), {226 + 3 * 235 + 60, 314, 226 + 3 * 235 + 160, 346}));
    EXPECT_TRUE(sameRect(buttonOf(5), {286, 562, 386, 594}));
}

TEST_F(GridPaint, HalfHiddenButtonKeepsItsWholeRegion) {
    catalogueOf(12);
    app.contentScroll = 200;  // first row at y = -74: its buttons straddle the heading's edge at 126
    paint(1000, 660);
    EXPECT_TRUE(sameRect(buttonOf(1), {296, 114, 396, 146})) << describe(buttonOf(1)).c_str();
    EXPECT_TRUE(nearColour(pixel(346, 121), 0xF5F6F8, 0));  // clipped away above the grid
    EXPECT_TRUE(nearColour(pixel(330, 143), 0x2563EB, 2));   // the visible part
}

TEST_F(GridPaint, CardsScrolledWhollyOutOfViewAreSkipped) {
    catalogueOf(12);
    app.contentScroll = 250;  // the first row ends at 126 - 250 + 248 + 234 - 248 = 110
    paint(1000, 660);
    EXPECT_TRUE(regionsOf(HitKind::CardAction).front().param == 4);
}

TEST_F(GridPaint, OnlyAppsOfTheSelectedCategoryEachOnce) {
    addCategories({L"办公软件", L"游戏娱乐"});
    app.selectedCategoryId = L"c1";
    addApp(10, L"甲", L"c0");
    AppInfo& both = addApp(11, L"乙", L"c1");
    both.categoryIds = {L"c1", L"c0", L"c1"};
    addApp(12, L"丙", L"c1");
    paint(1180, 780);
    const std::vector<HitRegion> buttons = regionsOf(HitKind::CardAction);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].param, 11);
    EXPECT_EQ(buttons[1].param, 12);

    app.selectedCategoryId = L"gone";
    paint(1180, 780);
    EXPECT_TRUE(regionsOf(HitKind::CardAction).empty());
    EXPECT_FALSE(app.contentScrollBar.visible);
}

TEST_F(GridPaint, ButtonFillByState) {
    catalogueOf(10);
    app.catalogue.findApp(1)->hasPackage = false;
    addTask(3, Downloading, 0, 1000);
    addTask(4, Verifying, 0, 0);
    addTask(5, Completed);
    addTask(6, Failed);
    addTask(7, Cancelled);
    addTask(8, Installed);
    addTask(9, Installing);
    addTask(10, InstallCancelled).isArchive = true;
    paint(1180, 1100);  // three rows of cards, all in the picture
    const uint32_t green = over(0x2600B42A, 0xFFFFFF);
    const uint32_t expected[10] = {0xF2F3F5, 0x2563EB, 0xF2F3F5, 0xF2F3F5, 0x2563EB,
                                   0x2563EB, 0x2563EB, green,    green,    0x2563EB};
    for (int id = 1; id <= 10; ++id) {
        const RECT b = buttonOf(id);
        EXPECT_TRUE(nearColour(pixel(b.left + 97, b.top + 16), expected[id - 1], 2)) << "app " << id;
    }
}

// After an uninstall the task that installed the app no longer says so; a later task does again.
TEST_F(GridPaint, UninstallingAndUninstalledCards) {
    catalogueOf(3);
    for (int32_t id = 1; id <= 3; ++id) addTask(id, Installed).generation = 10 + id;
    app.installed.byId[1];
    app.installed.uninstalling = {1};
    app.installed.uninstalledTasks = {{2, 12}, {3, 4}};  // app 3 was uninstalled before its current task
    paint(1180, 780);
    const uint32_t expected[3] = {0xF2F3F5, 0x2563EB, over(0x2600B42A, 0xFFFFFF)};
    for (int32_t id = 1; id <= 3; ++id) {
        const RECT b = buttonOf(id);
        EXPECT_TRUE(nearColour(pixel(b.left + 97, b.top + 16), expected[id - 1], 2)) << "app " << id;
    }
}

TEST_F(GridPaint, HoverDarkensPrimaryButtonsAndTheCardBorderOnly) {
    catalogueOf(3);
    addTask(3, Installed);
    paint(1180, 780);
    const RECT primary = buttonOf(2), installed = buttonOf(3);
    const uint32_t border = pixel(226 + 235, 126 + 100);
    const uint32_t greenIdle = pixel(installed.left + 97, installed.top + 16);

    hover(HitKind::CardAction, 2);
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(primary.left + 97, primary.top + 16), 0x1D4ED8, 2));
    EXPECT_NE(pixel(226 + 235, 126 + 100), border);  // the hovered card's left edge
    EXPECT_TRUE(nearColour(pixel(buttonOf(1).left + 97, buttonOf(1).top + 16), 0x2563EB, 2));

    hover(HitKind::CardAction, 3);
    paint(1180, 780);
    EXPECT_EQ(pixel(installed.left + 97, installed.top + 16), greenIdle);
}

TEST_F(GridPaint, ProgressFillIsOnePixelPerPercent) {
    catalogueOf(3);
    addTask(1, Downloading, 0, 200);
    addTask(2, Downloading, 100, 200);
    addTask(3, Downloading, 200, 200);
    paint(1180, 780);
    const uint32_t neutral = 0xF2F3F5, filled = over(0x462563EB, 0xF2F3F5);
    const RECT zero = buttonOf(1), half = buttonOf(2), full = buttonOf(3);
    EXPECT_TRUE(nearColour(pixel(zero.left + 8, zero.top + 16), neutral, 2));
    EXPECT_TRUE(nearColour(pixel(zero.left + 20, zero.top + 4), neutral, 2));
    EXPECT_TRUE(nearColour(pixel(half.left + 40, half.top + 4), filled, 3));
    EXPECT_TRUE(nearColour(pixel(half.left + 55, half.top + 4), neutral, 2));
    EXPECT_TRUE(nearColour(pixel(full.left + 90, full.top + 4), filled, 3));
    EXPECT_TRUE(nearColour(pixel(full.left + 97, full.top + 16), filled, 3));
}

TEST_F(GridPaint, CommonCategoryShowsNamesWithoutVersions) {
    catalogueOf(1, L"常用软件");
    paint(1180, 780);
    const RECT nameBand{226 + 8, 126 + 104, 226 + 221 - 8, 126 + 128};
    const auto common = inkColumns(nameBand);
    app.catalogue.categories[0].name = L"办公软件";
    paint(1180, 780);
    const auto other = inkColumns(nameBand);
    ASSERT_GE(common.first, 0);
    ASSERT_GE(other.first, 0);
    EXPECT_GT(common.first, other.first + 10);  // "v1.0" widens the centred pair
    EXPECT_LT(common.second, other.second - 10);

    // Names are drawn as the catalogue gives them: "&" marks no keyboard shortcut.
    app.catalogue.categories[0].name = L"常用软件";
    app.catalogue.apps[0].name = L"&";
    addApp(2, L"&&", L"c0");
    paint(1180, 780);
    const auto one = inkColumns(nameBand), two = inkColumns({nameBand.left + 235, 230, nameBand.right + 235, 254});
    EXPECT_GT(two.second - two.first, one.second - one.first + 4);
}

TEST_F(GridPaint, LongNamesAreCutSoTheVersionKeepsItsPlace) {
    catalogueOf(1);
    app.catalogue.apps[0].name = L"一个名字非常非常非常非常长的应用程序";
    paint(1180, 780);
    const RECT nameBand{226 + 8, 126 + 104, 226 + 221 - 8, 126 + 128};
    const auto ink = inkColumns(nameBand);
    EXPECT_LE(ink.first, nameBand.left + 2);
    EXPECT_GE(ink.second, nameBand.right - 4);  // the version label ends at the right margin
}

// Each card is a cached face: one whose hover, icon or task look changes is drawn again, the
// others are copied as they were.
TEST_F(GridPaint, CachedCardFacesFollowHoverIconAndTask) {
    catalogueOf(2);
    app.catalogue.apps[0].icon = L"/media/icons/1.png";
    paint(1180, 780);
    const RECT first = buttonOf(1), second = buttonOf(2);
    auto snapshot = [&](const RECT& r) {
        std::vector<uint32_t> pixels;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) pixels.push_back(pixel(x, y));
        return pixels;
    };
    const RECT secondCard{second.left - 60, second.top - 188, second.right + 61, second.top + 47};
    const auto secondIdle = snapshot(secondCard);
    const uint32_t idleButton = pixel(first.left + 50, first.top + 4);

    hover(HitKind::CardAction, 1);
    paint(1180, 780);
    EXPECT_FALSE(nearColour(pixel(first.left + 50, first.top + 4), idleButton, 0));  // the hovered button
    EXPECT_EQ(snapshot(secondCard), secondIdle);

    // The icon arrives: the letter tile gives way to the picture.
    const int side = layout::kIconTileOnCard;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    for (int i = 0; i < side * side; ++i) static_cast<uint32_t*>(bits)[i] = 0xFF30A050;
    const RECT icon = layout::cardIcon({first.left - 60, first.top - 188, first.right + 60, first.top + 46});
    EXPECT_FALSE(nearColour(pixel(icon.left + 40, icon.top + 40), 0x30A050, 3));
    app.icons.store(1, side, std::move(bitmap));
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(icon.left + 40, icon.top + 40), 0x30A050, 3));

    // A download starts: the button fills with its progress.
    app.hoverActive = false;
    addTask(2, Downloading, 50, 100);
    paint(1180, 780);
    EXPECT_NE(snapshot(secondCard), secondIdle);
    EXPECT_TRUE(nearColour(pixel(second.left + 40, second.top + 4), over(0x462563EB, 0xF2F3F5), 3));
    EXPECT_TRUE(nearColour(pixel(second.left + 55, second.top + 4), 0xF2F3F5, 2));
}

// Between paints the window draws the faces the next paints need: a shown card whose icon arrived,
// then the cards about to scroll in; a paint then only copies them.
TEST_F(GridPaint, FacesArePreparedBetweenPaintsShownCardsFirst) {
    catalogueOf(20);
    app.catalogue.apps[0].icon = L"/media/icons/1.png";
    paint(1180, 780);  // the first frame draws its cards straight into the buffer, without faces
    EXPECT_EQ(caches.cards.shown(1), nullptr);
    paint(1180, 780);  // rows 1 and 2 shown at 1180 x 780, rows 3 and 4 are near
    const int side = layout::kIconTileOnCard;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    app.icons.store(1, side, std::move(bitmap));

    const CardFaceKey* before = caches.cards.shown(1);
    ASSERT_NE(before, nullptr);
    const int64_t oldIcon = before->icon;
    FacePreparation done = prepareMainWindowFaces(app, inputs, caches, 1180, 780, 1000.0);
    EXPECT_TRUE(done.shownChanged);
    EXPECT_FALSE(done.more);
    EXPECT_NE(caches.cards.shown(1)->icon, oldIcon) << "the shown card was drawn with its icon";
    ASSERT_NE(caches.cards.shown(12), nullptr) << "a card of the next row, about to scroll in";

    done = prepareMainWindowFaces(app, inputs, caches, 1180, 780, 1000.0);
    EXPECT_FALSE(done.shownChanged) << "nothing left to draw";
    app.page = Page::Downloads;
    EXPECT_FALSE(prepareMainWindowFaces(app, inputs, caches, 1180, 780, 1000.0).more);

    // A 4K screen shows more cards than a small window's few screens: they settle, not repaint for ever.
    app.page = Page::Catalogue;
    catalogueOf(200);
    paint(3840, 2160);
    prepareMainWindowFaces(app, inputs, caches, 3840, 2160, 1000.0);
    paint(3840, 2160);
    EXPECT_FALSE(prepareMainWindowFaces(app, inputs, caches, 3840, 2160, 1000.0).shownChanged);
}

TEST(FaceCache, KeepsABoundedNumberAndDropsTheLeastRecentlyDrawn) {
    struct Look {
        int size = 0;
        int shade = 0;
        bool operator==(const Look& other) const { return size == other.size && shade == other.shade; }
    };
    FaceCache<Look> cache(2);
    const Look key{8, 2};
    EXPECT_FALSE(cache.find(1, key, 10, 10).current);  // new: to be drawn
    EXPECT_TRUE(cache.find(1, key, 10, 10).current);
    EXPECT_FALSE(cache.find(1, {8, 3}, 10, 10).current);  // another look
    EXPECT_FALSE(cache.find(2, key, 10, 10).current);
    EXPECT_FALSE(cache.find(1, {8, 3}, 12, 10).current);  // another size
    EXPECT_FALSE(cache.find(3, key, 10, 10).current);  // takes the place of 2, drawn longest ago
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_TRUE(cache.holds(1, {8, 3}));
    EXPECT_TRUE(cache.holds(3, key));
    EXPECT_FALSE(cache.holds(2, key));
}

}  // namespace
