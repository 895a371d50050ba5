#pragma once
// The catalogue page below the header: the heading and the scrolling grid of app cards.
#include <cstddef>
#include <string>
#include <vector>

#include "render/paint_cache.h"
#include "render/paint_context.h"

// Paints the heading and the cards of the apps (indexes into the catalogue) at the scroll offset
// and bar the update step settled; each card is its cached face, drawn again when its key changes.
// Cards about to scroll in are left to the preparation between paints (prepareCardFaces), which the
// window runs before it handles the next input; a paint that ran out of time may show cards from
// before their icon arrived and answers false: paint again soon.
bool paintAppGrid(PaintContext& ctx, const std::vector<size_t>& apps, const std::wstring& heading,
                  PaintCaches& caches);

// Between paints: draws the card faces the next paints will copy, the shown cards first, then those
// about to scroll in, until budgetMs have passed; true when some remain. shownChanged tells whether a
// shown card's face was drawn (the window then paints again).
bool prepareCardFaces(PaintContext& ctx, const std::vector<size_t>& apps, PaintCaches& caches, double budgetMs,
                      bool& shownChanged);

// Everything a card of this app shows at this width.
CardFaceKey cardFaceKey(const PaintContext& ctx, const AppInfo& app, int width, bool nameOnly);

// The button an app's card shows, hovered or not (what cardFaceKey puts in the face's key).
CardButtonLook cardButtonOf(const AppState& state, const TaskMap& tasks, const AppInfo& app, bool hovered);

// An app's action button as the card shows it (label, fill, progress), in a 100-pixel-wide rectangle.
void paintCardButton(Canvas& canvas, const CardButtonLook& look, const RECT& button, int radius = 14);
