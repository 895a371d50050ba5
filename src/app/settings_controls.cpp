#include "app/settings_controls.h"

#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "app/drawn_window.h"
#include "app/settings_window.h"
#include "base/window_messages.h"
#include "render/settings_painter.h"

namespace {

namespace sl = settings_layout;

// One segmented choice: its id, what accessibility clients call it, its segments, and the keys it takes.
struct SegmentedChoice {
    int id;
    const wchar_t* name;
    SegmentedLook look;
    bool numeric;                             // digits, Home and End pick; Up raises the value, as on a slider
    void (*chosen)(HWND choice, int value);   // after every setting, the unchanged value's too
};

std::wstring numberLabel(int value) { return std::to_wstring(value); }
std::wstring proxyLabel(int value) { return proxyChoiceLabel(value); }

// The proxy's field takes text under 手动 only.
void enableProxyField(HWND choice, int value) {
    ::EnableWindow(::GetDlgItem(::GetParent(choice), kSettingsProxyEditId), value == kProxyChoiceManual);
}

constexpr SegmentedChoice kChoices[] = {
    {kSettingsConnectionsId, L"同时连接数", {sl::kChoiceCount, sl::kChoiceSegmentWidth, numberLabel}, true, nullptr},
    {kSettingsProxyChoiceId, L"代理", {sl::kProxyChoiceCount, sl::kProxySegmentWidth, proxyLabel}, false,
     enableProxyField},
};

const SegmentedChoice& choiceFor(HWND choice) {
    const int id = ::GetDlgCtrlID(choice);
    for (const SegmentedChoice& known : kChoices)
        if (known.id == id) return known;
    return kChoices[0];
}

struct SwitchRow {
    int id;
    const wchar_t* label;
};

constexpr SwitchRow kSwitches[] = {
    {kSettingsSilentId, L"静默安装"},
    {kSettingsAutoUpdateId, L"自动升级"},
    {kSettingsCloseToTrayId, L"关闭时最小化到托盘"},
    {kSettingsSignInId, L"开机启动"},
};

// A point of a control, in pixels, in units.
POINT pointUnits(LPARAM lp) { return settingsScale().units(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}); }

// Paints a drawn control through `paint` with the window's look and fonts.
template <typename Paint>
void paintControl(HWND hwnd, int hovered, Paint paint) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    const SIZE size = drawn_window::clientSize(hwnd);
    const SIZE units = settingsScale().unitsOfClient(size);
    const bool focused = ::GetFocus() == hwnd;
    drawn_window::paintBuffered(dc, size, drawn_window::lookAt(settingsScale()), settingsCanvasFonts(),
                                [&](Canvas& canvas) { paint(canvas, units, hovered, focused); });
    ::EndPaint(hwnd, &ps);
}

// What the drawn controls handle alike: the pointer's hover (its value in kHoverProperty, 0 for none),
// focus and painting through `paint`. False for other messages.
template <typename Paint>
bool handleDrawnControl(HWND hwnd, UINT msg, int hoverValue, Paint paint) {
    const int hovered = static_cast<int>(reinterpret_cast<INT_PTR>(::GetPropW(hwnd, kHoverProperty)));
    switch (msg) {
        case WM_MOUSEMOVE:
            if (hoverValue != hovered) {
                if (hovered == 0) trackLeave(hwnd);
                ::SetPropW(hwnd, kHoverProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(hoverValue)));
                ::InvalidateRect(hwnd, nullptr, FALSE);
            }
            return true;
        case WM_MOUSELEAVE:
            ::RemovePropW(hwnd, kHoverProperty);
            ::InvalidateRect(hwnd, nullptr, FALSE);
            return true;
        case WM_SETFOCUS:
        case WM_KILLFOCUS: ::InvalidateRect(hwnd, nullptr, FALSE); return true;
        case WM_PAINT: paintControl(hwnd, hovered, paint); return true;
        case WM_NCDESTROY: ::RemovePropW(hwnd, kHoverProperty); return false;
    }
    return false;
}

// The value a key asks for; the current one for keys the choice does not take.
int valueForKey(const SegmentedChoice& choice, int current, WPARAM key) {
    const int count = choice.look.count;
    switch (key) {
        case VK_LEFT: return current - 1;
        case VK_RIGHT: return current + 1;
        case VK_UP: return choice.numeric ? current + 1 : current - 1;
        case VK_DOWN: return choice.numeric ? current - 1 : current + 1;
        case VK_HOME: return choice.numeric ? 1 : current;
        case VK_END: return choice.numeric ? count : current;
        default: {
            const bool digit = key >= '1' && key < '1' + static_cast<WPARAM>(count);
            return choice.numeric && digit ? static_cast<int>(key - '0') : current;
        }
    }
}

LRESULT answerChoiceObject(HWND hwnd, WPARAM wp, LPARAM lp, const SegmentedChoice& choice) {
    AccessNode node = drawnControl(hwnd, AccessRole::Slider);
    node.name = choice.name;
    node.value = choice.look.label(choiceValue(hwnd));
    node.defaultAction.clear();
    node.kind = HitKind::None;
    return answerControlObject(hwnd, wp, lp, std::move(node));
}

LRESULT CALLBACK segmentedChoiceProcedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const SegmentedChoice& choice = choiceFor(hwnd);
    const int pointed = sl::segmentAt(pointUnits(lp), choice.look.count, choice.look.segmentWidth);
    const auto paint = [hwnd, &choice](Canvas& canvas, SIZE size, int hovered, bool focused) {
        paintSegmentedChoice(canvas, size, choice.look, choiceValue(hwnd), hovered, focused);
    };
    if (handleDrawnControl(hwnd, msg, pointed, paint)) return 0;
    switch (msg) {
        case WM_GETOBJECT: return answerChoiceObject(hwnd, wp, lp, choice);
        case WM_GETDLGCODE: return DLGC_WANTARROWS;
        case WM_LBUTTONDOWN:
            ::SetFocus(hwnd);
            if (pointed) setChoiceValue(hwnd, pointed);
            return 0;
        case WM_KEYDOWN: setChoiceValue(hwnd, valueForKey(choice, choiceValue(hwnd), wp)); return 0;
        case WM_ERASEBKGND: return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void flipSwitch(HWND control) {
    ::SetWindowTextW(control, switchIsOn(control) ? L"0" : L"1");
    ::InvalidateRect(control, nullptr, FALSE);
    ::NotifyWinEvent(EVENT_OBJECT_STATECHANGE, control, OBJID_CLIENT, CHILDID_SELF);  // readers say it
}

LRESULT CALLBACK switchProcedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const auto paint = [hwnd](Canvas& canvas, SIZE size, int hovered, bool focused) {
        paintSwitch(canvas, size, switchIsOn(hwnd), hovered != 0, focused);
    };
    if (handleDrawnControl(hwnd, msg, 1, paint)) return 0;
    switch (msg) {
        case WM_GETOBJECT: {
            AccessNode node = drawnControl(hwnd, AccessRole::CheckButton);
            node.name = switchLabel(::GetDlgCtrlID(hwnd));
            node.defaultAction = switchIsOn(hwnd) ? L"关闭" : L"打开";
            if (switchIsOn(hwnd)) node.states |= AccessChecked;
            return answerControlObject(hwnd, wp, lp, std::move(node));
        }
        case WM_QB_ACCESS_PRESS: flipSwitch(hwnd); return 0;
        case WM_GETDLGCODE: return DLGC_WANTCHARS;
        case WM_LBUTTONDOWN:
            ::SetFocus(hwnd);
            flipSwitch(hwnd);
            return 0;
        case WM_KEYDOWN:
            if (wp == VK_SPACE) flipSwitch(hwnd);
            return 0;
        case WM_ERASEBKGND: return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void registerSettingsControls() {
    // Each fails harmlessly when a window before registered it.
    drawn_window::registerClass(kChoiceClass, segmentedChoiceProcedure, IDC_HAND);
    drawn_window::registerClass(kProxyChoiceClass, segmentedChoiceProcedure, IDC_HAND);
    drawn_window::registerClass(kSwitchClass, switchProcedure, IDC_HAND);
}

int choiceValue(HWND choice) {
    wchar_t text[8] = {};
    ::GetWindowTextW(choice, text, 8);
    return std::clamp(static_cast<int>(std::wcstol(text, nullptr, 10)), 1, choiceFor(choice).look.count);
}

void setChoiceValue(HWND choice, int value) {
    const SegmentedChoice& known = choiceFor(choice);
    value = std::clamp(value, 1, known.look.count);
    if (known.chosen) known.chosen(choice, value);
    if (value == choiceValue(choice)) return;
    ::SetWindowTextW(choice, std::to_wstring(value).c_str());
    ::InvalidateRect(choice, nullptr, FALSE);
    ::NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, choice, OBJID_CLIENT, CHILDID_SELF);
}

bool switchIsOn(HWND control) {
    wchar_t text[4] = {};
    ::GetWindowTextW(control, text, 4);
    return text[0] == L'1';
}

const wchar_t* switchLabel(int id) {
    for (const SwitchRow& row : kSwitches)
        if (row.id == id) return row.label;
    return L"";
}

void trackLeave(HWND hwnd) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    ::TrackMouseEvent(&track);
}

AccessNode drawnControl(HWND hwnd, AccessRole role) {
    const std::wstring text = drawn_window::textOf(hwnd);
    AccessNode node;
    node.role = role;
    node.name = text;
    node.defaultAction = text;
    node.kind = HitKind::SettingsButton;  // any kind: the control presses itself on WM_QB_ACCESS_PRESS
    node.states = AccessFocusable | (::IsWindowEnabled(hwnd) ? 0u : AccessUnavailable);
    return node;
}
