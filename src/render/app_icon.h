#pragma once
// The app-icon tile of cards, download rows and the completion notice.
#include <windows.h>

#include <cstdint>
#include <string>

#include "render/layout.h"
#include "render/paint_context.h"

struct PlaceholderColours {
    uint32_t base;    // #RRGGBB, the letter
    uint32_t fill;    // 0xAARRGGBB, a pale tint of base
    uint32_t border;  // 0xAARRGGBB
};

// Colours of the letter tile: palette entry id mod 5, or the first entry without an app.
PlaceholderColours placeholderColours(const AppInfo* app);
// The first UTF-16 unit of the app's name, or "?".
std::wstring placeholderLetter(const AppInfo* app);

// Draws the app's icon decoded at the rect's size in pixels 1:1 (the canvas's pictureBox), or the letter
// tile while there is none.
void drawAppIcon(PaintContext& ctx, const AppInfo* app, const RECT& rect);

// Changes whenever what drawAppIcon draws for the app at drawnSize pixels changes; 0 for the letter tile.
uint32_t iconStamp(const AppState& state, const AppInfo& app, int drawnSize = layout::kIconTileOnCard);
