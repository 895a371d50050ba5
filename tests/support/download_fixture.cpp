#include "support/download_fixture.h"

#include <algorithm>
#include <chrono>

#include "base/window_messages.h"
#include "config/config.h"
#include "downloads/download_directory.h"
#include "downloads/md5.h"
#include "base/sha256.h"
#include "support/test_support.h"

namespace {

const wchar_t* packagePath(int32_t appId) {
    switch (appId) {
        case 1: return L"packages\\1\\small-setup.exe";
        case 2: return L"packages\\2\\big-setup.exe";
        case 3: return L"packages\\3\\portable.zip";
        case 4: return L"packages\\4\\setup.exe";
        case 5: return L"packages\\5\\setup.exe";
        case 6: return L"packages\\6\\notes.exe";
        case 7: return L"packages\\7\\product.msi";
        case 8: return L"packages\\8\\tools.7z";
        case 9: return L"packages\\9\\bundle.zip";
        case 11: return L"packages\\11\\qb-signed-app.exe";
        case 12: return L"packages\\12\\qb-tampered-app.exe";
        default: return L"";
    }
}

}  // namespace

void DownloadTest::SetUp() {
    ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
    ASSERT_TRUE(service.reset());
    folder = qbtest::makeScratchDir(L"downloads");
    setDownloadDirOverride(folder);
    journalFolder = qbtest::makeScratchDir(L"journal");
    journalPath = journalFolder + L"\\downloads.json";
    manager().setJournalPath(journalPath);
    window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window != nullptr);
    manager().mainWindow.store(window);
    // The engine's single-transfer rules are tested over one connection; segmented tests ask for more.
    manager().setConnectionsPerDownload(1);
    manager().setSegmentRules(SegmentRules());
    manager().setWaitFunction([this](Task& task, WaitReason reason, uint32_t ms) {
        std::unique_lock<std::mutex> lock(waitMutex_);
        waits_.push_back({task.appId, reason, ms, task.retryCount.load(), task.receivedBytes.load()});
        if (reason != WaitReason::Retry || !holding_) return;
        const int generation = generation_;
        ++held_;
        waitChanged_.notify_all();
        lock.unlock();
        // A held wait sleeps as the program does, so cancelling it is timed as in the program.
        for (;;) {
            DownloadManager::sleepUnlessCancelled(task, 100);
            lock.lock();
            const bool stop = !holding_ || generation != generation_ || task.cancelled.load() || task.waitsEnd.load();
            lock.unlock();
            if (stop) break;
        }
        lock.lock();
        --held_;
        waitChanged_.notify_all();
    });
}

void DownloadTest::TearDown() {
    holdRetryWaits(false);
    for (const auto& entry : manager().snapshot()) {
        manager().cancel(entry.first);
        EXPECT_TRUE(manager().waitForJob(entry.first, 60000)) << "job of app " << entry.first << " still running";
    }
    manager().clearFinished();
    manager().setWaitFunction(nullptr);
    manager().setShellActions({});
    manager().setConnectionsPerDownload(4);
    manager().setSegmentRules(SegmentRules());
    manager().mainWindow.store(nullptr);
    if (window) ::DestroyWindow(window);
    setDownloadDirOverride(L"");
    manager().setJournalPath(L"");
    qbtest::removeTree(folder);
    qbtest::removeTree(journalFolder);
}

std::string DownloadTest::downloadUrl(int32_t appId) const {
    return wideToUtf8(service.base()) + "/api/client/download/" + std::to_string(appId) + "?channel=test";
}

void DownloadTest::start(int32_t appId, const std::string& md5, int64_t sizeHint, const std::string& sha256) {
    manager().startDownload(appId, {L"应用" + std::to_wstring(appId), downloadUrl(appId), md5, sha256, sizeHint});
}

bool DownloadTest::finish(int32_t appId, DWORD milliseconds) { return manager().waitForJob(appId, milliseconds); }

TaskSnapshot DownloadTest::task(int32_t appId) {
    const auto all = manager().snapshot();
    const auto it = all.find(appId);
    return it == all.end() ? TaskSnapshot{} : it->second;
}

WPARAM DownloadTest::news(int32_t appId) {
    const TaskSnapshot current = task(appId);
    EXPECT_NE(current.generation, 0u) << "no task for app " << appId;
    return packIdAndGeneration(appId, current.generation);
}

std::string DownloadTest::packageBytes(int32_t appId) {
    return qbtest::readFileBytes(qbtest::environment(L"QB_TEST_CATALOGUE") + L"\\" + packagePath(appId));
}

std::string DownloadTest::packageMd5(int32_t appId) {
    const std::string bytes = packageBytes(appId);
    Md5 md5;
    md5.update(bytes.data(), bytes.size());
    return md5.finishHex();
}

std::string DownloadTest::packageSha256(int32_t appId) {
    const std::string bytes = packageBytes(appId);
    Sha256 sha;
    sha.update(bytes.data(), bytes.size());
    return sha.finishHex();
}

std::vector<std::wstring> DownloadTest::folderFiles() const { return qbtest::filesIn(folder); }

std::vector<PostedMessage> DownloadTest::messages() {
    std::vector<PostedMessage> out;
    MSG msg;
    while (::PeekMessageW(&msg, window, WM_APP, WM_APP + 16, PM_REMOVE)) out.push_back({msg.message, msg.wParam});
    return out;
}

std::vector<RecordedWait> DownloadTest::waits() {
    std::lock_guard<std::mutex> lock(waitMutex_);
    return waits_;
}

std::vector<qbtest::LoggedRequest> DownloadTest::fileRequests(int32_t appId) {
    const std::string prefix = "/files/" + std::to_string(appId) + "/";
    std::vector<qbtest::LoggedRequest> out;
    for (const auto& entry : service.requests())
        if (entry.path.compare(0, prefix.size(), prefix) == 0) out.push_back(entry);
    return out;
}

std::vector<std::string> DownloadTest::fileRanges(int32_t appId) {
    std::vector<std::string> out;
    for (const auto& r : fileRequests(appId)) out.push_back(r.range);
    return out;
}

void DownloadTest::holdRetryWaits(bool hold) {
    std::lock_guard<std::mutex> lock(waitMutex_);
    holding_ = hold;
}

void DownloadTest::letGo() {
    std::unique_lock<std::mutex> lock(waitMutex_);
    ++generation_;
    waitChanged_.wait_for(lock, std::chrono::seconds(10), [&] { return held_ == 0; });
}

bool DownloadTest::waitUntilHeld(int count, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    return waitChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return held_ >= count; });
}
