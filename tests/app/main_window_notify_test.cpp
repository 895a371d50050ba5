#include <winsock2.h>
#include <gtest/gtest.h>

#include <functional>

#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "base/window_messages.h"
#include "service/install_report.h"
#include "install/installed_apps.h"
#include "render/layout.h"
#include "support/paint_surface.h"
#include "support/registry_support.h"
#include "support/test_support.h"
#include "app/window_fixture.h"

namespace {

// A loopback port whose connections are taken into the backlog and never answered.
class SilentListener {
public:
    SilentListener() {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (socket_ == INVALID_SOCKET || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(socket_, 4) != 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ::ntohs(address.sin_port);
    }
    ~SilentListener() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        if (started_) ::WSACleanup();
    }
    uint16_t port() const { return port_; }
    // Whether a connection is waiting to be accepted within timeoutMs.
    bool connectionWaiting(long timeoutMs) const {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        return ::select(0, &readable, nullptr, nullptr, &wait) == 1;
    }

private:
    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

double millisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

using wintest::MainWindowTest;

class MainWindowNotify : public MainWindowTest {};

// The registrations are read from a scratch tree on the program's own worker; the test waits for
// the worker's message, not for a time.
class InstalledAppsNotify : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        shellServices().readInstalledApps = [this](HWND window, uint32_t number, std::vector<CatalogueName> apps) {
            return startInstalledAppsRead(window, number, std::move(apps), {tree.machine(), tree.user()});
        };
    }
    void registerApp(const std::wstring& key, const std::wstring& name, const std::wstring& version) {
        ASSERT_TRUE(qbtest::writeUninstallEntry(tree.user(), qbtest::kUninstallPath, key, name));
        const std::wstring subkey = std::wstring(qbtest::kUninstallPath) + L"\\" + key;
        ASSERT_EQ(::RegSetKeyValueW(tree.user(), subkey.c_str(), L"DisplayVersion", REG_SZ, version.c_str(),
                                    static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    // Starts a read as the window does and handles its result.
    bool readRegistrations() {
        const uint32_t before = appState().installed.readsStarted;
        startInstalledAppsReadNow();
        if (appState().installed.readsStarted == before) return false;
        const auto pumpNotingRead = [this] {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QB_INSTALLED_READ) readHandled_ = true;
                ::DispatchMessageW(&msg);
            }
        };
        if (!qbtest::waitUntil([this] { return appState().installed.everRead && readHandled_; }, 20000, pumpNotingRead))
            return false;
        readHandled_ = false;
        return true;
    }
    // Paints the window as WM_PAINT would, into a surface of the window's size.
    const qbtest::PaintSurface& paintWindow() {
        paintMainWindow(surface.dc(), surface.client());
        return surface;
    }
    std::vector<int32_t> updateRows() const {
        std::vector<int32_t> ids;
        for (const HitRegion& r : appState().hitRegions)
            if (r.kind == HitKind::UpdateRow) ids.push_back(r.param);
        return ids;
    }
    bool rowSays(int k, const std::wstring& name, const std::wstring& detail) {
        const int b = layout::updateRowBase(k, 0), right = 1180 - 152;
        const RECT title{298, b - 44, right, b - 20}, line{298, b - 12, right, b + 8};
        return qbtest::showsText(surface, title, title, name, appState().uiFonts[FontCardTitle], 0x1D2129, 0xFFFFFF,
                                 DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER) &&
               qbtest::showsText(surface, line, line, detail, appState().uiFonts[FontRowStatus], 0x86909C, 0xFFFFFF,
                                 DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
    }
    // The updates pill's red badge with its number (only the inside of the circle is compared).
    bool badgeSays(const std::wstring& count) {
        const RECT badge = layout::updatesBadge(1180);
        const RECT inside{badge.left + 5, badge.top + 5, badge.right - 5, badge.bottom - 5};
        return qbtest::showsText(surface, badge, inside, count, appState().uiFonts[FontSmall], 0xFFFFFF, 0xF53F3F,
                                 DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }

    qbtest::ScratchRegistry tree;
    qbtest::PaintSurface surface{1180, 780};
    bool readHandled_ = false;
};

TEST_F(MainWindowNotify, CreatingTheWindowWiresDownloadsAndStartsTheLoad) {
    std::vector<HWND> attached;
    shellServices().attachDownloadWindow = [&attached](HWND window) { attached.push_back(window); };
    appState().config.downloadDir = L"D:\\Soft";
    main_ = ::CreateWindowExW(0, L"QBMainWnd", L"Quillbox", WS_POPUP, 0, 0, 1180, 780, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(main_, nullptr);
    EXPECT_EQ(appState().mainWnd, main_);
    EXPECT_EQ(attached, std::vector<HWND>{main_});
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"override D:\\Soft", L"startCatalogueLoad"}));

    // Without a configured folder the default one is left alone.
    ::DestroyWindow(main_);
    appState().config.downloadDir.clear();
    calls_.log.clear();
    main_ = ::CreateWindowExW(0, L"QBMainWnd", L"Quillbox", WS_POPUP, 0, 0, 1180, 780, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"startCatalogueLoad"});
}

TEST_F(MainWindowNotify, ACatalogueReloadKeepsMovesOrClearsTheSelection) {
    createMainWindow();
    AppState& state = appState();
    const std::vector<CategoryInfo> two = {{L"tools", L"工具"}, {L"media", L"影音"}};
    struct Case {
        std::vector<CategoryInfo> categories;
        std::wstring selected;
        Page page;
        WPARAM succeeded;
        std::wstring expected;
    };
    const Case cases[] = {
        {two, L"media", Page::Catalogue, 1, L"media"}, {two, L"games", Page::Catalogue, 1, L"tools"},
        {{}, L"media", Page::Catalogue, 1, L""},       {two, L"media", Page::Downloads, 1, L"tools"},
        {{}, L"media", Page::Downloads, 0, L""},       {two, L"media", Page::Catalogue, 0, L"media"},
    };
    for (const Case& c : cases) {
        state.catalogue.categories = c.categories;
        state.selectedCategoryId = c.selected;
        state.page = c.page;
        state.catalogueLoading = true;
        send(WM_QB_CATALOGUE_LOADED, c.succeeded);
        EXPECT_EQ(state.selectedCategoryId, c.expected) << c.selected << " page " << static_cast<int>(c.page);
        EXPECT_EQ(state.page, Page::Catalogue);
        EXPECT_FALSE(state.catalogueLoading);
        EXPECT_EQ(state.catalogueFailed, c.succeeded == 0);
    }
}

TEST_F(MainWindowNotify, AFinishedDownloadShowsTheNoticeAndInstallsOnlyAVerifiedInstaller) {
    createMainWindow();
    AppState& state = appState();
    TaskSnapshot unverified = wintest::task(7, L"画图", Completed);
    unverified.unverified = true;
    unverified.signature = SignatureValid;
    unverified.publisher = L"画图工作室";
    TaskSnapshot broken = wintest::task(7, L"画图", Completed);
    broken.signature = SignatureBroken;
    struct Case {
        TaskSnapshot task;
        bool installResult;
        std::wstring toast;
        int toastKind;
        std::vector<std::wstring> calls;
        bool installQueues = false;
        bool uninstalling = false;
    };
    const Case cases[] = {
        {wintest::task(7, L"画图", Completed), true, L"「画图」下载完成，正在打开安装向导", ToastSuccess,
         {L"install 7", L"report 7 http://127.0.0.1:8080 beta"}},
        // The installer did not start: no report, and no word of a wizard.
        {wintest::task(7, L"画图", Completed), false, L"「画图」下载完成", ToastSuccess, {L"install 7"}},
        // Another installer runs: this one is accepted (and reported) and opens when that one ends.
        {wintest::task(7, L"画图", Completed), true, L"「画图」下载完成，当前的安装结束后打开安装向导", ToastSuccess,
         {L"install 7", L"report 7 http://127.0.0.1:8080 beta"}, true},
        {wintest::task(7, L"画图", Completed, true, true), true, L"「画图」下载成功，压缩包已保存，可打开文件夹解压安装",
         ToastSuccess, {}},
        {wintest::task(7, L"画图", Completed, false, true), true, L"「画图」下载成功，压缩包已保存，可打开文件夹解压安装",
         ToastSuccess, {}},
        {wintest::task(7, L"画图", Completed, false), true, L"下载完成，但 MD5 校验不一致，请谨慎安装", ToastError, {}},
        // Nothing vouches for a package without a digest, and a broken signature is refused: neither starts.
        {unverified, true, L"「画图」无法校验，未自动打开安装向导", ToastNeutral, {}},
        {broken, true, L"安装包签名无效，已禁止安装", ToastError, {}},
        // The app's uninstaller runs: its installer would work on the same files.
        {wintest::task(7, L"画图", Completed), true, L"「画图」下载完成，卸载结束后可点击安装", ToastNeutral, {}, false,
         true},
    };
    for (const Case& c : cases) {
        calls_.tasks = {{7, c.task}};
        calls_.installResult = c.installResult;
        calls_.installQueues = c.installQueues;
        state.installed.uninstalling.clear();
        if (c.uninstalling) state.installed.uninstalling.insert(7);
        calls_.log.clear();
        state.noticeText.clear();
        state.noticeVerified = !c.task.md5Ok;
        send(WM_QB_DOWNLOAD_DONE, 7);
        EXPECT_EQ(state.noticeText, L"画图");
        EXPECT_EQ(state.noticeTaskId, 7);
        EXPECT_EQ(state.noticeVerified, c.task.md5Ok);
        EXPECT_EQ(state.noticeIsArchive, c.task.isArchive);
        EXPECT_EQ(state.noticeUnverified, c.task.unverified);
        EXPECT_EQ(state.noticeSignature, c.task.signature);
        EXPECT_EQ(state.noticePublisher, c.task.publisher);
        EXPECT_EQ(state.toastText, c.toast);
        EXPECT_EQ(state.toastKind, c.toastKind);
        EXPECT_EQ(calls_.log, c.calls) << c.toast;
        EXPECT_EQ(state.noticeInstallStarted, c.calls.size() == 2) << c.toast;  // the notice claims no wizard
    }

    // News about a task that has gone is ignored.
    calls_.tasks.clear();
    calls_.log.clear();
    state.noticeText.clear();
    state.toastText.clear();
    send(WM_QB_DOWNLOAD_DONE, 7);
    EXPECT_TRUE(state.noticeText.empty());
    EXPECT_TRUE(state.toastText.empty());
    EXPECT_TRUE(calls_.log.empty());
}

TEST_F(MainWindowNotify, AFailedDownloadShowsAWarningWithTheNameWhenTheTaskIsKnown) {
    createMainWindow();
    send(WM_QB_DOWNLOAD_FAILED, 42);
    ASSERT_EQ(calls_.boxes.size(), 1u);
    EXPECT_EQ(calls_.boxes[0].owner, main_);
    EXPECT_EQ(calls_.boxes[0].text, L"抱歉，Quillbox网络出现点小问题，工程师正在修复中，请稍后再试");
    EXPECT_EQ(calls_.boxes[0].caption, L"下载失败");
    EXPECT_EQ(calls_.boxes[0].flags, static_cast<UINT>(MB_ICONWARNING));

    calls_.tasks = {{42, wintest::task(42, L"记事本", Failed)}};
    send(WM_QB_DOWNLOAD_FAILED, 42);
    ASSERT_EQ(calls_.boxes.size(), 2u);
    EXPECT_EQ(calls_.boxes[1].text, L"「记事本」\n\n抱歉，Quillbox网络出现点小问题，工程师正在修复中，请稍后再试");
}

TEST_F(MainWindowNotify, NewsOfAReplacedTaskIsDropped) {
    createMainWindow();
    AppState& state = appState();
    TaskSnapshot current = wintest::task(7, L"画图", Completed);
    current.generation = 5;
    calls_.tasks = {{7, current}};
    state.noticeText.clear();
    state.toastText.clear();
    for (uint32_t old : {4u, 6u}) {
        send(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(7, old));
        send(WM_QB_DOWNLOAD_FAILED, packIdAndGeneration(7, old));
    }
    EXPECT_TRUE(state.noticeText.empty());
    EXPECT_TRUE(state.toastText.empty());
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_TRUE(calls_.boxes.empty());

    send(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(7, 5));
    EXPECT_EQ(state.noticeText, L"画图");
    EXPECT_EQ(state.toastText, L"「画图」下载完成，正在打开安装向导");
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"install 7", L"report 7 http://127.0.0.1:8080 beta"}));
    send(WM_QB_DOWNLOAD_FAILED, packIdAndGeneration(7, 5));
    EXPECT_EQ(calls_.boxes.size(), 1u);
}

TEST_F(MainWindowNotify, AReportToAServiceThatNeverAnswersDoesNotHoldTheWindow) {
    SilentListener service;
    ASSERT_NE(service.port(), 0);
    createMainWindow();
    AppState& state = appState();
    state.config.server = L"http://127.0.0.1:" + std::to_wstring(service.port());
    shellServices().reportInstall = reportInstallInBackground;  // the real report, over the network
    TaskSnapshot done = wintest::task(7, L"画图", Completed);
    done.generation = 3;
    calls_.tasks = {{7, done}};

    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    send(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(7, 3));
    EXPECT_LT(millisecondsSince(start), 100.0);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"install 7"});
    EXPECT_EQ(state.toastText, L"「画图」下载完成，正在打开安装向导");

    // The report is on its way and unanswered, and the window still answers at once.
    ASSERT_TRUE(service.connectionWaiting(5000));
    ::QueryPerformanceCounter(&start);
    send(WM_QB_REFRESH);
    send(WM_MOUSEMOVE, 0, MAKELPARAM(600, 300));
    pump();
    EXPECT_LT(millisecondsSince(start), 100.0);
}

// The uninstaller ended: gone (the card at once, the registrations read again) or still registered.
TEST_F(MainWindowNotify, AFinishedUninstallSaysWhetherTheAppIsGone) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps = {wintest::app(7, L"画图")};
    TaskSnapshot installedIt = wintest::task(7, L"画图", Installed);
    installedIt.generation = 5;
    calls_.tasks = {{7, installedIt}};
    struct Case {
        UninstallOutcome outcome;
        std::wstring toast;
        int toastKind;
        bool stillInstalled;
    };
    const Case cases[] = {
        {UninstallOutcome::StillRegistered, L"「画图」未能卸载", ToastError, true},
        {UninstallOutcome::NotStarted, L"「画图」未能卸载", ToastError, true},
        {UninstallOutcome::Removed, L"「画图」已卸载", ToastSuccess, false},
    };
    for (const Case& c : cases) {
        state.installed.byId[7];
        state.installed.uninstalling = {7};
        state.installed.uninstalledTasks.clear();
        state.toastText.clear();
        calls_.installedReads = 0;
        calls_.uninstallOutcome = c.outcome;
        send(WM_QB_UNINSTALL_FINISHED, packIdAndGeneration(7, 0));
        EXPECT_EQ(state.toastText, c.toast);
        EXPECT_EQ(state.toastKind, c.toastKind);
        EXPECT_TRUE(state.installed.uninstalling.empty());
        EXPECT_EQ(state.installed.byId.count(7), c.stillInstalled ? 1u : 0u) << c.toast;
        // The task that installed it says 已安装 no more once it is gone.
        const std::map<int32_t, uint32_t> uninstalledTasks =
            c.stillInstalled ? std::map<int32_t, uint32_t>{} : std::map<int32_t, uint32_t>{{7, 5}};
        EXPECT_EQ(state.installed.uninstalledTasks, uninstalledTasks);
        send(WM_TIMER, kInstalledReadTimerId);
        EXPECT_EQ(calls_.installedReads, 1) << c.toast;
    }

    // News for an app that is not being uninstalled, or whose outcome was taken already, changes nothing.
    state.toastText.clear();
    calls_.uninstallOutcome = UninstallOutcome::Removed;
    send(WM_QB_UNINSTALL_FINISHED, packIdAndGeneration(7, 0));
    state.installed.uninstalling = {7};
    send(WM_QB_UNINSTALL_FINISHED, packIdAndGeneration(7, 0));
    EXPECT_TRUE(state.toastText.empty());
    EXPECT_EQ(state.installed.uninstalling, std::set<int32_t>{7});
}

TEST_F(MainWindowNotify, ClosingTheWindowDestroysTheShadowAndEndsTheLoop) {
    createMainWindow();
    HWND shadow = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW, L"QBShadow", L"", WS_POPUP, 0, 0, 10, 10,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    appState().shadowWnd = shadow;
    appState().hitRegions = {HitRegion{RECT{1134, 0, 1180, 64}, HitKind::Close, 0}};
    click(1150, 30);
    EXPECT_FALSE(::IsWindow(main_));
    EXPECT_FALSE(::IsWindow(shadow));
    EXPECT_EQ(appState().shadowWnd, nullptr);
    MSG msg;
    EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

AppInfo catalogueApp(int32_t id, const std::wstring& name, const std::wstring& version, int64_t size, bool package) {
    AppInfo a = wintest::app(id, name);
    a.version = version;
    a.packageSize = size;
    a.hasPackage = package;
    a.categoryIds = {L"tools"};
    return a;
}

TEST_F(InstalledAppsNotify, TheUpdatesPageListsTheAppsWindowsHasAtAnOlderVersion) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.categories = {{L"tools", L"工具"}};
    state.selectedCategoryId = L"tools";
    state.catalogue.apps = {
        catalogueApp(3, L"画图", L"2.0.1", 13107200, true),  // installed 1.9: offered
        catalogueApp(4, L"记事本", L"3.1", 0, true),        // installed 3.1: current
        catalogueApp(5, L"计算器", L"2.0", 0, true),        // installed "beta": no version to compare
        catalogueApp(6, L"录音机", L"1.0", 0, false),       // installed 0.9, but no package to update with
        catalogueApp(7, L"日历", L"5.0", 0, true),          // not installed
        catalogueApp(8, L"相机", L"4.2", 524288, true),     // installed 4.0: offered
    };
    state.catalogue.apps[5].updatedAt = 1709294400000;  // 2024-03-01 12:00 UTC
    registerApp(L"Paint", L"画图", L"1.9");
    registerApp(L"Notes", L"记事本", L"3.1");
    registerApp(L"Calc", L"计算器", L"beta");
    registerApp(L"Recorder", L"录音机", L"0.9");
    registerApp(L"Camera", L"相机 (64-bit)", L"4.0");

    // Before the first read the page waits; the pill has no badge.
    paintWindow();
    EXPECT_FALSE(badgeSays(L"0"));
    ASSERT_TRUE(readRegistrations());
    paintWindow();
    EXPECT_TRUE(badgeSays(L"2"));
    const RECT pill = layout::updatesPill(1180);
    click((pill.left + pill.right) / 2, 32);
    EXPECT_EQ(state.page, Page::Updates);
    paintWindow();
    EXPECT_EQ(updateRows(), (std::vector<int32_t>{3, 8}));
    EXPECT_TRUE(rowSays(0, L"画图", L"1.9 → 2.0.1 · 12.5 MB"));
    EXPECT_TRUE(rowSays(1, L"相机", L"4.0 → 4.2 · 512 KB · 03-01更新"));
    EXPECT_FALSE(rowSays(1, L"相机", L"4.0 → 4.2 · 512 KB"));  // the comparison sees a missing part

    // 升 级 on a row does what the card's button does; 全部升级 does it for every row.
    const HitRegion* row = nullptr;
    for (const HitRegion& r : state.hitRegions)
        if (r.kind == HitKind::UpdateRow && r.param == 8) row = &r;
    ASSERT_NE(row, nullptr);
    click((row->rect.left + row->rect.right) / 2, (row->rect.top + row->rect.bottom) / 2);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"appAction 8"});
    calls_.log.clear();
    state.config.silentInstall = false;  // each wizard opens in turn
    state.installed.uninstalling = {8};   // never an installer beside its app's uninstaller
    const RECT all = layout::updateAllButton(1180);
    click((all.left + all.right) / 2, (all.top + all.bottom) / 2);
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"appAction 3"}));
    EXPECT_EQ(state.toastText, L"开始升级 1 款软件，安装向导将逐个打开");
    state.installed.uninstalling.clear();

    // 画图's installer said it installed, yet the version stayed 1.9: not offered again. 相机's did update.
    state.installed.updating = {{3, L"1.9"}, {8, L"4.0"}};
    calls_.tasks = {{3, wintest::task(3, L"画图", Installed)}, {8, wintest::task(8, L"相机", Installed)}};
    registerApp(L"Camera", L"相机 (64-bit)", L"4.2");
    ASSERT_TRUE(readRegistrations());
    EXPECT_EQ(state.installed.updateRefused, (std::map<int32_t, std::wstring>{{3, L"2.0.1"}}));
    EXPECT_TRUE(state.installed.updating.empty());
    paintWindow();
    EXPECT_TRUE(updateRows().empty());
    EXPECT_FALSE(badgeSays(L"0"));
    EXPECT_FALSE(badgeSays(L"1"));
    const RECT message{200, 214, 1180, 284};
    EXPECT_TRUE(qbtest::showsText(surface, message, {201, 214, 1180, 284}, L"所有软件都是最新版本", state.uiFonts[FontBody], 0x86909C,
                                  0xF5F6F8, DT_SINGLELINE | DT_VCENTER | DT_CENTER));
}

// An update waiting for its installer, or running it, keeps its version to compare with; so does one
// whose download is paused, which goes on when resumed.
TEST_F(InstalledAppsNotify, AnUpdateUnderWayIsJudgedOnlyOnceItsInstallerEnded) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps = {catalogueApp(3, L"画图", L"2.0", 0, true)};
    registerApp(L"Paint", L"画图", L"1.9");
    for (uint32_t s : {Downloading, Verifying, Paused, Completed, InstallQueued, Installing}) {
        state.installed.updating = {{3, L"1.9"}};
        calls_.tasks = {{3, wintest::task(3, L"画图", s)}};
        ASSERT_TRUE(readRegistrations());
        EXPECT_EQ(state.installed.updating.size(), 1u) << s;
        EXPECT_TRUE(state.installed.updateRefused.empty()) << s;
    }
    // Cancelled or failed on the way: dropped, and offered again.
    for (uint32_t s : {Failed, Cancelled, InstallCancelled}) {
        state.installed.updating = {{3, L"1.9"}};
        calls_.tasks = {{3, wintest::task(3, L"画图", s)}};
        ASSERT_TRUE(readRegistrations());
        EXPECT_TRUE(state.installed.updating.empty()) << s;
        EXPECT_TRUE(updateOffered(state, 3)) << s;
    }
    // Its installer failed (cancelled), yet the monitor counts an app listed before as installed: offered again.
    state.installed.updating = {{3, L"1.9"}};
    TaskSnapshot cancelled = wintest::task(3, L"画图", Installed);
    cancelled.installerFailed = true;
    calls_.tasks = {{3, cancelled}};
    ASSERT_TRUE(readRegistrations());
    EXPECT_TRUE(state.installed.updating.empty());
    EXPECT_TRUE(updateOffered(state, 3));

    // The last run left the update paused: the first read keeps the version it started from, so an
    // installer that leaves 1.9 in place does not bring 升 级 back once the download has gone on.
    calls_.tasks = {{3, wintest::task(3, L"画图", Paused)}};
    ASSERT_TRUE(readRegistrations());
    EXPECT_EQ(state.installed.updating, (std::map<int32_t, std::wstring>{{3, L"1.9"}}));
    calls_.tasks = {{3, wintest::task(3, L"画图", Installed)}};
    ASSERT_TRUE(readRegistrations());
    EXPECT_EQ(state.installed.updateRefused, (std::map<int32_t, std::wstring>{{3, L"2.0"}}));
    EXPECT_FALSE(updateOffered(state, 3));
    state.catalogue.apps[0].version = L"2.1";  // a later catalogue lists a newer one: offered again
    EXPECT_TRUE(updateOffered(state, 3));
}

}  // namespace
