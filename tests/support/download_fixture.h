#pragma once
// Drives DownloadManager against the local catalogue service: a message-only window stands in for
// the main window, waits are recorded instead of slept, and each test gets its own download folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "render/state_texts.h"  // DownloadManager, and downloadFaultText: what a failed task says
#include "support/service_control.h"

struct PostedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    bool operator==(const PostedMessage& other) const { return message == other.message && wParam == other.wParam; }
};

struct RecordedWait {
    int32_t appId = 0;
    WaitReason reason = WaitReason::Retry;
    uint32_t milliseconds = 0;
    int32_t retryCount = 0;  // the task's retry count while it waited
    int64_t receivedBytes = 0;
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    DownloadManager& manager() { return DownloadManager::instance(); }
    std::string downloadUrl(int32_t appId) const;
    void start(int32_t appId, const std::string& md5 = std::string(), int64_t sizeHint = 0,
               const std::string& sha256 = std::string());
    // Waits for the app's job to end (false on time-out).
    bool finish(int32_t appId, DWORD milliseconds = 30000);
    TaskSnapshot task(int32_t appId);
    // The wParam of news about the app's current task: its id and generation.
    WPARAM news(int32_t appId);
    // The catalogue's package bytes and its name on the service.
    static std::string packageBytes(int32_t appId);
    static std::string packageMd5(int32_t appId);
    static std::string packageSha256(int32_t appId);
    std::wstring downloaded(const std::wstring& fileName) const { return folder + L"\\" + fileName; }
    std::vector<std::wstring> folderFiles() const;
    // Every message posted to the stand-in main window since the last call.
    std::vector<PostedMessage> messages();
    std::vector<RecordedWait> waits();
    // Requests of the service log for one app's package file.
    std::vector<qbtest::LoggedRequest> fileRequests(int32_t appId);
    std::vector<std::string> fileRanges(int32_t appId);  // the Range header of each of them

    // While holding, retry waits block (sleeping for real) until their task is cancelled or they are
    // let go; letGo releases the waits held now (returning once they have left) and keeps holding
    // later ones.
    void holdRetryWaits(bool hold);
    void letGo();
    // Blocks until `count` jobs are inside held retry waits.
    bool waitUntilHeld(int count = 1, DWORD milliseconds = 20000);

    qbtest::ServiceControl service;
    std::wstring folder;
    std::wstring journalFolder;  // holds the journal, downloads.json
    std::wstring journalPath;
    HWND window = nullptr;

private:
    std::mutex waitMutex_;
    std::condition_variable waitChanged_;
    std::vector<RecordedWait> waits_;
    bool holding_ = false;
    int generation_ = 0;
    int held_ = 0;
};
