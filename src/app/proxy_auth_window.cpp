#include "app/proxy_auth_window.h"

#include <windowsx.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "access/control_object.h"
#include "app/drawn_window.h"
#include "app/tray.h"
#include "base/win_handles.h"
#include "base/window_messages.h"
#include "model/app_state.h"
#include "net/proxy_session.h"
#include "render/proxy_auth_painter.h"
#include "render/settings_painter.h"

namespace {

namespace pl = proxy_auth_layout;

constexpr wchar_t kTitle[] = L"代理身份验证";
constexpr wchar_t kRefused[] = L"用户名或密码不正确，请重新输入";
constexpr wchar_t kRememberClass[] = L"QBRemember";
constexpr COLORREF kLabelColour = RGB(0x1D, 0x21, 0x29);
constexpr COLORREF kFieldColour = RGB(0xF7, 0xF8, 0xFA);

// Questions that workers wait on, by id; the window thread answers them.
struct PendingQuestion {
    ProxyQuestion question;
    bool answered = false;
    ProxyAnswer answer = ProxyAnswer::NoWindow;
    ProxyCredentials credentials;
};

struct QuestionBoard {
    std::mutex mutex;
    std::condition_variable answered;
    std::map<uint32_t, PendingQuestion> pending;
    uint32_t nextId = 1;
    HWND window = nullptr;
};

QuestionBoard& board() {
    static QuestionBoard state;
    return state;
}

// The one open login window and what it is for; the window thread's alone.
struct LoginWindow {
    HWND hwnd = nullptr;
    uint32_t questionId = 0;
    std::set<uint32_t> toldInTray;  // questions the tray's notice announced while the window was hidden
    bool closeHovered = false;
    // The main window's DPI when the window opened; the painters' fonts are made for it.
    qb::DpiScale scale;
    UiFontSet canvasFonts;
    qb::UniqueFont normal;
    qb::UniqueFont heading;
    qb::UniqueBrush field;
};

LoginWindow& login() {
    static LoginWindow state;
    return state;
}

bool isCancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_acquire); }

ProxyAnswer askOnWindow(const ProxyQuestion& question, const std::atomic<bool>* cancel, ProxyCredentials& out) {
    QuestionBoard& state = board();
    std::unique_lock<std::mutex> lock(state.mutex);
    const uint32_t id = state.nextId++;
    state.pending[id].question = question;
    if (state.window) ::PostMessageW(state.window, WM_QB_PROXY_AUTH, id, 0);
    for (;;) {
        PendingQuestion& mine = state.pending[id];
        if (mine.answered) {
            const ProxyAnswer answer = mine.answer;
            out = std::move(mine.credentials);
            state.pending.erase(id);
            return answer;
        }
        if (isCancelled(cancel)) {
            state.pending.erase(id);
            // The window closes a question nobody waits for any more.
            if (state.window) ::PostMessageW(state.window, WM_QB_PROXY_AUTH, id, 0);
            return ProxyAnswer::Cancelled;
        }
        state.answered.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void answer(uint32_t id, ProxyAnswer given, ProxyCredentials credentials = {}) {
    QuestionBoard& state = board();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.pending.find(id);
    if (found == state.pending.end()) return;
    found->second.answered = true;
    found->second.answer = given;
    found->second.credentials = std::move(credentials);
    state.answered.notify_all();
}

// Questions that came while another was open are shown one after the other.
void askNextWaiting() {
    QuestionBoard& state = board();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const auto& [id, question] : state.pending)
        if (!question.answered && state.window) ::PostMessageW(state.window, WM_QB_PROXY_AUTH, id, 0);
}

const qb::DpiScale& scale() { return login().scale; }

HWND createControl(HWND parent, const wchar_t* className, const RECT& units, int id, DWORD style,
                   const std::wstring& text) {
    return drawn_window::createControl(parent, scale(), className, units, id, style, text);
}

// The fonts the painters draw the window's texts with, made for scale().
const HFONT (&canvasFonts())[kUiFontCount] {
    const LoginWindow& held = login();
    if (held.canvasFonts.empty()) return appState().uiFonts;
    return held.canvasFonts.fonts();
}

template <typename Paint>
void paintBuffered(HDC dc, SIZE size, Paint paint) {
    drawn_window::paintBuffered(dc, size, drawn_window::lookAt(scale()), canvasFonts(), paint);
}

using drawn_window::clientSize;
using drawn_window::textOf;

constexpr wchar_t kProcedureProperty[] = L"QBProcedure";

// Both edits and the buttons answer accessibility clients themselves: the password field as protected,
// so that readers never speak it, and the drawn buttons by their text.
LRESULT CALLBACK controlProcedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const auto previous = reinterpret_cast<WNDPROC>(::GetPropW(hwnd, kProcedureProperty));
    if (!previous) return ::DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_GETOBJECT) {
        const int id = ::GetDlgCtrlID(hwnd);
        AccessNode node;
        node.states = AccessFocusable;
        if (id == kProxyAuthPasswordId || id == kProxyAuthUserId) {
            node.role = AccessRole::Text;
            node.name = id == kProxyAuthPasswordId ? L"密码" : L"用户名";
            if (id == kProxyAuthPasswordId) node.states |= AccessProtected;
            else node.value = textOf(hwnd);
        } else {
            node.role = AccessRole::PushButton;
            node.name = node.defaultAction = textOf(hwnd);
            node.kind = HitKind::SettingsButton;
        }
        return answerControlObject(hwnd, wp, lp, std::move(node));
    }
    if (msg == WM_QB_ACCESS_PRESS) return ::SendMessageW(hwnd, BM_CLICK, 0, 0);
    if (msg == WM_NCDESTROY) ::RemovePropW(hwnd, kProcedureProperty);
    return ::CallWindowProcW(previous, hwnd, msg, wp, lp);
}

HWND withAccessName(HWND control) {
    if (!control) return control;
    const LONG_PTR previous =
        ::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(controlProcedure));
    ::SetPropW(control, kProcedureProperty, reinterpret_cast<HANDLE>(previous));
    return control;
}

bool rememberIsOn(HWND control) { return textOf(control) == L"1"; }

void flipRemember(HWND control) {
    ::SetWindowTextW(control, rememberIsOn(control) ? L"0" : L"1");
    ::InvalidateRect(control, nullptr, FALSE);
    ::NotifyWinEvent(EVENT_OBJECT_STATECHANGE, control, OBJID_CLIENT, CHILDID_SELF);  // readers say it
}

// "记住": the settings window's switch.
LRESULT CALLBACK rememberProcedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd, &ps);
            const SIZE size = clientSize(hwnd);
            const SIZE units = scale().unitsOfClient(size);
            const bool focused = ::GetFocus() == hwnd;
            paintBuffered(dc, size, [&](Canvas& canvas) { paintSwitch(canvas, units, rememberIsOn(hwnd), false, focused); });
            ::EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_GETOBJECT: {
            AccessNode node;
            node.role = AccessRole::CheckButton;
            node.name = L"记住";
            node.defaultAction = rememberIsOn(hwnd) ? L"关闭" : L"打开";
            node.kind = HitKind::SettingsButton;
            node.states = AccessFocusable | (rememberIsOn(hwnd) ? AccessChecked : 0u);
            return answerControlObject(hwnd, wp, lp, std::move(node));
        }
        case WM_QB_ACCESS_PRESS: flipRemember(hwnd); return 0;
        case WM_GETDLGCODE: return DLGC_WANTCHARS;
        case WM_LBUTTONDOWN: ::SetFocus(hwnd); flipRemember(hwnd); return 0;
        case WM_KEYDOWN: if (wp == VK_SPACE) flipRemember(hwnd); return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS: ::InvalidateRect(hwnd, nullptr, FALSE); return 0;
        case WM_ERASEBKGND: return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

std::wstring messageFor(const ProxyQuestion& question) { return L"代理服务器 " + question.proxy + L" 需要用户名和密码"; }

void createControls(HWND hwnd, const ProxyQuestion& question) {
    HWND title = createControl(hwnd, L"STATIC", pl::title(), 0, SS_CENTERIMAGE, kTitle);
    createControl(hwnd, L"STATIC", pl::message(), 0, SS_ENDELLIPSIS, messageFor(question));
    if (question.refused) createControl(hwnd, L"STATIC", pl::problem(), 0, 0, kRefused);
    createControl(hwnd, L"STATIC", pl::userLabel(), 0, SS_CENTERIMAGE, L"用户名");
    withAccessName(createControl(hwnd, L"EDIT", pl::userEdit(), kProxyAuthUserId, ES_AUTOHSCROLL | WS_TABSTOP, L""));
    createControl(hwnd, L"STATIC", pl::passwordLabel(), 0, SS_CENTERIMAGE, L"密码");
    withAccessName(createControl(hwnd, L"EDIT", pl::passwordEdit(), kProxyAuthPasswordId,
                                 ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, L""));
    createControl(hwnd, kRememberClass, pl::rememberSwitch(), kProxyAuthRememberId, WS_TABSTOP, L"0");
    createControl(hwnd, L"STATIC", pl::rememberLabel(), 0, SS_CENTERIMAGE, L"记住（保存在 Windows 凭据管理器中）");
    withAccessName(createControl(hwnd, L"BUTTON", pl::cancelButton(), kProxyAuthCancelId, BS_OWNERDRAW | WS_TABSTOP, L"取消"));
    withAccessName(createControl(hwnd, L"BUTTON", pl::okButton(), kProxyAuthOkId, BS_OWNERDRAW | WS_TABSTOP, L"确定"));
    LoginWindow& held = login();
    held.normal.reset(drawn_window::createFont(scale(), -14, 400));
    held.heading.reset(drawn_window::createFont(scale(), -15, 700));
    held.field.reset(::CreateSolidBrush(kFieldColour));
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(held.normal.get()), TRUE);
    ::SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(held.heading.get()), TRUE);
}

// The window answers its question once: 确定 with what was typed, anything else as a refusal to log in.
void close(HWND hwnd, bool given) {
    LoginWindow& held = login();
    const uint32_t id = held.questionId;
    held.questionId = 0;
    if (given) {
        ProxyCredentials credentials{textOf(::GetDlgItem(hwnd, kProxyAuthUserId)),
                                     textOf(::GetDlgItem(hwnd, kProxyAuthPasswordId)),
                                     rememberIsOn(::GetDlgItem(hwnd, kProxyAuthRememberId))};
        ::SetDlgItemTextW(hwnd, kProxyAuthPasswordId, L"");
        answer(id, ProxyAnswer::Given, std::move(credentials));
    } else if (id) {
        answer(id, ProxyAnswer::Declined);
    }
    ::DestroyWindow(hwnd);
}

LRESULT onDrawItem(const DRAWITEMSTRUCT& item) {
    SettingsButtonState state;
    state.pressed = (item.itemState & ODS_SELECTED) != 0;
    state.focused = (item.itemState & ODS_FOCUS) != 0;
    const SIZE size{item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top};
    const SIZE units = scale().unitsOfClient(size);
    const std::wstring label = textOf(item.hwndItem);
    const SettingsButtonStyle style =
        item.CtlID == kProxyAuthOkId ? SettingsButtonStyle::Primary : SettingsButtonStyle::Secondary;
    paintBuffered(item.hDC, size, [&](Canvas& canvas) {
        paintSettingsButton(canvas, RECT{0, 0, units.cx, units.cy}, label.c_str(), style, state);
    });
    return TRUE;
}

LRESULT onCtlColor(HWND hwnd, HDC dc, HWND control) {
    LoginWindow& held = login();
    const int id = ::GetDlgCtrlID(control);
    const bool field = id == kProxyAuthUserId || id == kProxyAuthPasswordId;
    const std::wstring text = field ? std::wstring() : textOf(control);  // a field's text is never read here
    if (!field) ::SetBkMode(dc, TRANSPARENT);
    // High contrast: labels and fields in the window text on the window colour, the title in the highlight text.
    if (const auto contrast = drawn_window::contrastControlColours(dc, text == kTitle)) return *contrast;
    if (field) {
        ::SetTextColor(dc, kLabelColour);
        ::SetBkColor(dc, kFieldColour);
        return reinterpret_cast<LRESULT>(held.field.get());
    }
    if (text == kTitle) {
        ::SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
        return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    ::SetTextColor(dc, text == kRefused ? drawn_window::kErrorTextColour : kLabelColour);
    (void)hwnd;
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
}

LRESULT onMouse(HWND hwnd, UINT msg, LPARAM lp) {
    LoginWindow& held = login();
    const POINT point = scale().units(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
    const RECT closeRect = pl::closeButton();
    const bool overClose = ::PtInRect(&closeRect, point) != FALSE;
    if (msg == WM_LBUTTONUP && overClose) close(hwnd, false);
    if (msg == WM_MOUSEMOVE && overClose != held.closeHovered) {
        held.closeHovered = overClose;
        const RECT pixels = scale().pixels(closeRect);
        ::InvalidateRect(hwnd, &pixels, FALSE);
    }
    return 0;
}

LRESULT onPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    const bool hovered = login().closeHovered;
    paintBuffered(dc, clientSize(hwnd), [&](Canvas& canvas) { paintProxyAuthBackground(canvas, hovered); });
    ::EndPaint(hwnd, &ps);
    return 0;
}

LRESULT onDestroy() {
    LoginWindow& held = login();
    if (held.questionId) answer(held.questionId, ProxyAnswer::Declined);
    held.questionId = 0;
    held.hwnd = nullptr;
    held.closeHovered = false;
    askNextWaiting();
    return 0;
}

LRESULT CALLBACK loginWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            if (LOWORD(wp) == kProxyAuthOkId || LOWORD(wp) == kProxyAuthCancelId) close(hwnd, LOWORD(wp) == kProxyAuthOkId);
            return 0;
        case WM_DRAWITEM: return onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT: return onCtlColor(hwnd, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_NCHITTEST: return drawn_window::hitTest(hwnd, wp, lp, scale(), pl::dragsWindow);
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP: return onMouse(hwnd, msg, lp);
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: return onPaint(hwnd);
        case WM_DESTROY: return onDestroy();
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void registerClasses() {
    // Each fails harmlessly once registered.
    drawn_window::registerClass(kProxyAuthWindowClass, loginWindowProc);
    drawn_window::registerClass(kRememberClass, rememberProcedure, IDC_HAND);
}

void openLoginWindow(HWND main, uint32_t id, const ProxyQuestion& question) {
    registerClasses();
    LoginWindow& held = login();
    held.scale = appState().scale;
    held.canvasFonts.make(held.scale.dpi);  // the main window's fonts stand in when these cannot be made
    RECT mainRect{};
    ::GetWindowRect(main, &mainRect);
    const int width = scale().length(pl::kWidth), height = scale().length(pl::kHeight);
    const int x = mainRect.left + (mainRect.right - mainRect.left - width) / 2;
    const int y = mainRect.top + (mainRect.bottom - mainRect.top - height) / 2;
    HWND hwnd = ::CreateWindowExW(0, kProxyAuthWindowClass, kTitle, WS_POPUP, x, y, width, height, main, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) {
        answer(id, ProxyAnswer::Declined);
        return;
    }
    held.hwnd = hwnd;
    held.questionId = id;
    createControls(hwnd, question);
    drawn_window::roundCorners(hwnd, scale(), width, height, FALSE);
    ::ShowWindow(hwnd, SW_SHOW);
    ::SetForegroundWindow(hwnd);
    ::SetFocus(::GetDlgItem(hwnd, kProxyAuthUserId));
}

}  // namespace

void installProxyQuestions() { setProxyCredentialPrompt(askOnWindow); }

void setProxyQuestionWindow(HWND window) {
    QuestionBoard& state = board();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.window = window;
    for (auto& [id, question] : state.pending) {
        if (question.answered) continue;
        if (window) {
            ::PostMessageW(window, WM_QB_PROXY_AUTH, id, 0);
        } else {
            question.answered = true;
            question.answer = ProxyAnswer::NoWindow;
        }
    }
    state.answered.notify_all();
}

LRESULT onProxyAuthAsked(HWND main, uint32_t id) {
    LoginWindow& held = login();
    std::optional<ProxyQuestion> question;
    {
        QuestionBoard& state = board();
        std::lock_guard<std::mutex> lock(state.mutex);
        const auto found = state.pending.find(id);
        if (found != state.pending.end() && !found->second.answered) question = found->second.question;
    }
    if (!question) {
        // Withdrawn by its worker: its window goes too.
        if (held.hwnd && held.questionId == id) {
            held.questionId = 0;
            ::DestroyWindow(held.hwnd);
        }
        return 0;
    }
    if (!::IsWindowVisible(main)) {
        // Running in the tray, with no window to ask from: the notice says why downloads wait, and the
        // question waits for the window.
        if (held.toldInTray.insert(id).second)
            showTrayNotice(main, L"代理需要身份验证", L"打开 Quillbox，输入代理的用户名和密码");
        return 0;
    }
    if (!held.hwnd) openLoginWindow(main, id, *question);
    return 0;
}

void askWaitingProxyQuestions(HWND main) {
    LoginWindow& held = login();
    QuestionBoard& state = board();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const uint32_t id : held.toldInTray) {
        const auto found = state.pending.find(id);
        if (found != state.pending.end() && !found->second.answered) ::PostMessageW(main, WM_QB_PROXY_AUTH, id, 0);
    }
    held.toldInTray.clear();
}

bool proxyAuthDialogMessage(MSG* msg) {
    HWND hwnd = login().hwnd;
    if (!hwnd || (msg->hwnd != hwnd && !::IsChild(hwnd, msg->hwnd))) return false;
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) {
        HWND focus = ::GetFocus();
        const bool cancelFocused = focus && ::GetDlgCtrlID(focus) == kProxyAuthCancelId;
        close(hwnd, msg->wParam == VK_RETURN && !cancelFocused);
        return true;
    }
    return ::IsDialogMessageW(hwnd, msg) != FALSE;
}
