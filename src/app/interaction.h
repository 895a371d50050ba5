#pragma once
// The pure decisions behind the main window's pointer handling and catalogue reloads.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "model/hit_region.h"
#include "service/catalogue.h"

// The region under a point, scanning from the last painted; null when none contains it.
const HitRegion* findHitRegion(const std::vector<HitRegion>& regions, POINT point);
bool anyHitRegionContains(const std::vector<HitRegion>& regions, POINT point);

// The scroll bar whose visible track holds the point, the content bar before the sidebar bar.
ScrollBarId scrollBarAt(const ScrollBarInfo& content, const ScrollBarInfo& sidebar, POINT point);

// One page step of a held track towards y: three quarters of the view, at least 60 pixels,
// upwards when y is above the thumb; the result is clamped to [0, maxScroll].
int pageStepOffset(const ScrollBarInfo& bar, int offset, int y);

// The offset a thumb dragged to pointer y maps to; nothing when the bar cannot be dragged.
std::optional<int> dragScrollOffset(const ScrollBarInfo& bar, int y, int grabOffset);

enum class WheelTarget { Sidebar, Content, Nothing };
// The sidebar below the header takes the wheel; elsewhere it scrolls the cards, except on the download page.
WheelTarget wheelTarget(POINT client, Page page);

// The category selected after a catalogue load: the current one if it survived on the catalogue
// page, otherwise the first category, or none when there are none.
std::wstring selectionAfterLoad(const std::vector<CategoryInfo>& categories, const std::wstring& current,
                                bool fromDownloadPage);
