#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <optional>
#include <thread>

#include "app/main_window_paint.h"
#include "render/app_icon.h"
#include "render/contrast.h"
#include "render/category_icons.h"
#include "render/frame_update.h"
#include "render/layout.h"
#include "render/palette.h"
#include "render/search_field_painter.h"
#include "render_fixture.h"

namespace {

using rendertest::describe;
using rendertest::kBlackContrast;
using rendertest::nearColour;
using rendertest::over;
using rendertest::sameRect;

class MainWindowPaint : public rendertest::PaintTest {
protected:
    void twentyCategories() {
        std::vector<std::wstring> names;
        for (int i = 0; i < 20; ++i) names.push_back(L"分类" + std::to_wstring(i));
        addCategories(names);
    }
};

TEST_F(MainWindowPaint, HeaderRegionsComeFirstInPaintOrder) {
    paint(1180, 780);
    ASSERT_GE(app.hitRegions.size(), 6u);
    struct Expected {
        HitKind kind;
        RECT rect;
    };
    const Expected expected[] = {
        {HitKind::Minimize, {1042, 0, 1088, 64}},       {HitKind::Maximize, {1088, 0, 1134, 64}},
        {HitKind::Close, {1134, 0, 1180, 64}},          {HitKind::UpdatesTab, {696, 14, 800, 50}},
        {HitKind::DownloadsTab, {810, 14, 914, 50}},    {HitKind::SettingsButton, {924, 14, 1028, 50}},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(app.hitRegions[i].kind, expected[i].kind) << i;
        EXPECT_EQ(app.hitRegions[i].param, 0);
        EXPECT_TRUE(sameRect(app.hitRegions[i].rect, expected[i].rect)) << describe(app.hitRegions[i].rect).c_str();
    }
}

// At every scale the same places in units, each as large as dpi / 96 says; a card's button is painted
// exactly where its hit region maps to pixels.
TEST_F(MainWindowPaint, HeaderGradientSidebarAndBackground) {
    addCategories({L"常用软件"});
    addApp(1, L"应用", L"c0");
    app.selectedCategoryId = L"c0";
    for (int dpi : {96, 144, 192}) {
        useDpi(dpi);
        const qb::DpiScale scale{dpi};
        const auto at = [&](int x, int y) { return pixel(scale.pixel(x), scale.pixel(y)); };
        const qbtest::PaintSurface& shown = paint(1180, 780);
        EXPECT_EQ(shown.width(), scale.length(1180)) << dpi;
        EXPECT_TRUE(nearColour(at(0, 2), 0x0EA5E9, 4)) << dpi;
        EXPECT_TRUE(nearColour(pixel(shown.width() - 1, 2), 0x2563EB, 4)) << dpi;
        EXPECT_TRUE(nearColour(at(590, 2), 0x1984EA, 6)) << dpi;  // halfway between the two ends
        // The header's last row of pixels, and the background right below it.
        EXPECT_TRUE(nearColour(pixel(scale.pixel(688), scale.pixel(64) - 1), 0x1B7EEA, 6)) << dpi;
        EXPECT_TRUE(nearColour(at(688, 64), 0xF5F6F8, 0)) << dpi;
        EXPECT_TRUE(nearColour(at(5, 400), 0xFAFBFD, 1)) << dpi;
        EXPECT_TRUE(nearColour(at(200, 400), 0xE5E6EB, 1)) << dpi;  // the border line
        EXPECT_TRUE(nearColour(at(700, 700), 0xF5F6F8, 0)) << dpi;  // window background
        const RECT button = scale.pixels(regionOf(HitKind::CardAction, 1).rect);
        const int middle = (button.top + button.bottom) / 2;
        EXPECT_TRUE(nearColour(pixel(button.left + 2, middle), 0x2563EB, 8)) << dpi;
        EXPECT_TRUE(nearColour(pixel(button.right - 3, middle), 0x2563EB, 8)) << dpi;
        EXPECT_TRUE(nearColour(pixel(button.left - 2, middle), 0xFFFFFF, 2)) << dpi;
        EXPECT_TRUE(nearColour(pixel(button.right + 1, middle), 0xFFFFFF, 2)) << dpi;
    }
}

// In high contrast the system's colours replace the palette: surfaces in the window colour, the header
// and the buttons in the highlight, borders solid in the window text.
TEST_F(MainWindowPaint, HighContrastPaintsWithTheSystemColours) {
    addCategories({L"常用软件"});
    addApp(1, L"应用", L"c0");
    app.selectedCategoryId = L"c0";
    inputs.look.contrast = kBlackContrast;
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(590, 2), 0x1AEBFF, 0));    // no gradient
    EXPECT_TRUE(nearColour(pixel(700, 700), 0x000000, 0));  // the background
    EXPECT_TRUE(nearColour(pixel(5, 400), 0x000000, 0));    // the sidebar
    EXPECT_TRUE(nearColour(pixel(200, 400), 0xFFFFFF, 0));  // its border
    EXPECT_TRUE(nearColour(pixel(226, 301), 0xFFFFFF, 0));  // the card's border, once a faint grey
    EXPECT_TRUE(nearColour(pixel(240, 301), 0x000000, 0));  // the card
    const RECT button = regionOf(HitKind::CardAction, 1).rect;
    EXPECT_TRUE(nearColour(pixel(button.left + 4, (button.top + button.bottom) / 2), 0x1AEBFF, 0));
    const RECT tile = layout::cardIcon(layout::cardRect(layout::gridColumns(1168), 0, 126, 0));
    EXPECT_TRUE(nearColour(pixel(tile.left + 3, (tile.top + tile.bottom) / 2), 0x000000, 0));  // not the pale tile
    // Over the highlight, text takes the highlight's text colour (dark here), never the window text's.
    const auto darkInkOnly = [&](const RECT& r) {
        int whiteText = 0, darkText = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                whiteText += (pixel(x, y) >> 16) > 0xC0;  // the highlight has little red
                darkText += (pixel(x, y) & 0xFF) < 0x40;
            }
        return whiteText == 0 && darkText > 10;
    };
    const RECT updates = layout::updatesPill(1180);
    EXPECT_TRUE(darkInkOnly({updates.left + 36, 20, updates.right - 6, 44}));  // an idle pill's label
    EXPECT_TRUE(darkInkOnly(layout::slogan()));
    EXPECT_TRUE(nearColour(pixel(layout::searchField(1180).left + 14, 29), 0xFFFFFF, 0));  // the field's magnifier
    EXPECT_LT(pixel(230, 30) >> 16, 0x1Au);  // the line beside it is dark, like the header's glyphs
    addTask(1, Downloading, 500, 1000);  // half filled: the label over the filled part
    paint(1180, 780);
    EXPECT_TRUE(darkInkOnly({button.left + 16, button.top + 4, button.left + 50, button.bottom - 4}));
    hover(HitKind::Category, 0);  // hovers show in the highlight: a category's outline, then a card's border
    app.page = Page::Downloads;  // the active pill is window-coloured: its glyph in the text colour
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(layout::downloadsPill(1180).left + 21, 29), 0xFFFFFF, 64));
    const RECT row = regionOf(HitKind::Category, 0).rect;
    const RECT track = layout::rowProgressTrack(1180, layout::downloadRowBase(0));
    EXPECT_TRUE(nearColour(pixel(row.left, (row.top + row.bottom) / 2), 0x1AEBFF, 0));
    EXPECT_TRUE(nearColour(pixel(track.right - 8, track.top), 0xFFFFFF, 64));  // the unfilled part's outline
    app.page = Page::Catalogue;
    hover(HitKind::CardAction, 1);
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(226, 301), 0x1AEBFF, 0));
    EXPECT_EQ(contrastFill(palette::kOutlineHover, kBlackContrast), 0xFF1AEBFF);  // so does an outlined button's border
}

// The back buffer is kept between paints: a paint at another size, or one that clipped and selected
// fonts on the way, must leave nothing behind in the next image. The first frame draws its cards
// straight into the buffer, later ones copy their faces: the two agree to rounding.
TEST_F(MainWindowPaint, RepaintsAreIdenticalWhateverCameBefore) {
    twentyCategories();
    for (int i = 0; i < 9; ++i) addApp(100 + i, L"应用" + std::to_wstring(i), L"c0");
    app.selectedCategoryId = L"c0";
    app.sidebarScroll = 30;
    const qbtest::PaintSurface& firstFrame = paint(1180, 780);
    const std::vector<uint32_t> direct(firstFrame.bits(), firstFrame.bits() + 1180 * 780);
    const qbtest::PaintSurface& before = paint(1180, 780);
    const std::vector<uint32_t> first(before.bits(), before.bits() + 1180 * 780);
    app.page = Page::Downloads;
    paint(1000, 660);
    app.page = Page::Catalogue;
    const qbtest::PaintSurface& again = paint(1180, 780);
    size_t differing = 0, apart = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        differing += first[i] != again.bits()[i];
        apart += !nearColour(direct[i], first[i], 1);
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(apart, 0u);
}

TEST_F(MainWindowPaint, CaptionHoverLooks) {
    const int w = 1180;
    hover(HitKind::Close);
    paint(w, 780);
    EXPECT_TRUE(nearColour(pixel(w - 4, 4), 0xE83F4F, 1));
    EXPECT_FALSE(nearColour(pixel(w - 134, 4), over(0x26FFFFFF, 0x2563EB), 0));

    hover(HitKind::Minimize);
    paint(w, 780);
    const uint32_t underneath = pixel(w - 140, 4);  // the gradient just left of the button
    EXPECT_TRUE(nearColour(pixel(w - 137, 4), over(0x26FFFFFF, underneath), 3));
    EXPECT_TRUE(nearColour(pixel(w - 4, 4), 0x2563EB, 4));
}

TEST_F(MainWindowPaint, MaximisedWindowShowsTheRestoreGlyph) {
    const int w = 1180;
    paint(w, 780);
    const uint32_t normal = pixel(w - 64, 30);  // inside the maximise square
    inputs.maximized = true;
    paint(w, 780);
    const uint32_t restored = pixel(w - 64, 30);  // on the restore glyph's right edge
    EXPECT_TRUE(nearColour(normal, 0x2563EB, 12));
    EXPECT_TRUE(nearColour(restored, 0xFFFFFF, 40));
}

TEST_F(MainWindowPaint, CategoryRowsAreClippedScrolledAndClamped) {
    paint(1180, 780);  // the categories arrive after a paint, and faces are drawn before the next paint,
    twentyCategories();  // whose update step places the scroll bar: the sidebar's layer is drawn again
    prepareMainWindowFaces(app, inputs, caches, 1180, 780, 1000.0);
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(195, 300), over(palette::kThumb, 0xFAFBFD), 2));
    app.sidebarScroll = 30;
    paint(1180, 780);
    const std::vector<HitRegion> rows = regionsOf(HitKind::Category);
    ASSERT_EQ(rows.size(), 14u);  // rows 0..13 touch the view 78..766
    EXPECT_TRUE(sameRect(rows.front().rect, {12, 78, 188, 94})) << describe(rows.front().rect).c_str();
    EXPECT_TRUE(sameRect(rows.back().rect, {12, 750, 188, 766})) << describe(rows.back().rect).c_str();
    for (int i = 0; i < 14; ++i) EXPECT_EQ(rows[i].param, i);
    EXPECT_EQ(app.sidebarScroll, 30);

    // A click in the header above the first row never reaches it.
    for (const HitRegion& r : rows) EXPECT_GE(r.rect.top, 78);

    app.sidebarScroll = 100000;
    paint(1180, 780);
    EXPECT_EQ(app.sidebarScroll, 384);
    const ScrollBarInfo& bar = app.sidebarScrollBar;
    EXPECT_TRUE(bar.visible);
    EXPECT_EQ(bar.maxScroll, 384);
    EXPECT_EQ(bar.viewHeight, 688);
    EXPECT_EQ(bar.thumbHeight, 441);
    EXPECT_EQ(bar.trackTop, 78);
    EXPECT_TRUE(sameRect(bar.track, {193, 78, 197, 766}));
    EXPECT_TRUE(sameRect(bar.thumb, {193, 325, 197, 766}));
    EXPECT_EQ(regionsOf(HitKind::Category).back().param, 19);
    inputs.look.contrast = kBlackContrast;  // the track outlined, the thumb filled, so it shows on it
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(195, 200), 0x000000, 0));
    EXPECT_TRUE(nearColour(pixel(195, 500), 0xFFFFFF, 0));

    app.sidebarScroll = -50;
    paint(1180, 780);
    EXPECT_EQ(app.sidebarScroll, 0);
}

TEST_F(MainWindowPaint, SidebarBarIsHiddenWhenTheRowsFit) {
    addCategories({L"常用软件", L"系统工具"});
    app.sidebarScrollBar.visible = true;
    app.sidebarScroll = 50;
    paint(1180, 780);
    EXPECT_FALSE(app.sidebarScrollBar.visible);
    EXPECT_EQ(app.sidebarScroll, 0);
    EXPECT_TRUE(nearColour(pixel(195, 100), 0xFAFBFD, 1));
}

TEST_F(MainWindowPaint, ThumbDarkensWhileDraggedOrPaged) {
    twentyCategories();
    paint(1180, 780);
    const uint32_t track = over(0x12BEC0C9, 0xFAFBFD);
    EXPECT_TRUE(nearColour(pixel(195, 200), over(0x6EA0A3AF, track), 3));
    EXPECT_TRUE(nearColour(pixel(195, 700), track, 3));
    app.dragBar = ScrollBarId::Sidebar;
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(195, 200), over(0x96787C8A, track), 3));
    app.dragBar = ScrollBarId::Content;  // the grid's bar: the sidebar keeps its idle look
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(195, 200), over(0x6EA0A3AF, track), 3));
    app.dragBar = ScrollBarId::None;
    app.pageRepeatBar = ScrollBarId::Sidebar;
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(195, 200), over(0x96787C8A, track), 3));
}

TEST_F(MainWindowPaint, SelectedRowHasItsFillAndAccentBarOnlyOnTheCataloguePage) {
    addCategories({L"常用软件", L"系统工具", L"游戏娱乐"});
    app.selectedCategoryId = L"c1";
    paint(1180, 780);
    const int y = 78 + 54;  // row 1
    EXPECT_TRUE(nearColour(pixel(13, y + 20), 0x2563EB, 2));
    EXPECT_TRUE(nearColour(pixel(180, y + 4), 0xEFF6FF, 1));
    EXPECT_TRUE(nearColour(pixel(180, 78 + 4), 0xFAFBFD, 1));  // row 0 is plain

    app.page = Page::Downloads;
    hover(HitKind::Category, 2);
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(180, y + 4), 0xFAFBFD, 1));
    EXPECT_TRUE(nearColour(pixel(13, y + 20), 0xFAFBFD, 1));
    EXPECT_TRUE(nearColour(pixel(180, 78 + 108 + 4), 0xF2F3F5, 1));  // hovered rows still show it
}

TEST_F(MainWindowPaint, NarrowNamesAreCentredWithTheirIcon) {
    addCategories({L"影音", L"一个特别特别长的分类名称"});
    paint(1180, 780);
    // The short name's icon is pushed right of x 12; the long name starts at the row's left.
    auto firstIconColumn = [&](int rowTop, uint32_t colour) {
        for (int x = 12; x < 120; ++x)
            if (nearColour(pixel(x, rowTop + 20), colour, 30)) return x;
        return -1;
    };
    const int shortIcon = firstIconColumn(78, categoryIconColour(IconMedia));
    const int longIcon = firstIconColumn(78 + 54, categoryIconColour(IconOther));
    EXPECT_GT(shortIcon, 40);
    EXPECT_GE(longIcon, 12);
    EXPECT_LE(longIcon, 18);
}

TEST_F(MainWindowPaint, TaskBadgeCountsDownloadingTasksOnly) {
    const int w = 1180;
    addTask(1, Completed);
    addTask(2, Verifying);
    paint(w, 780);
    const uint32_t noBadge = pixel(w - 279, 22);
    EXPECT_FALSE(nearColour(noBadge, 0xF53F3F, 30));
    addTask(3, Downloading);
    paint(w, 780);
    EXPECT_TRUE(nearColour(pixel(w - 279, 22), 0xF53F3F, 2));
    EXPECT_FALSE(nearColour(pixel(w - 281, 11), 0xF53F3F, 60));  // radius 12 on 24 x 24: a circle, no corners
    for (const HitRegion& region : app.hitRegions) EXPECT_NE(region.kind, HitKind::None);
}

TEST_F(MainWindowPaint, LoadingWinsOverFailureAndFailureOffersReload) {
    app.catalogueLoading = true;
    app.catalogueFailed = true;
    paint(1000, 660);
    EXPECT_TRUE(regionsOf(HitKind::Reload).empty());
    app.catalogueLoading = false;
    paint(1000, 660);
    const HitRegion reload = regionOf(HitKind::Reload);
    EXPECT_TRUE(sameRect(reload.rect, {540, 294, 660, 326})) << describe(reload.rect).c_str();
    EXPECT_TRUE(nearColour(pixel(545, 310), 0x2563EB, 2));
    app.page = Page::Downloads;  // failure still wins over the download page
    paint(1000, 660);
    EXPECT_TRUE(regionsOf(HitKind::ClearCompleted).empty());
    EXPECT_EQ(regionsOf(HitKind::Reload).size(), 1u);
}

TEST_F(MainWindowPaint, ToastColourByKindAndExpiry) {
    const int w = 1000;
    app.catalogueLoading = true;  // nothing but the background under the toast
    struct Case {
        int kind;
        uint32_t colour;
    };
    const Case cases[] = {{ToastSuccess, 0xE800B42A}, {ToastError, 0xE8F53F3F}, {ToastNeutral, 0xE81D2129},
                          {7, 0xE81D2129}};
    for (const Case& c : cases) {
        app.toastText = L"下载目录已保存";
        app.toastKind = c.kind;
        app.toastTick = inputs.now - 2199;
        paint(w, 660);
        EXPECT_TRUE(nearColour(pixel(326, 101), over(c.colour, 0xF5F6F8), 3)) << c.kind;
        EXPECT_EQ(app.toastText, L"下载目录已保存");
    }
    app.toastTick = inputs.now - 2200;
    paint(w, 660);
    EXPECT_TRUE(app.toastText.empty());
    EXPECT_TRUE(nearColour(pixel(326, 101), 0xF5F6F8, 0));

    // A tick-count wrap between setting and painting.
    app.toastText = L"开始下载：星河笔记";
    app.toastTick = 0xFFFFFF00u;
    inputs.now = 0x100;
    paint(w, 660);
    EXPECT_EQ(app.toastText, L"开始下载：星河笔记");
}

TEST_F(MainWindowPaint, NoticeIsTheLastRegionUntilItExpires) {
    addCategories({L"常用软件"});
    app.noticeText = L"星河笔记";
    app.noticeTaskId = 4;
    app.noticeTick = inputs.now - 4999;
    paint(1000, 660);
    ASSERT_FALSE(app.hitRegions.empty());
    EXPECT_EQ(app.hitRegions.back().kind, HitKind::Notice);
    EXPECT_TRUE(sameRect(app.hitRegions.back().rect, {644, 556, 980, 640}));
    // No app 4 in the catalogue: the icon is the pale "?" tile of the first palette entry.
    EXPECT_TRUE(nearColour(pixel(664, 600), placeholderColours(nullptr).fill, 2));

    app.noticeTick = inputs.now - 5000;
    paint(1000, 660);
    EXPECT_TRUE(app.noticeText.empty());
    EXPECT_TRUE(regionsOf(HitKind::Notice).empty());
}

// An installed app's card menu lies over everything, the notice included, and goes with its card.
TEST_F(MainWindowPaint, CardMenuIsTheTopmostAndGoesWithItsCard) {
    addCategories({L"常用软件", L"系统工具"});
    app.selectedCategoryId = L"c0";
    for (int i = 0; i < 12; ++i) addApp(i, L"应用" + std::to_wstring(i), L"c0");  // three rows: the grid scrolls
    app.installed.byId[7].registration.displayName = L"应用7";
    app.noticeText = L"应用7";
    app.noticeTick = inputs.now;
    const POINT anchor{1100, 600};  // near the bottom of app 7's card (931..1152, 374..608)
    const RECT panel = layout::cardMenuPanel(anchor, kCardMenuItemCount, 1180, 780);
    const auto openMenu = [&] {
        app.cardMenu.open = true;
        app.cardMenu.appId = 7;
        app.cardMenu.anchor = anchor;
    };
    openMenu();
    hover(HitKind::MenuItem, CardMenuOpenDownloads);
    paint(1180, 780);
    EXPECT_TRUE(sameRect(app.cardMenu.panel, panel)) << describe(app.cardMenu.panel).c_str();
    ASSERT_GE(app.hitRegions.size(), 3u);
    EXPECT_EQ(app.hitRegions[app.hitRegions.size() - 3].kind, HitKind::Notice);
    for (int i = 0; i < kCardMenuItemCount; ++i) {
        const HitRegion& item = app.hitRegions[app.hitRegions.size() - 2 + i];
        EXPECT_EQ(item.kind, HitKind::MenuItem);
        EXPECT_EQ(item.param, i);
        EXPECT_TRUE(sameRect(item.rect, layout::cardMenuItem(panel, i))) << describe(item.rect).c_str();
    }
    // A white panel, the hovered item in the hover fill, a soft shadow just below it.
    const RECT uninstall = layout::cardMenuItem(panel, CardMenuUninstall);
    const RECT openFolder = layout::cardMenuItem(panel, CardMenuOpenDownloads);
    EXPECT_TRUE(nearColour(pixel(uninstall.right - 12, (uninstall.top + uninstall.bottom) / 2), 0xFFFFFF, 0));
    EXPECT_TRUE(nearColour(pixel(openFolder.right - 12, (openFolder.top + openFolder.bottom) / 2), 0xF2F3F5, 0));
    const uint32_t belowPanel = pixel(panel.left + 20, panel.bottom + 1);
    EXPECT_FALSE(nearColour(belowPanel, 0xF5F6F8, 0)) << std::hex << belowPanel;
    EXPECT_TRUE(nearColour(belowPanel, 0xF5F6F8, 30)) << std::hex << belowPanel;
    inputs.look.contrast = kBlackContrast;  // no shadow in high contrast, and the highlight marks the item
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(openFolder.right - 12, (openFolder.top + openFolder.bottom) / 2), 0x1AEBFF, 0));
    EXPECT_TRUE(nearColour(pixel(panel.left + 20, panel.bottom + 1), 0x000000, 0));

    // The card leaves the point: another page or category, a scroll; or it is no longer installed or listed.
    const std::function<void()> cardGone[] = {
        [&] { app.page = Page::Downloads; },
        [&] { app.catalogueLoading = true; },
        [&] { app.selectedCategoryId = L"c1"; },
        [&] { app.contentScroll = 10; },
        [&] { app.installed.byId.clear(); },
        [&] { app.catalogue.apps.erase(app.catalogue.apps.begin() + 7); },
    };
    for (size_t i = 0; i < std::size(cardGone); ++i) {
        openMenu();
        paint(1180, 780);
        ASSERT_TRUE(app.cardMenu.open) << i;
        cardGone[i]();
        paint(1180, 780);
        EXPECT_FALSE(app.cardMenu.open) << i;
        EXPECT_TRUE(regionsOf(HitKind::MenuItem).empty()) << i;
        app.page = Page::Catalogue;
        app.catalogueLoading = false;
        app.selectedCategoryId = L"c0";
        app.contentScroll = 0;
        app.installed.byId[7];
    }
}

// Right-clicks find the card under the pointer as the last update step placed it, inside the grid's view. The
// keyboard's ring stands outside its card: whole around the first row on the grid's top edge, cut with a cut card.
TEST_F(MainWindowPaint, CardsWithinTheGridsViewForThePointerAndTheRing) {
    addCategories({L"常用软件"});
    app.selectedCategoryId = L"c0";
    for (int i = 0; i < 12; ++i) addApp(100 + i, L"应用" + std::to_wstring(i), L"c0");
    app.focus = KeyboardFocus{FocusTarget{FocusRegion::Content, 0, 0}, true};
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(336, 124), 0x2563EB, 2));  // card 0's top is the grid's, y 126
    app.contentScroll = 40;
    paint(1180, 780);
    ASSERT_EQ(app.contentScroll, 40);
    EXPECT_EQ(pixel(336, 124), pixel(336, 121));  // above the cut card: background only
    // Cards are 221 wide from x 226 with gaps of 14; row 0 now spans y 86..320, row 1 334..568.
    struct Case {
        POINT point;
        std::optional<int32_t> app;
    };
    const Case cases[] = {
        {{226, 126}, 100}, {{446, 319}, 100}, {{447, 200}, std::nullopt},  // the gap between columns
        {{461, 200}, 101}, {{300, 125}, std::nullopt},                     // under the heading: not in view
        {{300, 325}, std::nullopt}, {{1151, 400}, 107}, {{300, 700}, 108}, {{100, 300}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(cardAt(app, 1180, 780, c.point), c.app) << c.point.x << "," << c.point.y;
    app.page = Page::Downloads;
    EXPECT_EQ(cardAt(app, 1180, 780, {300, 200}), std::nullopt);
}

TEST_F(MainWindowPaint, AppIconPlaceholderColoursAndLetter) {
    AppInfo seven;
    seven.id = 7;
    seven.name = L"声浪音乐";
    const PlaceholderColours colours = placeholderColours(&seven);
    EXPECT_EQ(colours.base, 0x38BDF8u);
    EXPECT_EQ(colours.fill, 0xFFE4F6FFu);    // 255 - (255 - v) * 14 / 100
    EXPECT_EQ(colours.border, 0xFFC4ECFDu);  // 255 - (255 - v) * 30 / 100
    EXPECT_EQ(placeholderLetter(&seven), L"声");
    seven.name = L"\U00020000号";  // 𠀀, outside the first plane
    EXPECT_EQ(placeholderLetter(&seven), L"\U00020000");
    AppInfo unnamed;
    unnamed.id = 3;
    EXPECT_EQ(placeholderLetter(&unnamed), L"?");
    EXPECT_EQ(placeholderLetter(nullptr), L"?");
    EXPECT_EQ(placeholderColours(&unnamed).base, 0x22D3EEu);
    EXPECT_EQ(placeholderColours(nullptr).base, 0x0EA5E9u);
    unnamed.id = -3;
    EXPECT_EQ(placeholderColours(&unnamed).base, 0x38BDF8u);
}

TEST_F(MainWindowPaint, EveryDrawnAppWithAnIconPathAsksForItAtItsDrawnSize) {
    addCategories({L"常用软件"});
    app.selectedCategoryId = L"c0";
    addApp(1, L"甲", L"c0").icon = L"/media/icons/1.png";
    addApp(2, L"乙", L"c0");  // no icon path
    std::vector<std::pair<int32_t, int>> requested;
    inputs.requestIcon = [&](const AppInfo& info, int size) { requested.emplace_back(info.id, size); };
    paint(1180, 780);
    EXPECT_EQ(requested, (std::vector<std::pair<int32_t, int>>{{1, layout::kIconTileOnCard}}));

    // The completion notice draws the same app's icon at 44 pixels.
    app.noticeText = L"甲";
    app.noticeTaskId = 1;
    app.noticeTick = inputs.now;
    requested.clear();
    paint(1180, 780);
    EXPECT_EQ(requested, (std::vector<std::pair<int32_t, int>>{{1, layout::kIconTileOnCard}, {1, 44}}));
}

TEST_F(MainWindowPaint, AReadyIconIsBlendedOneToOneOverTheCard) {
    addCategories({L"常用软件"});
    app.selectedCategoryId = L"c0";
    AppInfo& info = addApp(1, L"甲", L"c0");
    info.icon = L"/media/icons/1.png";
    paint(1180, 780);
    // Card 0 at w 1180: x 226, width 221; the icon square is (294, 142, 378, 226).
    const uint32_t cardBehind = pixel(280, 184);
    EXPECT_EQ(iconStamp(app, info), 0u);  // the card size unless told otherwise

    const int side = layout::kIconTileOnCard;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    qb::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    uint32_t* pixels = static_cast<uint32_t*>(bits);
    for (int i = 0; i < side * side; ++i) pixels[i] = 0xFF30A050;
    pixels[0] = 0x00000000;               // transparent: the card shows through
    pixels[side * 42 + 42] = 0x80100000;  // half-covered dark red, premultiplied
    pixels[side * (side - 1) + side - 1] = 0xFF0000FF;  // the last pixel lands on the square's last pixel
    app.icons.store(1, side, std::move(bitmap));
    const uint32_t stamp = iconStamp(app, info, side);
    EXPECT_NE(stamp, 0u);
    EXPECT_EQ(iconStamp(app, info, 48), 0u) << "another size is another icon";
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(300, 150), 0x30A050, 0));
    EXPECT_TRUE(nearColour(pixel(377, 225), 0x0000FF, 0));
    EXPECT_TRUE(nearColour(pixel(294, 142), cardBehind & 0xFFFFFF, 0));
    // 0x10 + card * (255 - 0x80) / 255 on red; card * 127 / 255 on green and blue.
    const int card = static_cast<int>(cardBehind & 0xFF);
    const int red = 0x10 + card * 127 / 255;
    EXPECT_TRUE(nearColour(pixel(294 + 42, 142 + 42), (red << 16) | ((card * 127 / 255) << 8) | (card * 127 / 255), 2));
    EXPECT_EQ(iconStamp(app, info, side), stamp) << "drawing changes nothing";
}

// Painting only reads: an expired toast and notice, a scroll past the end and an icon nobody asked
// for are all settled by the update step, and a paint without it leaves them as they are.
TEST_F(MainWindowPaint, OnlyTheUpdateStepChangesTheState) {
    twentyCategories();
    app.selectedCategoryId = L"c0";
    addApp(1, L"甲", L"c0").icon = L"/media/icons/1.png";
    app.sidebarScroll = 100000;
    app.contentScroll = -30;
    app.toastText = L"已过期";
    app.toastTick = inputs.now - 2200;
    app.noticeText = L"星河笔记";
    app.noticeTick = inputs.now - 5000;
    std::vector<int32_t> requested;
    inputs.requestIcon = [&requested](const AppInfo& info, int) { requested.push_back(info.id); };

    qbtest::PaintSurface surface(1180, 780);
    paintMainWindowWith(surface.dc(), surface.client(), app, inputs, caches);
    EXPECT_EQ(app.sidebarScroll, 100000);
    EXPECT_EQ(app.contentScroll, -30);
    EXPECT_EQ(app.toastText, L"已过期");
    EXPECT_EQ(app.noticeText, L"星河笔记");
    EXPECT_TRUE(requested.empty());
    EXPECT_TRUE(app.hitRegions.empty());

    updateFrame(app, inputs, 1180, 780);
    EXPECT_EQ(app.sidebarScroll, 384);
    EXPECT_EQ(app.contentScroll, 0);
    EXPECT_TRUE(app.toastText.empty());
    EXPECT_TRUE(app.noticeText.empty());
    EXPECT_EQ(requested, std::vector<int32_t>{1});
    EXPECT_EQ(regionsOf(HitKind::CardAction).size(), 1u);
    EXPECT_EQ(regionsOf(HitKind::Category).size(), 13u);  // rows 7 to 19 at the end of the list
}

// The header and sidebar layer is kept between paints and drawn again when what it shows changes.
TEST_F(MainWindowPaint, KeptHeaderAndSidebarFollowTheirInputs) {
    addCategories({L"常用软件", L"系统工具"});
    app.selectedCategoryId = L"c0";
    paint(1180, 780);
    const uint32_t selectedRow = pixel(180, 78 + 4), otherRow = pixel(180, 78 + 54 + 4);
    app.selectedCategoryId = L"c1";
    paint(1180, 780);
    EXPECT_EQ(pixel(180, 78 + 4), otherRow);
    EXPECT_EQ(pixel(180, 78 + 54 + 4), selectedRow);
    const uint32_t noBadge = pixel(1180 - 279, 22);
    addTask(3, Downloading);
    paint(1180, 780);
    EXPECT_NE(pixel(1180 - 279, 22), noBadge);

    // The updates pill: its badge follows the apps offered an update, its look the page.
    addApp(5, L"画图", L"c0").version = L"2.0";
    InstallStatus older;
    older.registration.displayVersion = L"1.0";
    older.updatable = true;
    app.installed.byId[5] = older;
    const uint32_t idlePill = pixel(1180 - 478, 32), noUpdatesBadge = pixel(1180 - 393, 22);
    paint(1180, 780);
    EXPECT_TRUE(nearColour(pixel(1180 - 393, 22), 0xF53F3F, 2));
    app.installed.updateRefused[5] = L"2.0";
    paint(1180, 780);
    EXPECT_EQ(pixel(1180 - 393, 22), noUpdatesBadge);
    app.page = Page::Updates;
    paint(1180, 780);
    EXPECT_NE(pixel(1180 - 478, 32), idlePill);
}

// While the field holds a query the grid shows its results, from every category and in their order,
// in place of the selected category's apps; the sidebar keeps its selection.
TEST_F(MainWindowPaint, ASearchShowsItsResultsInPlaceOfTheCategory) {
    addCategories({L"常用软件", L"系统工具"});
    addApp(1, L"甲", L"c0");
    addApp(2, L"乙", L"c1");
    addApp(3, L"丙", L"c1");
    app.selectedCategoryId = L"c0";
    paint(1180, 780);
    const uint32_t selectedRow = pixel(180, 78 + 4);
    app.search.query = L"x";
    app.search.hasText = true;
    app.search.results = {2, 0};
    paint(1180, 780);
    const std::vector<HitRegion> cards = regionsOf(HitKind::CardAction);
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].param, 3);
    EXPECT_EQ(cards[1].param, 1);
    EXPECT_EQ(pixel(180, 78 + 4), selectedRow);

    app.search.results.clear();
    paint(1180, 780);
    EXPECT_TRUE(regionsOf(HitKind::CardAction).empty());
    app.search.query.clear();
    paint(1180, 780);
    EXPECT_EQ(regionsOf(HitKind::CardAction).size(), 1u);
}

// The field's fill over the gradient is the colour the edit control is given, so no box shows round
// the edit; the placeholder shows only while the field is empty and idle, the clear button only while
// it holds text.
TEST_F(MainWindowPaint, SearchFieldLooks) {
    for (const int w : {1000, 1180, 1600}) {
        paint(w, 780);
        for (const int x : {0, w / 3, w - 1}) EXPECT_TRUE(nearColour(pixel(x, 2), headerGradientAt(x, w), 1)) << x;
        const RECT edit = layout::searchEdit(w);
        EXPECT_TRUE(nearColour(pixel((edit.left + edit.right) / 2, edit.top + 1), searchFieldBackground(w), 1)) << w;
    }
    const int w = 1180;
    const RECT edit = layout::searchEdit(w), clear = layout::searchClear(w);
    const auto light = [this](const RECT& r) {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) n += (pixel(x, y) >> 16) > 0xA0;
        return n;
    };
    paint(w, 780);
    EXPECT_GT(light(edit), 40);  // 搜索软件
    EXPECT_EQ(light(clear), 0);
    EXPECT_TRUE(regionsOf(HitKind::SearchClear).empty());
    const HitRegion field = regionOf(HitKind::SearchField);
    EXPECT_TRUE(sameRect(field.rect, layout::searchField(w))) << describe(field.rect).c_str();

    app.search.focused = true;
    paint(w, 780);
    EXPECT_EQ(light(edit), 0);
    app.search.hasText = true;
    paint(w, 780);
    EXPECT_EQ(light(edit), 0);
    EXPECT_GT(light(clear), 10);  // the cross
    EXPECT_TRUE(sameRect(regionOf(HitKind::SearchClear).rect, clear));
    app.search.focused = false;  // text left in the field: still no placeholder
    paint(w, 780);
    EXPECT_EQ(light(edit), 0);
}

}  // namespace

namespace {

TEST(LivePaint, PaintsTheSharedStateIntoTheWindowDc) {
    qbtest::ensureGdiplus();
    AppState& shared = appState();
    if (!shared.uiFonts[0]) createUiFonts(shared.uiFonts);
    shared.catalogue.categories = {{L"c0", L"常用软件"}, {L"c1", L"系统工具"}};
    qbtest::PaintSurface window(1000, 660);
    paintMainWindow(window.dc(), window.client());
    EXPECT_TRUE(rendertest::nearColour(window.pixel(0, 2), 0x0EA5E9, 4));
    EXPECT_EQ(shared.hitRegions.size(), 7u + 2u);  // caption buttons, three pills, search field, two category rows
    shared.catalogue.categories.clear();
    shared.hitRegions.clear();
}

// The first paint takes the back buffer the warm-up is still filling rather than making a second one.
TEST(PaintWarmUpHandOver, TheFirstPaintWaitsForTheBufferBeingFilled) {
    PaintWarmUp handOver;
    std::thread filler([&handOver] {
        auto surface = std::make_unique<DibSurface>();
        ::Sleep(30);
        handOver.offerBackBuffer(surface->ensure(64, 48) ? std::move(surface) : nullptr);
    });
    EXPECT_TRUE(handOver.takeBackBuffer(64, 48, 60000));  // no bound a loaded machine could miss
    filler.join();
}

}  // namespace
