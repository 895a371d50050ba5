#include "app/settings_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

#include "model/app_state.h"
#include "app/app_action.h"
#include "app/main_window.h"
#include "app/shell_services.h"
#include "app/shadow_window.h"
#include "app/drawn_window.h"
#include "app/settings_controls.h"
#include "app/sign_in_start.h"
#include "app/tray.h"
#include "access/control_object.h"
#include "base/paths.h"
#include "base/win_handles.h"
#include "render/contrast.h"
#include "base/window_messages.h"
#include "render/paint_cache.h"
#include "render/settings_painter.h"
#include "net/proxy_session.h"

namespace {

namespace sl = settings_layout;

constexpr wchar_t kSettingsTitle[] = L"下载设置";
constexpr wchar_t kProxyHint[] = L"手动时填写“主机:端口”，保存后立即生效";
constexpr wchar_t kSilentHint[] = L"识别安装程序类型，无需逐个点击安装向导";
constexpr wchar_t kAutoUpdateHint[] = L"有可升级的软件时在后台自动下载并静默安装";
constexpr wchar_t kListHint[] = L"导出已安装的软件，在另一台电脑上按清单一次装好";
constexpr wchar_t kSpeedHint[] = L"所有下载合计，0 表示不限速，保存后立即生效";
constexpr wchar_t kSignInFailed[] = L"无法设置开机启动，请稍后重试";
constexpr wchar_t kFolderNotWhole[] = L"请填写完整的文件夹路径";
constexpr COLORREF kVersionTextColour = 0xA09996;  // #9699A0
constexpr COLORREF kLabelTextColour = RGB(0x1D, 0x21, 0x29);
constexpr COLORREF kHintTextColour = RGB(0x86, 0x90, 0x9C);
constexpr COLORREF kFieldColour = RGB(0xF7, 0xF8, 0xFA);

// What a settings window owns besides its controls, from WM_NCCREATE until its controls are gone
// (WM_NCDESTROY); the window holds it in GWLP_USERDATA.
struct SettingsResources {
    // The window's own DPI, the main window's until it moves to a monitor of another; the painters'
    // fonts are made for it.
    qb::DpiScale scale;
    UiFontSet canvasFonts;
    qb::UniqueFont normal;
    qb::UniqueFont heading;
    qb::UniqueFont small;
    qb::UniqueBrush field;
    HWND shadow = nullptr;
    SIZE shadowSize{0, 0};
    bool closeHovered = false;
    bool closePressed = false;
    bool trackingLeave = false;
    bool startedAtSignIn = false;       // what the Run entry said when the window opened
    WNDPROC buttonProcedure = nullptr;  // the system buttons' own, which buttonProcedure passes messages on to
};

// Null before WM_NCCREATE and after WM_NCDESTROY.
SettingsResources* resourcesOf(HWND settings) {
    return reinterpret_cast<SettingsResources*>(::GetWindowLongPtrW(settings, GWLP_USERDATA));
}

// Made with the window (WM_NCCREATE); onNcDestroy frees it.
void attachResources(HWND settings) {
    auto held = std::make_unique<SettingsResources>();
    held->scale = appState().scale;
    held->canvasFonts.make(held->scale.dpi);
    ::SetWindowLongPtrW(settings, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(held.release()));
}

// The window is laid out in 96-DPI units at its own scale: the main window's while it is being made.
const qb::DpiScale& scale() { return settingsScale(); }

HWND createControl(HWND parent, const wchar_t* className, const RECT& units, int id, DWORD style,
                   const std::wstring& text) {
    return drawn_window::createControl(parent, scale(), className, units, id, style, text);
}

BOOL CALLBACK setFontOnChild(HWND child, LPARAM font) {
    ::SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

BOOL CALLBACK setHeadingFont(HWND child, LPARAM font) {
    wchar_t text[64] = {};
    ::GetWindowTextW(child, text, 64);
    if (std::wstring(text) == kSettingsTitle) ::SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

void applyFonts(HWND hwnd, SettingsResources& held) {
    held.normal.reset(drawn_window::createFont(scale(), -14, 400));
    held.heading.reset(drawn_window::createFont(scale(), -15, 700));
    held.small.reset(drawn_window::createFont(scale(), -12, 400));
    ::EnumChildWindows(hwnd, setFontOnChild, reinterpret_cast<LPARAM>(held.normal.get()));
    ::EnumChildWindows(hwnd, setHeadingFont, reinterpret_cast<LPARAM>(held.heading.get()));
    ::SendMessageW(appState().settingsVersionLabel, WM_SETFONT, reinterpret_cast<WPARAM>(held.small.get()), TRUE);
}

// A point of the window, in pixels, in units.
POINT pointUnits(LPARAM lp) { return scale().units(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}); }

template <typename Paint>
void paintBuffered(HDC dc, SIZE size, Paint paint) {
    drawn_window::paintBuffered(dc, size, drawn_window::lookAt(scale()), settingsCanvasFonts(), paint);
}

// The buttons draw themselves; this notes the pointer over them for their hover look.
LRESULT CALLBACK buttonProcedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const SettingsResources* held = resourcesOf(::GetParent(hwnd));
    if (!held || !held->buttonProcedure) return ::DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_GETOBJECT) return answerControlObject(hwnd, wp, lp, drawnControl(hwnd, AccessRole::PushButton));
    if (msg == WM_QB_ACCESS_PRESS) return ::SendMessageW(hwnd, BM_CLICK, 0, 0);
    if (msg == WM_MOUSEMOVE && !::GetPropW(hwnd, kHoverProperty)) {
        ::SetPropW(hwnd, kHoverProperty, reinterpret_cast<HANDLE>(1));
        trackLeave(hwnd);
        ::InvalidateRect(hwnd, nullptr, FALSE);
    } else if (msg == WM_MOUSELEAVE) {
        ::RemovePropW(hwnd, kHoverProperty);
        ::InvalidateRect(hwnd, nullptr, FALSE);
    } else if (msg == WM_NCDESTROY) {
        ::RemovePropW(hwnd, kHoverProperty);
    }
    return ::CallWindowProcW(held->buttonProcedure, hwnd, msg, wp, lp);
}

HWND createButton(HWND parent, const RECT& place, int id, const wchar_t* label) {
    HWND button = createControl(parent, L"BUTTON", place, id, BS_OWNERDRAW | WS_TABSTOP, label);
    SettingsResources* held = resourcesOf(parent);
    if (button && held) {
        const auto previous = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(buttonProcedure)));
        if (!held->buttonProcedure) held->buttonProcedure = previous;
    }
    return button;
}

LRESULT onDrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_BUTTON) return FALSE;
    wchar_t label[32] = {};
    ::GetWindowTextW(item.hwndItem, label, 32);
    SettingsButtonState state;
    state.hovered = ::GetPropW(item.hwndItem, kHoverProperty) != nullptr;
    state.pressed = (item.itemState & ODS_SELECTED) != 0;
    state.focused = (item.itemState & ODS_FOCUS) != 0;
    state.enabled = (item.itemState & ODS_DISABLED) == 0;
    const SettingsButtonStyle style =
        item.CtlID == kSettingsSaveId ? SettingsButtonStyle::Primary : SettingsButtonStyle::Secondary;
    const SIZE size{item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top};
    const SIZE units = scale().unitsOfClient(size);
    paintBuffered(item.hDC, size, [&](Canvas& canvas) {
        paintSettingsButton(canvas, RECT{0, 0, units.cx, units.cy}, label, style, state);
    });
    return TRUE;
}

void createProxyRow(HWND hwnd, const std::wstring& proxy) {
    const int choice = proxy == kProxySystem ? kProxyChoiceSystem : proxy == kProxyNone ? kProxyChoiceNone : kProxyChoiceManual;
    createControl(hwnd, L"STATIC", sl::proxyLabel(), 0, SS_CENTERIMAGE, L"代理");
    HWND control = createControl(hwnd, kProxyChoiceClass, sl::proxyChoice(), kSettingsProxyChoiceId, WS_TABSTOP,
                                 std::to_wstring(choice));
    // The hint comes before the field, so accessibility clients name the field by it.
    createControl(hwnd, L"STATIC", sl::proxyHint(), 0, 0, kProxyHint);
    createControl(hwnd, L"EDIT", sl::proxyEdit(), kSettingsProxyEditId, ES_AUTOHSCROLL | WS_TABSTOP,
                  choice == kProxyChoiceManual ? proxy : std::wstring());
    ::SendDlgItemMessageW(hwnd, kSettingsProxyEditId, EM_SETLIMITTEXT, 261, 0);
    setChoiceValue(control, choice);
}

// A switch's row: its label, the switch and, unless the row is compact, the hint beneath.
struct SwitchPlaces {
    int id;
    RECT label, control, hint;
    const wchar_t* hintText;  // nullptr for a compact row
};

void createSwitchRow(HWND hwnd, const SwitchPlaces& row, bool on) {
    createControl(hwnd, L"STATIC", row.label, 0, SS_CENTERIMAGE, switchLabel(row.id));
    createControl(hwnd, kSwitchClass, row.control, row.id, WS_TABSTOP, on ? L"1" : L"0");
    if (row.hintText) createControl(hwnd, L"STATIC", row.hint, 0, 0, row.hintText);
}

LRESULT onCreate(HWND hwnd, SettingsResources& held) {
    AppState& app = appState();
    const std::wstring directory = shellServices().shownDownloadDirectory();
    registerSettingsControls();
    createControl(hwnd, L"STATIC", sl::title(), 0, SS_CENTERIMAGE, kSettingsTitle);
    createControl(hwnd, L"STATIC", sl::folderLabel(), 0, 0, L"安装包保存目录");
    app.settingsDirEdit =
        createControl(hwnd, L"EDIT", sl::folderEdit(), kSettingsDirEditId, ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP,
                      directory);
    createButton(hwnd, sl::browseButton(), kSettingsBrowseId, L"浏览...");
    createControl(hwnd, L"STATIC", sl::hint(), 0, 0, L"修改后对新的下载任务生效");
    createControl(hwnd, L"STATIC", sl::connectionsLabel(), 0, SS_CENTERIMAGE, L"同时连接数");
    createControl(hwnd, kChoiceClass, sl::connectionsChoice(), kSettingsConnectionsId, WS_TABSTOP,
                  std::to_wstring(app.config.connectionsPerDownload));
    createControl(hwnd, L"STATIC", sl::speedLabel(), 0, SS_CENTERIMAGE, L"下载限速");
    createControl(hwnd, L"EDIT", sl::speedEdit(), kSettingsSpeedId, ES_NUMBER | ES_RIGHT | WS_TABSTOP,
                  std::to_wstring(app.config.speedLimitKBps));
    ::SendDlgItemMessageW(hwnd, kSettingsSpeedId, EM_SETLIMITTEXT, 7, 0);
    createControl(hwnd, L"STATIC", sl::speedUnit(), 0, SS_CENTERIMAGE, L"KB/s");
    createControl(hwnd, L"STATIC", sl::speedHint(), 0, 0, kSpeedHint);
    createProxyRow(hwnd, app.config.proxy);
    createSwitchRow(hwnd, {kSettingsSilentId, sl::silentLabel(), sl::silentSwitch(), sl::silentHint(), kSilentHint},
                    app.config.silentInstall);
    createSwitchRow(hwnd, {kSettingsAutoUpdateId, sl::autoUpdateLabel(), sl::autoUpdateSwitch(), sl::autoUpdateHint(),
                           kAutoUpdateHint},
                    app.config.autoUpdate);
    createControl(hwnd, L"STATIC", sl::listLabel(), 0, SS_CENTERIMAGE, L"软件清单");
    createButton(hwnd, sl::importButton(), kSettingsImportId, L"导入软件清单");
    createButton(hwnd, sl::exportButton(), kSettingsExportId, L"导出软件清单");
    createControl(hwnd, L"STATIC", sl::listHint(), 0, 0, kListHint);
    createSwitchRow(hwnd, {kSettingsCloseToTrayId, sl::trayLabel(), sl::traySwitch(), {}, nullptr},
                    app.config.closeToTray);
    held.startedAtSignIn = startsAtSignIn();
    createSwitchRow(hwnd, {kSettingsSignInId, sl::signInLabel(), sl::signInSwitch(), {}, nullptr},
                    held.startedAtSignIn);
    // Shown only when a save could not go through.
    createControl(hwnd, L"STATIC", sl::saveProblem(), kSettingsProblemId, SS_CENTERIMAGE, L"");
    ::ShowWindow(::GetDlgItem(hwnd, kSettingsProblemId), SW_HIDE);
    createButton(hwnd, sl::cancelButton(), kSettingsCancelId, L"取消");
    createButton(hwnd, sl::saveButton(), kSettingsSaveId, L"保存");
    app.settingsVersionLabel =
        createControl(hwnd, L"STATIC", sl::versionLabel(), 0, 0, versionLabelText(programProductVersion()));
    applyFonts(hwnd, held);
    held.field.reset(::CreateSolidBrush(kFieldColour));
    return 0;
}

void browse(HWND hwnd) {
    const std::wstring folder = shellServices().pickFolder(hwnd);
    if (!folder.empty()) ::SetWindowTextW(appState().settingsDirEdit, folder.c_str());
}

// Why a save could not go through, under the buttons; the window stays.
void showProblem(HWND hwnd, const wchar_t* text) {
    HWND problem = ::GetDlgItem(hwnd, kSettingsProblemId);
    ::SetWindowTextW(problem, text);
    ::ShowWindow(problem, SW_SHOW);
}

// The Run entry follows the switch when it changed; false, with the reason shown, when it could not.
bool saveSignIn(HWND hwnd, SettingsResources& held) {
    const bool on = switchIsOn(::GetDlgItem(hwnd, kSettingsSignInId));
    if (on == held.startedAtSignIn) return true;
    if (!setStartAtSignIn(on)) {
        showProblem(hwnd, kSignInFailed);
        return false;
    }
    held.startedAtSignIn = on;
    return true;
}

// The icon shows while closing goes to the tray; without that it goes (the window is shown: the settings
// open over it), unless the program runs in the background, started with --background.
void followCloseToTray(const AppState& app) {
    if (app.config.closeToTray) {
        showTrayIcon(app.mainWnd);
    } else if (!tray().background) {
        removeTrayIcon(app.mainWnd);
    }
}

void save(HWND hwnd, SettingsResources& held) {
    AppState& app = appState();
    wchar_t text[MAX_PATH] = {};
    ::GetWindowTextW(app.settingsDirEdit, text, MAX_PATH);
    const std::wstring folder = folderToSave(text);
    // A relative folder would follow the current folder of whoever started the program.
    if (!folder.empty() && !qb::isAbsolutePath(folder)) return showProblem(hwnd, kFolderNotWhole);
    if (!saveSignIn(hwnd, held)) return;  // nothing saved: the window stays with the reason
    app.config.downloadDir = folder;
    app.config.connectionsPerDownload = choiceValue(::GetDlgItem(hwnd, kSettingsConnectionsId));
    app.config.silentInstall = switchIsOn(::GetDlgItem(hwnd, kSettingsSilentId));
    app.config.autoUpdate = switchIsOn(::GetDlgItem(hwnd, kSettingsAutoUpdateId));
    app.config.closeToTray = switchIsOn(::GetDlgItem(hwnd, kSettingsCloseToTrayId));
    followCloseToTray(app);
    ::GetWindowTextW(::GetDlgItem(hwnd, kSettingsSpeedId), text, MAX_PATH);
    app.config.speedLimitKBps = speedLimitToSave(text);
    ::GetWindowTextW(::GetDlgItem(hwnd, kSettingsProxyEditId), text, MAX_PATH);
    app.config.proxy = proxyToSave(choiceValue(::GetDlgItem(hwnd, kSettingsProxyChoiceId)), text);
    setProxySetting(app.config.proxy);
    // Handed over before saving: a file that cannot be written still leaves the folder in use.
    ShellServices& services = shellServices();
    services.setDownloadDirOverride(folder);
    services.setConnectionsPerDownload(app.config.connectionsPerDownload);
    services.setSpeedLimit(app.config.speedLimitKBps);
    const bool saved = services.saveConfig(app.config);
    ::DestroyWindow(hwnd);
    // A file that could not be written is said so: the settings hold until the program ends, no longer.
    if (!saved) showToast(L"无法写入配置文件，重启后设置将恢复", ToastError);
    else showToast(folder.empty() ? L"已恢复默认下载目录" : L"下载目录已保存", ToastSuccess);
    repaintMainWindow();
}

void cancel(HWND hwnd) {
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kSettingsCancelId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hwnd, kSettingsCancelId)));
}

LRESULT onCommand(HWND hwnd, SettingsResources& held, int id) {
    switch (id) {
        case kSettingsCancelId: ::DestroyWindow(hwnd); break;
        case kSettingsBrowseId: browse(hwnd); break;
        case kSettingsSaveId: save(hwnd, held); break;
        case kSettingsImportId: importInstallList(hwnd); break;
        case kSettingsExportId: exportInstallList(hwnd); break;
        default: break;
    }
    return 0;
}

// Labels and the read-only folder edit draw on the window's own background; the title is white on
// the strip, the version grey.
LRESULT onCtlColorStatic(const SettingsResources& held, WPARAM wp, LPARAM lp) {
    HDC dc = reinterpret_cast<HDC>(wp);
    HWND control = reinterpret_cast<HWND>(lp);
    const AppState& app = appState();
    ::SetBkMode(dc, TRANSPARENT);
    wchar_t text[64] = {};
    ::GetWindowTextW(control, text, 64);
    const std::wstring shown = text;
    const bool title = shown == kSettingsTitle;
    // High contrast: every label and field in the window text on the window colour, the title on the strip (the
    // highlight) in the highlight text.
    if (const auto contrast = drawn_window::contrastControlColours(dc, title)) return *contrast;
    if (control == app.settingsDirEdit || ::GetDlgCtrlID(control) == kSettingsProxyEditId) {
        ::SetTextColor(dc, kLabelTextColour);
        ::SetBkColor(dc, kFieldColour);
        return reinterpret_cast<LRESULT>(held.field.get());
    }
    if (title) {
        ::SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
        return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    const bool hint = shown == L"修改后对新的下载任务生效" || shown == kSilentHint || shown == kListHint ||
                      shown == kSpeedHint || shown == kProxyHint || shown == kAutoUpdateHint;
    ::SetTextColor(dc, control == app.settingsVersionLabel               ? kVersionTextColour
                       : ::GetDlgCtrlID(control) == kSettingsProblemId ? drawn_window::kErrorTextColour
                       : hint                                          ? kHintTextColour
                                                                       : kLabelTextColour);
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
}

// The speed cap's field sits in its frame like the folder's.
LRESULT onCtlColorEdit(const SettingsResources& held, WPARAM wp) {
    HDC dc = reinterpret_cast<HDC>(wp);
    if (const auto contrast = drawn_window::contrastControlColours(dc, false)) return *contrast;
    ::SetTextColor(dc, kLabelTextColour);
    ::SetBkColor(dc, kFieldColour);
    return reinterpret_cast<LRESULT>(held.field.get());
}

void setCloseLook(HWND hwnd, SettingsResources& held, bool hovered) {
    if (held.closeHovered == hovered) return;
    held.closeHovered = hovered;
    const RECT close = scale().pixels(sl::closeButton());
    ::InvalidateRect(hwnd, &close, FALSE);
}

LRESULT onMouse(HWND hwnd, SettingsResources& held, UINT msg, LPARAM lp) {
    const POINT point = pointUnits(lp);
    const RECT close = sl::closeButton();
    const bool overClose = ::PtInRect(&close, point) != FALSE;
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!held.trackingLeave) {
                trackLeave(hwnd);
                held.trackingLeave = true;
            }
            setCloseLook(hwnd, held, overClose);
            break;
        case WM_MOUSELEAVE:
            held.trackingLeave = false;
            setCloseLook(hwnd, held, false);
            break;
        case WM_LBUTTONDOWN:
            held.closePressed = overClose;
            if (overClose) ::SetCapture(hwnd);
            break;
        case WM_LBUTTONUP:
            if (held.closePressed) {
                held.closePressed = false;
                ::ReleaseCapture();
                if (overClose) cancel(hwnd);
            }
            break;
    }
    return 0;
}

LRESULT onPaint(HWND hwnd, const SettingsResources& held) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    const bool closeHovered = held.closeHovered;
    paintBuffered(dc, drawn_window::clientSize(hwnd),
                  [&](Canvas& canvas) { paintSettingsBackground(canvas, closeHovered); });
    ::EndPaint(hwnd, &ps);
    return 0;
}

// Every child keeps its place in units: at the new scale it takes that place's pixels.
struct Rescale {
    HWND settings;
    qb::DpiScale before, after;
};

BOOL CALLBACK rescaleChild(HWND child, LPARAM lp) {
    const Rescale& r = *reinterpret_cast<const Rescale*>(lp);
    if (::GetParent(child) != r.settings) return TRUE;
    RECT place{};
    ::GetWindowRect(child, &place);
    ::MapWindowPoints(nullptr, r.settings, reinterpret_cast<POINT*>(&place), 2);
    const RECT units{r.before.unit(place.left), r.before.unit(place.top), r.before.unit(place.right),
                     r.before.unit(place.bottom)};
    const RECT pixels = r.after.pixels(units);
    ::SetWindowPos(child, nullptr, pixels.left, pixels.top, pixels.right - pixels.left, pixels.bottom - pixels.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

// The window moved to a monitor of another DPI: its fonts, controls, corners and size follow, and it
// takes the rectangle the system suggests.
LRESULT onSettingsDpiChanged(HWND hwnd, SettingsResources& held, int dpi, const RECT& suggested) {
    if (dpi == held.scale.dpi || dpi <= 0) return 0;
    if (!held.canvasFonts.make(dpi)) return 0;  // it stays as it is, at its size
    Rescale rescale{hwnd, held.scale, qb::DpiScale{dpi}};
    held.scale = rescale.after;
    ::EnumChildWindows(hwnd, rescaleChild, reinterpret_cast<LPARAM>(&rescale));
    applyFonts(hwnd, held);
    const int width = suggested.right - suggested.left, height = suggested.bottom - suggested.top;
    ::SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    drawn_window::roundCorners(hwnd, scale(), width, height, TRUE);
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return 0;
}

LRESULT onDestroy(SettingsResources& held) {
    AppState& app = appState();
    app.settingsWnd = nullptr;
    app.settingsDirEdit = nullptr;
    app.settingsVersionLabel = nullptr;
    if (held.shadow) ::DestroyWindow(held.shadow);
    held.shadow = nullptr;
    if (app.mainWnd) {
        ::EnableWindow(app.mainWnd, TRUE);
        ::SetForegroundWindow(app.mainWnd);
    }
    return 0;
}

// The fonts and the brush outlive the controls that use them: released only after the children are gone.
LRESULT onNcDestroy(HWND hwnd, WPARAM wp, LPARAM lp) {
    const std::unique_ptr<SettingsResources> held(resourcesOf(hwnd));
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return ::DefWindowProcW(hwnd, WM_NCDESTROY, wp, lp);
}

bool isKeyFor(HWND settings, const MSG& msg, WPARAM key) {
    return msg.message == WM_KEYDOWN && msg.wParam == key && (msg.hwnd == settings || ::IsChild(settings, msg.hwnd));
}

}  // namespace

const qb::DpiScale& settingsScale() {
    const SettingsResources* held = resourcesOf(appState().settingsWnd);
    return held ? held->scale : appState().scale;
}

const HFONT (&settingsCanvasFonts())[kUiFontCount] {
    const SettingsResources* held = resourcesOf(appState().settingsWnd);
    if (!held || held->canvasFonts.empty()) return appState().uiFonts;
    return held->canvasFonts.fonts();
}

std::wstring versionBeforeThirdDot(const std::wstring& version) {
    size_t dot = std::wstring::npos;
    for (int found = 0; found < 3; ++found) {
        dot = version.find(L'.', dot == std::wstring::npos ? 0 : dot + 1);
        if (dot == std::wstring::npos) return version;
    }
    return version.substr(0, dot);
}

std::wstring versionLabelText(const std::wstring& productVersion) {
    const std::wstring version = versionBeforeThirdDot(productVersion);
    return version.empty() ? std::wstring() : L"版本 v" + version;
}

std::wstring programProductVersion() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> block(size, 0);
    if (!::GetFileVersionInfoW(path, 0, size, block.data())) return std::wstring();

    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* translations = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations, &length) ||
        length < sizeof(Translation))
        return std::wstring();
    const Translation first = *static_cast<const Translation*>(translations);

    wchar_t subBlock[64] = {};
    std::swprintf(subBlock, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", first.language, first.codePage);
    void* value = nullptr;
    UINT valueLength = 0;
    if (!::VerQueryValueW(block.data(), subBlock, &value, &valueLength) || !value || valueLength == 0)
        return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(value));
}

std::wstring folderToSave(const std::wstring& editText) {
    std::wstring folder = editText;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.size() <= 3) folder.clear();
    return folder;
}

int speedLimitToSave(const std::wstring& text) {
    int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') continue;  // ES_NUMBER lets a paste through
        value = std::min<int64_t>(value * 10 + (c - L'0'), kMaxSpeedLimitKBps);
    }
    return static_cast<int>(value);
}

std::wstring proxyToSave(int choice, const std::wstring& text) {
    if (choice == kProxyChoiceNone) return kProxyNone;
    return choice == kProxyChoiceManual ? proxySettingFrom(text) : std::wstring(kProxySystem);
}

void openSettingsWindow() {
    AppState& app = appState();
    if (app.settingsWnd) {
        ::SetForegroundWindow(app.settingsWnd);
        return;
    }
    RECT mainRect{};
    ::GetWindowRect(app.mainWnd, &mainRect);
    const int width = scale().length(sl::kWidth), height = scale().length(sl::kHeight);
    const int x = mainRect.left + (mainRect.right - mainRect.left - width) / 2;
    const int y = mainRect.top + (mainRect.bottom - mainRect.top - height) / 2;
    HWND settings = ::CreateWindowExW(0, kSettingsWindowClass, kSettingsTitle, WS_POPUP, x, y, width, height,
                                      app.mainWnd, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!settings) {
        // Nothing to come back from: the main window must stay usable.
        if (app.mainWnd) ::EnableWindow(app.mainWnd, TRUE);
        return;
    }
    // Rounded like the main window, with the same shadow under it. The shadow falls on the main
    // window, so it is left out where the desktop would draw it opaque instead of blending it.
    drawn_window::roundCorners(settings, scale(), width, height, FALSE);
    SettingsResources& held = *resourcesOf(settings);  // made with the window
    if (desktopComposesWindows()) held.shadow = createShadowWindowFor(settings);
    app.settingsWnd = settings;
    ::ShowWindow(settings, SW_SHOW);
    followWithShadow(settings, held.shadow, held.shadowSize);
    ::EnableWindow(app.mainWnd, FALSE);
}

bool settingsDialogMessage(MSG* msg) {
    HWND settings = appState().settingsWnd;
    if (!settings) return false;
    // IsDialogMessageW turns Escape into id 2, the save button: back out through "取消" instead.
    if (isKeyFor(settings, *msg, VK_ESCAPE)) {
        cancel(settings);
        return true;
    }
    // The buttons draw themselves, so the dialog keys do not see them as push buttons: Enter on a
    // focused button presses it, as it would press a system one.
    if (isKeyFor(settings, *msg, VK_RETURN)) {
        HWND focus = ::GetFocus();
        const int id = focus && ::GetParent(focus) == settings ? ::GetDlgCtrlID(focus) : 0;
        if (id == kSettingsCancelId || id == kSettingsSaveId || id == kSettingsBrowseId || id == kSettingsImportId ||
            id == kSettingsExportId) {
            ::SendMessageW(settings, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(focus));
            return true;
        }
    }
    return ::IsDialogMessageW(settings, msg) != FALSE;
}

LRESULT CALLBACK settingsWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) attachResources(hwnd);
    SettingsResources* held = resourcesOf(hwnd);
    if (!held) return ::DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_CREATE: return onCreate(hwnd, *held);
        // Enter in a field or on a switch saves, as on a dialog's default button (not id 1, "取消").
        case DM_GETDEFID: return MAKELRESULT(kSettingsSaveId, DC_HASDEFID);
        case WM_COMMAND: return onCommand(hwnd, *held, LOWORD(wp));
        case WM_DRAWITEM: return onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        case WM_CTLCOLORSTATIC: return onCtlColorStatic(*held, wp, lp);
        case WM_CTLCOLOREDIT: return onCtlColorEdit(*held, wp);
        case WM_NCHITTEST: return drawn_window::hitTest(hwnd, wp, lp, scale(), sl::dragsWindow);
        case WM_MOUSEMOVE:
        case WM_MOUSELEAVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP: return onMouse(hwnd, *held, msg, lp);
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: return onPaint(hwnd, *held);
        case WM_DPICHANGED: return onSettingsDpiChanged(hwnd, *held, LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
        case WM_WINDOWPOSCHANGED: followWithShadow(hwnd, held->shadow, held->shadowSize); break;
        case WM_DESTROY: return onDestroy(*held);
        case WM_NCDESTROY: return onNcDestroy(hwnd, wp, lp);
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
