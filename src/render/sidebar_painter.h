#pragma once
// The category sidebar: rows with their pictograms, and the sidebar scroll bar.
#include <vector>

#include "render/paint_context.h"

// A copy of the catalogue's categories in catalogue order; rows and row clicks index into it.
std::vector<CategoryInfo> SnapshotCategories(const Catalogue& catalogue);

// Paints the sidebar background, the category rows and the scroll bar; clamps sidebarScroll,
// records one Category region per visible row and writes sidebarScrollBar.
void paintSidebar(PaintContext& ctx);
