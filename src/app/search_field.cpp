#include "app/search_field.h"

#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/window_dpi.h"
#include "base/win_handles.h"
#include "render/contrast.h"
#include "render/layout.h"
#include "render/search_field_painter.h"
#include "search/search_text.h"

namespace {

void syncEditVisibility() {
    const SearchState& search = appState().search;
    if (!search.edit) return;
    const bool shown = search.hasText || ::GetFocus() == search.edit;
    const bool visible = (::GetWindowLongPtrW(search.edit, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != shown) ::ShowWindow(search.edit, shown ? SW_SHOWNA : SW_HIDE);
}

std::wstring editText(HWND edit) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return text;
}

void lookUp(AppState& app) {
    SearchState& state = app.search;
    state.results.clear();
    if (state.query.empty()) return;
    ensureSearchIndex(app);
    state.results = search(state.index, state.query);
}

// Esc empties the field and leaves it; Down and Tab go on to the results (main_window_keys.cpp). Esc,
// Return, Tab, Ctrl+F and Ctrl+Backspace (DEL) type nothing: a plain edit would beep, or insert a box for DEL.
LRESULT CALLBACK searchEditProc(HWND edit, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) {
                clearSearchField(AfterClear::LeaveField);
                return 0;
            }
            if (isFindShortcut(wp)) {
                ::SendMessageW(edit, EM_SETSEL, 0, -1);
                return 0;
            }
            if (searchFieldKey(wp)) return 0;
            break;
        case WM_CHAR:
            if (wp == VK_ESCAPE || wp == VK_RETURN || wp == VK_TAB || wp == 'F' - '@' || wp == 0x7F) return 0;
            break;
    }
    return ::CallWindowProcW(appState().search.editProcedure, edit, msg, wp, lp);
}

}  // namespace

HWND createSearchEdit(HWND main) {
    if (HWND made = appState().search.edit) return made;
    // The edit paints itself; the window's own paints leave its rectangle alone.
    ::SetWindowLongPtrW(main, GWL_STYLE, ::GetWindowLongPtrW(main, GWL_STYLE) | WS_CLIPCHILDREN);
    const RECT r = appState().scale.pixels(layout::searchEdit(clientUnits(main).cx));
    HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_LEFT | ES_AUTOHSCROLL, r.left, r.top,
                                  r.right - r.left, r.bottom - r.top, main,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSearchEditId)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!edit) return nullptr;
    ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont(FontLabel)), FALSE);
    ::SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::SendMessageW(edit, EM_SETLIMITTEXT, kSearchTextLimit, 0);
    SearchState& search = appState().search;
    search.focusWasInField = false;
    search.editProcedure = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(searchEditProc)));
    search.edit = edit;
    return edit;
}

void placeSearchEdit(int w) {
    const AppState& app = appState();
    HWND edit = app.search.edit;
    if (!edit) return;
    const RECT r = app.scale.pixels(layout::searchEdit(app.scale.unitsOfClient({w, 0}).cx));
    ::MoveWindow(edit, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
    ::InvalidateRect(edit, nullptr, TRUE);  // its background follows the gradient at its new place
}

bool applySearchText(AppState& app, const std::wstring& text) {
    SearchState& state = app.search;
    state.hasText = !text.empty();
    std::wstring query = trimSearchSpace(text);
    if (query == state.query) return false;
    state.query = std::move(query);
    lookUp(app);
    app.contentScroll = 0;
    if (!state.query.empty()) app.page = Page::Catalogue;
    return true;
}

void searchAgainInNewCatalogue(AppState& app) {
    if (!app.search.query.empty()) lookUp(app);
}

void ensureSearchIndex(AppState& app) {
    SearchState& state = app.search;
    if (state.indexBuilt && state.indexGeneration == app.catalogue.generation) return;
    state.index = SearchIndex(app.catalogue.apps);
    state.indexGeneration = app.catalogue.generation;
    state.indexBuilt = true;
}

void focusSearchField(FieldCaret caret) {
    HWND edit = createSearchEdit(appState().mainWnd);  // asked for before the first frame made it
    if (!edit) return;
    ::ShowWindow(edit, SW_SHOWNA);
    ::SetFocus(edit);
    const LPARAM end = ::GetWindowTextLengthW(edit);
    ::SendMessageW(edit, EM_SETSEL, caret == FieldCaret::SelectAll ? 0 : end, end);
}

void clearSearchField(AfterClear after) {
    AppState& app = appState();
    HWND edit = app.search.edit;
    if (edit) ::SetWindowTextW(edit, L"");
    if (applySearchText(app, L"")) repaintMainWindow();  // when the edit's EN_CHANGE did not already
    if (edit && after == AfterClear::KeepCaret) ::SetFocus(edit);
    if (edit && after == AfterClear::LeaveField && ::GetFocus() == edit) ::SetFocus(app.mainWnd);
    syncEditVisibility();
}

bool isFindShortcut(WPARAM key) {
    return key == 'F' && (::GetKeyState(VK_CONTROL) & 0x8000) && !(::GetKeyState(VK_MENU) & 0x8000);
}

LRESULT onCommand(HWND hwnd, WPARAM wp, LPARAM lp) {
    AppState& app = appState();
    if (LOWORD(wp) != kSearchEditId || !app.search.edit) return ::DefWindowProcW(hwnd, WM_COMMAND, wp, lp);
    switch (HIWORD(wp)) {
        case EN_CHANGE: {
            const bool hadText = app.search.hasText;
            if (applySearchText(app, editText(app.search.edit)) || hadText != app.search.hasText) repaintMainWindow();
            break;
        }
        case EN_SETFOCUS:
            app.search.focused = true;
            app.focus.target = FocusTarget{FocusRegion::Header, kSearchFieldItem, 0};
            ensureSearchIndex(app);  // while the user starts typing, not on the first keystroke
            repaintMainWindow();
            break;
        case EN_KILLFOCUS:
            app.search.focused = false;
            repaintMainWindow();
            break;
    }
    syncEditVisibility();
    return 0;
}

LRESULT onCtlColorEdit(HWND hwnd, WPARAM wp, LPARAM lp) {
    SearchState& search = appState().search;
    if (reinterpret_cast<HWND>(lp) != search.edit) return ::DefWindowProcW(hwnd, WM_CTLCOLOREDIT, wp, lp);
    // A solid brush of what the field's translucent fill gives at the edit's middle, so no box shows.
    // In high contrast the field is the window colour and its text the window text.
    const bool contrast = appState().highContrast;
    const SystemColours system = contrast ? readSystemColours() : SystemColours{};
    const uint32_t colour = contrast ? system.window : searchFieldBackground(clientUnits(hwnd).cx);
    if (!search.editBrush || colour != search.editBrushColour) {
        search.editBrush.reset(::CreateSolidBrush(palette::text(colour)));
        search.editBrushColour = colour;
    }
    HDC dc = reinterpret_cast<HDC>(wp);
    ::SetTextColor(dc, palette::text(contrast ? system.windowText : palette::kTextWhite));
    ::SetBkColor(dc, palette::text(colour));
    return reinterpret_cast<LRESULT>(search.editBrush.get());
}

// A window activated again gives the caret back to the field that had it, as dialogs do.
LRESULT onActivate(HWND hwnd, WPARAM wp, LPARAM lp) {
    SearchState& search = appState().search;
    HWND edit = search.edit;
    if (LOWORD(wp) == WA_INACTIVE) {
        search.focusWasInField = edit && ::GetFocus() == edit;
    } else if (search.focusWasInField && edit && !HIWORD(wp)) {
        ::ShowWindow(edit, SW_SHOWNA);
        ::SetFocus(edit);
        return 0;
    }
    return ::DefWindowProcW(hwnd, WM_ACTIVATE, wp, lp);
}
