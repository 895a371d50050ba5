// The download job's steps: probe, prepare the file, plan, transfer, verify and save.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/text_convert.h"
#include "base/window_messages.h"
#include "downloads/download_directory.h"
#include "downloads/download_job.h"
#include "downloads/file_naming.h"
#include "downloads/file_verification.h"
#include "downloads/mark_of_web.h"
#include "install/file_signature.h"

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

DownloadJob::DownloadJob(DownloadManager& manager, std::shared_ptr<Task> task)
    : manager_(manager), task_(std::move(task)), resuming_(task_->resumeExisting),
      recordedSize_(task_->totalBytes.load()),
      sources_(task_->identity.url, task_->identity.mirrors, task_->identity.md5, task_->identity.sha256),
      startCursor_(sources_.firstCursor()) {}

void DownloadJob::run() {
    if (openRecordedFile() && probe() && readProbe() && prepareFile()) {
        plan();
        while (transfer() && verify()) {
            if (!downloadAgain_) {
                save();
                break;
            }
            if (!startOver()) break;
        }
    }
    finish();
}

bool DownloadJob::failed(TaskState from, const DownloadError& error) {
    manager_.fail(*task_, from, error);
    return false;
}

// A resumed task goes on in the ".part" file it was recorded with; one paused before it had a file
// has none, and is named and given one as a new task is.
bool DownloadJob::openRecordedFile() {
    if (!resuming_) return true;
    HANDLE file = openPartial(task_->partialPath(), OPEN_EXISTING);
    const DownloadError error = systemError(DownloadFault::CannotOpen);
    task_->partFile.reset(file);
    return task_->partFile || error.systemCode == ERROR_FILE_NOT_FOUND || failed(Downloading, error);
}

// Asks the sources for the first byte until one answers: a source that lets the probe down gives way
// to the next at once, and each round through them all waits and counts, at most kMaxProbes times.
bool DownloadJob::probe() {
    Task& task = *task_;
    SourceCursor cursor = sources_.firstCursor();
    for (int probes = 1;;) {
        probe_ = HttpResponse();
        HttpRequest request;
        request.url = utf8ToWide(sources_.url(cursor.source));
        request.headers.emplace_back(L"Range", L"bytes=0-0");
        request.sink = [](const uint8_t*, uint32_t) { return false; };
        request.cancelFlag = &task.cancelled;
        request.receiveTimeoutMs = stallTimeout();
        HttpError unused;
        if (!manager_.slots.acquire(&task, [&] { return task.cancelled.load(); })) return false;
        showSource(cursor.source);
        HttpResult result = HttpClient::Send(request, probe_, unused);
        manager_.slots.release(&task);
        if (task.cancelled.load()) return false;
        // The sink stops every probe at its first body byte, so an error status with a body ends in
        // Aborted as well; it is still a failed probe.
        if (result == HttpResult::Ok || (result == HttpResult::Aborted && probe_.status < 400)) {
            startCursor_ = cursor;
            return true;
        }
        if (result == HttpResult::Aborted) result = HttpResult::HttpError;
        if (sources_.afterFailure(cursor, sourceLetDown(result, probe_.status, false), probes).waitMs == 0)
            continue;
        manager_.wait(task, WaitReason::Probe, kProbeWaitMs);
        if (task.cancelled.load()) return false;
        if (probes++ == kMaxProbes) return failed(Downloading, {DownloadFault::ServiceTrouble, 0, probe_.status});
    }
}

// What the probe's answer tells: whether ranges work, the size, where the URL leads and the file's
// name. A web page is no package.
bool DownloadJob::readProbe() {
    Task& task = *task_;
    if (lowerAscii(probe_.contentType).find(L"text/html") != std::wstring::npos)
        return failed(Downloading, {DownloadFault::ServiceTrouble, 0, probe_.status});
    // A 206 that starts elsewhere than byte 0 shows a server whose ranges cannot be trusted.
    rangesWork_ = probe_.status == 206 && probe_.hasContentRange && probe_.rangeStart == 0;
    if (rangesWork_) {
        if (probe_.totalSize > 0) task.totalBytes.store(probe_.totalSize);
    } else if (probe_.status == 200 && probe_.contentLength > 0) {
        task.totalBytes.store(probe_.contentLength);
    }
    if (!probe_.finalUrl.empty() && startCursor_.source == 0) {
        const std::string finalUrl = wideToUtf8(probe_.finalUrl);
        std::lock_guard<std::mutex> lock(task.urlMutex);
        task.resolvedUrl = finalUrl;
    }
    // A resumed task keeps the names its partial file was recorded under.
    if (!resuming_ || !task.partFile) nameFromProbe();
    return true;
}

void DownloadJob::nameFromProbe() {
    const std::wstring url = utf8ToWide(task_->identity.url);
    std::wstring candidate = fileNameFromDisposition(probe_.contentDisposition);
    if (candidate.empty()) candidate = fileNameFromUrl(probe_.finalUrl.empty() ? url : probe_.finalUrl);
    if (candidate.empty()) candidate = fileNameFromUrl(url);
    if (!candidate.empty()) manager_.names.claim(task_, downloadDirectory(), sanitizeFileName(candidate));
}

// The file the transfer fills: a resumed task's with its recorded bytes while they still hold, or
// else one made (or emptied) at the size the server gave.
bool DownloadJob::prepareFile() {
    presized_ = task_->totalBytes.load();
    keepRecorded_ = recordedBytesHold();
    if (keepRecorded_) {
        noteSourceBytes(-1);  // recorded by an earlier run, from sources unknown
        return true;
    }
    // A size the folder cannot hold ends the task before a file is made for it.
    if (presized_ > 0 && !roomFor(folderOfPath(task_->partialPath()), presized_))
        return failed(Downloading, {DownloadFault::NoSpace});
    if (resuming_ && !forgetRecordedBytes()) return failed(Downloading, {DownloadFault::CannotWrite});
    if (!task_->partFile) {
        const DWORD error = createPartialFile();
        return error == ERROR_SUCCESS || failed(Downloading, {DownloadFault::CannotCreate, error, 0});
    }
    // What a resumed task had recorded no longer fits the file: start over in the same file.
    HANDLE file = task_->partFile.get();
    if (!setFileSize(file, 0) || (presized_ > 0 && !setFileSize(file, presized_)))
        return failed(Downloading, systemError(DownloadFault::CannotWrite));
    return true;
}

// The server must still have the recorded size with ranges, and the partial file must still be that
// long and described by the recorded segments.
bool DownloadJob::recordedBytesHold() {
    if (!resuming_ || !task_->partFile || !rangesWork_ || probe_.totalSize != recordedSize_ ||
        fileSize(task_->partFile.get()) < recordedSize_)
        return false;
    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    return recordedSegmentsHold(task_->segments, recordedSize_);
}

// The recorded bytes are given up: the journal stops vouching for them before the file changes, on disk
// and not merely handed to its writer. False when it could not be written: the file is left alone.
bool DownloadJob::forgetRecordedBytes() {
    {
        std::lock_guard<std::mutex> lock(task_->segmentsMutex);
        task_->segments.clear();
    }
    task_->receivedBytes.store(0);
    manager_.recordProgress(task_, true);
    return manager_.journalWriter.flush();
}

// ERROR_SUCCESS, or why no ".part" file could be made. A name that was free when it was reserved may
// have been taken since: then the next free one.
DWORD DownloadJob::createPartialFile() {
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        task_->partFile.reset(openPartial(task_->partialPath(), CREATE_NEW));
        if (task_->partFile) {
            if (presized_ > 0) setFileSize(task_->partFile.get(), presized_);
            return ERROR_SUCCESS;
        }
        error = ::GetLastError();
        if (!nameTaken(error)) return error;
        manager_.names.claimAgain(task_);
    }
    return error;
}

// Several connections only for a file large enough, of a size the server stated, with ranges. The
// journal and the live record know the file before anything is written to it.
void DownloadJob::plan() {
    const int connections = manager_.connectionsPerDownload.load();
    const SegmentRules& rules = manager_.segmentRules;
    const bool segmented =
        connections > 1 && rangesWork_ && probe_.totalSize > 0 && probe_.totalSize >= rules.minimumSize;
    workers_ = segmented ? connections : 1;
    transfer_.end = presized_ > 0 ? presized_ - 1 : -1;
    transfer_.useRange = presized_ > 0 && rangesWork_;
    transfer_.minimumSteal = rules.minimumSteal;
    transfer_.live = &manager_.liveProgress;
    bool hasSegments = false;
    {
        std::lock_guard<std::mutex> lock(task_->segmentsMutex);
        std::vector<Segment>& segments = task_->segments;
        if (!keepRecorded_) {
            segments = segmented ? planSegments(presized_, connections)
                                 : transfer_.useRange ? planSegments(presized_, 1) : std::vector<Segment>();
        }
        // One connection filling the whole file keeps the rules of a single transfer.
        transfer_.acceptFull = !segmented && segments.size() <= 1;
        transfer_.clip = !transfer_.acceptFull;
        transfer_.claims = claimsFor(segments);
        task_->receivedBytes.store(writtenBytes(segments));
        hasSegments = !segments.empty();
    }
    // A kill from now on never leaves a ".part" file behind that no later start knows of.
    if (!keepRecorded_) manager_.recordProgress(task_, true);
    // Each write is noted where a killed process leaves it behind, so a restart goes on from it.
    if (hasSegments && presized_ > 0 && manager_.journal.owned())
        task_->liveSlot = manager_.liveProgress.claim(task_->partialPath(), presized_);
}

// Fills the file; a file sized in advance from a size that turned out larger loses its unwritten tail.
bool DownloadJob::transfer() {
    Task& task = *task_;
    DownloadError error;
    bool transferred = transferFile(transfer_, workers_, error);
    while (!transferred && nextAloneRun()) transferred = transferFile(transfer_, workers_, error);
    if (task.cancelled.load()) return false;
    if (!transferred && transfer_.wholeOffered.load()) transferred = transferWhole(transfer_, error);
    if (!transferred) return failed(Downloading, error);
    const int64_t received = task.receivedBytes.load();
    if (presized_ > received && !setFileSize(task.partFile.get(), received))
        return failed(Downloading, systemError(DownloadFault::CannotWrite));
    task.speed.store(0);
    if (!task.advance(Downloading, Verifying)) return false;
    task.retryCount.store(0);
    manager_.notifyChanged();
    manager_.recordProgress(task_, true);
    return true;
}

// What the file holds: its digests against the catalogue's, its kind (which its final name follows),
// and an installer's signature and type. Content of no kind we know fails and is deleted.
bool DownloadJob::verify() {
    Task& task = *task_;
    HANDLE file = task.partFile.get();
    checkDigests(file);
    if (!task.md5Ok.load() && !keepMismatch(file)) return downloadAgain_;
    const PackageKind kind = sniffPackage(file);
    if (kind == PackageKind::Unknown) {
        deleteOnClose(file);
        task.partFile.reset();
        return failed(Verifying, {DownloadFault::ServiceTrouble});
    }
    task.isArchive.store(isArchiveKind(kind));
    manager_.names.claimSniffed(task_, packageExtension(kind));
    if (task.isArchive.load()) return true;
    const std::wstring& pinned = task.identity.pinnedPublisher;
    const SignatureCheck signature = checkSignature(task.partialPath(), file, !pinned.empty());
    {
        std::lock_guard<std::mutex> lock(task.errorMutex);
        task.publisher = signature.publisher;
    }
    task.signature.store(signature.state);
    task.publisherVerdict.store(static_cast<uint32_t>(publisherVerdict(pinned, signature)));
    task.installerType.store(static_cast<uint32_t>(detectInstallerType(file)));
    return true;
}

void DownloadJob::checkDigests(HANDLE file) {
    const DownloadIdentity& expected = task_->identity;
    const bool wantMd5 = !expected.md5.empty();
    const bool wantSha256 = !expected.sha256.empty();
    if (!wantMd5 && !wantSha256) return;
    // A digest that cannot be computed has not been verified: installation stays blocked.
    FileDigests digests;
    const bool read = fileDigests(file, wantMd5, wantSha256, digests);
    task_->md5Ok.store(read && (!wantMd5 || digests.md5 == expected.md5) &&
                       (!wantSha256 || digests.sha256 == expected.sha256));
}

bool DownloadJob::keepMismatch(HANDLE file) {
    MismatchStep step;
    {
        std::lock_guard<std::mutex> lock(sourcesMutex_);
        step = sources_.afterMismatch();
    }
    if (step == MismatchStep::Keep) return true;
    downloadAgain_ = step == MismatchStep::DownloadAgain;
    if (downloadAgain_) return false;
    // Bytes no source vouches for are never kept.
    deleteOnClose(file);
    task_->partFile.reset();
    failed(Verifying, {DownloadFault::ServiceTrouble});
    return false;
}

bool DownloadJob::startOver() {
    Task& task = *task_;
    downloadAgain_ = false;
    if (!restartFile(Verifying)) return false;
    // A cancel that came while the file verified stands: the transfer then ends at once.
    task.advance(Verifying, Downloading);
    manager_.notifyChanged();
    plan();
    return true;
}

bool DownloadJob::nextAloneRun() {
    if (!transfer_.aloneRunEnded.load() || task_->cancelled.load()) return false;
    MismatchStep step;
    {
        std::lock_guard<std::mutex> lock(sourcesMutex_);
        step = sources_.leaveAloneRun();
    }
    if (step != MismatchStep::DownloadAgain || !restartFile(Downloading)) return false;
    manager_.notifyChanged();
    plan();
    return true;
}

bool DownloadJob::restartFile(TaskState from) {
    Task& task = *task_;
    keepRecorded_ = false;
    task.md5Ok.store(true);
    // Neither the journal nor the live record may vouch for bytes the file no longer holds.
    manager_.liveProgress.release(task.liveSlot);
    task.liveSlot = -1;
    if (!forgetRecordedBytes()) return failed(from, {DownloadFault::CannotWrite});
    if (!setFileSize(task.partFile.get(), 0) || (presized_ > 0 && !setFileSize(task.partFile.get(), presized_)))
        return failed(from, systemError(DownloadFault::CannotWrite));
    transfer_.stop.store(false);
    transfer_.wholeOffered.store(false);
    transfer_.aloneRunEnded.store(false);
    transfer_.running = 0;
    transfer_.wholeDone = false;
    transfer_.failure = DownloadError();
    transfer_.gaveUp = DownloadError();
    task.waitsEnd.store(false);
    {
        std::lock_guard<std::mutex> lock(sourcesMutex_);
        startCursor_ = sources_.firstCursor();
    }
    return true;
}

// The file takes its final name and is marked as downloaded from the internet; the task is
// Completed unless it was cancelled while it verified.
void DownloadJob::save() {
    Task& task = *task_;
    HANDLE file = task.partFile.get();
    if (const DWORD error = renameToFinalName(file)) {
        task.partFile.reset();
        manager_.fail(task, Verifying, {DownloadFault::CannotSave, error, 0});
        return;
    }
    markDownloaded();
    task.speed.store(0);
    // Cancelled while it verified: the file goes back to its partial name, never finished nor installed.
    const bool completed = task.advance(Verifying, Completed);
    if (!completed && !renameWithoutReplacing(file, task.partialPath())) deleteOnClose(file);
    task.partFile.reset();
    if (!completed) return;
    manager_.notifyChanged();
    manager_.post(WM_QB_DOWNLOAD_DONE, packIdAndGeneration(task.appId, task.generation));
}

// ERROR_SUCCESS, or why the file could not be renamed: a final name taken on disk meanwhile gives way
// to the next free one.
DWORD DownloadJob::renameToFinalName(HANDLE file) {
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (renameWithoutReplacing(file, task_->finalPath())) return ERROR_SUCCESS;
        error = ::GetLastError();
        if (!nameTaken(error) || !manager_.names.claimNextFinal(task_)) break;
    }
    return error;
}

void DownloadJob::markDownloaded() {
    const std::wstring saved = task_->finalPath();
    const std::wstring source = utf8ToWide(task_->identity.url);
    if (manager_.shellActions.markDownloaded) {
        manager_.shellActions.markDownloaded(saved, source);
    } else {
        markDownloadedFromInternet(saved, source);
    }
}

// The journal hears of the end first (a paused task's bytes are flushed with the file still open),
// then the partial file is let go (a finished one was renamed already).
void DownloadJob::finish() {
    Task& task = *task_;
    // A paused task shows what a resume goes on from: its segments' bytes, none without ranges.
    if (task.state.load() == Paused) {
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        task.receivedBytes.store(writtenBytes(task.segments));
    }
    manager_.recordProgress(task_, true);
    manager_.liveProgress.release(task.liveSlot);
    task.liveSlot = -1;
    task.partFile.reset();
    // Cleared while the file was still open here, the list could not delete it; the task still holds
    // the name, so no other download can have made a file of it since.
    if (task.cleared.load()) ::DeleteFileW(task.partialPath().c_str());
}
