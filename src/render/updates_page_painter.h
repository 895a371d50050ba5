#pragma once
// The updates page: the installed apps that have a newer version in the catalogue, one row each,
// with "全部升级" above them.
#include "render/paint_context.h"

// Paints the page's content area at the scroll offset and bar the update step settled.
void paintUpdatesPage(PaintContext& ctx);
