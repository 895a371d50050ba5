#include "model/focus_model.h"

#include <algorithm>

namespace {

FocusRegion regionAt(int i) { return static_cast<FocusRegion>((i % kFocusRegionCount + kFocusRegionCount) % kFocusRegionCount); }

FocusTarget item(const FocusShape& shape, FocusRegion region, int index, int part) {
    const int count = focusCount(shape, region);
    FocusTarget target{region, std::clamp(index, 0, std::max(0, count - 1)), 0};
    target.part = std::clamp(part, 0, focusParts(shape, target.index) - 1);
    return target;
}

FocusTarget entry(const FocusShape& shape, FocusRegion region) {
    return item(shape, region, shape.entries[static_cast<int>(region)], 0);
}

// The first region after (step 1) or before (step -1) `from` that has items, round the window. The
// header holds two stops, the search field and then the row of its buttons: backwards, the row comes first.
FocusTarget nextRegion(const FocusShape& shape, const FocusTarget& from, int step) {
    const int start = static_cast<int>(from.region);
    for (int i = 1; i <= kFocusRegionCount; ++i) {
        const FocusRegion region = regionAt(start + step * i);
        if (focusCount(shape, region) == 0) continue;
        if (region == FocusRegion::Header && step < 0 && focusCount(shape, region) > 1)
            return item(shape, region, kSearchFieldItem + 1, 0);
        return entry(shape, region);
    }
    return from;
}

// Header and page buttons: one row, read left to right.
FocusTarget moveAlongRow(const FocusShape& shape, const FocusTarget& from, FocusKey key) {
    const int last = focusCount(shape, from.region) - 1;
    switch (key) {
        case FocusKey::Left: return item(shape, from.region, from.index - 1, 0);
        case FocusKey::Right: return item(shape, from.region, from.index + 1, 0);
        case FocusKey::Home: return item(shape, from.region, 0, 0);
        case FocusKey::End: return item(shape, from.region, last, 0);
        default: return from;
    }
}

FocusTarget moveInSidebar(const FocusShape& shape, const FocusTarget& from, FocusKey key) {
    const int last = focusCount(shape, from.region) - 1;
    const int page = std::max(1, shape.sidebarPageRows);
    switch (key) {
        case FocusKey::Up: return item(shape, from.region, from.index - 1, 0);
        case FocusKey::Down: return item(shape, from.region, from.index + 1, 0);
        case FocusKey::PageUp: return item(shape, from.region, from.index - page, 0);
        case FocusKey::PageDown: return item(shape, from.region, from.index + page, 0);
        case FocusKey::Home: return item(shape, from.region, 0, 0);
        case FocusKey::End: return item(shape, from.region, last, 0);
        default: return from;
    }
}

// Down from a card of the last full row goes to the last card when a shorter row follows.
int cardBelow(int index, int columns, int last) {
    if (index + columns <= last) return index + columns;
    return index / columns < last / columns ? last : index;
}

FocusTarget moveInContent(const FocusShape& shape, const FocusTarget& from, FocusKey key) {
    const int last = focusCount(shape, from.region) - 1;
    const int columns = std::max(1, shape.columns);
    const int page = std::max(1, shape.contentPageRows) * columns;
    const int parts = focusParts(shape, from.index);
    const FocusRegion region = from.region;
    switch (key) {
        case FocusKey::Left:
            if (from.part > 0) return item(shape, region, from.index, from.part - 1);
            return columns > 1 ? item(shape, region, from.index - 1, 0) : from;
        case FocusKey::Right:
            if (from.part + 1 < parts) return item(shape, region, from.index, from.part + 1);
            return columns > 1 ? item(shape, region, std::min(from.index + 1, last), 0) : from;
        case FocusKey::Up:
            return from.index >= columns ? item(shape, region, from.index - columns, from.part) : from;
        case FocusKey::Down: return item(shape, region, cardBelow(from.index, columns, last), from.part);
        case FocusKey::PageUp:
            return item(shape, region, from.index >= page ? from.index - page : from.index % columns, from.part);
        case FocusKey::PageDown:
            return item(shape, region, from.index + page <= last ? from.index + page : last, from.part);
        case FocusKey::Home: return item(shape, region, 0, 0);
        case FocusKey::End: return item(shape, region, last, 0);
        default: return from;
    }
}

}  // namespace

int focusParts(const FocusShape& shape, int index) {
    if (index < 0 || static_cast<size_t>(index) >= shape.contentParts.size()) return 1;
    return std::max(1, shape.contentParts[static_cast<size_t>(index)]);
}

FocusTarget clampFocus(const FocusShape& shape, const FocusTarget& target) {
    if (focusCount(shape, target.region) > 0)
        return item(shape, target.region, target.index, target.region == FocusRegion::Content ? target.part : 0);
    return nextRegion(shape, target, 1);
}

FocusTarget moveFocus(const FocusShape& shape, const FocusTarget& start, FocusKey key) {
    const FocusTarget from = clampFocus(shape, start);
    if (focusCount(shape, from.region) == 0) return from;
    const bool inField = from.region == FocusRegion::Header && from.index == kSearchFieldItem;
    const bool intoResults = key == FocusKey::Down || key == FocusKey::Tab;
    if (inField && intoResults && shape.searchResults && focusCount(shape, FocusRegion::Content) > 0)
        return item(shape, FocusRegion::Content, 0, 0);
    const bool headerRow = from.region == FocusRegion::Header && !inField && focusCount(shape, from.region) > 1;
    if (key == FocusKey::Tab && inField && focusCount(shape, FocusRegion::Header) > 1)
        return item(shape, FocusRegion::Header, kSearchFieldItem + 1, 0);
    if (key == FocusKey::ShiftTab && headerRow) return item(shape, FocusRegion::Header, kSearchFieldItem, 0);
    if (key == FocusKey::Tab) return nextRegion(shape, from, 1);
    if (key == FocusKey::ShiftTab) return nextRegion(shape, from, -1);
    switch (from.region) {
        case FocusRegion::Sidebar: return moveInSidebar(shape, from, key);
        case FocusRegion::Content: return moveInContent(shape, from, key);
        case FocusRegion::Header:
        case FocusRegion::PageButtons: break;
    }
    return moveAlongRow(shape, from, key);
}
