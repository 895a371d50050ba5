// The transfer: workers that fill the partial file, each over its own connection and at its own
// offsets, with the attempt rules of download_decision.h.
#include "downloads/segment_transfer.h"

#include <algorithm>
#include <chrono>
#include <cwchar>

#include "base/worker_thread.h"
#include "config/config.h"
#include "base/text_convert.h"
#include "downloads/download_decision.h"
#include "downloads/download_manager.h"
#include "net/http_client.h"

namespace {

// Several workers write one handle, so every write names its offset; no file pointer is shared.
bool writeAt(HANDLE file, int64_t offset, const uint8_t* data, uint32_t length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD written = 0;
    return ::WriteFile(file, data, length, &written, &at) && written == length;
}

}  // namespace

// Writes one attempt's body at the worker's position; bodies that are not the asked-for bytes of the
// file (error pages, a range the server ignored or moved) never reach the file, and a segment's
// writes stop at its end, wherever a steal has moved it. Accepted bytes are gathered into writes of
// up to kWriteBytes, or of what came within kWriteMs: under Wine a write at an offset costs about
// 35 us more than one at the file pointer, which at the network's block sizes would hold a transfer
// back by a third.
class WriteSink {
public:
    WriteSink(Task& task, Transfer& transfer, ConnectionSlots& slots, size_t segment, HANDLE file,
              const HttpResponse& response, int64_t& position, std::vector<uint8_t>& buffer)
        : task_(task), transfer_(transfer), slots_(slots), segment_(segment), file_(file), response_(response),
          attemptStart_(position), position_(position), buffer_(buffer) {
        buffer_.clear();
    }

    bool operator()(const uint8_t* data, uint32_t length) {
        if (task_.cancelled.load(std::memory_order_relaxed) || transfer_.stop.load(std::memory_order_relaxed))
            return false;
        const int32_t status = response_.status;
        if (status != 200 && status != 206) return true;  // read and drop it; the status decides
        if (transfer_.useRange) {
            // A 200 is the whole file only when it is as long as the file: an error page sent with 200,
            // or a body that claims less, would otherwise be kept as the file's first bytes.
            const bool wholeFileFromZero = status == 200 && transfer_.acceptFull && attemptStart_ == 0 &&
                                           response_.contentLength == transfer_.end + 1;
            // A segment's range is part of the file planned only while the server still gives that
            // file's size: another total means the file was replaced since the probe.
            const bool sameFile =
                !transfer_.clip || response_.totalSize < 0 || response_.totalSize == transfer_.end + 1;
            const bool askedRange = status == 206 && response_.rangeStart == attemptStart_ && sameFile;
            if (!wholeFileFromZero && !askedRange) {
                rangeIgnored = true;
                if (transfer_.clip && status == 200 && response_.contentLength == transfer_.end + 1) {
                    // Retrying cannot help a server that ignores the ranges it was asked for; ending
                    // the others' requests and waits lets the whole file come over one connection.
                    transfer_.wholeOffered.store(true);
                    transfer_.stop.store(true);
                    task_.waitsEnd.store(true);
                }
                return false;
            }
        }
        uint32_t count = length;
        if (segment_ != kNoSegment) {
            const int64_t accepted = position_ + static_cast<int64_t>(buffer_.size());
            std::lock_guard<std::mutex> lock(task_.segmentsMutex);
            if (transfer_.clip) {
                const int64_t left = task_.segments[segment_].end - accepted + 1;
                if (left <= 0) {
                    stoppedAtEnd = true;
                    return false;
                }
                if (left < count) count = static_cast<uint32_t>(left);
            }
            // From here on no steal takes these bytes.
            SegmentClaim& claim = transfer_.claims[segment_];
            claim.next = std::max(claim.next, accepted + count);
        }
        buffer_.insert(buffer_.end(), data, data + count);
        // A slow answer is written at least every kWriteMs, so that its progress shows as it comes.
        const bool due = buffer_.size() >= kWriteBytes || ::GetTickCount() - lastWrite_ >= kWriteMs;
        if (due && !flush()) return false;
        if (count < length) {
            stoppedAtEnd = true;
            return false;
        }
        // Another download waits for a slot while this one holds two more: this request ends, keeping
        // what it wrote, and queues again behind the waiter.
        if (due && transfer_.clip && slots_.yieldFor(&task_)) {
            yielded = true;
            return false;
        }
        return true;
    }

    // Writes what was gathered; called when the buffer is full and once the answer has ended.
    bool flush() {
        if (buffer_.empty() || writeFailed) return !writeFailed;
        const uint32_t count = static_cast<uint32_t>(buffer_.size());
        lastWrite_ = ::GetTickCount();
        const bool written = writeAt(file_, position_, buffer_.data(), count);
        buffer_.clear();
        if (!written) {
            writeFailed = true;
            writeError = ::GetLastError();
            return false;
        }
        task_.receivedBytes.fetch_add(count, std::memory_order_relaxed);
        position_ += count;
        if (segment_ != kNoSegment) {
            std::lock_guard<std::mutex> lock(task_.segmentsMutex);
            Segment& segment = task_.segments[segment_];
            segment.written = position_ - segment.start;
            if (transfer_.live) transfer_.live->note(task_.liveSlot, segment.start, segment.written);
        }
        return true;
    }

    static constexpr size_t kWriteBytes = 256 * 1024;
    static constexpr DWORD kWriteMs = 100;
    bool rangeIgnored = false;
    bool writeFailed = false;
    DWORD writeError = ERROR_SUCCESS;
    bool stoppedAtEnd = false;
    bool yielded = false;

private:
    Task& task_;
    Transfer& transfer_;
    ConnectionSlots& slots_;
    size_t segment_;
    HANDLE file_;
    const HttpResponse& response_;
    int64_t attemptStart_;
    int64_t& position_;
    std::vector<uint8_t>& buffer_;
    DWORD lastWrite_ = ::GetTickCount();
};

void DownloadManager::setConnectionsPerDownload(int count) {
    connectionsPerDownload.store(std::min(std::max(count, 1), kMaxConnections));
}

void DownloadManager::setSegmentRules(const SegmentRules& rules) { segmentRules = rules; }

bool DownloadManager::acquireSlot(const Task& task, const std::function<bool()>& stop) {
    return slots.acquire(&task, stop);
}

void DownloadManager::releaseSlot(const Task& task, bool yielded) { slots.release(&task, yielded); }

bool DownloadManager::transferFile(const std::shared_ptr<Task>& task, Transfer& transfer, int workers,
                                   DownloadError& error) {
    std::vector<qb::UniqueHandle> threads;
    {
        std::unique_lock<std::mutex> lock(task->segmentsMutex);
        for (int worker = 0; worker < workers; ++worker) {
            size_t segment = kNoSegment;
            if (!task->segments.empty() &&
                !assignWork(task->segments, transfer.claims, worker, transfer.minimumSteal, segment))
                break;
            ++transfer.running;
            qb::UniqueHandle thread = qb::startWaitableWorker(
                [this, task, &transfer, worker, segment] { segmentWorker(*task, transfer, worker, segment); });
            if (!thread) {
                --transfer.running;
                if (segment != kNoSegment) giveBack(task->segments, transfer.claims, segment);
                break;
            }
            threads.push_back(std::move(thread));
        }
    }
    // The journal hears of the progress at least once a second while the workers run.
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(task->segmentsMutex);
            if (transfer.changed.wait_for(lock, std::chrono::seconds(1), [&] { return transfer.running == 0; })) break;
        }
        recordProgress(task, false);
    }
    for (const qb::UniqueHandle& thread : threads) ::WaitForSingleObject(thread.get(), INFINITE);

    std::lock_guard<std::mutex> lock(task->segmentsMutex);
    if (task->segments.empty() ? transfer.wholeDone : allSegmentsDone(task->segments)) return true;
    // One worker's failure ended them all; otherwise each gave up its range, or none could start.
    error = transfer.failure.fault != DownloadFault::None ? transfer.failure : transfer.gaveUp;
    if (error.fault == DownloadFault::None) error.fault = DownloadFault::ServiceTrouble;
    return false;
}

bool DownloadManager::transferWhole(const std::shared_ptr<Task>& task, const Transfer& segmented,
                                    DownloadError& error) {
    Transfer whole;
    whole.end = segmented.end;
    whole.useRange = true;
    whole.live = segmented.live;
    {
        std::lock_guard<std::mutex> lock(task->segmentsMutex);
        task->segments = planSegments(segmented.end + 1, 1);
        whole.claims = claimsFor(task->segments);
        task->receivedBytes.store(0);
        if (whole.live) whole.live->note(task->liveSlot, 0, 0);
    }
    task->waitsEnd.store(false);
    recordProgress(task, true);
    error = DownloadError();
    return transferFile(task, whole, 1, error);
}

void DownloadManager::segmentWorker(Task& task, Transfer& transfer, int worker, size_t segment) {
    for (;;) {
        DownloadError error;
        const PartResult result = downloadPart(task, transfer, segment, error);
        std::unique_lock<std::mutex> lock(task.segmentsMutex);
        if (result != PartResult::Done) {
            if (segment != kNoSegment) giveBack(task.segments, transfer.claims, segment);
            if (result == PartResult::GaveUp) transfer.gaveUp = error;
            if (result == PartResult::Failed) {
                if (transfer.failure.fault == DownloadFault::None) transfer.failure = error;
                transfer.stop.store(true);
                task.waitsEnd.store(true);
            }
            break;
        }
        if (segment == kNoSegment) {
            transfer.wholeDone = true;
            break;
        }
        // One connection for the whole file ends where the server's answer ended, which may differ
        // from the size the probe gave.
        if (!transfer.clip) {
            Segment& filled = task.segments[segment];
            filled.end = filled.start + filled.written - 1;
            break;
        }
        const auto stopped = [&] { return transfer.stop.load() || task.cancelled.load(); };
        if (stopped()) break;
        if (assignWork(task.segments, transfer.claims, worker, transfer.minimumSteal, segment)) continue;
        // Nothing to take now; a connection that gives up its range hands it on when it ends.
        transfer.changed.wait(lock, [&] { return stopped() || !workMayComeBack(task.segments, transfer.claims, worker); });
        if (stopped() || !assignWork(task.segments, transfer.claims, worker, transfer.minimumSteal, segment)) break;
    }
    {
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        --transfer.running;
    }
    transfer.changed.notify_all();
}

PartResult DownloadManager::downloadPart(Task& task, Transfer& transfer, size_t segment, DownloadError& error) {
    const std::wstring baseUrl = Utf8ToWide(task.identity.url);
    int64_t start = 0, position = 0;
    if (segment != kNoSegment) {
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        start = task.segments[segment].start;
        position = start + task.segments[segment].written;
    }
    // The end a segment's connection asks for moves when another connection takes part of its range.
    const auto currentEnd = [&] {
        if (segment == kNoSegment || !transfer.clip) return transfer.end;
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        return task.segments[segment].end;
    };
    const auto stopped = [&] { return task.cancelled.load() || transfer.stop.load(); };
    std::vector<uint8_t> buffer;
    buffer.reserve(WriteSink::kWriteBytes + 65536);

    for (int failedAttempts = 0;;) {
        if (stopped()) return PartResult::Stopped;
        const int64_t end = currentEnd();
        if (transfer.clip && position > end) return PartResult::Done;
        std::wstring requestUrl;
        {
            std::lock_guard<std::mutex> lock(task.urlMutex);
            requestUrl = Utf8ToWide(task.resolvedUrl.empty() ? task.identity.url : task.resolvedUrl);
        }
        const bool baseAttempt = requestUrl == baseUrl;

        HttpRequest request;
        request.url = requestUrl;
        if (transfer.useRange) {
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
            error = {DownloadFault::CannotOpen};
            return PartResult::Failed;
        }

        const int64_t attemptStart = position;
        HttpResponse response;
        WriteSink sink(task, transfer, slots, segment, file, response, position, buffer);
        request.sink = std::ref(sink);
        std::wstring unused;
        if (!acquireSlot(task, stopped)) return PartResult::Stopped;
        const HttpResult result = HttpClient::Send(request, response, unused);
        releaseSlot(task, sink.yielded);
        sink.flush();

        AttemptFacts facts;
        facts.cancelled = stopped();
        facts.writeFailed = sink.writeFailed;
        facts.rangeIgnored = sink.rangeIgnored;
        facts.stoppedAtEnd = sink.stoppedAtEnd;
        facts.yielded = sink.yielded;
        facts.useRange = transfer.useRange;
        facts.acceptFull = transfer.acceptFull;
        facts.result = result;
        facts.status = response.status;
        facts.hasContentRange = response.hasContentRange;
        facts.totalSize = response.totalSize;
        facts.contentLength = response.contentLength;
        facts.hasFinalUrl = !response.finalUrl.empty();
        facts.end = currentEnd();
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
            if (segment != kNoSegment) {
                std::lock_guard<std::mutex> lock(task.segmentsMutex);
                task.segments[segment].written = 0;
                transfer.claims[segment].next = start;
                if (transfer.live) transfer.live->note(task.liveSlot, start, 0);
            }
        }

        switch (verdict.outcome) {
            case AttemptOutcome::Done:
                return PartResult::Done;
            case AttemptOutcome::Fail:
                if (verdict.error == AttemptError::None) return PartResult::Stopped;
                error = verdict.error == AttemptError::DiskWrite
                            ? DownloadError{DownloadFault::CannotWrite, sink.writeError, 0}
                            : DownloadError{DownloadFault::ServiceTrouble, 0, response.status};
                return PartResult::Failed;
            case AttemptOutcome::Continue:
                continue;
            case AttemptOutcome::Retry:
                break;
        }
        if (++failedAttempts >= kMaxTransferAttempts) {
            error = {DownloadFault::ServiceTrouble, 0, response.status};
            return PartResult::GaveUp;
        }
        task.retryCount.store(failedAttempts);
        notifyChanged();
        wait(task, WaitReason::Retry, retryWaitMs(failedAttempts));
    }
}
