#pragma once
// What is drawn over everything: the toast banner, the completion notice card and a card's menu.
#include "render/paint_context.h"

constexpr DWORD kToastLifetimeMs = 2200;
constexpr DWORD kNoticeLifetimeMs = 5000;

// Colour of the toast banner by kind: green success, red error, dark otherwise.
uint32_t toastColour(int kind);

// Draws the toast while it is younger than 2200 ms.
void paintToast(PaintContext& ctx);
// Draws the notice card while it is younger than 5000 ms.
void paintNotice(PaintContext& ctx);
// Draws a card's open right-click menu where the update step placed it.
void paintCardMenu(PaintContext& ctx);
// Draws the keyboard focus ring where the update step placed it: 2 pixels round the focused item.
constexpr int kFocusRingWidth = 2;
void paintFocusRing(PaintContext& ctx);
