#pragma once
// The geometry of the main window as pure functions of the client size (w, h).
// Painting draws these rectangles and records them as hit regions; tests read them directly.
#include <windows.h>

#include "model/hit_region.h"

// Where a download row's button sits.
enum class RowSlot { Primary, Second, Wide };

namespace layout {

constexpr int kHeaderHeight = 64;
constexpr int kSidebarWidth = 200;
constexpr int kSidebarListTop = 78;
constexpr int kSidebarListBottomMargin = 14;
constexpr int kSidebarRowHeight = 46;
constexpr int kSidebarRowPitch = 54;
constexpr int kSidebarMinThumb = 30;
constexpr int kGridLeft = 212;
constexpr int kGridTopWithHeading = 126;
constexpr int kCardHeight = 234;
constexpr int kCardPitch = 248;
constexpr int kCardGap = 14;
constexpr int kGridMinThumb = 36;
constexpr int kCardButtonWidth = 100;
constexpr int kCardButtonHeight = 32;
constexpr int kIconTileOnCard = 84;
constexpr int kRowIconSize = 48;
constexpr int kNoticeIconSize = 44;

// The borderless frame resizes from bands on the left, right and bottom edges; the header moves it.
constexpr int kResizeBorderLeft = 7;
constexpr int kResizeBorderRight = 6;
constexpr int kResizeBorderBottom = 6;

// The icon of a download row whose text baseline is b, and of the completion notice.
inline RECT downloadRowIcon(int b) { return {236, b - 39, 236 + kRowIconSize, b - 39 + kRowIconSize}; }
inline RECT noticeIcon(int w, int h) { return {w - 342, h - 84, w - 342 + kNoticeIconSize, h - 84 + kNoticeIconSize}; }

RECT minimizeButton(int w);
RECT maximizeButton(int w);
RECT closeButton(int w);
RECT downloadsPill(int w);
RECT settingsPill(int w);
RECT taskBadge(int w);
RECT updatesPill(int w);
RECT updatesBadge(int w);

// The search field sits between the slogan and the header pills, 16 pixels left of the leftmost pill
// (w - 484); where both do not fit, the slogan gives way and the field takes its place.
constexpr int kSearchFieldMinWidth = 200;
constexpr int kSearchFieldMaxWidth = 260;
RECT slogan();
bool sloganShown(int w);
RECT searchField(int w);
// The edit control inside the field, after the magnifier and before the clear button.
RECT searchEdit(int w);
RECT searchClear(int w);

RECT sidebarListView(int h);
// Content height of n category rows (the last row has no gap below it).
int sidebarContentHeight(int rows);
int sidebarViewHeight(int h);
int sidebarRowTop(int index, int scroll);
RECT sidebarRow(int index, int scroll);
// A row is drawn only while some of it lies inside the list view.
bool sidebarRowVisible(int rowTop, int h);
// The clickable part of a row: the row clipped to the list view.
RECT sidebarRowHit(int rowTop, int h);
RECT sidebarTrack(int h);
int sidebarMaxScroll(int rows, int h);
// The sidebar below the header, where the wheel scrolls the categories.
bool inSidebar(POINT client);

struct GridColumns {
    int columns = 3;
    int cardWidth = 0;
};
// Columns and card width of the grid whose right edge is right (w - 12 on the catalogue page).
GridColumns gridColumns(int right);
int gridContentHeight(int apps, int columns);
// Largest grid scroll offset; 14 pixels of room stay below the last row.
int gridMaxScroll(int contentHeight, int viewHeight);
RECT cardRect(const GridColumns& grid, int index, int top, int scroll);
RECT cardButton(const RECT& card);
RECT cardIcon(const RECT& card);
RECT contentTrack(int w, int h);

// The catalogue grid of apps cards below its heading, for a client of w x h.
struct GridView {
    GridColumns columns;
    RECT clip{};  // where cards show: (212, 126, w - 12, h)
    int contentHeight = 0;
    int maxScroll = 0;
};
GridView gridView(int w, int h, int apps);
// A card is drawn, and clickable, while some of it lies inside the grid's view.
bool cardShown(const GridView& view, const RECT& card);
// Cards about to be shown: up to two rows below the view and one above it.
bool cardNearView(const GridView& view, const RECT& card);
// At most how many cards are shown or near the view at once, wherever it is scrolled.
int cardsNearViewAtMost(const GridView& view);

// Thumb geometry of a scroll bar whose track runs from track.top for viewHeight pixels.
// scroll must already be clamped; maxScroll 0 or less gives an invisible bar.
ScrollBarInfo scrollBarGeometry(const RECT& track, int viewHeight, int contentHeight, int maxScroll, int scroll,
                                int minThumb);

RECT contentHeading(int w);
RECT reloadButton(int w);
RECT clearCompletedButton(int w);
RECT changeDirButton(int w);
RECT openDirButton(int w);
// Base line of download row k; the row card spans b-58..b+28.
int downloadRowBase(int k);
RECT downloadRow(int w, int k);
RECT downloadRowAt(int w, int base);
RECT rowPrimarySlot(int w, int base);
RECT rowSecondSlot(int w, int base);
RECT rowWideSlot(int w, int base);
RECT rowButton(RowSlot slot, int w, int base);
RECT rowProgressTrack(int w, int base);

// The updates page: its heading line, "全部升级" and a scrolled list of rows shaped like download rows.
RECT updateAllButton(int w);
struct UpdateListView {
    RECT clip{};  // where rows show: (212, 150, w - 12, h)
    int contentHeight = 0;
    int maxScroll = 0;
};
UpdateListView updateListView(int w, int h, int rows);
// Base line of update row k at a scroll offset; the row card spans b-58..b+28 like a download row's.
int updateRowBase(int k, int scroll);
bool updateRowShown(const UpdateListView& view, int base);
// The row's button sits in the wide slot; its clickable part is what the view shows of it.
RECT updateRowButton(int w, int base);
RECT updateRowHit(const UpdateListView& view, int w, int base);
RECT updateTrack(int w, int h);

RECT toast(int w);
RECT noticeCard(int w, int h);

// A card's right-click menu: a panel of items one under another, its top-left corner at the anchor,
// moved to the anchor's left or above it where it would pass the client's right or bottom edge.
constexpr int kCardMenuWidth = 136;
constexpr int kCardMenuItemHeight = 34;
constexpr int kCardMenuPadding = 6;
RECT cardMenuPanel(POINT anchor, int items, int w, int h);
RECT cardMenuItem(const RECT& panel, int index);

}  // namespace layout
