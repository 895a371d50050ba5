#include "downloads/download_decision.h"

#include <algorithm>

uint32_t retryWaitMs(int failedAttempts) {
    return static_cast<uint32_t>(std::min(std::max(failedAttempts, 0) * 500, 4000));
}

namespace {

AttemptVerdict decideOk(const AttemptFacts& f) {
    AttemptVerdict v;
    v.noteFinalUrl = f.status <= 399 && f.hasFinalUrl;
    if (f.rangeIgnored) {
        // Starting over from offset 0 lets a server without ranges send the whole file; a segment
        // keeps its bytes, which came with the right Content-Range.
        v.rewind = f.acceptFull;
        return v;
    }
    const bool pastEnd = f.end < 0 || f.position > f.end;
    if (f.useRange && f.status == 206) {
        // Under Wine a dropped connection ends the body early without an error, so an answer is
        // whole only when it carried its Content-Length.
        const bool answerWhole = f.contentLength >= 1 && f.position - f.attemptStart >= f.contentLength;
        if (!f.acceptFull) {
            // A segment lies inside the file, so a whole answer short of its end leaves the rest to ask for.
            v.outcome = pastEnd ? AttemptOutcome::Done : answerWhole ? AttemptOutcome::Continue : AttemptOutcome::Retry;
            return v;
        }
        v.takeTotalSize = f.hasContentRange && f.totalSize > 0;
        // A file larger than the probe said goes on to its end from where the answer stopped.
        const bool serverHoldsMore = f.totalSize > 0 && f.position < f.totalSize;
        if ((pastEnd || answerWhole) && !serverHoldsMore) {
            v.outcome = AttemptOutcome::Done;
        } else {
            v.outcome = pastEnd || answerWhole ? AttemptOutcome::Continue : AttemptOutcome::Retry;
        }
        return v;
    }
    if (f.useRange) {
        const bool wholeFile = f.acceptFull && f.attemptStart == 0 && f.contentLength >= 1 && f.position >= f.contentLength;
        v.outcome = wholeFile ? AttemptOutcome::Done : AttemptOutcome::Retry;
        return v;
    }
    // The size may be unknown or stated too small by the probe, so the answer must be whole as well.
    const bool answerWhole = f.contentLength < 1 || f.position - f.attemptStart >= f.contentLength;
    if (pastEnd && answerWhole) {
        v.outcome = AttemptOutcome::Done;
    } else {
        v.rewind = true;
    }
    return v;
}

}  // namespace

AttemptVerdict decideAttempt(const AttemptFacts& f) {
    AttemptVerdict v;
    if (f.cancelled) {
        v.outcome = AttemptOutcome::Fail;
        return v;
    }
    if (f.writeFailed) {
        v.outcome = AttemptOutcome::Fail;
        v.error = AttemptError::DiskWrite;
        return v;
    }
    if (f.stoppedAtEnd) {
        v.outcome = AttemptOutcome::Done;
        v.noteFinalUrl = f.status <= 399 && f.hasFinalUrl;
        return v;
    }
    if (f.yielded) {
        // Nothing went wrong: what came is kept, and the rest is asked for once a slot is free again.
        v.outcome = AttemptOutcome::Continue;
        v.noteFinalUrl = f.status <= 399 && f.hasFinalUrl;
        return v;
    }
    if (f.result == HttpResult::Ok) return decideOk(f);

    // A resumable attempt keeps its position; the next Range header starts there.
    v.rewind = !f.useRange || (f.rangeIgnored && f.acceptFull);
    switch (f.result) {
        case HttpResult::InvalidUrl:
        case HttpResult::RedirectFailed:
            v.outcome = AttemptOutcome::Fail;
            v.error = AttemptError::ServiceTrouble;
            return v;
        case HttpResult::HttpError: {
            const int32_t s = f.status;
            if (s >= 500 || s == 429 || s == 408 || (s == 403 && !f.hasFinalUrl)) return v;
            if ((s == 403 || s == 404 || s == 410) && f.hasFinalUrl) {
                v.fallBackUrl = true;
                return v;
            }
            v.outcome = AttemptOutcome::Fail;
            v.error = AttemptError::ServiceTrouble;
            return v;
        }
        default:
            return v;
    }
}
