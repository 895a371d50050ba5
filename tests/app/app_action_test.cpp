#include <gtest/gtest.h>

#include "model/app_state.h"
#include "base/window_messages.h"
#include "app/shell_services.h"
#include "support/download_fixture.h"
#include "app/app_action.h"
#include "json/json.h"
#include "service/catalogue.h"
#include "service/install_report.h"
#include "support/test_support.h"

namespace {

TEST(DownloadUrl, ChannelIsPercentEncoded) {
    struct Case {
        const wchar_t* server;
        int32_t id;
        const wchar_t* channel;
        const char* url;
    };
    const Case cases[] = {
        {L"https://s", 7, L"default", "https://s/api/client/download/7?channel=default"},
        {L"https://s", 7, L"a b/c", "https://s/api/client/download/7?channel=a%20b%2Fc"},
        {L"https://s", 7, L"渠道", "https://s/api/client/download/7?channel=%E6%B8%A0%E9%81%93"},
        {L"https://s", 7, L"", "https://s/api/client/download/7?channel="},
        {L"https://s", 7, L"Az09-._~+&=%", "https://s/api/client/download/7?channel=Az09-._%7E%2B%26%3D%25"},
        {L"https://s/", 12, L"x", "https://s//api/client/download/12?channel=x"},
        {L"http://h:81", -3, L"x", "http://h:81/api/client/download/-3?channel=x"},
    };
    for (const Case& c : cases) EXPECT_EQ(downloadUrlFor(c.server, c.id, c.channel), c.url) << c.channel;
}

class AppAction : public DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        appState().config.server = service.base();
        appState().config.channel = L"测试 a~b";
        clearToast();
        ShellActions actions;
        actions.showInFolder = [this](const std::wstring& path) { shownFiles.push_back(path); };
        actions.startInstaller = [this](const std::shared_ptr<Task>& task) {
            installers.push_back(task);
            task->state.store(installerVerdict);
            return true;
        };
        manager().setShellActions(actions);
        saved = shellServices();
        // Reports are sent at once here, so a test can read them from the service right after.
        shellServices().reportInstall = reportInstall;
        shellServices().messageBox = [this](HWND, const std::wstring& text, const std::wstring& caption, UINT flags) {
            questions.push_back(caption + L"|" + std::to_wstring(flags) + L"|" + text);
            return answer;
        };
    }
    void TearDown() override {
        for (const auto& t : installers) t->state.store(Completed);  // let clearFinished take them
        installers.clear();
        appState().config = AppConfig();
        shellServices() = saved;
        DownloadTest::TearDown();
    }

    AppInfo record(int32_t id, const std::string& md5) {
        AppInfo app;
        app.id = id;
        app.name = L"测试应用" + std::to_wstring(id);
        app.hasPackage = true;
        app.packageSize = 4096;
        app.md5 = md5;
        return app;
    }
    void clearToast() {
        appState().toastText = kUntouched;
        appState().toastKind = -1;
    }
    void expectToast(const std::wstring& text, int kind) {
        EXPECT_EQ(appState().toastText, text);
        EXPECT_EQ(appState().toastKind, kind);
        clearToast();
    }
    size_t reportsFor(int32_t appId) {
        size_t n = 0;
        for (const auto& r : service.reports()) {
            const json::Value* id = r->find("appId");
            const json::Value* channel = r->find("channel");
            if (id && id->asInt(0) == appId && channel && channel->asString("") == "测试 a~b") ++n;
        }
        return n;
    }

    const std::wstring kUntouched = L"(no toast)";
    ShellServices saved;
    std::vector<std::wstring> questions;
    int answer = IDNO;
    std::vector<std::wstring> shownFiles;
    std::vector<std::shared_ptr<Task>> installers;
    TaskState installerVerdict = Installing;

    // Starts the app's download from its card and pauses it while its first transfer waits to retry.
    void startAndPause(const AppInfo& app) {
        ASSERT_TRUE(service.addAppFaults(app.id, R"([{}, {"status": 503}])"));
        holdRetryWaits(true);
        onAppAction(&app);
        ASSERT_TRUE(waitUntilHeld());
        manager().pause(app.id);
        ASSERT_TRUE(finish(app.id, 5000));
        ASSERT_EQ(task(app.id).state, Paused);
        holdRetryWaits(false);
        clearToast();
    }
};

TEST_F(AppAction, RecordsWithoutAPackageAreRefused) {
    onAppAction(nullptr);
    expectToast(L"该应用暂未上架安装包", ToastError);
    AppInfo app = record(10, "");
    app.hasPackage = false;
    onAppAction(&app);
    expectToast(L"该应用暂未上架安装包", ToastError);
    EXPECT_TRUE(manager().snapshot().empty());
}

TEST_F(AppAction, FirstPressDownloadsSecondInstallsAndReports) {
    const AppInfo app = record(1, packageMd5(1));
    onAppAction(&app);
    expectToast(L"开始下载：测试应用1", ToastNeutral);
    ASSERT_TRUE(finish(1));
    ASSERT_EQ(task(1).state, Completed);
    const auto requests = service.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].path, "/api/client/download/1?channel=%E6%B5%8B%E8%AF%95%20a%7Eb");

    onAppAction(&app);
    expectToast(L"正在打开安装向导：测试应用1", ToastSuccess);
    ASSERT_EQ(installers.size(), 1u);
    EXPECT_EQ(installers[0]->appId, 1);
    EXPECT_EQ(task(1).state, Installing);
    EXPECT_EQ(reportsFor(1), 1u);

    onAppAction(&app);  // installing: nothing happens
    expectToast(kUntouched, -1);
    EXPECT_EQ(installers.size(), 1u);
    EXPECT_EQ(reportsFor(1), 1u);
}

TEST_F(AppAction, CancelledInstallerCanBeStartedAgainAndAnInstalledAppDownloadsAfresh) {
    const AppInfo app = record(1, packageMd5(1));
    onAppAction(&app);
    ASSERT_TRUE(finish(1));
    installerVerdict = InstallCancelled;
    onAppAction(&app);
    ASSERT_EQ(task(1).state, InstallCancelled);
    installerVerdict = Installed;
    onAppAction(&app);
    expectToast(L"正在打开安装向导：测试应用1", ToastSuccess);
    EXPECT_EQ(installers.size(), 2u);
    EXPECT_EQ(reportsFor(1), 2u);
    ASSERT_EQ(task(1).state, Installed);

    ASSERT_TRUE(service.addAppFaults(1, R"([{"delayMs": 300}])"));
    onAppAction(&app);
    expectToast(L"开始下载：测试应用1", ToastNeutral);
    EXPECT_EQ(task(1).state, Downloading);
    ASSERT_TRUE(finish(1));
}

TEST_F(AppAction, MismatchedDigestIsNeverInstalled) {
    const AppInfo app = record(1, std::string(32, 'f'));
    onAppAction(&app);
    ASSERT_TRUE(finish(1));
    // The card offers 重新下载: the click downloads the package again, which is refused again.
    onAppAction(&app);
    expectToast(L"开始下载：测试应用1", ToastNeutral);
    ASSERT_TRUE(finish(1));
    EXPECT_TRUE(installers.empty());
    EXPECT_EQ(reportsFor(1), 0u);
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_FALSE(task(1).md5Ok);
}

TEST_F(AppAction, APackageWithoutADigestStartsOnlyWhenTheUserSaysSo) {
    const AppInfo app = record(1, "");
    onAppAction(&app);
    ASSERT_TRUE(finish(1));
    ASSERT_EQ(task(1).state, Completed);
    clearToast();

    onAppAction(&app);  // asked; No is the default and the answer
    ASSERT_EQ(questions.size(), 1u);
    const std::wstring flags = std::to_wstring(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    EXPECT_EQ(questions[0].substr(0, questions[0].find(L'|', 8) + 1), L"无法校验安装包|" + flags + L"|");
    EXPECT_NE(questions[0].find(L"「测试应用1」"), std::wstring::npos);
    EXPECT_TRUE(installers.empty());
    EXPECT_EQ(reportsFor(1), 0u);
    expectToast(kUntouched, -1);

    answer = IDYES;
    onAppAction(&app);
    EXPECT_EQ(questions.size(), 2u);
    ASSERT_EQ(installers.size(), 1u);
    EXPECT_EQ(reportsFor(1), 1u);
    expectToast(L"正在打开安装向导：测试应用1", ToastSuccess);
}

TEST_F(AppAction, ABrokenSignatureIsNeverInstalled) {
    const AppInfo app = record(12, packageMd5(12));
    onAppAction(&app);
    ASSERT_TRUE(finish(12));
    ASSERT_EQ(task(12).state, Completed);
    onAppAction(&app);
    expectToast(L"安装包签名无效，已禁止安装", ToastError);
    EXPECT_TRUE(installers.empty());
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(reportsFor(12), 0u);
}

TEST_F(AppAction, ArchiveOpensItsFolderWhateverTheDigestSays) {
    const AppInfo app = record(3, std::string(32, '0'));
    onAppAction(&app);
    ASSERT_TRUE(finish(3));
    onAppAction(&app);
    expectToast(L"「测试应用3」是压缩包，已保存到下载目录，解压后即可使用", ToastSuccess);
    EXPECT_EQ(shownFiles, std::vector<std::wstring>{downloaded(L"portable.zip")});
    EXPECT_TRUE(installers.empty());
    EXPECT_EQ(task(3).state, Completed);
}

TEST_F(AppAction, BusyTasksAreLeftAlone) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    const AppInfo app = record(1, "");
    onAppAction(&app);
    ASSERT_TRUE(waitUntilHeld());
    clearToast();
    messages();
    onAppAction(&app);
    expectToast(kUntouched, -1);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(task(1).retryCount, 1);
}

// A press on a paused card resumes it in its own file: no second download, no "开始下载" toast.
TEST_F(AppAction, APressOnAPausedCardResumesIt) {
    const AppInfo app = record(1, packageMd5(1));
    ASSERT_NO_FATAL_FAILURE(startAndPause(app));
    const uint32_t paused = task(1).generation;
    onAppAction(&app);
    expectToast(kUntouched, -1);
    EXPECT_GT(task(1).generation, paused);
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"small-setup.exe"});
}

// The service hands out an app's newest package under the same address: bytes paused while the
// catalogue listed another package are dropped for a new download, never checked against the old digest.
TEST_F(AppAction, APausedDownloadOfAPackageTheCatalogueNoLongerListsStartsAgain) {
    ASSERT_NO_FATAL_FAILURE(startAndPause(record(1, packageMd5(2))));
    const AppInfo newer = record(1, packageMd5(1));
    onAppAction(&newer);
    expectToast(L"开始下载：测试应用1", ToastNeutral);
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
}

TEST_F(AppAction, FailedDownloadIsRetriedAsANewTask) {
    const AppInfo app = record(6, "");  // not an installer: fails
    onAppAction(&app);
    ASSERT_TRUE(finish(6));
    ASSERT_EQ(task(6).state, Failed);
    ASSERT_TRUE(service.addAppFaults(6, R"([{"delayMs": 300}])"));
    onAppAction(&app);
    expectToast(L"开始下载：测试应用6", ToastNeutral);
    EXPECT_EQ(task(6).state, Downloading);
    EXPECT_TRUE(downloadFaultText(task(6)).empty());
    ASSERT_TRUE(finish(6));
}

TEST_F(AppAction, RefusedInstallShowsNoToastAndSendsNoReport) {
    const AppInfo app = record(1, packageMd5(1));
    onAppAction(&app);
    ASSERT_TRUE(finish(1));
    ASSERT_TRUE(::DeleteFileW(downloaded(L"small-setup.exe").c_str()));
    clearToast();
    messages();
    onAppAction(&app);
    expectToast(kUntouched, -1);
    EXPECT_EQ(reportsFor(1), 0u);
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(messages().back(), (PostedMessage{WM_QB_DOWNLOAD_FAILED, news(1)}));
}

}  // namespace
