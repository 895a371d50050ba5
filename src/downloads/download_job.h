#pragma once
// The job of one download task, on the task's own thread: named steps from the probe to the saved
// file (download_engine.cpp), and the workers that fill the file (segment_transfer.cpp). Only the
// manager starts one.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "downloads/download_manager.h"
#include "downloads/download_sources.h"
#include "downloads/segment_transfer.h"
#include "net/http_client.h"

class DownloadJob {
public:
    DownloadJob(DownloadManager& manager, std::shared_ptr<Task> task);
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    // The steps in order, each ending the job when the task has failed or was stopped; however it ends,
    // the journal hears of it and the partial file is let go.
    void run();

private:
    // The steps (download_engine.cpp): false when the job ends there.
    bool openRecordedFile();
    bool probe();
    bool readProbe();
    bool prepareFile();
    void plan();
    bool transfer();
    bool verify();
    void save();
    void finish();

    // Parts of the steps.
    void nameFromProbe();
    bool recordedBytesHold();
    bool forgetRecordedBytes();
    DWORD createPartialFile();
    void checkDigests(HANDLE file);
    DWORD renameToFinalName(HANDLE file);
    void markDownloaded();
    // Fails the task from `from` (see DownloadManager::fail); false, for the step to return.
    bool failed(TaskState from, const DownloadError& error);
    // After the digest differed: true when the file is kept as it is, flagged; false when it is
    // downloaded again (downloadAgain_) or the task failed.
    bool keepMismatch(HANDLE file);
    // The file starts over from its first byte, its connections from the first source they may use;
    // false when the file could not be emptied (the task has failed).
    bool startOver();
    // The file emptied and the transfer made ready for another run from the first byte and the first
    // source; false when the file could not be emptied (the task has failed from `from`).
    bool restartFile(TaskState from);
    // After the source downloading alone let its run down: true when the file starts over from the next
    // source still to download alone.
    bool nextAloneRun();

    // The transfer (segment_transfer.cpp).
    // Runs the workers that fill the partial file and waits for them; true when every byte is in. On
    // false, `error` says why unless the task was stopped.
    bool transferFile(Transfer& transfer, int workers, DownloadError& error);
    std::vector<qb::UniqueHandle> startWorkers(Transfer& transfer, int workers);
    // After a segmented transfer ended because a range was answered with the whole file: the file
    // starts over as one segment filled by one connection that takes such an answer.
    bool transferWhole(const Transfer& segmented, DownloadError& error);
    // One connection: fills its segment, then takes more work until there is none or it gives up.
    void segmentWorker(Transfer& transfer, int worker, size_t segment);
    // Under the task's segmentsMutex, a part that did not get done: its range goes back to the others,
    // and a failure no other connection can get past stops them all.
    void endPart(Transfer& transfer, size_t segment, PartResult result, const DownloadError& error);
    // Under the task's segmentsMutex (held by `lock`), a part that got done: true with `segment` set to
    // the next range the worker fills, waiting while another may yet give one up.
    bool takeMoreWork(Transfer& transfer, int worker, size_t& segment, std::unique_lock<std::mutex>& lock);
    // Fills one segment (or, without segments, the whole file) with retries.
    PartResult downloadPart(Transfer& transfer, size_t segment, SourceCursor& sources, DownloadError& error);
    bool sendAttempt(Transfer& transfer, PartCursor& cursor, int64_t end, std::vector<uint8_t>& buffer,
                     Attempt& attempt);
    void applyVerdict(Transfer& transfer, PartCursor& cursor, const Attempt& attempt);
    void rewind(Transfer& transfer, PartCursor& cursor);
    PartCursor cursorAt(size_t segment);
    // The end a segment's connection asks for moves when another connection takes part of its range.
    int64_t currentEnd(const Transfer& transfer, size_t segment);
    bool stopped(const Transfer& transfer) const;
    // For the route, the final URL noted for the task or its download URL; a mirror's own URL otherwise.
    std::wstring requestUrl(int source);
    // Under sourcesMutex_: where a connection goes after a failed request, and what came from where.
    SourceMove moveOn(PartCursor& cursor, bool letDown, int failedAttempts);
    void noteSourceBytes(int source);
    // The row names the host asked, for a package with mirrors.
    void showSource(int source);
    // A silent source is left after stallMs when there is another to go to; alone, a read keeps
    // WinHTTP's own time-out.
    uint32_t stallTimeout() const;

    DownloadManager& manager_;
    const std::shared_ptr<Task> task_;
    // A resumed task arrives with its predecessor's names and segments and the size they were recorded at.
    const bool resuming_;
    const int64_t recordedSize_;
    HttpResponse probe_;
    bool rangesWork_ = false;     // the probe's range was answered from byte 0
    bool keepRecorded_ = false;   // the resumed task's recorded bytes still hold
    int64_t presized_ = 0;        // the size the file was made at; 0 while unknown
    int workers_ = 1;
    Transfer transfer_;
    std::mutex sourcesMutex_;
    DownloadSources sources_;
    SourceCursor startCursor_;     // where connections start: after the probe, where it was answered
    bool downloadAgain_ = false;   // the digest differed and another source is to be tried
};
