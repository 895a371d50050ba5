#pragma once
// The category sidebar: rows with their pictograms, and the sidebar scroll bar.
#include <vector>

#include "render/paint_context.h"

// A copy of the catalogue's categories in catalogue order; rows and row clicks index into it.
std::vector<CategoryInfo> snapshotCategories(const Catalogue& catalogue);

// Paints the sidebar background, the visible category rows and the scroll bar at the offset and
// bar geometry the update step settled.
void paintSidebar(PaintContext& ctx);
// The sidebar's thumb is darker while it is dragged or paged.
bool sidebarBarActive(const AppState& app);
