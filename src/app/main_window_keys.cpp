#include <algorithm>
#include <optional>

#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "app/search_field.h"
#include "app/window_dpi.h"
#include "model/app_state.h"
#include "render/focus_targets.h"
#include "render/frame_update.h"
#include "render/layout.h"

namespace {

bool keyHeld(int key) { return (::GetKeyState(key) & 0x8000) != 0; }

std::optional<FocusKey> focusKeyOf(WPARAM key) {
    switch (key) {
        case VK_TAB: return keyHeld(VK_SHIFT) ? FocusKey::ShiftTab : FocusKey::Tab;
        case VK_UP: return FocusKey::Up;
        case VK_DOWN: return FocusKey::Down;
        case VK_LEFT: return FocusKey::Left;
        case VK_RIGHT: return FocusKey::Right;
        case VK_HOME: return FocusKey::Home;
        case VK_END: return FocusKey::End;
        case VK_PRIOR: return FocusKey::PageUp;
        case VK_NEXT: return FocusKey::PageDown;
        default: return std::nullopt;
    }
}

SIZE clientSize() { return clientUnits(appState().mainWnd); }

// PgUp and PgDn scroll the view by the rows the focus moves, so the focus keeps its place on screen.
void scrollByPage(AppState& app, const FocusShape& shape, FocusRegion region, int direction) {
    if (region == FocusRegion::Sidebar) {
        app.sidebarScroll += direction * shape.sidebarPageRows * layout::kSidebarRowPitch;
    } else if (region == FocusRegion::Content && app.page != Page::Downloads) {
        const int pitch = app.page == Page::Updates ? layout::downloadRowBase(1) - layout::downloadRowBase(0)
                                                    : layout::kCardPitch;
        app.contentScroll = std::max(0, app.contentScroll + direction * shape.contentPageRows * pitch);
    }
}

void moveKeyboardFocus(FocusKey key) {
    AppState& app = appState();
    const SIZE size = clientSize();
    const PaintInputs inputs = liveInputs(app);
    const FocusTarget from = holdFocus(app, inputs, size.cx, size.cy);
    const FocusShape shape = focusShape(app, inputs, size.cx, size.cy);
    if (key == FocusKey::PageUp || key == FocusKey::PageDown)
        scrollByPage(app, shape, from.region, key == FocusKey::PageUp ? -1 : 1);
    setKeyboardFocus(moveFocus(shape, from, key));
}

std::optional<FocusControl> focusedControl() {
    AppState& app = appState();
    const SIZE size = clientSize();
    const PaintInputs inputs = liveInputs(app);
    return focusControl(app, inputs, holdFocus(app, inputs, size.cx, size.cy), size.cx, size.cy);
}

void pressFocused(HWND hwnd) {
    const std::optional<FocusControl> control = focusedControl();
    if (!control) return;
    appState().focus.ringShown = true;
    pressControl(hwnd, HitRegion{control->rect, control->kind, control->param});
    appState().focus.revealPending = true;
    repaintMainWindow();
}

// The focused card's menu opens at the card's centre, where a right-click on it would have opened it.
void openFocusedCardMenu() {
    const std::optional<FocusControl> control = focusedControl();
    if (!control || control->kind != HitKind::CardAction) return;
    const RECT& card = control->rect;
    openCardMenu(control->param, POINT{(card.left + card.right) / 2, (card.top + card.bottom) / 2}, true);
}

}  // namespace

void setKeyboardFocus(const FocusTarget& target) {
    AppState& app = appState();
    app.focus.target = target;
    app.focus.heldId = 0;  // the item there now is the one held from here on
    app.focus.ringShown = true;
    app.focus.revealPending = true;
    HWND edit = app.search.edit;
    if (target.region == FocusRegion::Header && target.index == kSearchFieldItem) {
        focusSearchField(FieldCaret::SelectAll);
    } else if (edit && ::GetFocus() == edit) {
        ::SetFocus(app.mainWnd);
    }
    repaintMainWindow();
}

bool searchFieldKey(WPARAM key) {
    if (key != VK_DOWN && key != VK_TAB) return false;
    appState().focus.target = FocusTarget{FocusRegion::Header, kSearchFieldItem, 0};
    moveKeyboardFocus(*focusKeyOf(key));
    return true;
}

LRESULT onKeyDown(HWND hwnd, WPARAM key, LPARAM lp) {
    if (isFindShortcut(key)) {
        setKeyboardFocus(FocusTarget{FocusRegion::Header, kSearchFieldItem, 0});
        return 0;
    }
    if (const std::optional<FocusKey> move = focusKeyOf(key)) {
        moveKeyboardFocus(*move);
        return 0;
    }
    switch (key) {
        case VK_RETURN:
        case VK_SPACE: pressFocused(hwnd); return 0;
        case VK_ESCAPE:
            if (searching(appState())) clearSearchField(AfterClear::LeaveField);
            return 0;
        case VK_APPS: openFocusedCardMenu(); return 0;
        default: return ::DefWindowProcW(hwnd, WM_KEYDOWN, key, lp);
    }
}

LRESULT onSysKeyDown(HWND hwnd, WPARAM key, LPARAM lp) {
    if (key != VK_F10 || !keyHeld(VK_SHIFT)) return ::DefWindowProcW(hwnd, WM_SYSKEYDOWN, key, lp);
    openFocusedCardMenu();
    return 0;
}

// Windows turns Shift+F10 and the menu key into WM_CONTEXTMENU at (-1, -1) as well: the same menu.
LRESULT onContextMenu(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (lp != -1) return ::DefWindowProcW(hwnd, WM_CONTEXTMENU, wp, lp);
    if (!appState().cardMenu.open) openFocusedCardMenu();
    return 0;
}
