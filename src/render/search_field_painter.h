#pragma once
// The header's search field: the translucent pill behind the edit control, its magnifier, the
// placeholder and the clear button.
#include <cstdint>

#include "render/paint_context.h"

void paintSearchField(PaintContext& ctx);

// The pen of the header's white line glyphs. In high contrast a glyph on a window-coloured surface (the
// search field, the active pill) takes the window's text colour, or it would vanish into it.
Pen headerGlyphPen(const Canvas& canvas, bool onWindowColour);

// The header gradient's colour at x in a client w pixels wide, #RRGGBB.
uint32_t headerGradientAt(int x, int w);
// The colour the field's fill gives in the middle of its edit, #RRGGBB: the edit control's background.
// The gradient runs across the window, so over the edit's width it differs by a few levels at most.
uint32_t searchFieldBackground(int w);
