#pragma once
// Keyboard focus over the main window: what takes the focus, in which order, and where a key moves it.
// The window says what its shown page offers (a FocusShape); these functions answer the next target.
#include <windows.h>

#include <cstdint>
#include <vector>

// The window's regions in reading order; Tab visits those that offer something.
enum class FocusRegion : int32_t { Header = 0, Sidebar = 1, PageButtons = 2, Content = 3 };
constexpr int kFocusRegionCount = 4;

// One focusable item: its region, its place there in reading order, and which of its buttons (a
// download row has several side by side).
struct FocusTarget {
    FocusRegion region = FocusRegion::Header;
    int32_t index = 0;
    int32_t part = 0;
    bool operator==(const FocusTarget& other) const {
        return region == other.region && index == other.index && part == other.part;
    }
    bool operator!=(const FocusTarget& other) const { return !(*this == other); }
};

// The header's first control is the search field.
constexpr int32_t kSearchFieldItem = 0;

// What the shown page offers, in reading order.
struct FocusShape {
    int counts[kFocusRegionCount] = {};   // items per region
    int entries[kFocusRegionCount] = {};  // where Tab enters a region: the selected category, the first shown card
    int columns = 1;                      // of the content: the grid's columns, 1 for a list
    int contentPageRows = 1;              // content rows one page of the view shows
    int sidebarPageRows = 1;
    std::vector<int> contentParts;  // buttons per content item; an item not listed has one
    bool searchResults = false;     // the content is a search's results: Down and Tab go there from the field
};

enum class FocusKey { Tab, ShiftTab, Up, Down, Left, Right, Home, End, PageUp, PageDown };

// Where key moves the focus from `from`. Tab and Shift+Tab go to the next or previous region that has
// items (round the window), the header counting as two stops, its search field and its buttons; arrows
// stay in a region: up and down in the sidebar and in lists, all four
// ways in the grid, left and right along the header, the page's buttons and a row's buttons.
FocusTarget moveFocus(const FocusShape& shape, const FocusTarget& from, FocusKey key);

// The target once the page has changed under it: the same item while it is there, else the nearest one,
// else the region's entry; a region left empty gives way to the next one with items.
FocusTarget clampFocus(const FocusShape& shape, const FocusTarget& target);

int focusParts(const FocusShape& shape, int index);
inline int focusCount(const FocusShape& shape, FocusRegion region) { return shape.counts[static_cast<int>(region)]; }

// The focus as the main window keeps it.
struct KeyboardFocus {
    FocusTarget target;
    bool ringShown = false;      // the keyboard was used since the last press of a pointer button
    bool revealPending = false;  // the update step scrolls the target into view, then clears this
    // Placed by the update step: where the ring goes (empty for none), what clips it, its corner radius.
    RECT ring{};
    RECT ringClip{};
    int ringRadius = 0;
    bool ringOnHeader = false;  // drawn in white: the brand colour does not show on the header's gradient
    // The content item (its app id) the target named when it was last looked at: while the target stays,
    // the focus stays on that item when the list changes under it (a download added above it).
    FocusTarget heldTarget{};
    int32_t heldId = 0;
};
