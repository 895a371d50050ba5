#include <gtest/gtest.h>

#include "base/window_messages.h"
#include "window/window_fixture.h"

namespace {

using wintest::MainWindowTest;

class MainWindowNotify : public MainWindowTest {};

TEST_F(MainWindowNotify, CreatingTheWindowWiresDownloadsAndStartsTheLoad) {
    std::vector<HWND> attached;
    shellServices().attachDownloadWindow = [&attached](HWND window) { attached.push_back(window); };
    appState().config.downloadDir = L"D:\\Soft";
    main_ = ::CreateWindowExW(0, L"QBMainWnd", L"Quillbox", WS_POPUP, 0, 0, 1180, 780, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(main_, nullptr);
    EXPECT_EQ(appState().mainWnd, main_);
    EXPECT_EQ(attached, std::vector<HWND>{main_});
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"override D:\\Soft", L"startCatalogLoad"}));

    // Without a configured folder the default one is left alone.
    ::DestroyWindow(main_);
    appState().config.downloadDir.clear();
    calls_.log.clear();
    main_ = ::CreateWindowExW(0, L"QBMainWnd", L"Quillbox", WS_POPUP, 0, 0, 1180, 780, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"startCatalogLoad"});
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
        state.catalog.categories = c.categories;
        state.selectedCategoryId = c.selected;
        state.page = c.page;
        state.catalogLoading = true;
        send(WM_QB_CATALOG_LOADED, c.succeeded);
        EXPECT_EQ(state.selectedCategoryId, c.expected) << c.selected << " page " << static_cast<int>(c.page);
        EXPECT_EQ(state.page, Page::Catalogue);
        EXPECT_FALSE(state.catalogLoading);
        EXPECT_EQ(state.catalogFailed, c.succeeded == 0);
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
    };
    for (const Case& c : cases) {
        calls_.tasks = {{7, c.task}};
        calls_.installResult = c.installResult;
        calls_.installQueues = c.installQueues;
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

}  // namespace
