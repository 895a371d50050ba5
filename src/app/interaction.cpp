#include "app/interaction.h"

#include <algorithm>
#include <cstdint>

#include "render/layout.h"

namespace {

bool contains(const RECT& rect, POINT point) { return ::PtInRect(&rect, point) != FALSE; }

}  // namespace

const HitRegion* findHitRegion(const std::vector<HitRegion>& regions, POINT point) {
    for (auto it = regions.rbegin(); it != regions.rend(); ++it)
        if (contains(it->rect, point)) return &*it;
    return nullptr;
}

bool anyHitRegionContains(const std::vector<HitRegion>& regions, POINT point) {
    return findHitRegion(regions, point) != nullptr;
}

ScrollBarId scrollBarAt(const ScrollBarInfo& content, const ScrollBarInfo& sidebar, POINT point) {
    if (content.visible && contains(content.track, point)) return ScrollBarId::Content;
    if (sidebar.visible && contains(sidebar.track, point)) return ScrollBarId::Sidebar;
    return ScrollBarId::None;
}

int pageStepOffset(const ScrollBarInfo& bar, int offset, int y) {
    if (!bar.visible) return offset;
    const int threeQuarters = 3 * bar.viewHeight;
    int step = threeQuarters > 243 ? threeQuarters >> 2 : 60;
    if (y < bar.thumb.top) step = -step;
    const int64_t moved = static_cast<int64_t>(offset) + step;
    return static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(moved, bar.maxScroll)));
}

std::optional<int> dragScrollOffset(const ScrollBarInfo& bar, int y, int grabOffset) {
    const int travel = bar.viewHeight - bar.thumbHeight;
    if (!bar.visible || travel < 1) return std::nullopt;
    const int64_t mapped =
        static_cast<int64_t>(bar.maxScroll) * (static_cast<int64_t>(y) - grabOffset - bar.trackTop) / travel;
    return static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(mapped, bar.maxScroll)));
}

WheelTarget wheelTarget(POINT client, Page page) {
    if (layout::inSidebar(client)) return WheelTarget::Sidebar;
    return page == Page::Downloads ? WheelTarget::Nothing : WheelTarget::Content;
}

std::wstring selectionAfterLoad(const std::vector<CategoryInfo>& categories, const std::wstring& current,
                                bool fromDownloadPage) {
    if (categories.empty()) return std::wstring();
    if (!fromDownloadPage && !current.empty()) {
        for (const CategoryInfo& category : categories)
            if (category.id == current) return current;
    }
    return categories.front().id;
}
