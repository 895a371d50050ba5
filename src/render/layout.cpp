#include "render/layout.h"

#include <algorithm>

namespace layout {

RECT minimizeButton(int w) { return {w - 138, 0, w - 92, kHeaderHeight}; }
RECT maximizeButton(int w) { return {w - 92, 0, w - 46, kHeaderHeight}; }
RECT closeButton(int w) { return {w - 46, 0, w, kHeaderHeight}; }
RECT downloadsPill(int w) { return {w - 370, 14, w - 266, 50}; }
RECT settingsPill(int w) { return {w - 256, 14, w - 152, 50}; }
RECT taskBadge(int w) { return {w - 282, 10, w - 258, 34}; }
RECT updatesPill(int w) { return {w - 484, 14, w - 380, 50}; }
RECT updatesBadge(int w) { return {w - 396, 10, w - 372, 34}; }

namespace {
constexpr int kSearchFieldGap = 16;  // between the field and what lies on either side of it
int searchFieldRight(int w) { return w - 484 - kSearchFieldGap; }
}  // namespace

RECT slogan() { return {244, 0, 464, kHeaderHeight}; }
bool sloganShown(int w) { return searchFieldRight(w) - (slogan().right + kSearchFieldGap) >= kSearchFieldMinWidth; }
RECT searchField(int w) {
    const int right = searchFieldRight(w);
    const int leftmost = sloganShown(w) ? slogan().right + kSearchFieldGap : slogan().left;
    return {std::max(leftmost, right - kSearchFieldMaxWidth), 14, right, 50};
}
RECT searchEdit(int w) {
    const RECT field = searchField(w);
    return {field.left + 36, 22, field.right - 30, 42};
}
RECT searchClear(int w) {
    const RECT field = searchField(w);
    return {field.right - 30, 20, field.right - 6, 44};
}

RECT sidebarListView(int h) { return {0, kSidebarListTop, kSidebarWidth, h - kSidebarListBottomMargin}; }

int sidebarContentHeight(int rows) { return rows <= 0 ? 0 : (rows - 1) * kSidebarRowPitch + kSidebarRowHeight; }
int sidebarViewHeight(int h) { return h - kSidebarListTop - kSidebarListBottomMargin; }
int sidebarRowTop(int index, int scroll) { return kSidebarListTop + kSidebarRowPitch * index - scroll; }
RECT sidebarRow(int index, int scroll) {
    const int y = sidebarRowTop(index, scroll);
    return {12, y, 188, y + kSidebarRowHeight};
}
bool sidebarRowVisible(int rowTop, int h) {
    return rowTop + kSidebarRowHeight > kSidebarListTop && rowTop < h - kSidebarListBottomMargin;
}
RECT sidebarRowHit(int rowTop, int h) {
    return {12, std::max(rowTop, kSidebarListTop), 188,
            std::min(rowTop + kSidebarRowHeight, h - kSidebarListBottomMargin)};
}
RECT sidebarTrack(int h) { return {193, kSidebarListTop, 197, h - kSidebarListBottomMargin}; }
int sidebarMaxScroll(int rows, int h) { return std::max(0, sidebarContentHeight(rows) - sidebarViewHeight(h)); }
bool inSidebar(POINT client) { return client.x < kSidebarWidth && client.y > kHeaderHeight; }

GridColumns gridColumns(int right) {
    const int avail = right - 240;
    GridColumns grid;
    int totalGap = 28;
    if (avail >= 880) {
        grid.columns = avail / 220;
        totalGap = (grid.columns - 1) * kCardGap;
    }
    grid.cardWidth = (avail - totalGap) / grid.columns;
    return grid;
}

int gridContentHeight(int apps, int columns) {
    const int rows = (apps + columns - 1) / columns;
    return rows * kCardPitch;
}

int gridMaxScroll(int contentHeight, int viewHeight) { return std::max(0, contentHeight - viewHeight + 14); }

RECT cardRect(const GridColumns& grid, int index, int top, int scroll) {
    const int row = index / grid.columns;
    const int column = index % grid.columns;
    const int x = 226 + column * (grid.cardWidth + kCardGap);
    const int y = top + row * kCardPitch - scroll;
    return {x, y, x + grid.cardWidth, y + kCardHeight};
}

RECT cardButton(const RECT& card) {
    const int bx = card.left + (card.right - card.left - kCardButtonWidth) / 2;
    return {bx, card.top + 188, bx + kCardButtonWidth, card.top + 188 + kCardButtonHeight};
}

RECT cardIcon(const RECT& card) {
    const int ix = card.left + (card.right - card.left - kIconTileOnCard) / 2;
    return {ix, card.top + 16, ix + kIconTileOnCard, card.top + 16 + kIconTileOnCard};
}

RECT contentTrack(int w, int h) { return {w - 19, kGridTopWithHeading, w - 15, h}; }

GridView gridView(int w, int h, int apps) {
    GridView view;
    view.columns = gridColumns(w - 12);
    view.clip = {kGridLeft, kGridTopWithHeading, w - 12, h};
    view.contentHeight = gridContentHeight(apps, view.columns.columns);
    view.maxScroll = gridMaxScroll(view.contentHeight, h - kGridTopWithHeading);
    return view;
}

ScrollBarInfo scrollBarGeometry(const RECT& track, int viewHeight, int contentHeight, int maxScroll, int scroll,
                                int minThumb) {
    ScrollBarInfo bar;
    bar.maxScroll = maxScroll;
    bar.viewHeight = viewHeight;
    bar.trackTop = track.top;
    if (maxScroll <= 0 || contentHeight <= 0) return bar;
    bar.visible = true;
    bar.track = track;
    bar.thumbHeight = std::max(minThumb, viewHeight * viewHeight / contentHeight);
    const int thumbTop = track.top + (viewHeight - bar.thumbHeight) * scroll / maxScroll;
    bar.thumb = {track.left, thumbTop, track.right, thumbTop + bar.thumbHeight};
    return bar;
}

RECT contentHeading(int w) { return {kGridLeft, 78, w - 12, 118}; }

bool cardShown(const GridView& view, const RECT& card) {
    return card.top < view.clip.bottom && card.bottom > view.clip.top;
}

constexpr int kNearBelow = 2 * kCardPitch;
constexpr int kNearAbove = kCardPitch;

bool cardNearView(const GridView& view, const RECT& card) {
    return card.top < view.clip.bottom + kNearBelow && card.bottom > view.clip.top - kNearAbove;
}

int cardsNearViewAtMost(const GridView& view) {
    // The rows spanning the view and its near margins, and one more cut at each edge.
    const int rows = (view.clip.bottom - view.clip.top + kNearBelow + kNearAbove) / kCardPitch + 2;
    return rows * view.columns.columns;
}

RECT reloadButton(int w) {
    const int cx = (w + kSidebarWidth) / 2;
    return {cx - 60, 294, cx + 60, 326};
}
RECT clearCompletedButton(int w) { return {w - 120, 86, w - 24, 112}; }
RECT changeDirButton(int w) { return {w - 188, 120, w - 110, 146}; }
RECT openDirButton(int w) { return {w - 102, 120, w - 24, 146}; }

int downloadRowBase(int k) { return 216 + 96 * k; }
RECT downloadRow(int w, int k) { return downloadRowAt(w, downloadRowBase(k)); }
RECT downloadRowAt(int w, int base) { return {220, base - 58, w - 20, base + 28}; }
RECT rowPrimarySlot(int w, int base) { return {w - 112, base - 30, w - 36, base}; }
RECT rowSecondSlot(int w, int base) { return {w - 198, base - 30, w - 122, base}; }
RECT rowWideSlot(int w, int base) { return {w - 136, base - 30, w - 36, base}; }
RECT rowButton(RowSlot slot, int w, int base) {
    switch (slot) {
        case RowSlot::Second: return rowSecondSlot(w, base);
        case RowSlot::Wide: return rowWideSlot(w, base);
        case RowSlot::Primary: break;
    }
    return rowPrimarySlot(w, base);
}
RECT rowProgressTrack(int w, int base) { return {298, base - 12, w - 260, base - 6}; }

RECT updateAllButton(int w) { return {w - 120, 86, w - 24, 112}; }

namespace {
constexpr int kUpdateListTop = 150;  // the first row's card starts 8 pixels below
}  // namespace

UpdateListView updateListView(int w, int h, int rows) {
    UpdateListView view;
    view.clip = {kGridLeft, kUpdateListTop, w - 12, h};
    view.contentHeight = rows <= 0 ? 0 : downloadRowAt(w, downloadRowBase(rows - 1)).bottom - kUpdateListTop;
    view.maxScroll = rows <= 0 ? 0 : gridMaxScroll(view.contentHeight, h - kUpdateListTop);
    return view;
}

int updateRowBase(int k, int scroll) { return downloadRowBase(k) - scroll; }

bool updateRowShown(const UpdateListView& view, int base) {
    const RECT row = downloadRowAt(view.clip.right + 12, base);
    return row.top < view.clip.bottom && row.bottom > view.clip.top;
}

RECT updateRowButton(int w, int base) { return rowWideSlot(w, base); }

RECT updateRowHit(const UpdateListView& view, int w, int base) {
    RECT hit = updateRowButton(w, base);
    hit.top = std::max(hit.top, view.clip.top);
    hit.bottom = std::min(hit.bottom, view.clip.bottom);
    return hit;
}

RECT updateTrack(int w, int h) { return {w - 19, kUpdateListTop, w - 15, h}; }

RECT toast(int w) { return {(w - 360) / 2, 80, (w + 360) / 2, 122}; }
RECT noticeCard(int w, int h) { return {w - 356, h - 104, w - 20, h - 20}; }

RECT cardMenuPanel(POINT anchor, int items, int w, int h) {
    const int height = 2 * kCardMenuPadding + items * kCardMenuItemHeight;
    int left = static_cast<int>(anchor.x);
    int top = static_cast<int>(anchor.y);
    if (left + kCardMenuWidth > w) left = std::max(0, left - kCardMenuWidth);
    if (top + height > h) top = std::max(0, top - height);
    return {left, top, left + kCardMenuWidth, top + height};
}

RECT cardMenuItem(const RECT& panel, int index) {
    const int top = panel.top + kCardMenuPadding + index * kCardMenuItemHeight;
    return {panel.left + kCardMenuPadding, top, panel.right - kCardMenuPadding, top + kCardMenuItemHeight};
}

}  // namespace layout
