#include <gtest/gtest.h>

#include "base/window_messages.h"
#include "app/app_action.h"
#include "app/settings_window.h"
#include "app/shadow_window.h"
#include "app/sign_in_start.h"
#include "app/tray.h"
#include "app/startup.h"
#include "config/config.h"
#include "qb_version.h"
#include "render/settings_painter.h"
#include "support/test_support.h"
#include "app/window_fixture.h"

namespace {

using wintest::MainWindowTest;

struct TextCase {
    std::wstring given, shown;
};

TEST(SettingsText, TheVersionIsCutBeforeItsThirdDot) {
    const TextCase cases[] = {
        {L"2.0.15.3", L"版本 v2.0.15"}, {L"3.1", L"版本 v3.1"},     {L"1.2.3", L"版本 v1.2.3"},
        {L"1.2.3.4.5", L"版本 v1.2.3"}, {L"", L""},                {L"7", L"版本 v7"},
        {L"..1.2", L"版本 v..1"},        {L".", L"版本 v."},
    };
    for (const TextCase& c : cases) EXPECT_EQ(versionLabelText(c.given), c.shown) << c.given;
}

TEST(SettingsText, SavingDropsSeparatorsAndTurnsADriveRootIntoTheDefault) {
    const TextCase cases[] = {
        {L"D:\\Downloads\\", L"D:\\Downloads"}, {L"C:\\", L""},         {L"C:", L""},
        {L"D:/x//\\", L"D:/x"},                 {L"abc", L""},          {L"abcd", L"abcd"},
        {L"\\\\\\", L""},                       {L"", L""},             {L"D:\\a\\b", L"D:\\a\\b"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(folderToSave(c.given), c.shown) << c.given;
}

std::vector<std::pair<DWORD, HWND>> gHeard;  // what a screen reader's hook heard
void CALLBACK hear(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG, LONG, DWORD, DWORD) {
    if (event == EVENT_OBJECT_STATECHANGE || event == EVENT_OBJECT_VALUECHANGE) gHeard.emplace_back(event, hwnd);
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

class SettingsWindow : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        configPath_ = configFilePath();
        hadConfig_ = qbtest::fileExists(configPath_);
        if (hadConfig_) savedConfig_ = qbtest::readFileBytes(configPath_);
        createMainWindow();
        ::KillTimer(main_, kSpeedTimerId);  // its ticks would only add noise to the call log
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        if (hadConfig_)
            qbtest::writeFileBytes(configPath_, savedConfig_);
        else
            ::DeleteFileW(configPath_.c_str());
    }

    HWND open() {
        openSettingsWindow();
        return appState().settingsWnd;
    }
    void press(int id) {
        HWND settings = appState().settingsWnd;
        ::SendMessageW(settings, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(settings, id)));
    }
    void expectClosedAndMainEnabled() {
        EXPECT_EQ(appState().settingsWnd, nullptr);
        EXPECT_TRUE(::IsWindowEnabled(main_));
        EXPECT_EQ(::FindWindowW(kSettingsWindowClass, nullptr), nullptr);
    }

    std::wstring configPath_;
    bool hadConfig_ = false;
    std::string savedConfig_;
};

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    RECT rect;
    int id;
    LONG height, weight;
};

struct ChildList {
    std::vector<HWND> children;
};

BOOL CALLBACK collectChild(HWND child, LPARAM list) {
    reinterpret_cast<ChildList*>(list)->children.push_back(child);
    return TRUE;
}

int shadowWindows() {
    int count = 0;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, kShadowWindowClass, nullptr); w;
         w = ::FindWindowExW(nullptr, w, kShadowWindowClass, nullptr))
        ++count;
    return count;
}

TEST_F(SettingsWindow, OpensCentredOnTheMainWindowWithItsControls) {
    calls_.directory = L"C:\\Users\\me\\Downloads\\Quillbox";
    appState().config.connectionsPerDownload = 6;
    const int shadowsBefore = shadowWindows();
    HWND settings = open();
    ASSERT_NE(settings, nullptr);
    // Its own shadow only where the desktop blends it (not under Wine, which would draw it black).
    EXPECT_EQ(shadowWindows(), shadowsBefore + (desktopComposesWindows() ? 1 : 0));
    EXPECT_FALSE(::IsWindowEnabled(main_));
    EXPECT_EQ(::GetWindow(settings, GW_OWNER), main_);
    EXPECT_EQ(windowText(settings), L"下载设置");
    EXPECT_FALSE(::GetWindowLongPtrW(settings, GWL_STYLE) & WS_CAPTION);
    RECT r{};
    ::GetWindowRect(settings, &r);
    EXPECT_EQ(r.left, 110 + (1180 - 478) / 2);
    EXPECT_EQ(r.top, 60 + (780 - 752) / 2);
    EXPECT_EQ(r.right - r.left, 478);
    EXPECT_EQ(r.bottom - r.top, 752);

    const std::wstring version = L"版本 v" + std::to_wstring(QB_VERSION_MAJOR) + L"." +
                                 std::to_wstring(QB_VERSION_MINOR) + L"." + std::to_wstring(QB_VERSION_PATCH);
    const ExpectedControl expected[] = {
        {L"Static", L"下载设置", {24, 14, 224, 36}, 0, -15, 700},
        {L"Static", L"安装包保存目录", {30, 92, 330, 112}, 0, -14, 400},
        {L"Edit", L"C:\\Users\\me\\Downloads\\Quillbox", {40, 124, 350, 144}, 103, -14, 400},
        {L"Button", L"浏览...", {368, 118, 448, 150}, 3, -14, 400},
        {L"Static", L"修改后对新的下载任务生效", {30, 158, 330, 178}, 0, -14, 400},
        {L"Static", L"同时连接数", {30, 192, 128, 224}, 0, -14, 400},
        {L"QBChoice", L"6", {128, 192, 448, 224}, 104, -14, 400},
        {L"Static", L"下载限速", {30, 234, 200, 266}, 0, -14, 400},
        {L"Edit", L"0", {278, 240, 388, 260}, 106, -14, 400},
        {L"Static", L"KB/s", {406, 234, 448, 266}, 0, -14, 400},
        {L"Static", L"所有下载合计，0 表示不限速，保存后立即生效", {30, 268, 448, 288}, 0, -14, 400},
        {L"Static", L"代理", {30, 300, 90, 332}, 0, -14, 400},
        {L"QBProxyChoice", L"1", {100, 300, 268, 332}, 107, -14, 400},
        {L"Static", L"手动时填写“主机:端口”，保存后立即生效", {30, 334, 448, 354}, 0, -14, 400},
        {L"Edit", L"", {288, 306, 438, 326}, 108, -14, 400},
        {L"Static", L"静默安装", {30, 396, 300, 420}, 0, -14, 400},
        {L"QBSwitch", L"1", {404, 396, 448, 420}, 105, -14, 400},
        {L"Static", L"识别安装程序类型，无需逐个点击安装向导", {30, 422, 448, 442}, 0, -14, 400},
        {L"Static", L"自动升级", {30, 456, 300, 480}, 0, -14, 400},
        {L"QBSwitch", L"0", {404, 456, 448, 480}, 109, -14, 400},
        {L"Static", L"有可升级的软件时在后台自动下载并静默安装", {30, 482, 448, 502}, 0, -14, 400},
        {L"Static", L"软件清单", {30, 516, 200, 548}, 0, -14, 400},
        {L"Button", L"导入软件清单", {206, 516, 322, 548}, 4, -14, 400},
        {L"Button", L"导出软件清单", {332, 516, 448, 548}, 5, -14, 400},
        {L"Static", L"导出已安装的软件，在另一台电脑上按清单一次装好", {30, 552, 448, 572}, 0, -14, 400},
        {L"Static", L"关闭时最小化到托盘", {30, 614, 300, 638}, 0, -14, 400},
        {L"QBSwitch", L"0", {404, 614, 448, 638}, 110, -14, 400},
        {L"Static", L"开机启动", {30, 648, 300, 672}, 0, -14, 400},
        {L"QBSwitch", L"0", {404, 648, 448, 672}, 111, -14, 400},
        {L"Static", L"", {30, 686, 262, 720}, 112, -14, 400},
        {L"Button", L"取消", {270, 686, 354, 720}, 1, -14, 400},
        {L"Button", L"保存", {364, 686, 448, 720}, 2, -14, 400},
        {L"Static", version.c_str(), {30, 726, 410, 744}, 0, -12, 400},
    };
    constexpr size_t kCount = std::size(expected);
    ChildList list;
    ::EnumChildWindows(settings, collectChild, reinterpret_cast<LPARAM>(&list));
    ASSERT_EQ(list.children.size(), kCount);
    for (size_t i = 0; i < kCount; ++i) {
        HWND child = list.children[i];
        const ExpectedControl& e = expected[i];
        wchar_t className[64] = {};
        ::GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, e.className), 0) << i << " " << className;
        EXPECT_EQ(windowText(child), e.text) << i;
        RECT place{};
        ::GetWindowRect(child, &place);
        ::MapWindowPoints(nullptr, settings, reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, e.rect.left) << i;
        EXPECT_EQ(place.top, e.rect.top) << i;
        EXPECT_EQ(place.right, e.rect.right) << i;
        EXPECT_EQ(place.bottom, e.rect.bottom) << i;
        EXPECT_EQ(::GetDlgCtrlID(child), e.id) << i;
        const std::wstring drawn = e.className;
        if (drawn == L"QBChoice" || drawn == L"QBSwitch" || drawn == L"QBProxyChoice") continue;  // no text
        LOGFONTW font{};
        ASSERT_NE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)), sizeof font, &font),
                  0)
            << i;
        EXPECT_EQ(font.lfHeight, e.height) << i;
        EXPECT_EQ(font.lfWeight, e.weight) << i;
    }
    EXPECT_EQ(appState().settingsDirEdit, list.children[2]);
    EXPECT_EQ(appState().settingsVersionLabel, list.children[kCount - 1]);
    EXPECT_TRUE(::GetWindowLongPtrW(list.children[2], GWL_STYLE) & ES_READONLY);
    for (int id : {kSettingsBrowseId, kSettingsImportId, kSettingsExportId, kSettingsCancelId, kSettingsSaveId})
        EXPECT_EQ(::GetWindowLongPtrW(::GetDlgItem(settings, id), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW) << id;
    // Tab goes through the switches and the lists' buttons in reading order, then to 取消.
    HWND tab = ::GetDlgItem(settings, kSettingsSilentId);
    for (int id : {kSettingsAutoUpdateId, kSettingsImportId, kSettingsExportId, kSettingsCloseToTrayId,
                   kSettingsSignInId, kSettingsCancelId})
        EXPECT_EQ(::GetDlgCtrlID(tab = ::GetNextDlgTabItem(settings, tab, FALSE)), id);
}

TEST_F(SettingsWindow, MovingToAMonitorOfAnotherDpiRescalesItsControlsAndFonts) {
    HWND settings = open();
    ASSERT_NE(settings, nullptr);
    HWND save = ::GetDlgItem(settings, kSettingsSaveId);
    const auto placeAndFont = [&](HWND child) {
        RECT place{};
        ::GetWindowRect(child, &place);
        ::MapWindowPoints(nullptr, settings, reinterpret_cast<POINT*>(&place), 2);
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)), sizeof font, &font);
        return std::make_pair(place, font.lfHeight);
    };
    const struct { int dpi, width, height; RECT save; LONG font; } steps[] = {
        {192, 956, 1504, {728, 1372, 896, 1440}, -28}, {144, 717, 1128, {546, 1029, 672, 1080}, -21},
        {96, 478, 752, {364, 686, 448, 720}, -14},
    };
    for (const auto& step : steps) {
        const RECT suggested{100, 50, 100 + step.width, 50 + step.height};
        ::SendMessageW(settings, WM_DPICHANGED, MAKEWPARAM(step.dpi, step.dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT r{};
        ::GetWindowRect(settings, &r);
        EXPECT_EQ(r.right - r.left, step.width) << step.dpi;
        EXPECT_EQ(r.bottom - r.top, step.height) << step.dpi;
        const auto [place, font] = placeAndFont(save);
        EXPECT_TRUE(::EqualRect(&place, &step.save)) << step.dpi << ": " << place.left << "," << place.top << ","
                                                     << place.right << "," << place.bottom;
        EXPECT_EQ(font, step.font) << step.dpi;
    }
}

TEST_F(SettingsWindow, OpeningItAgainOnlyBringsItToTheFront) {
    HWND first = open();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(open(), first);
    int count = 0;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, kSettingsWindowClass, nullptr); w;
         w = ::FindWindowExW(nullptr, w, kSettingsWindowClass, nullptr))
        ++count;
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(::IsWindowEnabled(main_));
}

// Every label draws on the window's own white (no grey boxes); the title is white on the strip and the
// version stays grey.
TEST_F(SettingsWindow, LabelsDrawTransparentlyInTheirOwnColours) {
    HWND settings = open();
    ASSERT_NE(settings, nullptr);
    HDC dc = ::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    struct Case {
        HWND label;
        COLORREF text;
        HGDIOBJ brush;
    };
    const Case cases[] = {
        {::GetWindow(settings, GW_CHILD), RGB(0xFF, 0xFF, 0xFF), ::GetStockObject(NULL_BRUSH)},
        {::GetWindow(::GetWindow(settings, GW_CHILD), GW_HWNDNEXT), RGB(0x1D, 0x21, 0x29), ::GetStockObject(WHITE_BRUSH)},
        {appState().settingsVersionLabel, 0xA09996, ::GetStockObject(WHITE_BRUSH)},
    };
    for (const Case& c : cases) {
        ::SetTextColor(dc, RGB(1, 2, 3));
        ::SetBkMode(dc, OPAQUE);
        const LRESULT brush = ::SendMessageW(settings, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                             reinterpret_cast<LPARAM>(c.label));
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), c.brush) << windowText(c.label);
        EXPECT_EQ(::GetTextColor(dc), c.text) << windowText(c.label);
        EXPECT_EQ(::GetBkMode(dc), TRANSPARENT) << windowText(c.label);
    }
    appState().highContrast = true;  // the editable speed field too takes the window's colours
    const LRESULT field = ::SendMessageW(settings, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(::GetDlgItem(settings, kSettingsSpeedId)));
    EXPECT_EQ(field, reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW)));
    EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
    appState().highContrast = false;
    ::DeleteDC(dc);
    press(1);  // 取消
    expectClosedAndMainEnabled();
}

TEST(SettingsLayout, TheStripDragsTheWindowAndTheChoiceMapsPointsToNumbers) {
    EXPECT_TRUE(settings_layout::dragsWindow({10, 10}));
    EXPECT_TRUE(settings_layout::dragsWindow({427, 49}));
    EXPECT_FALSE(settings_layout::dragsWindow({440, 20}));  // the close glyph
    EXPECT_FALSE(settings_layout::dragsWindow({10, 50}));
    const std::pair<POINT, int> cases[] = {{{0, 0}, 1},   {{39, 31}, 1}, {{40, 5}, 2},   {{319, 10}, 8},
                                           {{320, 10}, 0}, {{-1, 10}, 0}, {{100, 32}, 0}, {{100, -1}, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(settings_layout::segmentAt(c.first, 8, 40), c.second) << c.first.x << "," << c.first.y;
}

TEST_F(SettingsWindow, SavingAFolderStoresItWithoutTheTrailingSeparator) {
    appState().config.server = L"http://127.0.0.1:8080";
    appState().config.channel = L"beta";
    open();
    ::SetWindowTextW(appState().settingsDirEdit, L"D:\\Downloads\\");
    // The choice follows clicks, arrows, Home, End and digits, and stays within 1 to 8.
    HWND choice = ::GetDlgItem(appState().settingsWnd, kSettingsConnectionsId);
    const auto key = [choice](WPARAM k) { ::SendMessageW(choice, WM_KEYDOWN, k, 0); };
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, hear,
                                           ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ::SendMessageW(choice, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 10));
    EXPECT_EQ(windowText(choice), L"8");
    key(VK_RIGHT);
    EXPECT_EQ(windowText(choice), L"8");
    key(VK_LEFT);
    key(VK_DOWN);
    EXPECT_EQ(windowText(choice), L"6");
    key(VK_HOME);
    key(VK_LEFT);
    EXPECT_EQ(windowText(choice), L"1");
    key('9');
    EXPECT_EQ(windowText(choice), L"1");
    key('3');
    EXPECT_EQ(windowText(choice), L"3");
    // The switch turns with a click and with Space.
    HWND silent = ::GetDlgItem(appState().settingsWnd, kSettingsSilentId);
    ::SendMessageW(silent, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    ::SendMessageW(silent, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(silent, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(windowText(silent), L"0");
    // Readers hear every change, and only changes: the choice took 8, 7, 6, 1 and 3; the switch turned thrice.
    pump();
    ::UnhookWinEvent(hook);
    using Heard = std::pair<DWORD, HWND>;
    const Heard value{EVENT_OBJECT_VALUECHANGE, choice}, state{EVENT_OBJECT_STATECHANGE, silent};
    EXPECT_EQ(gHeard, (std::vector<Heard>{value, value, value, value, value, state, state, state}));
    ::SetDlgItemTextW(appState().settingsWnd, kSettingsSpeedId, L"2,000");  // pasted past the digits-only style
    // The proxy's field takes text under 手动 only.
    HWND proxy = ::GetDlgItem(appState().settingsWnd, kSettingsProxyChoiceId);
    HWND proxyField = ::GetDlgItem(appState().settingsWnd, kSettingsProxyEditId);
    EXPECT_FALSE(::IsWindowEnabled(proxyField));
    ::SendMessageW(proxy, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 10));
    EXPECT_EQ(windowText(proxy), L"3");
    EXPECT_TRUE(::IsWindowEnabled(proxyField));
    ::SetWindowTextW(proxyField, L" proxy.corp:3128 ");
    shellServices().saveConfig = realShellServices().saveConfig;
    // Enter in a field saves, as on a dialog's default button.
    ::SetFocus(proxyField);
    MSG enter{proxyField, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
    EXPECT_TRUE(dialogMessageFilter(&enter));
    expectClosedAndMainEnabled();
    EXPECT_EQ(appState().config.downloadDir, L"D:\\Downloads");
    EXPECT_EQ(appState().config.connectionsPerDownload, 3);
    EXPECT_EQ(appState().config.speedLimitKBps, 2000);
    EXPECT_EQ(appState().config.proxy, L"proxy.corp:3128");
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"override D:\\Downloads", L"speed 2000"}));
    EXPECT_EQ(appState().toastText, L"下载目录已保存");
    EXPECT_EQ(appState().toastKind, ToastSuccess);
    EXPECT_EQ(qbtest::readFileBytes(configPath_), configFileText(appState().config));  // the format: config tests
    EXPECT_FALSE(appState().config.silentInstall);
    open();
    ::SetWindowTextW(appState().settingsDirEdit, L"Downloads");  // relative: refused, and the window stays
    press(kSettingsSaveId);
    ASSERT_NE(appState().settingsWnd, nullptr);
    EXPECT_EQ(windowText(::GetDlgItem(appState().settingsWnd, kSettingsProblemId)), L"请填写完整的文件夹路径");
    ::SetWindowTextW(appState().settingsDirEdit, L"D:\\Downloads");
    shellServices().saveConfig = [](const AppConfig&) { return false; };  // the file cannot be written
    press(kSettingsSaveId);
    expectClosedAndMainEnabled();
    EXPECT_EQ(appState().toastText, L"无法写入配置文件，重启后设置将恢复");
    EXPECT_EQ(appState().toastKind, ToastError);
}

// 自动升级 and 关闭时最小化到托盘 load from and save to config.json, 开机启动 from and to the Run entry,
// which a save writes or removes only when its switch changed; the tray's icon follows 关闭时最小化到托盘.
TEST_F(SettingsWindow, TheStartAndUpdateSwitchesLoadAndSaveBack) {
    shellServices().saveConfig = realShellServices().saveConfig;
    const auto runValue = [] {
        wchar_t value[512] = {};
        DWORD bytes = sizeof value;
        const LSTATUS read = ::RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr,
                                            value, &bytes);
        return read == ERROR_SUCCESS ? std::wstring(value) : std::wstring(L"(none)");
    };
    const auto flip = [](int id) { ::SendMessageW(::GetDlgItem(appState().settingsWnd, id), WM_KEYDOWN, VK_SPACE, 0); };
    const auto shown = [](int id) { return windowText(::GetDlgItem(appState().settingsWnd, id)); };
    // Another program's command under the name is not this program's: shown off, and left alone.
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, REG_SZ, L"other.exe", 20);
    appState().config.autoUpdate = true;
    appState().config.closeToTray = false;
    open();
    EXPECT_EQ(shown(kSettingsAutoUpdateId) + shown(kSettingsCloseToTrayId) + shown(kSettingsSignInId), L"100");
    press(kSettingsSaveId);
    EXPECT_EQ(runValue(), L"other.exe");

    open();
    flip(kSettingsAutoUpdateId);
    flip(kSettingsCloseToTrayId);
    flip(kSettingsSignInId);
    press(kSettingsSaveId);
    expectClosedAndMainEnabled();
    EXPECT_TRUE(startsAtSignIn());
    EXPECT_TRUE(tray().shown);
    const std::string saved = qbtest::readFileBytes(configPath_);
    EXPECT_NE(saved.find("\"autoUpdate\": false"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"closeToTray\": true"), std::string::npos) << saved;

    open();
    EXPECT_EQ(shown(kSettingsAutoUpdateId) + shown(kSettingsCloseToTrayId) + shown(kSettingsSignInId), L"011");
    flip(kSettingsCloseToTrayId);
    flip(kSettingsSignInId);
    press(kSettingsSaveId);
    expectClosedAndMainEnabled();
    EXPECT_EQ(runValue(), L"(none)");
    EXPECT_FALSE(tray().shown);
    EXPECT_FALSE(appState().config.closeToTray);
    EXPECT_NE(qbtest::readFileBytes(configPath_).find("\"closeToTray\": false"), std::string::npos);
}

TEST_F(SettingsWindow, SavingADriveRootRestoresTheDefaultFolder) {
    appState().config.server = L"http://127.0.0.1:8080";
    appState().config.downloadDir = L"D:\\Old";
    open();
    ::SetWindowTextW(appState().settingsDirEdit, L"C:\\");
    press(kSettingsSaveId);
    expectClosedAndMainEnabled();
    EXPECT_EQ(appState().config.downloadDir, L"");
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"override ", L"speed 0"}));
    EXPECT_EQ(appState().toastText, L"已恢复默认下载目录");
    EXPECT_EQ(qbtest::readFileBytes(configPath_), configFileText(appState().config));  // the format: config tests
}

TEST_F(SettingsWindow, TheFolderPickerFillsTheFieldUnlessItIsCancelled) {
    open();
    calls_.pickedFolder = L"E:\\Picked";
    press(kSettingsBrowseId);
    EXPECT_EQ(windowText(appState().settingsDirEdit), L"E:\\Picked");
    calls_.pickedFolder.clear();
    press(kSettingsBrowseId);
    EXPECT_EQ(windowText(appState().settingsDirEdit), L"E:\\Picked");
    EXPECT_NE(appState().settingsWnd, nullptr);
}

// Every way out but saving leaves the folder and the file as they were.
TEST_F(SettingsWindow, CancelEscapeAndTheCloseBoxSaveNothingAndGiveTheMainWindowBack) {
    const std::string before = qbtest::readFileBytes(configPath_);
    int saves = 0;
    shellServices().saveConfig = [&saves](const AppConfig&) { return ++saves > 0; };
    appState().config.downloadDir = L"D:\\Kept";

    struct Way {
        const char* name;
        std::function<void(HWND settings)> leave;
    };
    const Way ways[] = {
        {"cancel button", [this](HWND) { press(kSettingsCancelId); }},
        {"Enter on the focused cancel button",
         [](HWND settings) {
             ::SetFocus(::GetDlgItem(settings, kSettingsCancelId));
             MSG enter{::GetFocus(), WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
             EXPECT_TRUE(dialogMessageFilter(&enter));
         }},
        {"close box", [](HWND settings) { ::SendMessageW(settings, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"close glyph on the strip",
         [](HWND settings) {
             ::SendMessageW(settings, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(453, 25));
             ::SendMessageW(settings, WM_LBUTTONUP, 0, MAKELPARAM(453, 25));
         }},
        {"Escape in the folder field",
         [this](HWND) {
             ::SetFocus(appState().settingsDirEdit);
             ::PostMessageW(appState().settingsDirEdit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
             pump();
         }},
        {"Escape on the window",
         [this](HWND settings) {
             ::PostMessageW(settings, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
             pump();
         }},
    };
    for (const Way& way : ways) {
        HWND settings = open();
        ASSERT_NE(settings, nullptr) << way.name;
        calls_.pickedFolder = L"E:\\Mistake";
        press(kSettingsBrowseId);  // a folder picked by mistake must not be kept
        ::SendMessageW(::GetDlgItem(settings, kSettingsConnectionsId), WM_KEYDOWN, VK_END, 0);  // nor a choice
        way.leave(settings);
        expectClosedAndMainEnabled();
        EXPECT_EQ(saves, 0) << way.name;
        EXPECT_EQ(calls_.log, std::vector<std::wstring>{}) << way.name;
        EXPECT_EQ(appState().config.downloadDir, L"D:\\Kept") << way.name;
        EXPECT_EQ(appState().config.connectionsPerDownload, 4) << way.name;
        EXPECT_TRUE(appState().toastText.empty()) << way.name;
    }
    EXPECT_EQ(qbtest::readFileBytes(configPath_), before);
}

// 导入软件清单: a worker reads the chosen file; the question names what will be installed, how the apps
// were matched and what is skipped; on OK the window closes and one batch starts. A file that is not a
// list is named in a message and queues nothing.
TEST_F(SettingsWindow, ImportingAListAsksThenQueuesWhatIsNotInstalledAsOneBatch) {
    AppState& state = appState();
    state.catalogue.apps = {wintest::app(1, L"甲"), wintest::app(2, L"乙"), wintest::app(3, L"丙"), wintest::app(4, L"丁")};
    state.catalogue.apps[2].hasPackage = false;
    state.installed.byId[1];
    state.installed.everRead = true;
    const std::wstring folder = qbtest::makeScratchDir(L"lists");
    const auto answered = [this](size_t boxes) {
        qbtest::waitUntil([&] { return calls_.boxes.size() >= boxes; }, 5000, [this] { pump(); });
        return calls_.boxes.size() == boxes;
    };
    HWND settings = open();
    calls_.pickedListFile = folder + L"\\bad.json";
    qbtest::writeFileBytes(calls_.pickedListFile, R"({"apps": [{"id": 2}]})");
    press(kSettingsImportId);
    ASSERT_TRUE(answered(1));
    EXPECT_EQ(calls_.boxes[0].text, L"无法导入软件清单「bad.json」：\n\n第 1 款软件缺少名称“name”");
    EXPECT_EQ(calls_.boxes[0].owner, settings);

    calls_.pickedListFile = folder + L"\\list.json";
    qbtest::writeFileBytes(calls_.pickedListFile, R"({"server": "http://127.0.0.1:8080/", "channel": "beta", "apps": [
        {"id": 1, "name": "甲"}, {"id": 2, "name": "乙"}, {"id": 3, "name": "丙"}, {"id": 4, "name": "丁"},
        {"id": 77, "name": "外星"}]})");
    calls_.boxAnswer = IDCANCEL;
    press(kSettingsImportId);
    ASSERT_TRUE(answered(2));
    EXPECT_EQ(calls_.boxes[1].text, L"将安装 2 款软件：\n「乙」、「丁」\n\n清单来自当前的服务器，按软件编号匹配。\n"
                                    L"跳过 1 款暂无安装包的软件：「丙」\n跳过 1 款软件目录中没有的软件：「外星」\n"
                                    L"已安装的 1 款不再安装。");
    EXPECT_EQ(calls_.boxes[1].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_TRUE(calls_.log.empty());  // cancelled: nothing queued, the window stays
    EXPECT_FALSE(state.batch.active());
    EXPECT_EQ(state.settingsWnd, settings);

    calls_.boxAnswer = IDOK;
    press(kSettingsImportId);
    ASSERT_TRUE(answered(3));
    expectClosedAndMainEnabled();
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"appAction 2", L"appAction 4"}));
    EXPECT_EQ(state.batch.kind, BatchKind::Import);
    calls_.tasks = {{2, wintest::task(2, L"乙", Installed)}, {4, wintest::task(4, L"丁", Installed)}};
    followBatch();
    EXPECT_EQ(state.noticeText, L"已安装 2 款");
    EXPECT_EQ(state.noticeSkipped, L"已跳过：「丙」、「外星」");

    // A batch that began while the question was open (an automatic update) keeps its apps.
    open();
    calls_.log.clear();
    ShellServices& services = shellServices();
    const auto ask = services.messageBox;
    services.messageBox = [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
        state.batch.add(9, L"自动升级");
        return ask(owner, text, caption, flags);
    };
    press(kSettingsImportId);
    ASSERT_TRUE(answered(4));
    services.messageBox = ask;
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.batch.items.size(), 1u);
    EXPECT_EQ(state.toastText, L"请等当前的批量安装结束后再导入软件清单");
    qbtest::removeTree(folder);
}

TEST_F(SettingsWindow, EscapeForAnotherWindowIsLeftAlone) {
    open();
    MSG elsewhere{main_, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    EXPECT_FALSE(dialogMessageFilter(&elsewhere));
    EXPECT_NE(appState().settingsWnd, nullptr);
    MSG release{appState().settingsDirEdit, WM_KEYUP, VK_ESCAPE, 0xC0010001, 0, {}};
    dialogMessageFilter(&release);
    EXPECT_NE(appState().settingsWnd, nullptr);
}

TEST_F(SettingsWindow, AWindowThatCannotBeCreatedLeavesTheMainWindowEnabled) {
    ASSERT_TRUE(::UnregisterClassW(kSettingsWindowClass, ::GetModuleHandleW(nullptr)));
    openSettingsWindow();
    EXPECT_EQ(appState().settingsWnd, nullptr);
    EXPECT_TRUE(::IsWindowEnabled(main_));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = settingsWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = kSettingsWindowClass;
    ASSERT_NE(::RegisterClassExW(&wc), 0);
}

}  // namespace
