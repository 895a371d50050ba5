#pragma once
// The catalogue page below the header: the heading and the scrolling grid of app cards.
#include <string>
#include <vector>

#include "render/paint_context.h"

// Paints the heading and the cards of apps inside rect (212, 78, w-12, h); clamps contentScroll,
// records one CardAction region per drawn card and writes contentScrollBar.
void PaintAppGrid(PaintContext& ctx, const RECT& rect, const std::vector<AppInfo*>& apps, const std::wstring& heading);

// The name line of a card: the name alone, or the name and "v" + version side by side.
void drawCardNameLine(PaintContext& ctx, const AppInfo& app, const RECT& card, bool nameOnly);
