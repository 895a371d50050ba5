#pragma once
// The focusable controls of the shown page, taken from the layout: what the focus model counts, what
// pressing the focused item does, and where its ring goes.
#include <optional>

#include "model/focus_model.h"
#include "render/paint_context.h"

struct FocusControl {
    HitKind kind = HitKind::None;  // what Enter and Space press, as a click there would
    int32_t param = 0;
    RECT rect{};     // the focused item at the current scroll: a card, a row's button, a pill
    RECT clip{};     // the view that shows it
    int radius = 0;  // of its corners
};

// What the shown page offers the keyboard, in reading order.
FocusShape focusShape(const AppState& app, const PaintInputs& inputs, int w, int h);
// The control a target stands for; nothing when the page has no such item.
std::optional<FocusControl> focusControl(const AppState& app, const PaintInputs& inputs, const FocusTarget& target,
                                         int w, int h);

// The item a click on region pressed, so the keyboard goes on from there; nothing for what takes no focus.
std::optional<FocusTarget> focusTargetOf(const AppState& app, const PaintInputs& inputs, const HitRegion& region,
                                         int w, int h);

// The focus target now, kept in app.focus: the page's item it named, wherever a changed list moved it
// (while the target itself stayed), else as clampFocus places it.
FocusTarget holdFocus(AppState& app, const PaintInputs& inputs, int w, int h);

// Update step, before the scroll offsets are clamped: scrolls the focused item into view after the
// keyboard moved the focus.
void revealFocus(AppState& app, const PaintInputs& inputs, int w, int h);
// Update step, last: places the focus ring while the keyboard is in use.
void placeFocusRing(AppState& app, const PaintInputs& inputs, int w, int h);
