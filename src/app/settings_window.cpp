#include "app/settings_window.h"

#include <cstdio>
#include <vector>

#include "render/app_state.h"
#include "app/main_window.h"
#include "app/shell_services.h"
#include "base/win_handles.h"
#include "downloads/download_manager.h"

namespace {

constexpr int kSettingsWidth = 478;
constexpr int kSettingsHeight = 272;
constexpr wchar_t kSettingsTitle[] = L"下载设置";
constexpr COLORREF kVersionTextColour = 0xA09996;  // #9699A0

struct SettingsFonts {
    qb::UniqueFont normal;
    qb::UniqueFont heading;
    qb::UniqueFont small;
};

SettingsFonts& settingsFonts() {
    static SettingsFonts fonts;
    return fonts;
}

HFONT createFont(int height, int weight) {
    return ::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei");
}

struct ControlLayout {
    const wchar_t* className;
    int x, y, width, height;
    int id;  // 0: none
    DWORD style;
};

HWND createControl(HWND parent, const ControlLayout& layout, const std::wstring& text) {
    return ::CreateWindowExW(0, layout.className, text.c_str(), WS_CHILD | WS_VISIBLE | layout.style, layout.x,
                             layout.y, layout.width, layout.height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), ::GetModuleHandleW(nullptr),
                             nullptr);
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

void applyFonts(HWND hwnd) {
    SettingsFonts& fonts = settingsFonts();
    fonts.normal.reset(createFont(-14, 400));
    fonts.heading.reset(createFont(-15, 700));
    fonts.small.reset(createFont(-12, 400));
    ::EnumChildWindows(hwnd, setFontOnChild, reinterpret_cast<LPARAM>(fonts.normal.get()));
    ::EnumChildWindows(hwnd, setHeadingFont, reinterpret_cast<LPARAM>(fonts.heading.get()));
    ::SendMessageW(appState().settingsVersionLabel, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.small.get()), TRUE);
}

LRESULT onCreate(HWND hwnd) {
    AppState& app = appState();
    const std::wstring directory = shellServices().downloadDirectory();
    createControl(hwnd, {L"STATIC", 30, 20, 200, 22, 0, 0}, kSettingsTitle);
    createControl(hwnd, {L"STATIC", 30, 52, 300, 20, 0, 0}, L"安装包保存目录");
    app.settingsDirEdit = createControl(
        hwnd, {L"EDIT", 30, 76, 330, 30, kSettingsDirEditId, WS_BORDER | ES_AUTOHSCROLL | ES_READONLY}, directory);
    createControl(hwnd, {L"BUTTON", 368, 76, 80, 30, kSettingsBrowseId, BS_PUSHBUTTON}, L"浏览...");
    createControl(hwnd, {L"STATIC", 30, 116, 300, 20, 0, 0}, L"修改后对新的下载任务生效");
    createControl(hwnd, {L"BUTTON", 248, 156, 84, 34, kSettingsCancelId, BS_PUSHBUTTON}, L"取消");
    createControl(hwnd, {L"BUTTON", 342, 156, 84, 34, kSettingsSaveId, BS_PUSHBUTTON}, L"保存");
    app.settingsVersionLabel =
        createControl(hwnd, {L"STATIC", 30, 204, 380, 18, 0, 0}, versionLabelText(programProductVersion()));
    applyFonts(hwnd);
    return 0;
}

void browse(HWND hwnd) {
    const std::wstring folder = shellServices().pickFolder(hwnd);
    if (!folder.empty()) ::SetWindowTextW(appState().settingsDirEdit, folder.c_str());
}

void save(HWND hwnd) {
    AppState& app = appState();
    wchar_t text[MAX_PATH] = {};
    ::GetWindowTextW(app.settingsDirEdit, text, MAX_PATH);
    const std::wstring folder = folderToSave(text);
    app.config.downloadDir = folder;
    // Handed over before saving: a file that cannot be written still leaves the folder in use.
    shellServices().setDownloadDirOverride(folder);
    DownloadManager::instance().setConnectionsPerDownload(app.config.connectionsPerDownload);
    shellServices().saveConfig(app.config);
    ::DestroyWindow(hwnd);
    showToast(folder.empty() ? L"已恢复默认下载目录" : L"下载目录已保存", ToastSuccess);
    repaintMainWindow();
}

LRESULT onCommand(HWND hwnd, int id) {
    switch (id) {
        case kSettingsCancelId: ::DestroyWindow(hwnd); break;
        case kSettingsBrowseId: browse(hwnd); break;
        case kSettingsSaveId: save(hwnd); break;
        default: break;
    }
    return 0;
}

LRESULT onCtlColorStatic(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (reinterpret_cast<HWND>(lp) != appState().settingsVersionLabel)
        return ::DefWindowProcW(hwnd, WM_CTLCOLORSTATIC, wp, lp);
    HDC dc = reinterpret_cast<HDC>(wp);
    ::SetTextColor(dc, kVersionTextColour);
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

LRESULT onDestroy() {
    AppState& app = appState();
    app.settingsWnd = nullptr;
    app.settingsDirEdit = nullptr;
    app.settingsVersionLabel = nullptr;
    if (app.mainWnd) {
        ::EnableWindow(app.mainWnd, TRUE);
        ::SetForegroundWindow(app.mainWnd);
    }
    return 0;
}

// The fonts outlive the controls that use them: released only after the children are gone.
LRESULT onNcDestroy(HWND hwnd, WPARAM wp, LPARAM lp) {
    const LRESULT result = ::DefWindowProcW(hwnd, WM_NCDESTROY, wp, lp);
    settingsFonts() = SettingsFonts();
    return result;
}

bool isEscapeFor(HWND settings, const MSG& msg) {
    return msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE &&
           (msg.hwnd == settings || ::IsChild(settings, msg.hwnd));
}

}  // namespace

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

void openSettingsWindow() {
    AppState& app = appState();
    if (app.settingsWnd) {
        ::SetForegroundWindow(app.settingsWnd);
        return;
    }
    RECT mainRect{};
    ::GetWindowRect(app.mainWnd, &mainRect);
    const int x = mainRect.left + (mainRect.right - mainRect.left - kSettingsWidth) / 2;
    const int y = mainRect.top + (mainRect.bottom - mainRect.top - kSettingsHeight) / 2;
    HWND settings = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kSettingsWindowClass, kSettingsTitle,
                                      WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y, kSettingsWidth, kSettingsHeight,
                                      app.mainWnd, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!settings) {
        // Nothing to come back from: the main window must stay usable.
        if (app.mainWnd) ::EnableWindow(app.mainWnd, TRUE);
        return;
    }
    app.settingsWnd = settings;
    ::ShowWindow(settings, SW_SHOW);
    ::EnableWindow(app.mainWnd, FALSE);
}

bool settingsDialogMessage(MSG* msg) {
    HWND settings = appState().settingsWnd;
    if (!settings) return false;
    // IsDialogMessageW turns Escape into id 2, the save button: back out through "取消" instead.
    if (isEscapeFor(settings, *msg)) {
        ::SendMessageW(settings, WM_COMMAND, MAKEWPARAM(kSettingsCancelId, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(settings, kSettingsCancelId)));
        return true;
    }
    return ::IsDialogMessageW(settings, msg) != FALSE;
}

LRESULT CALLBACK SettingsWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE: return onCreate(hwnd);
        case WM_COMMAND: return onCommand(hwnd, LOWORD(wp));
        case WM_CTLCOLORSTATIC: return onCtlColorStatic(hwnd, wp, lp);
        case WM_DESTROY: return onDestroy();
        case WM_NCDESTROY: return onNcDestroy(hwnd, wp, lp);
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
