#pragma once
// The header band: gradient, logo, title, caption buttons, the two pills and the task badge.
#include <string>

#include "render/paint_context.h"

enum PillGlyph : int { PillGlyphDownload = 0, PillGlyphGear = 1 };

// One header pill; active wins over hovered. The pill's label starts 36 pixels in, after the glyph.
void DrawHeaderPill(Canvas& canvas, const RECT& rect, const std::wstring& label, int glyph, bool hovered, bool active);

// Paints the header and records Minimize, Maximize, Close, DownloadsTab and SettingsButton.
void paintHeader(PaintContext& ctx);
