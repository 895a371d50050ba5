#include <gtest/gtest.h>

#include "base/dpi_scale.h"
#include "render/download_page_painter.h"
#include "render/layout.h"
#include "render_fixture.h"

namespace {

using rendertest::describe;
using rendertest::sameRect;

// At every scale a pixel lies inside the rectangle's pixels exactly when its unit lies inside the
// rectangle: what is painted at a scale is what is hit there.
void expectHitWherePainted(const RECT& units) {
    for (int dpi : {96, 120, 144, 168, 192, 240}) {
        const qb::DpiScale scale{dpi};
        const RECT pixels = scale.pixels(units);
        for (int x = pixels.left - 3; x <= pixels.right + 3; ++x) {
            const int u = scale.unit(x);
            ASSERT_EQ(x >= pixels.left && x < pixels.right, u >= units.left && u < units.right) << dpi << ": " << x;
        }
        for (int y = pixels.top - 3; y <= pixels.bottom + 3; ++y) {
            const int u = scale.unit(y);
            ASSERT_EQ(y >= pixels.top && y < pixels.bottom, u >= units.top && u < units.bottom) << dpi << ": " << y;
        }
        if (dpi == 96) {
            EXPECT_TRUE(sameRect(pixels, units));
        }
    }
}

TEST(Layout, GridColumnsFollowTheClientWidth) {
    struct Case {
        int w, columns, cardWidth;
    };
    const Case cases[] = {
        {1000, 3, 240},  // the smallest window
        {1131, 3, 283},  // avail 879: still three columns
        {1132, 4, 209},  // avail 880: four
        {1180, 4, 221},  // the default window
        {1352, 5, 208},  // avail 1100: five
        {1920, 7, 226},
    };
    for (const Case& c : cases) {
        const layout::GridColumns grid = layout::gridColumns(c.w - 12);
        EXPECT_EQ(grid.columns, c.columns) << "w = " << c.w;
        EXPECT_EQ(grid.cardWidth, c.cardWidth) << "w = " << c.w;
    }
}

TEST(Layout, CardsAndButtonsSitOnTheGrid) {
    const layout::GridColumns grid = layout::gridColumns(1180 - 12);
    // Card 5 is row 1, column 1: x = 226 + 235, y = 126 + 248 - scroll.
    const RECT card = layout::cardRect(grid, 5, 126, 40);
    EXPECT_TRUE(sameRect(card, {461, 334, 682, 568})) << describe(card).c_str();
    const RECT button = layout::cardButton(card);
    EXPECT_TRUE(sameRect(button, {521, 522, 621, 554})) << describe(button).c_str();
    const RECT icon = layout::cardIcon(card);
    EXPECT_TRUE(sameRect(icon, {529, 350, 613, 434})) << describe(icon).c_str();
}

TEST(Layout, GridScrollRangeKeepsRoomBelowTheLastRow) {
    // 7 apps in 3 columns: 3 rows of 248; the view at h = 660 is 534 high.
    const int content = layout::gridContentHeight(7, 3);
    EXPECT_EQ(content, 744);
    EXPECT_EQ(layout::gridMaxScroll(content, 660 - 126), 224);
    EXPECT_EQ(layout::gridContentHeight(6, 3), 496);
    EXPECT_EQ(layout::gridContentHeight(0, 3), 0);
    EXPECT_EQ(layout::gridMaxScroll(496, 534), 0);   // fits with 38 pixels to spare
    EXPECT_EQ(layout::gridMaxScroll(520, 534), 0);   // 14 short of the view: still no bar
    EXPECT_EQ(layout::gridMaxScroll(521, 534), 1);   // 13 short: a bar with one pixel of travel
}

TEST(Layout, ScrollBarThumbTravelsTheTrack) {
    const RECT track{193, 78, 197, 766};
    struct Case {
        int content, maxScroll, scroll, minThumb;
        bool visible;
        int thumbHeight, thumbTop;
    };
    const Case cases[] = {
        {1072, 384, 0, 30, true, 441, 78},      // 20 sidebar rows in a 688 view
        {1072, 384, 384, 30, true, 441, 325},   // at the end the thumb touches the track bottom
        {1072, 384, 192, 30, true, 441, 201},
        {40000, 39312, 100, 30, true, 30, 79},  // a long list keeps the smallest thumb
        {688, 0, 0, 30, false, 0, 0},           // content that fits has no bar
    };
    for (const Case& c : cases) {
        const ScrollBarInfo bar = layout::scrollBarGeometry(track, 688, c.content, c.maxScroll, c.scroll, c.minThumb);
        EXPECT_EQ(bar.visible, c.visible) << c.content << "/" << c.scroll;
        EXPECT_EQ(bar.maxScroll, c.maxScroll);
        EXPECT_EQ(bar.viewHeight, 688);
        EXPECT_EQ(bar.trackTop, 78);
        if (!c.visible) continue;
        EXPECT_EQ(bar.thumbHeight, c.thumbHeight) << c.content << "/" << c.scroll;
        EXPECT_TRUE(sameRect(bar.thumb, {193, c.thumbTop, 197, c.thumbTop + c.thumbHeight}))
            << describe(bar.thumb).c_str();
        EXPECT_TRUE(sameRect(bar.track, track));
    }
}

TEST(Layout, SidebarRowsAreClippedToTheListView) {
    const int h = 780;
    struct Case {
        int index, scroll;
        bool visible;
        RECT hit;
    };
    const Case cases[] = {
        {0, 0, true, {12, 78, 188, 124}},
        {0, 30, true, {12, 78, 188, 94}},    // scrolled partly under the header: clipped at 78
        {0, 46, false, {}},                  // wholly above the view
        {0, 45, true, {12, 78, 188, 79}},
        {12, 0, true, {12, 726, 188, 766}},  // cut at h - 14
        {13, 0, false, {}},                  // starts at 780
        {13, 15, true, {12, 765, 188, 766}},
    };
    for (const Case& c : cases) {
        const int top = layout::sidebarRowTop(c.index, c.scroll);
        EXPECT_EQ(layout::sidebarRowVisible(top, h), c.visible) << c.index << "/" << c.scroll;
        if (c.visible) {
            const RECT hit = layout::sidebarRowHit(top, h);
            EXPECT_TRUE(sameRect(hit, c.hit)) << c.index << "/" << c.scroll << " " << describe(hit).c_str();
        }
    }
    EXPECT_EQ(layout::sidebarContentHeight(0), 0);
    EXPECT_EQ(layout::sidebarContentHeight(1), 46);
    EXPECT_EQ(layout::sidebarContentHeight(20), 1072);
}

TEST(Layout, FrameElementsFollowTheRightEdge) {
    struct Case {
        RECT actual, expected;
    };
    const int w = 1000, h = 660;
    const Case cases[] = {
        {layout::minimizeButton(w), {862, 0, 908, 64}},
        {layout::maximizeButton(w), {908, 0, 954, 64}},
        {layout::closeButton(w), {954, 0, 1000, 64}},
        {layout::downloadsPill(w), {630, 14, 734, 50}},
        {layout::settingsPill(w), {744, 14, 848, 50}},
        {layout::taskBadge(w), {718, 10, 742, 34}},
        {layout::updatesPill(w), {516, 14, 620, 50}},
        {layout::updatesBadge(w), {604, 10, 628, 34}},
        {layout::updateAllButton(w), {880, 86, 976, 112}},
        {layout::updateTrack(w, h), {981, 150, 985, 660}},
        {layout::reloadButton(w), {540, 294, 660, 326}},
        {layout::clearCompletedButton(w), {880, 86, 976, 112}},
        {layout::changeDirButton(w), {812, 120, 890, 146}},
        {layout::openDirButton(w), {898, 120, 976, 146}},
        {layout::toast(w), {320, 80, 680, 122}},
        {layout::noticeCard(w, h), {644, 556, 980, 640}},
        {layout::contentTrack(w, h), {981, 126, 985, 660}},
        {layout::sidebarTrack(h), {193, 78, 197, 646}},
        // The slogan gives way at the smallest width; from 1180 on both show.
        {layout::searchField(w), {244, 14, 500, 50}},
        {layout::searchEdit(w), {280, 22, 470, 42}},
        {layout::searchClear(w), {470, 20, 494, 44}},
        {layout::searchField(1179), {419, 14, 679, 50}},
        {layout::searchField(1180), {480, 14, 680, 50}},
        {layout::searchField(1920), {1160, 14, 1420, 50}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(sameRect(c.actual, c.expected)) << describe(c.actual).c_str() << " vs " << describe(c.expected).c_str();
        expectHitWherePainted(c.expected);
    }
}

// A window at another DPI lays out the same units; its pixels are theirs scaled, its icons decoded at
// their scaled size, and a client of any pixel size holds whole units.
TEST(Layout, UnitsScaleToTheWindowsPixels) {
    struct Case {
        int dpi;
        SIZE client, units;
        RECT close;
        int icon;
    };
    const Case cases[] = {
        {96, {1180, 780}, {1180, 780}, {1134, 0, 1180, 64}, 84},
        {120, {1475, 975}, {1180, 780}, {1417, 0, 1475, 80}, 105},
        {144, {1770, 1170}, {1180, 780}, {1701, 0, 1770, 96}, 126},
        {144, {1772, 1169}, {1181, 779}, {1702, 0, 1771, 96}, 126},  // odd pixels: the units that fit whole
        {192, {2360, 1560}, {1180, 780}, {2268, 0, 2360, 128}, 168},
        {192, {2361, 1561}, {1180, 780}, {2268, 0, 2360, 128}, 168},
    };
    for (const Case& c : cases) {
        const qb::DpiScale scale{c.dpi};
        const SIZE units = scale.unitsOfClient(c.client);
        EXPECT_EQ(units.cx, c.units.cx) << c.dpi;
        EXPECT_EQ(units.cy, c.units.cy) << c.dpi;
        const RECT close = scale.pixels(layout::closeButton(units.cx));
        EXPECT_TRUE(sameRect(close, c.close)) << c.dpi << " " << describe(close).c_str();
        EXPECT_EQ(scale.length(layout::kIconTileOnCard), c.icon) << c.dpi;
        for (int w = 1000; w < 1010; ++w)
            EXPECT_EQ(scale.unitsOfClient({scale.span(w), 1}).cx, w) << c.dpi << " " << w;
    }
}

// Between the separator and the pills (the leftmost one, for updates, starts at w - 484) at every
// width, after the slogan while it shows, and never narrower than 200 pixels.
TEST(Layout, SearchFieldLeavesRoomForTheSloganAndThePills) {
    EXPECT_FALSE(layout::sloganShown(1000));
    EXPECT_FALSE(layout::sloganShown(1179));
    EXPECT_TRUE(layout::sloganShown(1180));
    for (int w = 1000; w <= 2560; ++w) {
        const RECT field = layout::searchField(w);
        const int width = field.right - field.left;
        EXPECT_GE(width, layout::kSearchFieldMinWidth) << "w = " << w;
        EXPECT_LE(width, layout::kSearchFieldMaxWidth) << "w = " << w;
        EXPECT_LE(field.right + 16, w - 484) << "w = " << w;
        EXPECT_LE(field.right, layout::downloadsPill(w).left) << "w = " << w;
        EXPECT_GE(field.left, layout::sloganShown(w) ? layout::slogan().right + 16 : 244) << "w = " << w;
        const RECT edit = layout::searchEdit(w), clear = layout::searchClear(w);
        EXPECT_TRUE(field.left < edit.left && edit.right <= clear.left && clear.right < field.right) << "w = " << w;
    }
}

TEST(Layout, CardMenuOpensAtThePointerAndTurnsAtTheEdges) {
    // Two items: 136 wide, 6 + 2 x 34 + 6 = 80 high, in a 1180 x 780 client.
    struct Case {
        POINT anchor;
        int w, h;
        RECT panel;
    };
    const Case cases[] = {
        {{500, 300}, 1180, 780, {500, 300, 636, 380}},
        {{1044, 300}, 1180, 780, {1044, 300, 1180, 380}},  // reaches the right edge exactly
        {{1045, 300}, 1180, 780, {909, 300, 1045, 380}},   // one more: to the pointer's left
        {{500, 700}, 1180, 780, {500, 700, 636, 780}},     // reaches the bottom exactly
        {{500, 701}, 1180, 780, {500, 621, 636, 701}},     // one more: above the pointer
        {{1100, 760}, 1180, 780, {964, 680, 1100, 760}},   // the bottom-right corner turns both ways
        {{100, 50}, 120, 100, {0, 0, 136, 80}},            // no room either way: at the client's corner
    };
    for (const Case& c : cases) {
        const RECT panel = layout::cardMenuPanel(c.anchor, 2, c.w, c.h);
        EXPECT_TRUE(sameRect(panel, c.panel)) << c.anchor.x << "," << c.anchor.y << " " << describe(panel).c_str();
    }
    const RECT panel{500, 300, 636, 380};
    EXPECT_TRUE(sameRect(layout::cardMenuItem(panel, 0), {506, 306, 630, 340}));
    EXPECT_TRUE(sameRect(layout::cardMenuItem(panel, 1), {506, 340, 630, 374}));
}

TEST(Layout, DownloadRowsAndTheirSlots) {
    const int w = 1000;
    EXPECT_EQ(layout::downloadRowBase(0), 216);
    EXPECT_EQ(layout::downloadRowBase(4), 600);  // the fifth row still fits at h = 660
    EXPECT_EQ(layout::downloadRowBase(5), 696);  // the sixth lies below it
    EXPECT_TRUE(sameRect(layout::downloadRow(w, 1), {220, 254, 980, 340}));
    EXPECT_TRUE(sameRect(layout::rowPrimarySlot(w, 600), {888, 570, 964, 600}));
    EXPECT_TRUE(sameRect(layout::rowSecondSlot(w, 600), {802, 570, 878, 600}));
    EXPECT_TRUE(sameRect(layout::rowWideSlot(w, 600), {864, 570, 964, 600}));
    const RECT track = layout::rowProgressTrack(w, 216);
    EXPECT_EQ(track.right - track.left, 442);
    EXPECT_EQ(downloadRowProgressRight(w, 0), 298);
    EXPECT_EQ(downloadRowProgressRight(w, 50), 298 + 221);
    EXPECT_EQ(downloadRowProgressRight(w, 100), track.right);
    EXPECT_EQ(downloadRowProgressRight(1180, 33), 298 + 622 * 33 / 100);
}

TEST(Layout, UpdateRowsScrollUnderTheHeadingLine) {
    const int w = 1000, h = 660;
    struct Case {
        int rows, contentHeight, maxScroll;
    };
    const Case cases[] = {
        {0, 0, 0},
        {1, 94, 0},
        {5, 478, 0},    // the fifth row ends at 628 in a view of 510: fits
        {6, 574, 78},   // the sixth leaves 14 pixels below it at the end
        {20, 1918, 1422},
    };
    for (const Case& c : cases) {
        const layout::UpdateListView view = layout::updateListView(w, h, c.rows);
        EXPECT_TRUE(sameRect(view.clip, {212, 150, 988, 660})) << describe(view.clip).c_str();
        EXPECT_EQ(view.contentHeight, c.contentHeight) << c.rows;
        EXPECT_EQ(view.maxScroll, c.maxScroll) << c.rows;
    }

    // Row 1 scrolled by 100: its card spans 154..240, its button 182..212 in the wide slot.
    const layout::UpdateListView view = layout::updateListView(w, h, 20);
    const int base = layout::updateRowBase(1, 100);
    EXPECT_EQ(base, 212);
    EXPECT_TRUE(sameRect(layout::updateRowButton(w, base), {864, 182, 964, 212}));
    EXPECT_TRUE(sameRect(layout::updateRowHit(view, w, base), {864, 182, 964, 212}));
    // A row half under the heading line is shown, and only the part of its button in the view is clicked.
    const int under = layout::updateRowBase(0, 50);  // card 108..194, button 136..166
    EXPECT_TRUE(layout::updateRowShown(view, under));
    EXPECT_TRUE(sameRect(layout::updateRowHit(view, w, under), {864, 150, 964, 166}));
    EXPECT_FALSE(layout::updateRowShown(view, layout::updateRowBase(0, 94)));  // card 64..150: just above
    EXPECT_TRUE(layout::updateRowShown(view, layout::updateRowBase(0, 93)));
    EXPECT_FALSE(layout::updateRowShown(view, layout::updateRowBase(6, 74)));  // card starts at 660: below
    EXPECT_TRUE(layout::updateRowShown(view, layout::updateRowBase(6, 75)));
}

}  // namespace
