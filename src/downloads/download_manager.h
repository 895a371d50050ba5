#pragma once
// The process-wide registry of download tasks and the job each task runs on its own thread.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

enum TaskState : uint32_t {
    Downloading = 0,
    Verifying = 1,
    Completed = 2,
    Failed = 3,
    Cancelled = 4,
    Installed = 5,
    Installing = 6,
    InstallCancelled = 7,
};

extern const wchar_t ServiceTroubleMessage[];

struct Task {
    int32_t appId = 0;
    std::wstring name;
    std::string url;
    std::string md5;
    std::wstring filePath;
    std::wstring partPath;
    std::atomic<int64_t> totalBytes{0};
    std::atomic<int64_t> receivedBytes{0};
    std::atomic<int64_t> sampleBytes{0};
    std::atomic<uint32_t> sampleTick{0};
    std::atomic<uint32_t> speed{0};
    std::atomic<uint32_t> state{Downloading};
    std::atomic<bool> md5Ok{true};
    std::atomic<bool> isArchive{false};
    std::mutex errorMutex;
    std::wstring errorText;
    std::atomic<int32_t> retryCount{0};
    std::atomic<bool> cancelled{false};
    HANDLE thread = nullptr;
    std::mutex urlMutex;
    std::string resolvedUrl;
    std::set<std::string> failedUrls;
};

struct TaskSnapshot {
    int32_t appId = 0;
    std::wstring name;
    uint32_t state = Downloading;
    int64_t receivedBytes = 0;
    int64_t totalBytes = 0;
    uint32_t speed = 0;
    bool md5Ok = true;
    bool isArchive = false;
    std::wstring errorText;
    int32_t retryCount = 0;
};

class DownloadManager {
public:
    static DownloadManager& instance();

    std::atomic<HWND> mainWindow{nullptr};

    void startDownload(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
                       int64_t sizeHint);
    void cancel(int32_t appId);
    void clearFinished();
    void openInFolder(int32_t appId);
    bool install(int32_t appId);
    void updateSpeeds();
    std::map<int32_t, TaskSnapshot> snapshot();
    void notifyChanged();

    void run(std::shared_ptr<Task> task);
    bool downloadPart(Task& task, int64_t start, int64_t end, bool useRange, bool acceptFull);
    void acquireSlot();
    void releaseSlot();
};
