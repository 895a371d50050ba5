#include "app/startup.h"

#include <dwmapi.h>
#include <gdiplus.h>

#include "app/app_action.h"
#include "app/command_line.h"
#include "app/crash_log.h"
#include "app/drawn_window.h"
#include "app/main_window.h"
#include "app/main_window_paint.h"
#include "app/single_instance.h"
#include "app/tray.h"
#include "app/placement.h"
#include "app/proxy_auth_window.h"
#include "app/settings_window.h"
#include "app/shadow_window.h"
#include "app/shell_services.h"
#include "app/window_dpi.h"
#include "base/window_messages.h"
#include "model/app_state.h"
#include "net/proxy_session.h"
#include "render/paint_warmup.h"
#include "service/catalogue_loader.h"

namespace {

WindowPlacement mainWindowPlacement(int dpi) {
    return computeMainWindowPlacement(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), dpi);
}

constexpr UINT kFinishStartUpLatestMs = 1500;
constexpr UINT kFinishStartUpSoonMs = 50;

void CALLBACK finishStartUpTimer(HWND, UINT, UINT_PTR, DWORD) { finishStartUp(); }

}  // namespace

bool initInstance(HINSTANCE instance, bool background) {
    // The cached catalogue is read and parsed on another core while the window comes up.
    AppState& app = appState();
    app.earlyLoadRunning = startCatalogueLoadThread(app.config.server, nullptr, app.config.channel);
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
    ULONG_PTR gdiplusToken = 0;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) != Gdiplus::Ok) return false;
    // In the background nothing is painted before the window is first shown: no warm-up either.
    if (!background) {
        mainWindowPaint().warmUp = warmUpPaintingInBackground([] {
            const int dpi = systemDpi();
            const WindowPlacement place = mainWindowPlacement(dpi);
            return FirstFrame{{place.width, place.height}, dpi};  // the frame is drawn by the window: client = window
        });
    }

    // The window opens on the primary monitor, at the system's DPI; its WM_CREATE checks.
    app.scale = qb::DpiScale{systemDpi()};
    createUiFonts(app.uiFonts, app.scale.dpi);

    drawn_window::registerClass(kMainWindowClass, mainWindowProc, IDC_ARROW, ::LoadIconW(instance, MAKEINTRESOURCEW(1)),
                                static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    drawn_window::registerClass(kSettingsWindowClass, settingsWindowProc, IDC_ARROW, nullptr,
                                reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));

    const WindowPlacement place = mainWindowPlacement(app.scale.dpi);
    HWND main = ::CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, L"Quillbox", WS_POPUP | WS_OVERLAPPEDWINDOW,
                                  place.x, place.y, place.width, place.height, nullptr, nullptr, instance, nullptr);
    if (!main) return false;

    const DWORD renderingPolicy = DWMNCRP_DISABLED;
    ::DwmSetWindowAttribute(main, DWMWA_NCRENDERING_POLICY, &renderingPolicy, sizeof renderingPolicy);
    const DWORD noBorderColour = 0xFFFFFFFE;  // DWMWA_COLOR_NONE
    ::DwmSetWindowAttribute(main, 34 /* DWMWA_BORDER_COLOR */, &noBorderColour, sizeof noBorderColour);

    // A cached catalogue parsed meanwhile goes into the first paint, in place of the loading text.
    MSG loaded{};
    if (::PeekMessageW(&loaded, main, WM_QB_CATALOGUE_LOADED, WM_QB_CATALOGUE_LOADED, PM_REMOVE))
        ::DispatchMessageW(&loaded);
    trayAtStart(main, background);
    if (background) {
        ::SetTimer(main, kFinishStartUpTimerId, kFinishStartUpSoonMs, finishStartUpTimer);
        return true;
    }
    ::ShowWindow(main, SW_SHOW);
    // A window's pixels are fresh memory for the program and for the display server alike, and the
    // first frame's copy would have each pay for touching them in turn, after the frame is drawn (at
    // 200 % under Wine, about 40 ms each). Cleared to the background and sent to the display first,
    // they are taken on by the server while the frame is drawn.
    clearMainWindow(main);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
    ::UpdateWindow(main);
    // The first frame goes to the screen before the work queued meanwhile (icons, faces) is done: a
    // window's pixels reach the display when its thread waits, so wait once, without a timeout.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
    // OLE and the shadow follow the first catalogue paint; a load that takes longer does not hold them back.
    ::SetTimer(main, kFinishStartUpTimerId, app.catalogueLoading ? kFinishStartUpLatestMs : kFinishStartUpSoonMs,
               finishStartUpTimer);
    return true;
}

void finishStartUpSoon() {
    // A timer, not a call: the catalogue reaches the screen when the thread next waits for messages.
    const AppState& app = appState();
    if (!app.startUpFinished && app.mainWnd)
        ::SetTimer(app.mainWnd, kFinishStartUpTimerId, kFinishStartUpSoonMs, finishStartUpTimer);
}

void finishStartUp() {
    AppState& app = appState();
    HWND main = app.mainWnd;
    if (main) ::KillTimer(main, kFinishStartUpTimerId);
    if (app.startUpFinished || !main) return;
    app.startUpFinished = true;
    catalogueShown();
    // Only the settings' folder picker needs OLE.
    ::OleInitialize(nullptr);
    drawn_window::registerClass(kShadowWindowClass, shadowWindowProc);
    createShadowWindow(main);
}

void startCatalogueLoad() {
    AppState& app = appState();
    app.catalogueLoading = true;
    app.catalogueSettled = false;
    app.catalogueFailed = false;
    app.catalogue.lastError = CatalogueError{};
    if (app.mainWnd) ::InvalidateRect(app.mainWnd, nullptr, FALSE);
    if (app.earlyLoadRunning) {
        app.earlyLoadRunning = false;
        setCatalogueLoadWindow(app.mainWnd);
        return;
    }
    // A thread that cannot start leaves the loading text up until the user tries again.
    startCatalogueLoadThread(app.config.server, app.mainWnd, app.config.channel);
}

void refreshCatalogue() {
    AppState& app = appState();
    // One load at a time: an older one ending after a newer one would show its outcome (offline, say)
    // over the newer lists. A load is over once its last step is adopted.
    if (app.catalogueLoading || app.earlyLoadRunning || !app.catalogueSettled) return;
    if (startCatalogueLoadThread(app.config.server, app.mainWnd, app.config.channel)) app.catalogueSettled = false;
}

bool dialogMessageFilter(MSG* msg) { return settingsDialogMessage(msg) || proxyAuthDialogMessage(msg); }

int runApplication(HINSTANCE instance) {
    declareDpiAwareness();
    ::SetUnhandledExceptionFilter(crashFilter);
    const StartRequest request = readCommandLine(commandLineArguments());
    if (request.kind == StartKind::Bad) {
        writeConsoleLine(L"Quillbox：" + request.problem);
        return kBadCommandLineExit;
    }
    if (request.kind == StartKind::Export) return runExport(request.file);
    // Resolved now, against the folder the program was started in.
    const std::wstring importFile = request.kind == StartKind::Import ? fullPathOf(request.file) : std::wstring();
    // One copy per user session: a later start hands its request to the first and ends, having written nothing.
    switch (singleInstance().claim({request.kind, importFile})) {
        case InstanceRole::HandedOver: return 0;
        case InstanceRole::NoAnswer: writeConsoleLine(L"Quillbox：另一个 Quillbox 正在运行，但没有响应"); return 1;
        case InstanceRole::First: break;
    }
    const AppConfig& config = appState().config = loadConfig();
    ShellServices& services = shellServices();
    services.setConnectionsPerDownload(config.connectionsPerDownload);
    services.setSpeedLimit(config.speedLimitKBps);
    setProxySetting(config.proxy);
    // A proxy's question that comes before the window does waits for it.
    installProxyQuestions();
    // The downloads a previous run left unfinished are listed (paused) before anything is painted; only
    // those in the configured download folder.
    if (!config.downloadDir.empty()) services.setDownloadDirOverride(config.downloadDir);
    services.restoreJournal();
    if (!initInstance(instance, request.background)) return 1;
    singleInstance().serve(appState().mainWnd);
    setProxyQuestionWindow(appState().mainWnd);
    if (!importFile.empty()) importInstallListUnattended(importFile);

    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (dialogMessageFilter(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    // A start from now on waits for this copy to end, then takes its place.
    singleInstance().stopServing();
    setProxyQuestionWindow(nullptr);
    // The window is gone; the transfers stop with their counts recorded, so the next start goes on
    // from every byte written rather than from the journal's last once-a-second note.
    services.pauseAll(kExitPauseMs);
    return static_cast<int>(static_cast<uint32_t>(msg.wParam));
}
