#pragma once
// What one transfer attempt of a download means for the next step: done, failed, or retry, and
// whether the write position survives. Pure logic, no I/O.
#include <cstdint>

#include "net/http_client.h"

constexpr int kMaxTransferAttempts = 13;

// The wait before retry number `failedAttempts` (1-based): 500 ms more each time, at most 4 s.
uint32_t retryWaitMs(int failedAttempts);

struct AttemptFacts {
    bool cancelled = false;
    bool writeFailed = false;
    bool rangeIgnored = false;
    bool stoppedAtEnd = false;  // the body went past the range's end (another connection took the rest)
    bool yielded = false;       // the request ended early to give its slot to a download holding fewer
    bool useRange = false;
    bool acceptFull = false;  // one connection fills the whole file; false for a segment of it
    HttpResult result = HttpResult::Ok;
    int32_t status = 0;
    bool hasContentRange = false;
    int64_t totalSize = -1;
    int64_t contentLength = -1;
    bool hasFinalUrl = false;
    int64_t end = -1;  // inclusive; -1 when the size is unknown
    int64_t attemptStart = 0;
    int64_t position = 0;
};

enum class AttemptOutcome {
    Done,      // the range is in the file
    Fail,      // give up; error says why (none when cancelled)
    Retry,     // counts as a failed attempt, waits, tries again
    Continue,  // the answer was whole but the server holds more: ask for the rest at once
};

enum class AttemptError { None, ServiceTrouble, DiskWrite };

struct AttemptVerdict {
    AttemptOutcome outcome = AttemptOutcome::Retry;
    AttemptError error = AttemptError::None;
    bool rewind = false;         // discard what this transfer wrote and start again from its start
    bool noteFinalUrl = false;   // request the final URL directly from now on
    bool fallBackUrl = false;    // the final URL answered 403/404/410
    bool takeTotalSize = false;  // the answer's Content-Range total is the file size
};

AttemptVerdict decideAttempt(const AttemptFacts& facts);
