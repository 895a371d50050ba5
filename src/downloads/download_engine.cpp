#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include "base/window_messages.h"
#include "config/text_convert.h"
#include "downloads/download_decision.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "downloads/file_naming.h"
#include "install/file_signature.h"
#include "downloads/file_verification.h"
#include "downloads/mark_of_web.h"
#include "service/http_client.h"

namespace {

constexpr int kMaxProbes = 5;
constexpr uint32_t kProbeWaitMs = 500;
constexpr int32_t kMaxRequestsInFlight = 6;

const wchar_t kCannotCreate[] = L"无法创建下载文件";
const wchar_t kCannotOpen[] = L"无法打开下载文件";
const wchar_t kCannotSeek[] = L"定位写入失败";
const wchar_t kCannotWrite[] = L"磁盘写入失败";
const wchar_t kCannotSave[] = L"保存文件失败（文件被占用？）";
const wchar_t kNoSpace[] = L"磁盘空间不足";

// Attempts to find a free name when the one reserved was taken on disk meanwhile.
constexpr int kNameAttempts = 16;

std::wstring lowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

bool setFileSize(HANDLE file, int64_t size) {
    LARGE_INTEGER to;
    to.QuadPart = size;
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// False only when the folder's volume is known to hold less than `bytes`.
bool roomFor(std::wstring folder, int64_t bytes) {
    if (folder.empty()) folder = L".";
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
    return static_cast<uint64_t>(bytes) <= available.QuadPart;
}

// The partial file is opened for reading too (verification reads it through this handle) and for
// deletion (it is renamed through it); others may only read it meanwhile.
HANDLE createExclusively(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool nameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Renames the open file; an existing file of that name is never replaced.
bool renameWithoutReplacing(HANDLE file, const std::wstring& target) {
    const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = nameBytes;
    std::memcpy(info->FileName, target.data(), nameBytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

void deleteOnClose(HANDLE file) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof(info));
}

// Opens the ".part" file a paused task left and returns where its transfer goes on. When its recorded
// bytes cannot be trusted (another size, no ranges, the file missing or shorter) the same file starts
// over from byte 0 with a fresh plan. -1 when the file can be neither opened nor made.
int64_t reopenPartialFile(Task& task, int64_t size, bool sameFile) {
    task.partFile.reset(::CreateFileW(task.partialPath().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!task.partFile) return -1;
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(task.partFile.get(), &length)) length.QuadPart = 0;
    int64_t from = -1;
    {
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        const bool oneWholeSegment =
            task.segments.size() == 1 && task.segments[0].start == 0 && task.segments[0].end == size - 1;
        if (sameFile && size > 0 && length.QuadPart >= size && oneWholeSegment) from = task.segments[0].written;
        if (from < 0) {
            task.segments.clear();
            if (size > 0) task.segments.push_back({0, size - 1, 0});
        }
    }
    if (from < 0) {
        from = 0;
        if (!setFileSize(task.partFile.get(), 0) || (size > 0 && !setFileSize(task.partFile.get(), size))) return -1;
    }
    task.receivedBytes.store(from);
    return from;
}

}  // namespace

// Writes one attempt's body at the task's position; bodies that are not the asked-for bytes of the
// file (error pages, a range the server ignored or moved) never reach the file.
class WriteSink {
public:
    WriteSink(Task& task, HANDLE file, const HttpResponse& response, bool useRange, bool acceptFull, int64_t end,
              int64_t& position, const std::function<void(int64_t)>& written)
        : task_(task), file_(file), response_(response), useRange_(useRange), acceptFull_(acceptFull), end_(end),
          attemptStart_(position), position_(position), written_(written) {}

    bool operator()(const uint8_t* data, uint32_t length) {
        if (task_.cancelled.load(std::memory_order_relaxed)) return false;
        const int32_t status = response_.status;
        if (status != 200 && status != 206) return true;  // read and drop it; the status decides
        if (useRange_) {
            // A 200 is the whole file only when it is as long as the file: an error page sent with 200,
            // or a body that claims less, would otherwise be kept as the file's first bytes.
            const bool wholeFileFromZero =
                status == 200 && acceptFull_ && attemptStart_ == 0 && response_.contentLength == end_ + 1;
            const bool askedRange = status == 206 && response_.rangeStart == attemptStart_;
            if (!wholeFileFromZero && !askedRange) {
                rangeIgnored = true;
                return false;
            }
        }
        DWORD written = 0;
        if (!::WriteFile(file_, data, length, &written, nullptr) || written != length) {
            writeFailed = true;
            return false;
        }
        task_.receivedBytes.fetch_add(length, std::memory_order_relaxed);
        position_ += length;
        written_(position_);
        return true;
    }

    bool rangeIgnored = false;
    bool writeFailed = false;

private:
    Task& task_;
    HANDLE file_;
    const HttpResponse& response_;
    bool useRange_;
    bool acceptFull_;
    int64_t end_;
    int64_t attemptStart_;
    int64_t& position_;
    const std::function<void(int64_t)>& written_;
};

void DownloadManager::acquireSlot() {
    std::unique_lock<std::mutex> lock(slotMutex);
    slotFreed.wait(lock, [this] { return activeRequests < kMaxRequestsInFlight; });
    ++activeRequests;
}

void DownloadManager::releaseSlot() {
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        --activeRequests;
    }
    slotFreed.notify_one();
}

void DownloadManager::run(std::shared_ptr<Task> task) {
    const std::wstring url = Utf8ToWide(task->url);
    const int64_t recordedSize = task->totalBytes.load();
    // A transfer that stops (paused or cancelled) leaves its last counts in the journal, or its entry goes.
    const auto stop = [this, &task] { recordProgress(task, true); };
    HttpResponse probe;
    for (int probes = 1;; ++probes) {
        probe = HttpResponse();
        HttpRequest request;
        request.url = url;
        request.headers.emplace_back(L"Range", L"bytes=0-0");
        request.sink = [](const uint8_t*, uint32_t) { return false; };
        request.cancelFlag = &task->cancelled;
        std::wstring unused;
        acquireSlot();
        const HttpResult result = HttpClient::Send(request, probe, unused);
        releaseSlot();
        if (task->cancelled.load()) return stop();
        // The sink stops every probe at its first body byte, so an error status with a body ends in
        // Aborted as well; it is still a failed probe.
        if (result == HttpResult::Ok || (result == HttpResult::Aborted && probe.status < 400)) break;
        wait(*task, WaitReason::Probe, kProbeWaitMs);
        if (task->cancelled.load()) return stop();
        if (probes == kMaxProbes) return fail(*task, Downloading, ServiceTroubleMessage);
    }

    if (lowerAscii(probe.contentType).find(L"text/html") != std::wstring::npos)
        return fail(*task, Downloading, ServiceTroubleMessage);

    // A 206 that starts elsewhere than byte 0 shows a server whose ranges cannot be trusted.
    const bool rangesWork = probe.status == 206 && probe.hasContentRange && probe.rangeStart == 0;
    if (rangesWork) {
        if (probe.totalSize > 0) task->totalBytes.store(probe.totalSize);
    } else if (probe.status == 200 && probe.contentLength > 0) {
        task->totalBytes.store(probe.contentLength);
    }
    if (!probe.finalUrl.empty()) {
        const std::string finalUrl = WideToUtf8(probe.finalUrl);
        std::lock_guard<std::mutex> lock(task->urlMutex);
        task->resolvedUrl = finalUrl;
    }

    std::wstring candidate = fileNameFromDisposition(probe.contentDisposition);
    if (candidate.empty()) candidate = fileNameFromUrl(probe.finalUrl.empty() ? url : probe.finalUrl);
    if (candidate.empty()) candidate = fileNameFromUrl(url);
    // A resumed task keeps the names of the file it goes on with.
    if (!candidate.empty() && !task->resumeExisting)
        claimFileName(task, downloadDirectory(), sanitizeFileName(candidate));

    // A size the folder cannot hold ends the task before a file is made for it.
    const int64_t presized = task->totalBytes.load();
    if (presized > 0 && !task->resumeExisting && !roomFor(folderOfPath(task->partialPath()), presized))
        return fail(*task, Downloading, kNoSpace);
    // However the job ends, the partial file is let go with it (a finished one was renamed already).
    struct PartialFileRelease {
        Task& task;
        ~PartialFileRelease() { task.partFile.reset(); }
    } release{*task};
    int64_t from = 0;
    if (task->resumeExisting) {
        from = reopenPartialFile(*task, presized, rangesWork && presized == recordedSize);
        if (from < 0) return fail(*task, Downloading, kCannotOpen);
    } else {
        if (!createPartialFile(task, presized)) return fail(*task, Downloading, kCannotCreate);
        if (presized > 0 && rangesWork) {
            std::lock_guard<std::mutex> lock(task->segmentsMutex);
            task->segments = {{0, presized - 1, 0}};
        }
    }

    const bool useRange = presized > 0 && rangesWork;
    const bool transferred = (useRange && from >= presized) ||
                             downloadPart(*task, from, presized > 0 ? presized - 1 : -1, useRange, from == 0);
    if (task->cancelled.load()) return stop();
    if (!transferred) {
        std::wstring text = task->error();
        if (text.empty()) text = ServiceTroubleMessage;
        return fail(*task, Downloading, text);
    }
    // The file was sized in advance from a size that may have turned out larger; cut the unwritten tail.
    const int64_t received = task->receivedBytes.load();
    if (presized > received && !setFileSize(task->partFile.get(), received))
        return fail(*task, Downloading, kCannotWrite);

    task->speed.store(0);
    if (!task->advance(Downloading, Verifying)) return stop();
    task->retryCount.store(0);
    recordProgress(task, true);
    notifyChanged();
    verifyAndSave(task);
}

bool DownloadManager::createPartialFile(const std::shared_ptr<Task>& task, int64_t size) {
    // A name that was free when it was reserved may have been taken since: then the next free one.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        task->partFile.reset(createExclusively(task->partialPath()));
        if (task->partFile) {
            if (size > 0) setFileSize(task->partFile.get(), size);
            return true;
        }
        if (!nameTaken(::GetLastError())) return false;
        claimNamesAgain(task);
    }
    return false;
}

void DownloadManager::verifyAndSave(const std::shared_ptr<Task>& task) {
    HANDLE file = task->partFile.get();
    const bool wantMd5 = !task->md5.empty();
    const bool wantSha256 = !task->sha256.empty();
    if (wantMd5 || wantSha256) {
        // A digest that cannot be computed has not been verified: installation stays blocked.
        FileDigests digests;
        const bool read = fileDigests(file, wantMd5, wantSha256, digests);
        task->md5Ok.store(read && (!wantMd5 || digests.md5 == task->md5) &&
                          (!wantSha256 || digests.sha256 == task->sha256));
    }
    const PackageKind kind = sniffPackage(file);
    if (kind == PackageKind::Unknown) {
        deleteOnClose(file);
        task->partFile.reset();
        return fail(*task, Verifying, ServiceTroubleMessage);
    }
    task->isArchive.store(isArchiveKind(kind));
    claimSniffedName(task, packageExtension(kind));
    if (!task->isArchive.load()) {
        const SignatureCheck signature = checkSignature(task->partialPath(), file);
        {
            std::lock_guard<std::mutex> lock(task->errorMutex);
            task->publisher = signature.publisher;
        }
        task->signature.store(signature.state);
    }

    bool renamed = false;
    for (int attempt = 0; attempt < kNameAttempts && !renamed; ++attempt) {
        renamed = renameWithoutReplacing(file, task->finalPath());
        if (!renamed && (!nameTaken(::GetLastError()) || !claimNextFinalName(task))) break;
    }
    if (!renamed) {
        task->partFile.reset();
        return fail(*task, Verifying, kCannotSave);
    }

    const std::wstring saved = task->finalPath();
    const std::wstring source = Utf8ToWide(task->url);
    if (shellActions.markDownloaded) {
        shellActions.markDownloaded(saved, source);
    } else {
        markDownloadedFromInternet(saved, source);
    }

    task->speed.store(0);
    // Cancelled while it verified: the file goes back to its partial name, never finished nor installed.
    const bool completed = task->advance(Verifying, Completed);
    if (!completed && !renameWithoutReplacing(file, task->partialPath())) deleteOnClose(file);
    task->partFile.reset();
    recordProgress(task, true);
    if (!completed) return;
    notifyChanged();
    post(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(task->appId, task->generation));
}

bool DownloadManager::downloadPart(Task& task, int64_t start, int64_t end, bool useRange, bool acceptFull) {
    const std::wstring baseUrl = Utf8ToWide(task.url);
    int64_t position = start;
    // The one segment of a ranged transfer follows the write position; the journal hears of it.
    const std::function<void(int64_t)> written = [this, &task](int64_t at) {
        {
            std::lock_guard<std::mutex> lock(task.segmentsMutex);
            if (task.segments.size() == 1) task.segments[0].written = at - task.segments[0].start;
        }
        recordProgressOf(task, false);
    };
    for (int failedAttempts = 0;;) {
        std::wstring requestUrl;
        {
            std::lock_guard<std::mutex> lock(task.urlMutex);
            requestUrl = Utf8ToWide(task.resolvedUrl.empty() ? task.url : task.resolvedUrl);
        }
        const bool baseAttempt = requestUrl == baseUrl;

        HttpRequest request;
        request.url = requestUrl;
        if (useRange) {
            wchar_t range[64];
            if (end >= 0) {
                std::swprintf(range, 64, L"bytes=%lld-%lld", static_cast<long long>(position), static_cast<long long>(end));
            } else {
                std::swprintf(range, 64, L"bytes=%lld-", static_cast<long long>(position));
            }
            request.headers.emplace_back(L"Range", range);
        }
        request.cancelFlag = &task.cancelled;

        HANDLE file = task.partFile.get();
        if (!file) {
            task.setError(kCannotOpen);
            return false;
        }
        LARGE_INTEGER to;
        to.QuadPart = position;
        if (!::SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) {
            task.setError(kCannotSeek);
            return false;
        }

        const int64_t attemptStart = position;
        HttpResponse response;
        WriteSink sink(task, file, response, useRange, acceptFull, end, position, written);
        request.sink = std::ref(sink);
        std::wstring unused;
        acquireSlot();
        const HttpResult result = HttpClient::Send(request, response, unused);
        releaseSlot();

        AttemptFacts facts;
        facts.cancelled = task.cancelled.load();
        facts.writeFailed = sink.writeFailed;
        facts.rangeIgnored = sink.rangeIgnored;
        facts.useRange = useRange;
        facts.acceptFull = acceptFull;
        facts.result = result;
        facts.status = response.status;
        facts.hasContentRange = response.hasContentRange;
        facts.totalSize = response.totalSize;
        facts.contentLength = response.contentLength;
        facts.hasFinalUrl = !response.finalUrl.empty();
        facts.end = end;
        facts.attemptStart = attemptStart;
        facts.position = position;
        const AttemptVerdict verdict = decideAttempt(facts);

        if (verdict.noteFinalUrl || verdict.fallBackUrl) {
            const std::string finalUrl = WideToUtf8(response.finalUrl);
            std::lock_guard<std::mutex> lock(task.urlMutex);
            if (verdict.noteFinalUrl || baseAttempt) {
                task.resolvedUrl = finalUrl;
            } else {
                // The cached target has expired, or failed once more: go back to the download URL and
                // its redirects, which may lead to a fresh link; retrying a dead link cannot succeed.
                task.resolvedUrl.clear();
            }
        }
        if (verdict.takeTotalSize) task.totalBytes.store(response.totalSize);
        if (verdict.rewind && position > start) {
            task.receivedBytes.fetch_sub(position - start);
            position = start;
            written(position);
        }

        switch (verdict.outcome) {
            case AttemptOutcome::Done:
                return true;
            case AttemptOutcome::Fail:
                if (verdict.error == AttemptError::ServiceTrouble) task.setError(ServiceTroubleMessage);
                if (verdict.error == AttemptError::DiskWrite) task.setError(kCannotWrite);
                return false;
            case AttemptOutcome::Continue:
                continue;
            case AttemptOutcome::Retry:
                break;
        }
        if (++failedAttempts >= kMaxTransferAttempts) {
            task.setError(ServiceTroubleMessage);
            return false;
        }
        task.retryCount.store(failedAttempts);
        notifyChanged();
        wait(task, WaitReason::Retry, retryWaitMs(failedAttempts));
        if (task.cancelled.load()) return false;
    }
}
