#include <gtest/gtest.h>

#include "app/app_action.h"
#include "app/interaction.h"
#include "app/tray.h"
#include "base/window_messages.h"
#include "render/layout.h"
#include "app/window_fixture.h"

namespace {

using wintest::MainWindowTest;

HitRegion region(LONG l, LONG t, LONG r, LONG b, HitKind kind, int32_t param = 0) { return {RECT{l, t, r, b}, kind, param}; }

ScrollBarInfo contentBar(int viewHeight, int thumbTop, int thumbHeight, int maxScroll) {
    ScrollBarInfo bar;
    bar.visible = true;
    bar.trackTop = 126;
    bar.viewHeight = viewHeight;
    bar.thumbHeight = thumbHeight;
    bar.maxScroll = maxScroll;
    bar.track = RECT{1161, 126, 1165, 126 + viewHeight};
    bar.thumb = RECT{1161, thumbTop, 1165, thumbTop + thumbHeight};
    return bar;
}

TEST(HitLookup, TheRegionPaintedLastWinsWhereRegionsOverlap) {
    const std::vector<HitRegion> regions = {
        region(0, 0, 200, 100, HitKind::Category, 0),
        region(50, 50, 150, 150, HitKind::Notice),
        region(100, 0, 120, 20, HitKind::Close),
    };
    struct Case {
        POINT point;
        HitKind expected;
    };
    const Case cases[] = {
        {{10, 10}, HitKind::Category}, {{60, 60}, HitKind::Notice},   {{110, 10}, HitKind::Close},
        {{120, 10}, HitKind::Category},  // right edges are exclusive
        {{60, 149}, HitKind::Notice},  {{60, 150}, HitKind::None},    {{300, 300}, HitKind::None},
    };
    for (const Case& c : cases) {
        const HitRegion* hit = findHitRegion(regions, c.point);
        EXPECT_EQ(hit ? hit->kind : HitKind::None, c.expected) << c.point.x << "," << c.point.y;
        EXPECT_EQ(anyHitRegionContains(regions, c.point), c.expected != HitKind::None);
    }
}

TEST(PageStep, ThreeQuartersOfTheViewOrSixtyPixelsTowardsThePointer) {
    struct Case {
        int viewHeight, offset, y, expected;
    };
    // Thumb at 200..240, range 1000.
    const Case cases[] = {
        {80, 100, 300, 160},   {80, 100, 150, 40},   {81, 100, 300, 160},  // 3 x 81 = 243: still 60
        {82, 100, 300, 161},   {400, 100, 300, 400}, {400, 100, 150, 0},    // clamped at 0
        {400, 900, 300, 1000},                                              // clamped at the range
        {400, 100, 200, 400},                                               // on the thumb's top: down
        {400, 5000, 300, 1000},                                             // an unclamped wheel offset
    };
    for (const Case& c : cases) {
        const ScrollBarInfo bar = contentBar(c.viewHeight, 200, 40, 1000);
        EXPECT_EQ(pageStepOffset(bar, c.offset, c.y), c.expected) << c.viewHeight << " " << c.offset << " " << c.y;
    }
    ScrollBarInfo hidden = contentBar(400, 200, 40, 1000);
    hidden.visible = false;
    EXPECT_EQ(pageStepOffset(hidden, 100, 300), 100);
}

TEST(ThumbDrag, MapsThePointerOntoTheRangeAndRefusesABarWithoutTravel) {
    const ScrollBarInfo bar = contentBar(400, 126, 100, 900);  // travel 300 pixels for 900
    struct Case {
        int y, grab;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {126, 0, 0}, {226, 0, 300}, {236, 10, 300}, {426, 0, 900}, {600, 0, 900}, {50, 0, 0}, {127, 0, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(dragScrollOffset(bar, c.y, c.grab), c.expected) << c.y;
    EXPECT_EQ(dragScrollOffset(contentBar(400, 126, 400, 900), 300, 0), std::nullopt);
    EXPECT_EQ(dragScrollOffset(contentBar(400, 126, 401, 900), 300, 0), std::nullopt);
}

TEST(Wheel, RoutesBySidebarAndPage) {
    struct Case {
        POINT point;
        Page page;
        WheelTarget expected;
    };
    const Case cases[] = {
        {{100, 300}, Page::Catalogue, WheelTarget::Sidebar},
        {{199, 65}, Page::Catalogue, WheelTarget::Sidebar},
        {{200, 300}, Page::Catalogue, WheelTarget::Content},
        {{100, 64}, Page::Catalogue, WheelTarget::Content},  // header above the sidebar
        {{600, 30}, Page::Catalogue, WheelTarget::Content},
        {{600, 400}, Page::Downloads, WheelTarget::Nothing},
        {{600, 30}, Page::Downloads, WheelTarget::Nothing},
        {{100, 300}, Page::Downloads, WheelTarget::Sidebar},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wheelTarget(c.point, c.page), c.expected)
            << c.point.x << "," << c.point.y << " page " << static_cast<int>(c.page);
}

TEST(SelectionAfterLoad, KeepsMovesOrClearsTheSelection) {
    const std::vector<CategoryInfo> categories = {{L"tools", L"工具"}, {L"media", L"影音"}};
    struct Case {
        std::vector<CategoryInfo> categories;
        std::wstring current;
        bool fromDownloadPage;
        std::wstring expected;
    };
    const Case cases[] = {
        {categories, L"media", false, L"media"}, {categories, L"games", false, L"tools"},
        {categories, L"", false, L"tools"},      {categories, L"media", true, L"tools"},
        {{}, L"media", false, L""},              {{}, L"", true, L""},
        {categories, L"Media", false, L"tools"},  // ids compare exactly
    };
    for (const Case& c : cases)
        EXPECT_EQ(selectionAfterLoad(c.categories, c.current, c.fromDownloadPage), c.expected) << c.current;
}

class MainWindowInput : public MainWindowTest {};

TEST_F(MainWindowInput, OverlappingRegionsGiveTheClickAndTheHoverToTheLaterOne) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.categories = {{L"tools", L"工具"}, {L"media", L"影音"}};
    state.hitRegions = {region(12, 78, 188, 124, HitKind::Category, 1), region(100, 90, 180, 110, HitKind::DownloadsTab)};

    send(WM_MOUSEMOVE, 0, MAKELPARAM(120, 100));
    EXPECT_TRUE(state.hoverActive);
    EXPECT_EQ(state.hoverKind, HitKind::DownloadsTab);
    click(120, 100);
    EXPECT_EQ(state.page, Page::Downloads);
    EXPECT_TRUE(state.selectedCategoryId.empty());

    send(WM_MOUSEMOVE, 0, MAKELPARAM(20, 100));
    EXPECT_EQ(state.hoverKind, HitKind::Category);
    EXPECT_EQ(state.hoverParam, 1);
    state.contentScroll = 500;
    click(20, 100);
    EXPECT_EQ(state.selectedCategoryId, L"media");
    EXPECT_EQ(state.page, Page::Catalogue);
    EXPECT_EQ(state.contentScroll, 0);

    send(WM_MOUSEMOVE, 0, MAKELPARAM(400, 400));
    EXPECT_FALSE(state.hoverActive);
    EXPECT_EQ(state.mousePos.x, 400);
}

TEST_F(MainWindowInput, ACategoryRowOutsideTheListDoesNothing) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.categories = {{L"tools", L"工具"}};
    state.selectedCategoryId = L"tools";
    state.hitRegions = {region(12, 78, 188, 124, HitKind::Category, 3)};
    click(20, 100);
    EXPECT_EQ(state.selectedCategoryId, L"tools");
}

TEST_F(MainWindowInput, WheelScrollsTheSidebarOrTheCardsAndLeavesTheDownloadPageAlone) {
    createMainWindow();
    AppState& state = appState();
    struct Case {
        int x, y;
        Page page;
        int delta;
        int sidebar, content;
        bool hoverCleared;
    };
    const Case cases[] = {
        {100, 300, Page::Catalogue, -120, 120, 0, true}, {600, 30, Page::Catalogue, -120, 0, 120, true},
        {100, 40, Page::Catalogue, 120, 0, -120, true},  {600, 400, Page::Downloads, -120, 0, 0, false},
        {600, 30, Page::Downloads, -120, 0, 0, false},   {100, 300, Page::Downloads, -240, 240, 0, true},
    };
    for (const Case& c : cases) {
        state.page = c.page;
        state.sidebarScroll = 0;
        state.contentScroll = 0;
        state.hoverActive = true;
        wheel(c.x, c.y, c.delta);
        EXPECT_EQ(state.sidebarScroll, c.sidebar) << c.x << "," << c.y << " page " << static_cast<int>(c.page);
        EXPECT_EQ(state.contentScroll, c.content) << c.x << "," << c.y << " page " << static_cast<int>(c.page);
        EXPECT_EQ(state.hoverActive, !c.hoverCleared) << c.x << "," << c.y << " page " << static_cast<int>(c.page);
    }
}

TEST_F(MainWindowInput, ATrackPressStepsAPageAndTheTimerRepeatsTowardsTheCursor) {
    createMainWindow();
    AppState& state = appState();
    struct Case {
        int viewHeight, pressY, expected;
    };
    const Case cases[] = {{80, 190, 160}, {400, 450, 400}, {80, 130, 40}, {400, 130, 0}};
    for (const Case& c : cases) {
        state.contentScrollBar = contentBar(c.viewHeight, 150, 30, 2000);
        state.contentScroll = 100;
        send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1163, c.pressY));
        EXPECT_EQ(state.contentScroll, c.expected) << c.viewHeight << " " << c.pressY;
        EXPECT_EQ(state.pageRepeatBar, ScrollBarId::Content);
        EXPECT_EQ(state.dragBar, ScrollBarId::None);
        EXPECT_EQ(::GetCapture(), main_);
        send(WM_LBUTTONUP);
        EXPECT_EQ(state.pageRepeatBar, ScrollBarId::None);
        EXPECT_EQ(::GetCapture(), nullptr);
    }

    // Held down: each tick of timer 2 steps again towards where the cursor is now.
    state.contentScrollBar = contentBar(400, 150, 30, 2000);
    state.contentScroll = 0;
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1163, 450));
    EXPECT_EQ(state.contentScroll, 300);
    POINT below{1163, 450};
    ::ClientToScreen(main_, &below);
    ::SetCursorPos(below.x, below.y);
    send(WM_TIMER, kPageRepeatTimerId);
    EXPECT_EQ(state.contentScroll, 600);
    send(WM_CAPTURECHANGED);
    EXPECT_EQ(state.pageRepeatBar, ScrollBarId::None);
    send(WM_TIMER, kPageRepeatTimerId);
    EXPECT_EQ(state.contentScroll, 600);
}

TEST_F(MainWindowInput, TheContentBarIsTriedBeforeTheSidebarBar) {
    createMainWindow();
    AppState& state = appState();
    state.contentScrollBar = contentBar(400, 150, 30, 2000);
    state.sidebarScrollBar = state.contentScrollBar;  // the same place: only the content bar may take it
    state.sidebarScrollBar.track.left = 1100;
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1163, 450));
    EXPECT_EQ(state.pageRepeatBar, ScrollBarId::Content);
    EXPECT_EQ(state.sidebarScroll, 0);
    send(WM_LBUTTONUP);
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1120, 450));
    EXPECT_EQ(state.pageRepeatBar, ScrollBarId::Sidebar);
    EXPECT_EQ(state.sidebarScroll, 300);
    send(WM_LBUTTONUP);
}

TEST_F(MainWindowInput, DraggingTheThumbMapsThePointerAndAFullThumbChangesNothing) {
    createMainWindow();
    AppState& state = appState();
    state.sidebarScrollBar = contentBar(400, 126, 100, 900);
    state.sidebarScrollBar.track = RECT{193, 126, 197, 526};
    state.sidebarScrollBar.thumb = RECT{193, 126, 197, 226};
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(195, 136));
    EXPECT_EQ(state.dragBar, ScrollBarId::Sidebar);
    EXPECT_EQ(state.dragGrabOffset, 10);
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(195, 236));
    EXPECT_EQ(state.sidebarScroll, 300);
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(195, 2000));
    EXPECT_EQ(state.sidebarScroll, 900);
    send(WM_LBUTTONUP);
    EXPECT_EQ(state.dragBar, ScrollBarId::None);

    state.contentScrollBar = contentBar(400, 126, 400, 0);
    state.contentScroll = 37;
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1163, 200));
    EXPECT_EQ(state.dragBar, ScrollBarId::Content);
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1163, 300));
    EXPECT_EQ(state.contentScroll, 37);
    send(WM_LBUTTONUP);
}

TEST_F(MainWindowInput, EachElementDoesItsAction) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps = {wintest::app(7, L"画图"), wintest::app(9, L"记事本")};
    struct Case {
        HitKind kind;
        int32_t param;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {HitKind::RowCancel, 7, {L"cancel 7"}},
        {HitKind::RowPause, 7, {L"pause 7"}},
        {HitKind::RowResume, 9, {L"resume 9"}},
        {HitKind::RowOpenFolder, 9, {L"openInFolder 9"}},
        {HitKind::RowRetry, 9, {L"appAction 9"}},
        {HitKind::RowRetry, 8, {}},  // no longer in the catalogue
        {HitKind::ClearCompleted, 0, {L"clearFinished"}},
        {HitKind::Reload, 0, {L"startCatalogueLoad"}},
        {HitKind::OpenDir, 0, {L"open C:\\qb-downloads"}},
        {HitKind::CardAction, 9, {L"appAction 9"}},
        {HitKind::CardAction, 8, {}},
    };
    for (const Case& c : cases) {
        calls_.log.clear();
        state.hitRegions = {region(300, 300, 400, 340, c.kind, c.param)};
        click(350, 320);
        EXPECT_EQ(calls_.log, c.expected) << static_cast<int>(c.kind) << " " << c.param;
    }

    // 继续 on a row whose package the catalogue has replaced since takes the card's road instead.
    calls_.log.clear();
    TaskSnapshot paused = wintest::task(9, L"记事本", Paused);
    paused.md5 = "0cc175b9c0f1b6a831c399e269772661";
    calls_.tasks = {{9, paused}};
    state.hitRegions = {region(300, 300, 400, 340, HitKind::RowResume, 9)};
    click(350, 320);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"appAction 9"});

    calls_.log.clear();
    calls_.directory.clear();
    state.hitRegions = {region(300, 300, 400, 340, HitKind::OpenDir)};
    click(350, 320);
    EXPECT_TRUE(calls_.log.empty());

    state.noticeText = L"画图";
    state.hitRegions = {region(824, 676, 1160, 760, HitKind::Notice)};
    click(900, 700);
    EXPECT_TRUE(state.noticeText.empty());
}

TEST_F(MainWindowInput, ACardOfABusyAppSwitchesToTheDownloadPage) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps = {wintest::app(7, L"画图")};
    state.hitRegions = {region(300, 300, 400, 340, HitKind::CardAction, 7)};
    for (uint32_t s : {Downloading, Verifying, Installing, InstallQueued}) {
        calls_.tasks = {{7, wintest::task(7, L"画图", s)}};
        calls_.log.clear();
        state.page = Page::Catalogue;
        click(350, 320);
        EXPECT_EQ(state.page, Page::Downloads) << s;
        EXPECT_TRUE(calls_.log.empty()) << s;
    }
    for (uint32_t s : {Completed, Failed, Cancelled, Installed, InstallCancelled}) {
        calls_.tasks = {{7, wintest::task(7, L"画图", s)}};
        calls_.log.clear();
        state.page = Page::Catalogue;
        click(350, 320);
        EXPECT_EQ(state.page, Page::Catalogue) << s;
        EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"appAction 7"}) << s;
    }
}

// 全部升级 starts what each row's 升 级 would, except what would have to ask a question first.
TEST_F(MainWindowInput, UpdateAllStartsEveryUpdateThatNeedsNoQuestion) {
    createMainWindow();
    AppState& state = appState();
    InstallStatus older;
    older.registration.displayVersion = L"1.0";
    older.updatable = true;
    for (int32_t id = 1; id <= 8; ++id) {
        state.catalogue.apps.push_back(wintest::app(id, L"应用" + std::to_wstring(id)));
        state.installed.byId[id] = older;
    }
    state.installed.updateRefused = {{6, L""}};
    TaskSnapshot unverified = wintest::task(4, L"应用4", Completed);
    unverified.unverified = true;
    calls_.tasks = {{2, wintest::task(2, L"应用2", Downloading)},
                    {3, wintest::task(3, L"应用3", Completed)},
                    {4, unverified},
                    {5, wintest::task(5, L"应用5", Failed)},
                    {7, wintest::task(7, L"应用7", Paused)},  // its row's button goes on with it
                    {8, wintest::task(8, L"应用8", Installed)}};  // an earlier update, and a newer one since
    state.hitRegions = {region(880, 86, 976, 112, HitKind::UpdateAll)};
    // 应用1's program runs: it is skipped as it starts, while the rest are still to come.
    ShellServices& services = shellServices();
    const auto logAction = services.appAction;
    services.appAction = [&](const AppInfo* app) {
        logAction(app);
        calls_.tasks[app->id] = wintest::task(app->id, app->name, Downloading);
        if (app->id == 1 && state.batch.settle(1, BatchOutcome::Skipped)) followBatch();
    };
    click(900, 100);
    services.appAction = logAction;
    EXPECT_EQ(calls_.log,
              (std::vector<std::wstring>{L"appAction 1", L"appAction 3", L"appAction 5", L"appAction 7",
                                         L"appAction 8"}));
    EXPECT_EQ(state.toastText, L"开始升级 5 款软件，将逐个自动安装；1 款无法校验的安装包请逐个确认");
    EXPECT_TRUE(calls_.boxes.empty());
    EXPECT_FALSE(state.noticeIsSummary);
    // The batch ends in one summary once each has ended; the package nothing vouches for counts as skipped.
    calls_.tasks[3] = wintest::task(3, L"应用3", InstallFailed);
    calls_.tasks[5] = wintest::task(5, L"应用5", Installed);
    calls_.tasks[8] = wintest::task(8, L"应用8", Installed);
    followBatch();
    EXPECT_TRUE(state.batch.active());  // 应用7 still downloads
    calls_.tasks[7] = wintest::task(7, L"应用7", Installed);
    followBatch();
    EXPECT_FALSE(state.batch.active());
    EXPECT_TRUE(state.noticeIsSummary);
    EXPECT_EQ(state.noticeText, L"已升级 3 款");
    EXPECT_EQ(state.noticeSkipped, L"已跳过：「应用1」、「应用4」");
    EXPECT_EQ(state.noticeFailed, L"失败：「应用3」");

    calls_.log.clear();
    for (int32_t id : {1, 3, 4, 5, 7, 8}) calls_.tasks[id] = wintest::task(id, L"应用", Installing);
    click(900, 100);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"升级已在进行中");
}

TEST_F(MainWindowInput, ARowInstallRefusesAMismatchAndReportsAStartedInstaller) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps = {wintest::app(7, L"画图")};
    state.hitRegions = {region(1068, 128, 1144, 158, HitKind::RowInstall, 7)};

    calls_.tasks = {{7, wintest::task(7, L"画图", Completed, false)}};
    click(1100, 140);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"文件校验不一致，已禁止安装，请删除后重新下载");
    EXPECT_EQ(state.toastKind, ToastError);

    calls_.tasks = {{7, wintest::task(7, L"画图", Completed)}};
    state.toastText.clear();
    calls_.installResult = false;
    click(1100, 140);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"install 7"});
    EXPECT_TRUE(state.toastText.empty());

    calls_.log.clear();
    calls_.installResult = true;
    click(1100, 140);
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"install 7", L"report 7 http://127.0.0.1:8080 beta"}));
    EXPECT_EQ(state.toastText, L"正在打开安装向导：画图");
    EXPECT_EQ(state.toastKind, ToastSuccess);

    // The app's uninstaller runs: nothing is started beside it.
    calls_.log.clear();
    state.installed.uninstalling = {7};
    click(1100, 140);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"「画图」正在卸载");
    state.installed.uninstalling.clear();

    // Another installer runs: this one waits its turn, and says so.
    calls_.installQueues = true;
    click(1100, 140);
    EXPECT_EQ(state.toastText, L"等待安装：画图，当前的安装结束后自动开始");
    calls_.installQueues = false;
    calls_.tasks = {{7, wintest::task(7, L"画图", Completed)}};

    // A task whose app left the catalogue still installs, with no name in the toast.
    state.catalogue.apps.clear();
    calls_.log.clear();
    click(1100, 140);
    EXPECT_EQ(state.toastText, L"正在打开安装向导：");

    // A broken signature is refused like a digest mismatch.
    state.catalogue.apps = {wintest::app(7, L"画图")};
    calls_.tasks[7].signature = SignatureBroken;
    calls_.log.clear();
    click(1100, 140);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"安装包签名无效，已禁止安装");
    EXPECT_TRUE(calls_.boxes.empty());

    // A package without a digest starts only after a Yes; No is the default button.
    calls_.tasks[7].signature = SignatureUnsigned;
    calls_.tasks[7].unverified = true;
    state.toastText.clear();
    calls_.boxAnswer = IDNO;
    click(1100, 140);
    ASSERT_EQ(calls_.boxes.size(), 1u);
    EXPECT_EQ(calls_.boxes[0].owner, main_);
    EXPECT_EQ(calls_.boxes[0].caption, L"无法校验安装包");
    EXPECT_EQ(calls_.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_NE(calls_.boxes[0].text.find(L"未签名"), std::wstring::npos);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_TRUE(state.toastText.empty());
    calls_.boxAnswer = IDYES;
    click(1100, 140);
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"install 7", L"report 7 http://127.0.0.1:8080 beta"}));
    EXPECT_EQ(state.toastText, L"正在打开安装向导：画图");
}

TEST_F(MainWindowInput, TheSpeedTimerSamplesSpeedsWhileShownAndTheCursorTurnsToAHandOverElements) {
    createMainWindow();
    // A hidden window's tick stops the timer without sampling anything.
    send(WM_TIMER, kSpeedTimerId);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_FALSE(::KillTimer(main_, kSpeedTimerId));
    ::ShowWindow(main_, SW_SHOWNA);
    send(WM_TIMER, kSpeedTimerId);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"updateSpeeds"});
    send(WM_TIMER, 77);
    EXPECT_EQ(calls_.log.size(), 1u);

    appState().hitRegions = {region(300, 300, 400, 340, HitKind::Reload)};
    POINT inside{350, 320};
    ::ClientToScreen(main_, &inside);
    ::SetCursorPos(inside.x, inside.y);
    EXPECT_EQ(send(WM_SETCURSOR, reinterpret_cast<WPARAM>(main_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
    ::SetCursorPos(inside.x + 200, inside.y);
    send(WM_SETCURSOR, reinterpret_cast<WPARAM>(main_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
}

// Two apps on the catalogue page, the first installed; cards 0 and 1 of a 1180 x 780 client.
class CardMenuInput : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        createMainWindow();
        RECT client{};
        ::GetClientRect(main_, &client);
        ASSERT_EQ(client.right, 1180);
        ASSERT_EQ(client.bottom, 780);
        AppState& state = appState();
        state.catalogue.categories = {{L"c0", L"常用软件"}};
        state.selectedCategoryId = L"c0";
        state.catalogue.apps = {wintest::app(7, L"画图"), wintest::app(9, L"记事本")};
        for (AppInfo& info : state.catalogue.apps) info.categoryIds = {L"c0"};
        InstallStatus& status = state.installed.byId[7];
        status.registration.key = L"CU\\QbPaint";
        status.registration.displayName = L"画图";
        status.registration.uninstallString = L"\"C:\\Qb\\uninstall.exe\"";
    }
    // Opens the menu of app 7's card and lets the window place it, as the paint after it does.
    void openMenu(int x = kCardX, int y = kCardY) {
        send(WM_RBUTTONUP, 0, MAKELPARAM(x, y));
        send(WM_PAINT);
        ASSERT_TRUE(appState().cardMenu.open);
        ASSERT_EQ(appState().cardMenu.appId, 7);
    }
    POINT itemCentre(int index) const {
        const RECT item = layout::cardMenuItem(appState().cardMenu.panel, index);
        return {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    }
    void clickItem(int index) {
        const POINT at = itemCentre(index);
        click(at.x, at.y);
    }

    static RECT regionOf(HitKind kind, int32_t param) {
        for (const HitRegion& region : appState().hitRegions)
            if (region.kind == kind && region.param == param) return region.rect;
        ADD_FAILURE() << "no region of kind " << static_cast<int>(kind) << " param " << param;
        return RECT{};
    }
    static size_t countOf(HitKind kind) {
        size_t n = 0;
        for (const HitRegion& region : appState().hitRegions) n += region.kind == kind ? 1 : 0;
        return n;
    }

    static constexpr int kCardX = 300, kCardY = 200;  // app 7's card (226..447, 126..360)
};

TEST_F(CardMenuInput, ARightClickOnAnInstalledCardOpensItsMenuAndEverythingElseClosesIt) {
    AppState& state = appState();
    send(WM_RBUTTONUP, 0, MAKELPARAM(600, 200));  // app 9's card: not installed, no menu
    EXPECT_FALSE(state.cardMenu.open);
    send(WM_RBUTTONUP, 0, MAKELPARAM(900, 200));  // no card there
    EXPECT_FALSE(state.cardMenu.open);

    openMenu();
    EXPECT_EQ(state.cardMenu.anchor.x, kCardX);
    EXPECT_EQ(state.cardMenu.anchor.y, kCardY);
    const RECT panel = layout::cardMenuPanel({kCardX, kCardY}, 2, 1180, 780);
    EXPECT_TRUE(::EqualRect(&state.cardMenu.panel, &panel));
    EXPECT_EQ(countOf(HitKind::MenuItem), 2u);
    send(WM_KEYDOWN, VK_RETURN);
    EXPECT_TRUE(state.cardMenu.open);
    send(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(state.cardMenu.open);

    // A click away closes it and does nothing else, though it lands on a button.
    openMenu();
    const RECT otherButton = regionOf(HitKind::CardAction, 9);
    click(otherButton.left + 50, otherButton.top + 16);
    EXPECT_FALSE(state.cardMenu.open);
    EXPECT_TRUE(calls_.log.empty());

    // A click on the panel between its items keeps it; a right-click away on the other card closes it.
    openMenu();
    click(state.cardMenu.panel.left + 2, state.cardMenu.panel.top + 2);
    EXPECT_TRUE(state.cardMenu.open);
    send(WM_RBUTTONUP, 0, MAKELPARAM(600, 200));
    EXPECT_FALSE(state.cardMenu.open);

    openMenu();
    wheel(700, 400, -120);
    EXPECT_FALSE(state.cardMenu.open);
    openMenu();
    send(WM_ACTIVATEAPP, FALSE);
    EXPECT_FALSE(state.cardMenu.open);
    openMenu();
    state.page = Page::Downloads;  // the catalogue page went (a reload, the download pill)
    send(WM_PAINT);
    EXPECT_FALSE(state.cardMenu.open);
    EXPECT_EQ(countOf(HitKind::MenuItem), 0u);
    state.page = Page::Catalogue;

    openMenu();
    clickItem(CardMenuOpenDownloads);
    EXPECT_FALSE(state.cardMenu.open);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"open C:\\qb-downloads"});
}

// The keyboard's road to the same menu: Tab past the header and the categories into the cards, the menu key on the
// installed card opens its menu there with the first item chosen, Down and Enter act on the second.
TEST_F(CardMenuInput, TheMenuKeyOpensTheFocusedCardsMenuAndTheArrowsChooseItsItem) {
    AppState& state = appState();
    for (int stop = 0; stop < 3; ++stop) send(WM_KEYDOWN, VK_TAB);  // the header's buttons, the categories, the cards
    send(WM_PAINT);
    const RECT card = layout::cardRect(layout::gridColumns(1168), 0, 126, 0);
    EXPECT_TRUE(::EqualRect(&state.focus.ring, &card));
    send(WM_KEYDOWN, VK_RIGHT);
    send(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(main_), -1);  // app 9 is not installed: no menu
    EXPECT_FALSE(state.cardMenu.open);
    send(WM_KEYDOWN, VK_LEFT);
    send(WM_KEYDOWN, VK_APPS);
    send(WM_PAINT);
    ASSERT_TRUE(state.cardMenu.open);
    EXPECT_EQ(state.cardMenu.appId, 7);
    EXPECT_EQ(state.cardMenu.focusedItem, CardMenuUninstall);
    send(WM_KEYDOWN, VK_DOWN);
    send(WM_KEYDOWN, VK_RETURN);
    EXPECT_FALSE(state.cardMenu.open);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"open C:\\qb-downloads"});
    click(card.left + 5, card.top + 5);  // the pointer takes the ring away
    send(WM_PAINT);
    EXPECT_TRUE(::IsRectEmpty(&state.focus.ring));
}

TEST_F(CardMenuInput, UninstallAsksWithNoAsTheDefaultAndRunsOneUninstallerAtATime) {
    AppState& state = appState();
    calls_.boxAnswer = IDNO;
    openMenu();
    clickItem(CardMenuUninstall);
    ASSERT_EQ(calls_.boxes.size(), 1u);
    EXPECT_EQ(calls_.boxes[0].owner, main_);
    EXPECT_EQ(calls_.boxes[0].text, L"确定要卸载「画图」吗？");
    EXPECT_EQ(calls_.boxes[0].caption, L"卸载软件");
    EXPECT_EQ(calls_.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_TRUE(state.installed.uninstalling.empty());
    state.installed.byId[7].registration.displayName = L"画图 Pro";  // listed under a longer name: named too
    openMenu();
    clickItem(CardMenuUninstall);
    EXPECT_EQ(calls_.boxes.back().text, L"确定要卸载「画图」吗？\n\n将运行 Windows 中「画图 Pro」的卸载程序。");
    calls_.boxes.pop_back();
    state.installed.byId[7].registration.displayName = L"画图";

    calls_.boxAnswer = IDYES;
    openMenu();
    clickItem(CardMenuUninstall);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"uninstall 7 \"C:\\Qb\\uninstall.exe\""});
    EXPECT_EQ(state.installed.uninstalling, std::set<int32_t>{7});

    // While it runs: no second uninstall, and the card's button (卸载中) starts nothing.
    openMenu();
    clickItem(CardMenuUninstall);
    EXPECT_EQ(calls_.boxes.size(), 2u);
    EXPECT_EQ(calls_.log.size(), 1u);
    EXPECT_EQ(state.toastText, L"「画图」正在卸载");
    const RECT button = regionOf(HitKind::CardAction, 7);
    click(button.left + 50, button.top + 16);
    EXPECT_EQ(calls_.log.size(), 1u);

    // One that cannot be started is over at once.
    state.installed.uninstalling.clear();
    calls_.uninstallStarts = false;
    openMenu();
    clickItem(CardMenuUninstall);
    EXPECT_EQ(state.toastText, L"「画图」未能卸载");
    EXPECT_EQ(state.toastKind, ToastError);
    EXPECT_TRUE(state.installed.uninstalling.empty());

    // Nor does one start while the app's installer may run: running, or waiting for the one before it.
    calls_.uninstallStarts = true;
    for (uint32_t s : {Installing, InstallQueued}) {
        calls_.tasks = {{7, wintest::task(7, L"画图", s)}};
        calls_.log.clear();
        state.toastText.clear();
        openMenu();
        clickItem(CardMenuUninstall);
        EXPECT_TRUE(calls_.log.empty()) << s;
        EXPECT_EQ(state.toastText, L"「画图」正在下载或安装，请稍后再卸载") << s;
    }
    // Nor while its update waits for the app to close, nor once an installer started during the question.
    calls_.tasks.clear();
    state.restartAfterUpdate[7] = {L"paint.exe"};
    openMenu();
    clickItem(CardMenuUninstall);
    EXPECT_TRUE(calls_.log.empty());
    state.restartAfterUpdate.clear();
    ShellServices& services = shellServices();
    const auto ask = services.messageBox;
    services.messageBox = [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
        calls_.tasks = {{7, wintest::task(7, L"画图", Installing)}};
        return ask(owner, text, caption, flags);
    };
    openMenu();
    clickItem(CardMenuUninstall);
    services.messageBox = ask;
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"「画图」正在下载或安装，请稍后再卸载");
}

}  // namespace

namespace {

// 停止 ends a batch after the installer that runs; closing the window during a batch asks first.
TEST_F(MainWindowInput, StopEndsABatchAfterItsRunningInstallerAndClosingAsksFirst) {
    HWND hwnd = createMainWindow();
    AppState& state = appState();
    state.batch = InstallBatch{};
    for (const auto& [id, name] : {std::pair{1, L"甲"}, std::pair{2, L"乙"}, std::pair{3, L"丙"}})
        state.batch.add(id, name);
    calls_.tasks = {{1, wintest::task(1, L"甲", Installing)},
                    {2, wintest::task(2, L"乙", InstallQueued)},
                    {3, wintest::task(3, L"丙", Downloading)},
                    {4, wintest::task(4, L"丁", Verifying)}};
    state.batch.add(4, L"丁");
    followBatch();
    calls_.boxAnswer = IDNO;
    requestClose(hwnd);
    ASSERT_EQ(calls_.boxes.size(), 1u);
    EXPECT_EQ(calls_.boxes[0].caption, L"退出 Quillbox");
    EXPECT_TRUE(::IsWindow(hwnd));
    EXPECT_TRUE(calls_.log.empty());

    state.hitRegions = {region(880, 86, 976, 112, HitKind::StopBatch)};
    click(900, 100);
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"withdraw 2", L"pause 3"}));
    EXPECT_TRUE(state.batch.active());  // 甲's installer still runs
    calls_.tasks[1] = wintest::task(1, L"甲", Installed);
    followBatch();
    EXPECT_FALSE(state.batch.active());
    EXPECT_EQ(state.noticeText, L"已升级 1 款");
    EXPECT_EQ(state.noticeSkipped, L"已跳过：「乙」、「丙」、「丁」");
    EXPECT_TRUE(state.noticeFailed.empty());
    // 丁's check ended in a mismatch, so nothing took its hold: a new download of the user's own is not held.
    calls_.tasks[4].state = Failed;
    state.catalogue.apps.push_back(wintest::app(4, L"丁"));
    shellServices().startDownload = [this](const AppInfo& app) { calls_.log.push_back(app.name); };
    onAppAction(&state.catalogue.apps.back());
    EXPECT_EQ(calls_.log.back(), L"丁");
    EXPECT_TRUE(state.installsHeld.empty());
}

}  // namespace

namespace {

// An update whose app runs: a single one asks to close it, waits when it will not close, and starts it
// again after the update; a batch skips it.
TEST_F(MainWindowInput, AnUpdateOfARunningAppAsksFirstAndABatchSkipsIt) {
    createMainWindow();
    AppState& state = appState();
    state.catalogue.apps.push_back(wintest::app(7, L"画图"));
    InstallStatus older;
    older.updatable = true;
    state.installed.byId[7] = older;
    calls_.running = {{42, L"C:\\Apps\\Paint\\paint.exe"}};
    calls_.tasks = {{7, wintest::task(7, L"画图", Completed)}};
    state.hitRegions = {region(300, 300, 400, 340, HitKind::RowInstall, 7)};
    calls_.boxAnswer = IDNO;
    click(350, 320);
    ASSERT_EQ(calls_.boxes.size(), 1u);
    EXPECT_EQ(calls_.boxes[0].text, L"「画图」正在运行，关闭后继续升级？");
    EXPECT_EQ(calls_.boxes[0].caption, L"升级软件 / 关闭并升级");
    EXPECT_TRUE(calls_.log.empty());

    calls_.boxAnswer = IDYES;
    click(350, 320);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"close 7 1"});
    send(WM_QB_APP_CLOSED, 7, 0);  // it would not close: never killed, the row says what to do
    EXPECT_EQ(state.toastText, L"请先关闭「画图」");
    EXPECT_TRUE(state.waitingForClose.count(7));
    click(350, 320);  // its button tries again
    EXPECT_EQ(calls_.boxes.size(), 3u);
    calls_.log.clear();
    calls_.running.clear();
    send(WM_QB_APP_CLOSED, 7, 1);
    EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"install 7", L"report 7 http://127.0.0.1:8080 beta"}));
    EXPECT_FALSE(state.waitingForClose.count(7));
    calls_.log.clear();
    calls_.tasks[7].state = Installed;
    send(WM_QB_INSTALLER_FINISHED, 7);
    EXPECT_EQ(calls_.log, std::vector<std::wstring>{L"start C:\\Apps\\Paint\\paint.exe"});

    calls_.log.clear();
    calls_.running = {{42, L"C:\\Apps\\Paint\\paint.exe"}};
    calls_.tasks[7].state = Completed;
    state.batch = InstallBatch{};
    state.batch.add(7, L"画图");
    click(350, 320);
    EXPECT_EQ(state.toastText, L"「画图」正在运行，已跳过");
    EXPECT_EQ(calls_.boxes.size(), 3u);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_FALSE(state.batch.active());
    EXPECT_EQ(state.noticeSkipped, L"已跳过：「画图」");
    // No installer starts beside the app's own uninstaller, whichever road leads there.
    state.installed.uninstalling = {7};
    send(WM_QB_APP_CLOSED, 7, 1);
    EXPECT_TRUE(calls_.log.empty());
    EXPECT_EQ(state.toastText, L"「画图」正在卸载，卸载结束后可点击安装");
}

}  // namespace

namespace {

TEST_F(MainWindowInput, AfterABackgroundStartClosingHidesTheWindowInTheTrayAndAClickThereShowsIt) {
    createMainWindow(true);
    tray().background = true;
    send(WM_CLOSE);
    ASSERT_TRUE(::IsWindow(main_));
    EXPECT_TRUE(tray().shown);
    EXPECT_FALSE(::IsWindowVisible(main_));
    send(WM_TIMER, kSpeedTimerId);  // hidden: the speed tick stops
    send(WM_QB_TRAY, 0, WM_LBUTTONUP);
    EXPECT_TRUE(::IsWindowVisible(main_));
    EXPECT_TRUE(::KillTimer(main_, kSpeedTimerId));  // showing the window started the speed tick again
    tray().background = false;
}

}  // namespace
