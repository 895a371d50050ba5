#include "app/window_fixture.h"

#include <objidl.h>
#include <gdiplus.h>

#include "app/main_window.h"
#include "app/settings_window.h"
#include "app/shadow_window.h"
#include "app/startup.h"

namespace wintest {

namespace {

void registerClass(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    ::RegisterClassExW(&wc);
}

// What the program sets up before its first window: GDI+, the fonts and the three classes.
class ProgramEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        createUiFonts(appState().uiFonts);
        ::OleInitialize(nullptr);
        registerClass(kMainWindowClass, mainWindowProc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        registerClass(kSettingsWindowClass, settingsWindowProc,
                      reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
        registerClass(kShadowWindowClass, shadowWindowProc, nullptr);
    }
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);

}  // namespace

TaskSnapshot task(int32_t id, const std::wstring& name, uint32_t state, bool md5Ok, bool isArchive) {
    TaskSnapshot t;
    t.appId = id;
    t.name = name;
    t.state = state;
    t.md5Ok = md5Ok;
    t.isArchive = isArchive;
    return t;
}

AppInfo app(int32_t id, const std::wstring& name) {
    AppInfo a;
    a.id = id;
    a.name = name;
    a.hasPackage = true;
    return a;
}

void MainWindowTest::SetUp() {
    AppState& state = appState();
    HFONT fonts[kUiFontCount];
    std::copy(std::begin(state.uiFonts), std::end(state.uiFonts), fonts);
    state = AppState();
    std::copy(std::begin(fonts), std::end(fonts), state.uiFonts);
    state.config.server = L"http://127.0.0.1:8080";
    state.config.channel = L"beta";

    saved_ = shellServices();
    ShellServices& s = shellServices();
    Calls* c = &calls_;
    auto note = [c](const std::wstring& line) { c->log.push_back(line); };
    s.attachDownloadWindow = [](HWND) {};
    s.taskSnapshot = [c] { return c->tasks; };
    s.cancelTask = [note](int32_t id) { note(L"cancel " + std::to_wstring(id)); };
    s.pauseTask = [note](int32_t id) { note(L"pause " + std::to_wstring(id)); };
    s.resumeTask = [note](int32_t id) { note(L"resume " + std::to_wstring(id)); };
    s.clearFinished = [note] { note(L"clearFinished"); };
    s.openInFolder = [note](int32_t id) { note(L"openInFolder " + std::to_wstring(id)); };
    s.install = [c, note](int32_t id, const InstallRequest& request) {
        note(L"install " + std::to_wstring(id) + (request.silent ? L" silent" : L""));
        if (c->installResult && c->installQueues) c->tasks[id].state = InstallQueued;
        return c->installResult;
    };
    s.withdrawInstall = [note](int32_t id) { note(L"withdraw " + std::to_wstring(id)); return true; };
    s.updateSpeeds = [note] { note(L"updateSpeeds"); };
    s.appAction = [note](const AppInfo* a) { note(L"appAction " + (a ? std::to_wstring(a->id) : L"none")); };
    s.reportInstall = [note](const std::wstring& server, int32_t id, const std::wstring& channel) {
        note(L"report " + std::to_wstring(id) + L" " + server + L" " + channel);
        return true;
    };
    s.downloadDirectory = [c] { return c->directory; };
    s.shownDownloadDirectory = s.downloadDirectory;
    s.setDownloadDirOverride = [note](const std::wstring& path) { note(L"override " + path); };
    s.setSpeedLimit = [note](int kbPerSecond) { note(L"speed " + std::to_wstring(kbPerSecond)); };
    s.startCatalogueLoad = [note] { note(L"startCatalogueLoad"); };
    s.finishStartUp = [] {};
    s.openFolderWindow = [note](const std::wstring& folder) { note(L"open " + folder); };
    s.messageBox = [c](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
        c->boxes.push_back({owner, text, caption, flags});
        return c->boxAnswer;
    };
    s.pickFolder = [c](HWND) { return c->pickedFolder; };
    s.pickListFile = [c](HWND, bool) { return c->pickedListFile; };
    s.readInstalledApps = [c](HWND, uint32_t, std::vector<CatalogueName>) {
        ++c->installedReads;
        return true;
    };
    s.startUninstall = [c, note](HWND, int32_t id, const InstalledApp& registration) {
        note(L"uninstall " + std::to_wstring(id) + L" " + registration.uninstallString);
        return c->uninstallStarts;
    };
    s.confirm = [c](HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                    const std::wstring&) {
        c->boxes.push_back({owner, text, caption + L" / " + yes, 0});
        return c->boxAnswer == IDYES;
    };
    s.runningProcessesOf = [c](const InstalledApp&) { return c->running; };
    s.closeRunningApp = [note](HWND, int32_t id, std::vector<RunningProcess> processes) {
        note(L"close " + std::to_wstring(id) + L" " + std::to_wstring(processes.size()));
        return true;
    };
    s.startPrograms = [note](const std::vector<std::wstring>& programs) {
        for (const std::wstring& program : programs) note(L"start " + program);
    };
    s.takeUninstallOutcome = [c](int32_t) {
        std::optional<UninstallOutcome> outcome = c->uninstallOutcome;
        c->uninstallOutcome.reset();
        return outcome;
    };
}

void MainWindowTest::TearDown() {
    AppState& state = appState();
    if (state.settingsWnd) ::DestroyWindow(state.settingsWnd);
    if (main_ && ::IsWindow(main_)) ::DestroyWindow(main_);
    pump();
    state.mainWnd = nullptr;
    shellServices() = saved_;
}

HWND MainWindowTest::createMainWindow(bool visible) {
    main_ = ::CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, L"Quillbox",
                              WS_POPUP | WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 110, 60, 1180, 780,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    calls_.log.clear();
    return main_;
}

LRESULT MainWindowTest::send(UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageW(main_, msg, wp, lp); }

LRESULT MainWindowTest::click(int x, int y) {
    const LRESULT result = send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    send(WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    return result;
}

LRESULT MainWindowTest::wheel(int clientX, int clientY, int delta) {
    POINT screen{clientX, clientY};
    ::ClientToScreen(main_, &screen);
    return send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                MAKELPARAM(screen.x, screen.y));
}

void MainWindowTest::pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;  // the destroyed main window's; the test goes on
        if (dialogMessageFilter(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace wintest
