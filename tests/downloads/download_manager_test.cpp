#include <gtest/gtest.h>

#include "base/window_messages.h"
#include "support/download_fixture.h"
#include "support/test_support.h"

namespace {

using DownloadManagerTest = DownloadTest;

const PostedMessage kRefresh{WM_QB_REFRESH, 0};

TEST_F(DownloadManagerTest, StartingABusyTaskChangesNothing) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(1);
    ASSERT_TRUE(waitUntilHeld());
    messages();
    start(1);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(task(1).state, Downloading);
    EXPECT_EQ(task(1).retryCount, 1);  // still the first task
    EXPECT_EQ(fileRequests(1).size(), 2u);
}

TEST_F(DownloadManagerTest, StartingAFinishedTaskReplacesItWithAFreshOne) {
    start(1, std::string(32, '0'));
    ASSERT_TRUE(finish(1));
    ASSERT_EQ(task(1).state, Completed);
    ASSERT_FALSE(task(1).md5Ok);
    const uint32_t replaced = task(1).generation;

    ASSERT_TRUE(service.addAppFaults(1, R"([{"delayMs": 300}])"));
    start(1);
    const TaskSnapshot fresh = task(1);
    EXPECT_EQ(fresh.state, Downloading);
    EXPECT_TRUE(fresh.md5Ok);
    EXPECT_EQ(fresh.receivedBytes, 0);
    EXPECT_EQ(fresh.retryCount, 0);
    EXPECT_EQ(fresh.name, L"应用1");
    EXPECT_GT(fresh.generation, replaced);  // news of the replaced task can be told apart
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
}

TEST_F(DownloadManagerTest, CancelOnlyActsOnBusyDownloads) {
    start(1);
    ASSERT_TRUE(finish(1));
    messages();
    manager().cancel(1);   // completed
    manager().cancel(42);  // no task
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(messages().empty());

    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(2);
    ASSERT_TRUE(waitUntilHeld());
    messages();
    manager().cancel(2);
    manager().cancel(2);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{kRefresh});
    EXPECT_EQ(task(2).state, Cancelled);
}

// The job's last step (marking the saved file) runs while the task verifies: a cancel there wins.
TEST_F(DownloadManagerTest, ACancelWhileVerifyingLeavesNoFinishedFileAndInstallsNothing) {
    std::vector<uint32_t> statesWhenMarked;
    int installers = 0;
    ShellActions actions;
    actions.markDownloaded = [&](const std::wstring&, const std::wstring&) {
        statesWhenMarked.push_back(task(1).state);
        manager().cancel(1);
    };
    actions.startInstaller = [&](const std::shared_ptr<Task>&) {
        ++installers;
        return true;
    };
    manager().setShellActions(actions);
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(statesWhenMarked, std::vector<uint32_t>{Verifying});
    EXPECT_EQ(task(1).state, Cancelled);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"small-setup.exe.part"});
    for (const PostedMessage& m : messages()) EXPECT_NE(m.message, static_cast<UINT>(WM_QB_DOWNLOAD_DONE));
    EXPECT_FALSE(manager().install(1));
    EXPECT_EQ(installers, 0);
}

TEST_F(DownloadManagerTest, InstallIsTrueOnlyWhenTheInstallerStarted) {
    bool starts = false;
    std::vector<uint32_t> statesAtStart;
    std::shared_ptr<Task> running;
    ShellActions actions;
    actions.startInstaller = [&](const std::shared_ptr<Task>& t) {
        statesAtStart.push_back(t->state.load());
        if (starts) running = t;
        return starts;
    };
    manager().setShellActions(actions);
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_FALSE(manager().install(1));
    EXPECT_EQ(task(1).state, Completed);
    starts = true;
    EXPECT_TRUE(manager().install(1));
    EXPECT_EQ(task(1).state, Installing);
    EXPECT_EQ(statesAtStart, (std::vector<uint32_t>{Installing, Installing}));
    ASSERT_TRUE(running->advance(Installing, Installed));  // the stand-in monitor's verdict, so the task can be cleared

    const std::pair<InstallVerdict, TaskState> verdicts[] = {
        {InstallVerdict::Installed, Installed},
        {InstallVerdict::Cancelled, InstallCancelled},
        {InstallVerdict::NotInstalled, Completed},
        {InstallVerdict::SignatureBroken, Failed},
    };
    for (const auto& v : verdicts) EXPECT_EQ(stateAfterInstall(v.first), v.second);
}

// Two installers at once fail (Windows Installer runs one installation at a time): a package accepted
// while another installer runs waits, and starts when that one ends, however it ended.
TEST_F(DownloadManagerTest, InstallersRunOneAtATimeInTheOrderTheyWereAccepted) {
    std::vector<std::shared_ptr<Task>> started;
    bool nextStarts = true;
    ShellActions actions;
    actions.startInstaller = [&](const std::shared_ptr<Task>& t) {
        started.push_back(t);
        return nextStarts;
    };
    manager().setShellActions(actions);
    auto startedIds = [&] {
        std::vector<int32_t> ids;
        for (const auto& t : started) ids.push_back(t->appId);
        return ids;
    };
    for (int32_t app : {1, 4, 7}) start(app, packageMd5(app));
    for (int32_t app : {1, 4, 7}) ASSERT_TRUE(finish(app)) << app;
    messages();

    for (int32_t app : {1, 4, 7}) EXPECT_TRUE(manager().install(app)) << app;
    EXPECT_EQ(startedIds(), std::vector<int32_t>{1});
    EXPECT_EQ(task(1).state, Installing);
    EXPECT_EQ(task(4).state, InstallQueued);
    EXPECT_EQ(task(7).state, InstallQueued);
    // A waiting task is busy: it is neither accepted twice nor replaced by a new download.
    const uint32_t waiting = task(4).generation;
    EXPECT_FALSE(manager().install(4));
    start(4);
    EXPECT_EQ(task(4).generation, waiting);
    EXPECT_EQ(task(4).state, InstallQueued);
    messages();

    // The first installer is cancelled by the user: the next one starts all the same.
    manager().finishInstall(started[0], InstallVerdict::Cancelled, false);
    EXPECT_EQ(task(1).state, InstallCancelled);
    EXPECT_TRUE(task(1).installerFailed);
    EXPECT_EQ(startedIds(), (std::vector<int32_t>{1, 4}));
    EXPECT_EQ(task(4).state, Installing);
    EXPECT_EQ(task(7).state, InstallQueued);
    EXPECT_EQ(messages(), (std::vector<PostedMessage>{kRefresh, {WM_QB_INSTALLER_FINISHED, news(1)}}));

    // The third cannot even start: it goes back to Completed and leaves the slot free.
    nextStarts = false;
    manager().finishInstall(started[1], InstallerResult{InstallVerdict::Installed, 3010, true, false});
    EXPECT_EQ(task(4).state, Installed);
    EXPECT_FALSE(task(4).installerFailed);  // asking for a restart is no failure
    EXPECT_TRUE(task(4).restartNeeded);
    EXPECT_EQ(startedIds(), (std::vector<int32_t>{1, 4, 7}));
    EXPECT_EQ(task(7).state, Completed);

    nextStarts = true;
    EXPECT_TRUE(manager().install(1));  // again, after its cancel: nothing runs, so it starts at once
    EXPECT_EQ(startedIds(), (std::vector<int32_t>{1, 4, 7, 1}));
    EXPECT_EQ(task(1).state, Installing);
    manager().finishInstall(started[3], InstallVerdict::NotInstalled);
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(startedIds().size(), 4u);
}

TEST_F(DownloadManagerTest, ClearFinishedRemovesFinishedTasksAndOnlyTheirPartialFiles) {
    start(1);  // completed
    ASSERT_TRUE(finish(1));
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 400}])"));
    start(2);  // failed, partial file left
    ASSERT_TRUE(finish(2));
    ASSERT_TRUE(service.addAppFaults(3, R"([{}, {"status": 503}])"));
    ASSERT_TRUE(service.addAppFaults(4, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(3);  // cancelled in a retry wait
    ASSERT_TRUE(waitUntilHeld());
    manager().cancel(3);
    ASSERT_TRUE(finish(3));
    start(4);  // still downloading
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_EQ(folderFiles(), (std::vector<std::wstring>{L"big-setup.exe.part", L"portable.zip.part",
                                                        L"setup.exe.part", L"small-setup.exe"}));
    messages();

    manager().clearFinished();
    EXPECT_EQ(folderFiles(), (std::vector<std::wstring>{L"setup.exe.part", L"small-setup.exe"}));
    const auto left = manager().snapshot();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.begin()->first, 4);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{kRefresh});

    manager().clearFinished();  // nothing finished: still announced
    EXPECT_EQ(messages(), std::vector<PostedMessage>{kRefresh});
    EXPECT_EQ(manager().snapshot().size(), 1u);
}

// Cleared, or started again, the moment it is cancelled, while its job still has the partial file
// open: the file goes once the job lets go of it.
TEST_F(DownloadManagerTest, ACancelledTaskClearedOrStartedAgainLeavesNoPartialFileBehind) {
    const auto cancelMidway = [this] {
        ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"bytesPerSecond": 1000000}])"));
        start(2, packageMd5(2));
        qbtest::waitUntil([&] { return task(2).receivedBytes >= 200000; }, 20000);
        manager().cancel(2);
    };
    cancelMidway();
    manager().clearFinished();
    EXPECT_TRUE(manager().snapshot().empty());
    qbtest::waitUntil([&] { return folderFiles().empty(); }, 10000);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{});

    cancelMidway();
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    // Its name is the plain one, or "(2)" when the old job still held the name as the new one was named;
    // that job may outlast the new download (its slow answer ends at its next block), and then its
    // partial file goes when it ends.
    qbtest::waitUntil([&] { return folderFiles().size() <= 1; }, 10000);
    const std::vector<std::wstring> files = folderFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0] == L"big-setup.exe" || files[0] == L"big-setup (2).exe") << files[0];
}

// With every slot taken, a task waiting for one stops at once when cancelled or paused, and never
// sends the request it waited to send.
TEST_F(DownloadManagerTest, ATaskWaitingForASlotStopsAtOnceAndSendsNothing) {
    manager().setConnectionsPerDownload(4);
    SegmentRules rules;
    rules.minimumSize = 1;
    manager().setSegmentRules(rules);
    const int32_t busy[] = {1, 2, 3, 4};
    for (int32_t app : busy) ASSERT_TRUE(service.addAppFaults(app, R"([{}, {"delayMs": 3000, "repeat": -1}])"));
    for (int32_t app : busy) start(app, packageMd5(app));
    size_t ranges = 0;
    qbtest::waitUntil([&] {
        ranges = 0;
        for (int32_t app : busy)
            for (const auto& r : fileRequests(app)) ranges += r.range != "bytes=0-0";
        return ranges >= 16;
    }, 10000);
    ASSERT_EQ(ranges, 16u);  // every slot is taken for the next three seconds

    start(5, packageMd5(5));
    start(7, packageMd5(7));
    manager().cancel(5);
    manager().pause(7);
    EXPECT_TRUE(manager().waitForJob(5, 1000));
    EXPECT_TRUE(manager().waitForJob(7, 1000));
    EXPECT_EQ(task(5).state, Cancelled);
    EXPECT_EQ(task(7).state, Paused);
    for (int32_t app : busy) ASSERT_TRUE(finish(app)) << app;
    EXPECT_TRUE(fileRequests(5).empty());
    EXPECT_TRUE(fileRequests(7).empty());
}

TEST_F(DownloadManagerTest, SnapshotIsOrderedByAppId) {
    EXPECT_TRUE(manager().snapshot().empty());
    for (int32_t app : {7, 1, 4}) start(app);
    std::vector<int32_t> ids;
    for (const auto& entry : manager().snapshot()) {
        ids.push_back(entry.first);
        EXPECT_EQ(entry.second.appId, entry.first);
    }
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 4, 7}));
    for (int32_t app : {7, 1, 4}) ASSERT_TRUE(finish(app));
}

TEST_F(DownloadManagerTest, SpeedSamplesAcrossATickWrapAndARewind) {
    // The first transfer drops after 1000000 bytes and keeps them; the second, asked for the rest,
    // gets the whole file instead, so the position rewinds to 0.
    ASSERT_TRUE(service.addAppFaults(2, R"([{"delayMs": 300}, {"dropAfter": 1000000}, {"ignoreRange": true}])"));
    holdRetryWaits(true);
    start(2);
    const uint32_t t0 = 0xFFFFFF00u;  // 256 ms before the tick count wraps
    manager().updateSpeedsAt(t0);     // the first sample only records
    EXPECT_EQ(task(2).speed, 0u);
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_EQ(task(2).receivedBytes, 1000000);
    messages();

    manager().updateSpeedsAt(t0 + 200);  // too soon: skipped, nothing posted
    EXPECT_EQ(task(2).speed, 0u);
    EXPECT_TRUE(messages().empty());

    manager().updateSpeedsAt(t0 + 1000);  // one second across the wrap
    EXPECT_EQ(task(2).speed, 1000000u);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{kRefresh});

    letGo();
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_EQ(task(2).receivedBytes, 0);
    messages();
    manager().updateSpeedsAt(t0 + 1500);  // fewer bytes than before: 0, never negative
    EXPECT_EQ(task(2).speed, 0u);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{kRefresh});
}

TEST_F(DownloadManagerTest, InstallRefusesWhatIsNotAVerifiedInstaller) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 400}])"));
    start(2);  // failed
    ASSERT_TRUE(finish(2));
    ASSERT_TRUE(service.addAppFaults(4, R"([{}, {"status": 503}])"));
    ASSERT_TRUE(service.addAppFaults(5, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(4);  // cancelled
    ASSERT_TRUE(waitUntilHeld());
    manager().cancel(4);
    ASSERT_TRUE(finish(4));
    start(5);  // downloading
    ASSERT_TRUE(waitUntilHeld());
    messages();
    for (int32_t app : {2, 4, 5, 99}) {
        const uint32_t before = task(app).state;
        EXPECT_FALSE(manager().install(app)) << app;
        EXPECT_EQ(task(app).state, before) << app;
    }
    EXPECT_TRUE(messages().empty());
}

TEST_F(DownloadManagerTest, InstallOfAVanishedPackageFailsWithTheServiceMessage) {
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    ASSERT_EQ(task(1).state, Completed);
    ASSERT_TRUE(::DeleteFileW(downloaded(L"small-setup.exe").c_str()));
    messages();
    EXPECT_FALSE(manager().install(1));
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(downloadFaultText(task(1)), ServiceTroubleMessage);
    EXPECT_EQ(messages(), (std::vector<PostedMessage>{kRefresh, {WM_QB_DOWNLOAD_FAILED, news(1)}}));
}

}  // namespace
