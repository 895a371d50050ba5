// The transfer: workers that fill the partial file, each over its own connection and at its own
// offsets, with the attempt rules of download_decision.h.
#include "downloads/segment_transfer.h"

#include <algorithm>
#include <chrono>
#include <cwchar>

#include "base/text_convert.h"
#include "base/worker_thread.h"
#include "downloads/download_job.h"

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
    WriteSink(Task& task, Transfer& transfer, ConnectionSlots& slots, SpeedLimit& speedLimit, size_t segment,
              HANDLE file, const HttpResponse& response, int64_t& position, std::vector<uint8_t>& buffer)
        : task_(task), transfer_(transfer), slots_(slots), speedLimit_(speedLimit), segment_(segment), file_(file),
          response_(response), attemptStart_(position), position_(position), buffer_(buffer) {
        buffer_.clear();
    }

    bool operator()(const uint8_t* data, uint32_t length) {
        if (stopped()) return false;
        // Read bytes are paid for under the speed cap before the next read: the sender waits meanwhile.
        if (!speedLimit_.admit(length, [this] { return stopped(); })) return false;
        // Time the cap held the reader back is not silence.
        lastByte_ = std::chrono::steady_clock::now();
        const int32_t status = response_.status;
        if (status != 200 && status != 206) return true;  // read and drop it; the status decides
        if (transfer_.useRange && !isAskedRange(status)) return false;
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

    // Whether a ranged request's answer is the bytes asked for; notes an ignored range otherwise.
    bool isAskedRange(int32_t status) {
        // A 200 is the whole file only when it is as long as the file: an error page sent with 200, or
        // a body that claims less, would otherwise be kept as the file's first bytes.
        const bool wholeFileFromZero = status == 200 && transfer_.acceptFull && attemptStart_ == 0 &&
                                       response_.contentLength == transfer_.end + 1;
        // Bytes past the first are part of the file planned only while the server still gives that file's
        // size: another total means the file was replaced since the probe, or since the bytes before them
        // came (a single connection takes the total of an answer from the first byte).
        const bool sameFile = response_.totalSize < 0 || transfer_.end < 0 || response_.totalSize == transfer_.end + 1 ||
                              (!transfer_.clip && attemptStart_ == 0);
        const bool askedRange = status == 206 && response_.rangeStart == attemptStart_ && sameFile;
        if (wholeFileFromZero || askedRange) return true;
        rangeIgnored = true;
        if (transfer_.clip && status == 200 && response_.contentLength == transfer_.end + 1) {
            // Retrying cannot help a server that ignores the ranges it was asked for; ending the
            // others' requests and waits lets the whole file come over one connection.
            transfer_.wholeOffered.store(true);
            transfer_.stop.store(true);
            task_.waitsEnd.store(true);
        }
        return false;
    }

    // How long the source has sent nothing the reader could take: since the request, or the last read.
    int64_t silentMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastByte_)
            .count();
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
    bool stopped() const {
        return task_.cancelled.load(std::memory_order_relaxed) || transfer_.stop.load(std::memory_order_relaxed);
    }

    Task& task_;
    Transfer& transfer_;
    ConnectionSlots& slots_;
    SpeedLimit& speedLimit_;
    size_t segment_;
    HANDLE file_;
    const HttpResponse& response_;
    int64_t attemptStart_;
    int64_t& position_;
    std::vector<uint8_t>& buffer_;
    DWORD lastWrite_ = ::GetTickCount();
    std::chrono::steady_clock::time_point lastByte_ = std::chrono::steady_clock::now();
};

namespace {

// A request for the file's bytes from `position` to `end` (to the end while `end` is -1), or for the
// whole file without `useRange`.
HttpRequest rangeRequest(const std::wstring& url, bool useRange, int64_t position, int64_t end) {
    HttpRequest request;
    request.url = url;
    if (useRange) {
        wchar_t range[64];
        if (end >= 0) {
            std::swprintf(range, 64, L"bytes=%lld-%lld", static_cast<long long>(position), static_cast<long long>(end));
        } else {
            std::swprintf(range, 64, L"bytes=%lld-", static_cast<long long>(position));
        }
        request.headers.emplace_back(L"Range", range);
    }
    return request;
}

// What the sink and the answer tell of one attempt; the caller adds where it stands in the file.
AttemptFacts attemptFacts(const WriteSink& sink, const Transfer& transfer, HttpResult result,
                          const HttpResponse& response) {
    AttemptFacts facts;
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
    return facts;
}

// A failure no other connection can get past: a disk that cannot write, or a refusal.
DownloadError attemptError(const Attempt& attempt) {
    if (attempt.verdict.error == AttemptError::DiskWrite) return {DownloadFault::CannotWrite, attempt.writeError, 0};
    return {DownloadFault::ServiceTrouble, 0, attempt.response.status};
}

}  // namespace

bool DownloadJob::transferFile(Transfer& transfer, int workers, DownloadError& error) {
    std::vector<qb::UniqueHandle> threads = startWorkers(transfer, workers);
    // The journal hears of the progress at least once a second while the workers run.
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(task_->segmentsMutex);
            if (transfer.changed.wait_for(lock, std::chrono::seconds(1), [&] { return transfer.running == 0; })) break;
        }
        manager_.recordProgress(task_, false);
    }
    for (const qb::UniqueHandle& thread : threads) ::WaitForSingleObject(thread.get(), INFINITE);

    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    if (task_->segments.empty() ? transfer.wholeDone : allSegmentsDone(task_->segments)) return true;
    // One worker's failure ended them all; otherwise each gave up its range, or none could start.
    error = transfer.failure.fault != DownloadFault::None ? transfer.failure : transfer.gaveUp;
    if (error.fault == DownloadFault::None) error.fault = DownloadFault::ServiceTrouble;
    return false;
}

// Each worker starts on a segment of its own (none without segments); fewer start when there are
// fewer segments, or no thread can be made.
std::vector<qb::UniqueHandle> DownloadJob::startWorkers(Transfer& transfer, int workers) {
    std::vector<qb::UniqueHandle> threads;
    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    std::vector<Segment>& segments = task_->segments;
    for (int worker = 0; worker < workers; ++worker) {
        size_t segment = kNoSegment;
        if (!segments.empty() && !assignWork(segments, transfer.claims, worker, transfer.minimumSteal, segment))
            break;
        ++transfer.running;
        qb::UniqueHandle thread = qb::startWaitableWorker(
            [this, &transfer, worker, segment] { segmentWorker(transfer, worker, segment); });
        if (!thread) {
            --transfer.running;
            if (segment != kNoSegment) giveBack(segments, transfer.claims, segment);
            break;
        }
        threads.push_back(std::move(thread));
    }
    return threads;
}

bool DownloadJob::transferWhole(const Transfer& segmented, DownloadError& error) {
    Transfer whole;
    whole.end = segmented.end;
    whole.useRange = true;
    whole.live = segmented.live;
    {
        std::lock_guard<std::mutex> lock(task_->segmentsMutex);
        task_->segments = planSegments(segmented.end + 1, 1);
        whole.claims = claimsFor(task_->segments);
        task_->receivedBytes.store(0);
        if (whole.live) whole.live->note(task_->liveSlot, 0, 0);
    }
    task_->waitsEnd.store(false);
    manager_.recordProgress(task_, true);
    error = DownloadError();
    return transferFile(whole, 1, error);
}

void DownloadJob::segmentWorker(Transfer& transfer, int worker, size_t segment) {
    // A source this connection left stays left when it takes another range.
    SourceCursor sources;
    {
        std::lock_guard<std::mutex> lock(sourcesMutex_);
        sources = startCursor_;
    }
    for (;;) {
        DownloadError error;
        const PartResult result = downloadPart(transfer, segment, sources, error);
        std::unique_lock<std::mutex> lock(task_->segmentsMutex);
        if (result != PartResult::Done) {
            endPart(transfer, segment, result, error);
            break;
        }
        if (!takeMoreWork(transfer, worker, segment, lock)) break;
    }
    {
        std::lock_guard<std::mutex> lock(task_->segmentsMutex);
        --transfer.running;
    }
    transfer.changed.notify_all();
}

void DownloadJob::endPart(Transfer& transfer, size_t segment, PartResult result, const DownloadError& error) {
    if (segment != kNoSegment) giveBack(task_->segments, transfer.claims, segment);
    if (result == PartResult::GaveUp) transfer.gaveUp = error;
    if (result != PartResult::Failed) return;
    if (transfer.failure.fault == DownloadFault::None) transfer.failure = error;
    transfer.stop.store(true);
    task_->waitsEnd.store(true);
}

bool DownloadJob::takeMoreWork(Transfer& transfer, int worker, size_t& segment, std::unique_lock<std::mutex>& lock) {
    std::vector<Segment>& segments = task_->segments;
    if (segment == kNoSegment) {
        transfer.wholeDone = true;
        return false;
    }
    // One connection for the whole file ends where the server's answer ended, which may differ from
    // the size the probe gave.
    if (!transfer.clip) {
        Segment& filled = segments[segment];
        filled.end = filled.start + filled.written - 1;
        return false;
    }
    if (stopped(transfer)) return false;
    if (assignWork(segments, transfer.claims, worker, transfer.minimumSteal, segment)) return true;
    // Nothing to take now; a connection that gives up its range hands it on when it ends.
    transfer.changed.wait(lock,
                          [&] { return stopped(transfer) || !workMayComeBack(segments, transfer.claims, worker); });
    return !stopped(transfer) && assignWork(segments, transfer.claims, worker, transfer.minimumSteal, segment);
}

PartResult DownloadJob::downloadPart(Transfer& transfer, size_t segment, SourceCursor& sources, DownloadError& error) {
    PartCursor cursor = cursorAt(segment);
    cursor.sources = sources;
    std::vector<uint8_t> buffer;
    buffer.reserve(WriteSink::kWriteBytes + 65536);
    for (int failedAttempts = 0;;) {
        if (stopped(transfer)) return PartResult::Stopped;
        const int64_t end = currentEnd(transfer, segment);
        if (transfer.clip && cursor.position > end) return PartResult::Done;
        if (!task_->partFile) {
            error = {DownloadFault::CannotOpen};
            return PartResult::Failed;
        }
        Attempt attempt;
        if (!sendAttempt(transfer, cursor, end, buffer, attempt)) return PartResult::Stopped;
        applyVerdict(transfer, cursor, attempt);
        AttemptVerdict& verdict = attempt.verdict;
        SourceMove move{false, retryWaitMs(failedAttempts + 1)};
        if (verdict.outcome == AttemptOutcome::Retry ||
            (verdict.outcome == AttemptOutcome::Fail && verdict.error == AttemptError::ServiceTrouble)) {
            // Another source may have what this one refused.
            move = moveOn(cursor, attempt.letDown, failedAttempts + 1);
            sources = cursor.sources;
            if (move.left) verdict.outcome = AttemptOutcome::Retry;
            if (move.endsAloneRun) {
                transfer.aloneRunEnded.store(true);
                transfer.stop.store(true);
                transfer.changed.notify_all();
                return PartResult::Stopped;
            }
        }
        switch (verdict.outcome) {
            case AttemptOutcome::Done: return PartResult::Done;
            case AttemptOutcome::Fail:
                if (attempt.verdict.error == AttemptError::None) return PartResult::Stopped;
                error = attemptError(attempt);
                return PartResult::Failed;
            case AttemptOutcome::Continue: continue;
            case AttemptOutcome::Retry: break;
        }
        if (++failedAttempts >= kMaxTransferAttempts) {
            error = {DownloadFault::ServiceTrouble, 0, attempt.response.status};
            return PartResult::GaveUp;
        }
        task_->retryCount.store(failedAttempts);
        manager_.notifyChanged();
        // Moving on to the next source waits for nothing.
        if (move.waitMs > 0) manager_.wait(*task_, WaitReason::Retry, move.waitMs);
    }
}

// One request for the cursor's range up to `end`, its answer written as it comes; false, having sent
// nothing, when the transfer stopped while it waited for a slot.
bool DownloadJob::sendAttempt(Transfer& transfer, PartCursor& cursor, int64_t end, std::vector<uint8_t>& buffer,
                              Attempt& attempt) {
    Task& task = *task_;
    attempt.source = cursor.sources.source;
    const std::wstring url = requestUrl(attempt.source);
    attempt.askedDownloadUrl = attempt.source == 0 && url == utf8ToWide(task.identity.url);
    HttpRequest request = rangeRequest(url, transfer.useRange, cursor.position, end);
    request.cancelFlag = &task.cancelled;
    request.receiveTimeoutMs = stallTimeout();
    const int64_t attemptStart = cursor.position;
    if (!manager_.slots.acquire(&task, [&] { return stopped(transfer); })) return false;
    // Made once the slot is held: the time spent waiting for it is no silence of the server's.
    WriteSink sink(task, transfer, manager_.slots, manager_.speedLimit, cursor.segment, task.partFile.get(),
                   attempt.response, cursor.position, buffer);
    request.sink = std::ref(sink);
    HttpError unused;
    showSource(attempt.source);
    const HttpResult result = HttpClient::Send(request, attempt.response, unused);
    manager_.slots.release(&task, sink.yielded);
    sink.flush();
    if (cursor.position > attemptStart) noteSourceBytes(attempt.source);
    const bool silent = request.receiveTimeoutMs > 0 && sink.silentMs() >= request.receiveTimeoutMs;
    attempt.letDown = sourceLetDown(result, attempt.response.status, silent);
    attempt.writeError = sink.writeError;
    AttemptFacts facts = attemptFacts(sink, transfer, result, attempt.response);
    facts.cancelled = stopped(transfer);
    facts.end = currentEnd(transfer, cursor.segment);
    facts.attemptStart = attemptStart;
    facts.position = cursor.position;
    attempt.verdict = decideAttempt(facts);
    return true;
}

// What a verdict changes besides the next step: the URL asked next, the file's size, and whether the
// range starts over.
void DownloadJob::applyVerdict(Transfer& transfer, PartCursor& cursor, const Attempt& attempt) {
    Task& task = *task_;
    const AttemptVerdict& verdict = attempt.verdict;
    // Only the route's redirects lead to a final URL worth noting; a mirror is asked by its own URL.
    if (attempt.source == 0 && (verdict.noteFinalUrl || verdict.fallBackUrl)) {
        const std::string finalUrl = wideToUtf8(attempt.response.finalUrl);
        std::lock_guard<std::mutex> lock(task.urlMutex);
        if (verdict.noteFinalUrl || attempt.askedDownloadUrl) {
            task.resolvedUrl = finalUrl;
        } else {
            // The cached target has expired, or failed once more: go back to the download URL and
            // its redirects, which may lead to a fresh link; retrying a dead link cannot succeed.
            task.resolvedUrl.clear();
        }
    }
    if (verdict.takeTotalSize) {
        task.totalBytes.store(attempt.response.totalSize);
        // One connection goes on to the end of the file the answer was part of (only it uses the end then),
        // and its segment with it, so that the journal records a segment inside the file.
        if (!transfer.clip) {
            transfer.end = attempt.response.totalSize - 1;
            std::lock_guard<std::mutex> lock(task.segmentsMutex);
            if (cursor.segment != kNoSegment) task.segments[cursor.segment].end = transfer.end;
        }
    }
    if (verdict.rewind) rewind(transfer, cursor);
}

// What the range's attempts wrote no longer counts: the next one starts at its first byte.
void DownloadJob::rewind(Transfer& transfer, PartCursor& cursor) {
    if (cursor.position <= cursor.start) return;
    task_->receivedBytes.fetch_sub(cursor.position - cursor.start);
    cursor.position = cursor.start;
    if (cursor.segment == kNoSegment) return;
    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    task_->segments[cursor.segment].written = 0;
    transfer.claims[cursor.segment].next = cursor.start;
    if (transfer.live) transfer.live->note(task_->liveSlot, cursor.start, 0);
}

PartCursor DownloadJob::cursorAt(size_t segment) {
    PartCursor cursor;
    cursor.segment = segment;
    if (segment == kNoSegment) return cursor;
    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    cursor.start = task_->segments[segment].start;
    cursor.position = cursor.start + task_->segments[segment].written;
    return cursor;
}

SourceMove DownloadJob::moveOn(PartCursor& cursor, bool letDown, int failedAttempts) {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    return sources_.afterFailure(cursor.sources, letDown, failedAttempts);
}

void DownloadJob::noteSourceBytes(int source) {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    sources_.noteBytes(source);
}

uint32_t DownloadJob::stallTimeout() const { return sources_.count() > 1 ? manager_.stallMs.load() : 0; }

void DownloadJob::showSource(int source) {
    if (sources_.count() < 2) return;
    std::wstring host = sourceHost(sources_.url(source));
    std::lock_guard<std::mutex> lock(task_->urlMutex);
    task_->sourceHost = std::move(host);
}

int64_t DownloadJob::currentEnd(const Transfer& transfer, size_t segment) {
    if (segment == kNoSegment || !transfer.clip) return transfer.end;
    std::lock_guard<std::mutex> lock(task_->segmentsMutex);
    return task_->segments[segment].end;
}

bool DownloadJob::stopped(const Transfer& transfer) const {
    return task_->cancelled.load() || transfer.stop.load();
}

std::wstring DownloadJob::requestUrl(int source) {
    if (source != 0) return utf8ToWide(sources_.url(source));
    std::lock_guard<std::mutex> lock(task_->urlMutex);
    return utf8ToWide(task_->resolvedUrl.empty() ? task_->identity.url : task_->resolvedUrl);
}
