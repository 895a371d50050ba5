#include <gtest/gtest.h>

#include "model/focus_model.h"

namespace {

constexpr FocusRegion H = FocusRegion::Header, S = FocusRegion::Sidebar, B = FocusRegion::PageButtons,
                      C = FocusRegion::Content;

FocusTarget at(FocusRegion region, int32_t index, int32_t part = 0) { return FocusTarget{region, index, part}; }

// 7 header controls, 5 categories (the third selected), no page buttons, 10 cards in 4 columns, 2 rows a page.
FocusShape grid(bool searchResults = false) {
    FocusShape shape;
    shape.counts[0] = 7;
    shape.counts[1] = 5;
    shape.counts[3] = 10;
    shape.entries[1] = 2;
    shape.entries[3] = 4;  // the first card the view shows
    shape.columns = 4;
    shape.contentPageRows = 2;
    shape.sidebarPageRows = 3;
    shape.searchResults = searchResults;
    return shape;
}

// The download page: 3 buttons of its own, rows of 2, 1 and 2 buttons, no categories.
FocusShape downloads() {
    FocusShape shape;
    shape.counts[0] = 7;
    shape.counts[2] = 3;
    shape.counts[3] = 3;
    shape.contentParts = {2, 1, 2};
    return shape;
}

TEST(FocusModel, KeysMoveInReadingOrderWithinAndBetweenRegions) {
    struct Case {
        const char* what;
        FocusShape shape;
        FocusTarget from;
        FocusKey key;
        FocusTarget expected;
    };
    const Case cases[] = {
        {"Tab enters the sidebar at the selected category", grid(), at(H, 3), FocusKey::Tab, at(S, 2)},
        {"Tab skips the empty page buttons", grid(), at(S, 0), FocusKey::Tab, at(C, 4)},
        {"Tab from the content goes round to the header", grid(), at(C, 9), FocusKey::Tab, at(H, 0)},
        {"Shift+Tab goes back", grid(), at(C, 1), FocusKey::ShiftTab, at(S, 2)},
        {"Shift+Tab from the field goes round to the content", grid(), at(H, 0), FocusKey::ShiftTab, at(C, 4)},
        {"Tab from the field goes on to the header's buttons", grid(), at(H, 0), FocusKey::Tab, at(H, 1)},
        {"Shift+Tab from the header's buttons goes back to the field", grid(), at(H, 4), FocusKey::ShiftTab, at(H, 0)},
        {"Shift+Tab from the sidebar enters the header's buttons", grid(), at(S, 0), FocusKey::ShiftTab, at(H, 1)},
        {"Tab from the field goes into the results", grid(true), at(H, 0), FocusKey::Tab, at(C, 0)},
        {"Down from the field goes into the results", grid(true), at(H, 0), FocusKey::Down, at(C, 0)},
        {"Down in the header does nothing without results", grid(), at(H, 0), FocusKey::Down, at(H, 0)},
        {"Right along the header", grid(), at(H, 1), FocusKey::Right, at(H, 2)},
        {"Right stops at the close button", grid(), at(H, 6), FocusKey::Right, at(H, 6)},
        {"Down in the sidebar", grid(), at(S, 2), FocusKey::Down, at(S, 3)},
        {"Up stops at the first category", grid(), at(S, 0), FocusKey::Up, at(S, 0)},
        {"PgDn in the sidebar stops at the last", grid(), at(S, 3), FocusKey::PageDown, at(S, 4)},
        {"Left in the sidebar does nothing", grid(), at(S, 1), FocusKey::Left, at(S, 1)},
        {"Right in the grid", grid(), at(C, 3), FocusKey::Right, at(C, 4)},
        {"Left stops at the first card", grid(), at(C, 0), FocusKey::Left, at(C, 0)},
        {"Down keeps the column", grid(), at(C, 1), FocusKey::Down, at(C, 5)},
        {"Down to a shorter last row goes to its last card", grid(), at(C, 7), FocusKey::Down, at(C, 9)},
        {"Down from the last row stays", grid(), at(C, 9), FocusKey::Down, at(C, 9)},
        {"Up from the first row stays", grid(), at(C, 2), FocusKey::Up, at(C, 2)},
        {"PgDn moves a page of rows", grid(), at(C, 1), FocusKey::PageDown, at(C, 9)},
        {"PgUp stops in the first row, same column", grid(), at(C, 6), FocusKey::PageUp, at(C, 2)},
        {"Home and End", grid(), at(C, 6), FocusKey::End, at(C, 9)},
        {"Home", grid(), at(S, 4), FocusKey::Home, at(S, 0)},
        {"Tab enters the page's buttons before the rows", downloads(), at(H, 5), FocusKey::Tab, at(B, 0)},
        {"Right along the page's buttons", downloads(), at(B, 0), FocusKey::Right, at(B, 1)},
        {"Right moves to a row's second button", downloads(), at(C, 0), FocusKey::Right, at(C, 0, 1)},
        {"Right stops at a row's last button", downloads(), at(C, 0, 1), FocusKey::Right, at(C, 0, 1)},
        {"Down in a list keeps the button where it can", downloads(), at(C, 1), FocusKey::Down, at(C, 2)},
        {"Down to a row of one button takes that one", downloads(), at(C, 0, 1), FocusKey::Down, at(C, 1, 0)},
        {"Left in a list without buttons to the left stays", downloads(), at(C, 2), FocusKey::Left, at(C, 2)},
    };
    for (const Case& c : cases) {
        const FocusTarget got = moveFocus(c.shape, c.from, c.key);
        EXPECT_EQ(got, c.expected) << c.what << ": region " << static_cast<int>(got.region) << " item " << got.index
                                   << " part " << got.part;
    }
}

TEST(FocusModel, APageThatChangesUnderTheFocusKeepsItNearby) {
    FocusShape fewer = grid();
    fewer.counts[3] = 3;
    EXPECT_EQ(clampFocus(fewer, at(C, 9)), at(C, 2));
    FocusShape none = grid();
    none.counts[3] = 0;  // the results emptied: the focus goes on to the header
    EXPECT_EQ(clampFocus(none, at(C, 5)), at(H, 0));
    EXPECT_EQ(clampFocus(downloads(), at(C, 1, 1)), at(C, 1, 0));
    FocusShape empty;
    EXPECT_EQ(moveFocus(empty, at(S, 1), FocusKey::Tab), at(S, 1));
}

}  // namespace
