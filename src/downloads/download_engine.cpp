#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "base/window_messages.h"
#include "base/text_convert.h"
#include "downloads/download_decision.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "downloads/file_naming.h"
#include "install/file_signature.h"
#include "downloads/file_verification.h"
#include "downloads/mark_of_web.h"
#include "downloads/segment_transfer.h"
#include "net/http_client.h"

namespace {

constexpr int kMaxProbes = 5;
constexpr uint32_t kProbeWaitMs = 500;

// Attempts to find a free name when the one reserved was taken on disk meanwhile.
constexpr int kNameAttempts = 16;

std::wstring lowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

// The error of the system call that failed just now.
DownloadError systemError(DownloadFault fault) { return {fault, ::GetLastError(), 0}; }

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
HANDLE openPartial(const std::wstring& path, DWORD disposition) {
    return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

int64_t fileSize(HANDLE file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

// A resumed task goes on from its recorded segments only when they still describe the file: side by
// side they cover it exactly, and none claims more bytes than it holds. (The server must still have
// the recorded size with ranges, and the partial file must still be that long.)
bool recordedSegmentsHold(std::vector<Segment> segments, int64_t size) {
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.start < b.start; });
    int64_t next = 0;
    for (const Segment& segment : segments) {
        if (segment.start != next || segment.end < segment.start || segment.written < 0 ||
            segment.written > segment.end - segment.start + 1)
            return false;
        next = segment.end + 1;
    }
    return !segments.empty() && next == size;
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

}  // namespace

void DownloadManager::run(std::shared_ptr<Task> task) {
    runJob(task);
    // A paused task shows what a resume goes on from: its segments' bytes, none without ranges.
    if (task->state.load() == Paused) {
        std::lock_guard<std::mutex> lock(task->segmentsMutex);
        task->receivedBytes.store(writtenBytes(task->segments));
    }
    // However the job ends, the journal hears of it first (a paused task's bytes are flushed with the
    // file still open), then the partial file is let go (a finished one was renamed already).
    recordProgress(task, true);
    liveProgress.release(task->liveSlot);
    task->liveSlot = -1;
    task->partFile.reset();
    // Cleared while the file was still open here, the list could not delete it; the task still holds
    // the name, so no other download can have made a file of it since.
    if (task->cleared.load()) ::DeleteFileW(task->partialPath().c_str());
}

void DownloadManager::runJob(const std::shared_ptr<Task>& task) {
    const bool resuming = task->resumeExisting;
    const int64_t recordedSize = task->totalBytes.load();
    if (resuming) {
        task->partFile.reset(openPartial(task->partialPath(), OPEN_EXISTING));
        const DownloadError error = systemError(DownloadFault::CannotOpen);
        if (!task->partFile && error.systemCode != ERROR_FILE_NOT_FOUND) return fail(*task, Downloading, error);
    }

    const std::wstring url = Utf8ToWide(task->identity.url);
    HttpResponse probe;
    for (int probes = 1;; ++probes) {
        probe = HttpResponse();
        HttpRequest request;
        request.url = url;
        request.headers.emplace_back(L"Range", L"bytes=0-0");
        request.sink = [](const uint8_t*, uint32_t) { return false; };
        request.cancelFlag = &task->cancelled;
        std::wstring unused;
        if (!acquireSlot(*task, [&] { return task->cancelled.load(); })) return;
        const HttpResult result = HttpClient::Send(request, probe, unused);
        releaseSlot(*task);
        if (task->cancelled.load()) return;
        // The sink stops every probe at its first body byte, so an error status with a body ends in
        // Aborted as well; it is still a failed probe.
        if (result == HttpResult::Ok || (result == HttpResult::Aborted && probe.status < 400)) break;
        wait(*task, WaitReason::Probe, kProbeWaitMs);
        if (task->cancelled.load()) return;
        if (probes == kMaxProbes) return fail(*task, Downloading, {DownloadFault::ServiceTrouble, 0, probe.status});
    }

    if (lowerAscii(probe.contentType).find(L"text/html") != std::wstring::npos)
        return fail(*task, Downloading, {DownloadFault::ServiceTrouble, 0, probe.status});

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

    // A resumed task keeps the names its partial file was recorded under; one paused before it had a
    // file is named as a new one is.
    if (!resuming || !task->partFile) {
        std::wstring candidate = fileNameFromDisposition(probe.contentDisposition);
        if (candidate.empty()) candidate = fileNameFromUrl(probe.finalUrl.empty() ? url : probe.finalUrl);
        if (candidate.empty()) candidate = fileNameFromUrl(url);
        if (!candidate.empty()) names.claim(task, downloadDirectory(), sanitizeFileName(candidate));
    }

    const int64_t presized = task->totalBytes.load();
    bool goOn = false;
    if (resuming && task->partFile && rangesWork && probe.totalSize == recordedSize &&
        fileSize(task->partFile.get()) >= recordedSize) {
        std::lock_guard<std::mutex> lock(task->segmentsMutex);
        goOn = recordedSegmentsHold(task->segments, recordedSize);
    }
    if (!goOn) {
        // A size the folder cannot hold ends the task before a file is made for it.
        if (presized > 0 && !roomFor(folderOfPath(task->partialPath()), presized))
            return fail(*task, Downloading, {DownloadFault::NoSpace});
        if (resuming) {
            // The recorded bytes are given up: the journal stops vouching for them before the file changes.
            {
                std::lock_guard<std::mutex> lock(task->segmentsMutex);
                task->segments.clear();
            }
            task->receivedBytes.store(0);
            recordProgress(task, true);
        }
        if (task->partFile) {
            // What a resumed task had recorded no longer fits the file: start over in the same file.
            if (!setFileSize(task->partFile.get(), 0) || (presized > 0 && !setFileSize(task->partFile.get(), presized)))
                return fail(*task, Downloading, systemError(DownloadFault::CannotWrite));
        } else if (const DWORD error = createPartialFile(task, presized)) {
            return fail(*task, Downloading, {DownloadFault::CannotCreate, error, 0});
        }
    }

    // Several connections only for a file large enough, of a size the server stated, with ranges.
    const int connections = connectionsPerDownload.load();
    const bool segmented =
        connections > 1 && rangesWork && probe.totalSize > 0 && probe.totalSize >= segmentRules.minimumSize;
    Transfer transfer;
    transfer.end = presized > 0 ? presized - 1 : -1;
    transfer.useRange = presized > 0 && rangesWork;
    transfer.minimumSteal = segmentRules.minimumSteal;
    bool hasSegments = false;
    {
        std::lock_guard<std::mutex> lock(task->segmentsMutex);
        if (!goOn) {
            task->segments = segmented ? planSegments(presized, connections)
                                       : transfer.useRange ? planSegments(presized, 1) : std::vector<Segment>();
        }
        // One connection filling the whole file keeps the rules of a single transfer.
        transfer.acceptFull = !segmented && task->segments.size() <= 1;
        transfer.clip = !transfer.acceptFull;
        transfer.claims = claimsFor(task->segments);
        task->receivedBytes.store(writtenBytes(task->segments));
        hasSegments = !task->segments.empty();
    }
    // The journal knows a new ".part" file before anything is written to it, so a kill from now on
    // never leaves one behind that no later start knows of.
    if (!goOn) recordProgress(task, true);

    // Each write is noted where a killed process leaves it behind, so a restart goes on from it.
    if (hasSegments && presized > 0 && journal.owned())
        task->liveSlot = liveProgress.claim(task->partialPath(), presized);
    transfer.live = &liveProgress;

    DownloadError error;
    bool transferred = transferFile(task, transfer, segmented ? connections : 1, error);
    if (task->cancelled.load()) return;
    if (!transferred && transfer.wholeOffered.load()) transferred = transferWhole(task, transfer, error);
    if (!transferred) return fail(*task, Downloading, error);
    // The file was sized in advance from a size that may have turned out larger; cut the unwritten tail.
    const int64_t received = task->receivedBytes.load();
    if (presized > received && !setFileSize(task->partFile.get(), received))
        return fail(*task, Downloading, systemError(DownloadFault::CannotWrite));

    task->speed.store(0);
    if (!task->advance(Downloading, Verifying)) return;
    task->retryCount.store(0);
    notifyChanged();
    recordProgress(task, true);
    verifyAndSave(task);
}

DWORD DownloadManager::createPartialFile(const std::shared_ptr<Task>& task, int64_t size) {
    // A name that was free when it was reserved may have been taken since: then the next free one.
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        task->partFile.reset(openPartial(task->partialPath(), CREATE_NEW));
        if (task->partFile) {
            if (size > 0) setFileSize(task->partFile.get(), size);
            return ERROR_SUCCESS;
        }
        error = ::GetLastError();
        if (!nameTaken(error)) return error;
        names.claimAgain(task);
    }
    return error;
}

void DownloadManager::verifyAndSave(const std::shared_ptr<Task>& task) {
    HANDLE file = task->partFile.get();
    const bool wantMd5 = !task->identity.md5.empty();
    const bool wantSha256 = !task->identity.sha256.empty();
    if (wantMd5 || wantSha256) {
        // A digest that cannot be computed has not been verified: installation stays blocked.
        FileDigests digests;
        const bool read = fileDigests(file, wantMd5, wantSha256, digests);
        task->md5Ok.store(read && (!wantMd5 || digests.md5 == task->identity.md5) &&
                          (!wantSha256 || digests.sha256 == task->identity.sha256));
    }
    const PackageKind kind = sniffPackage(file);
    if (kind == PackageKind::Unknown) {
        deleteOnClose(file);
        task->partFile.reset();
        return fail(*task, Verifying, {DownloadFault::ServiceTrouble});
    }
    task->isArchive.store(isArchiveKind(kind));
    names.claimSniffed(task, packageExtension(kind));
    if (!task->isArchive.load()) {
        const SignatureCheck signature = checkSignature(task->partialPath(), file);
        {
            std::lock_guard<std::mutex> lock(task->errorMutex);
            task->publisher = signature.publisher;
        }
        task->signature.store(signature.state);
        task->installerType.store(static_cast<uint32_t>(detectInstallerType(file)));
    }

    bool renamed = false;
    for (int attempt = 0; attempt < kNameAttempts && !renamed; ++attempt) {
        renamed = renameWithoutReplacing(file, task->finalPath());
        if (!renamed && (!nameTaken(::GetLastError()) || !names.claimNextFinal(task))) break;
    }
    if (!renamed) {
        const DownloadError error = systemError(DownloadFault::CannotSave);
        task->partFile.reset();
        return fail(*task, Verifying, error);
    }

    const std::wstring saved = task->finalPath();
    const std::wstring source = Utf8ToWide(task->identity.url);
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
    if (!completed) return;
    notifyChanged();
    post(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(task->appId, task->generation));
}
