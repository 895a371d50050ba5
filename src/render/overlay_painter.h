#pragma once
// The transient messages drawn over everything: the toast banner and the completion notice card.
#include "render/paint_context.h"

constexpr DWORD kToastLifetimeMs = 2200;
constexpr DWORD kNoticeLifetimeMs = 5000;

// Colour of the toast banner by kind: green success, red error, dark otherwise.
uint32_t toastColour(int kind);

// Draws the toast while it is younger than 2200 ms.
void paintToast(PaintContext& ctx);
// Draws the notice card while it is younger than 5000 ms.
void paintNotice(PaintContext& ctx);
