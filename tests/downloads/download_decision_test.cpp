#include <gtest/gtest.h>

#include "downloads/download_decision.h"

namespace {

using O = AttemptOutcome;
using E = AttemptError;

TEST(DownloadDecision, RetryWaitsGrowByHalfASecondUpToFour) {
    const uint32_t expected[] = {500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4000, 4000, 4000, 4000};
    for (int n = 1; n <= 12; ++n) EXPECT_EQ(retryWaitMs(n), expected[n - 1]) << n;
    EXPECT_EQ(kMaxTransferAttempts, 13);
}

// A resumable ranged attempt at position 1000 of a 5000-byte file, unless a case says otherwise.
AttemptFacts ranged(HttpResult result, int32_t status) {
    AttemptFacts f;
    f.useRange = true;
    f.acceptFull = true;
    f.result = result;
    f.status = status;
    f.end = 4999;
    f.attemptStart = 1000;
    f.position = 1000;
    f.hasFinalUrl = true;
    return f;
}

TEST(DownloadDecision, FailuresOtherThanOkFollowTheirStatus) {
    struct Case {
        HttpResult result;
        int32_t status;
        bool hasFinalUrl;
        O outcome;
        E error;
        bool fallBack;
    };
    const Case cases[] = {
        {HttpResult::InvalidUrl, 0, true, O::Fail, E::ServiceTrouble, false},
        {HttpResult::RedirectFailed, 302, true, O::Fail, E::ServiceTrouble, false},
        {HttpResult::HttpError, 500, true, O::Retry, E::None, false},
        {HttpResult::HttpError, 599, true, O::Retry, E::None, false},
        {HttpResult::HttpError, 429, true, O::Retry, E::None, false},
        {HttpResult::HttpError, 408, true, O::Retry, E::None, false},
        {HttpResult::HttpError, 403, true, O::Retry, E::None, true},
        {HttpResult::HttpError, 404, true, O::Retry, E::None, true},
        {HttpResult::HttpError, 410, true, O::Retry, E::None, true},
        {HttpResult::HttpError, 403, false, O::Retry, E::None, false},
        {HttpResult::HttpError, 404, false, O::Fail, E::ServiceTrouble, false},
        {HttpResult::HttpError, 400, true, O::Fail, E::ServiceTrouble, false},
        {HttpResult::HttpError, 416, true, O::Fail, E::ServiceTrouble, false},
        {HttpResult::HttpError, 499, true, O::Fail, E::ServiceTrouble, false},
        {HttpResult::ConnectFailed, 0, false, O::Retry, E::None, false},
        {HttpResult::SendFailed, 0, false, O::Retry, E::None, false},
        {HttpResult::ReadFailed, 206, true, O::Retry, E::None, false},
        {HttpResult::Aborted, 206, true, O::Retry, E::None, false},
        {HttpResult::TlsFailed, 0, false, O::Retry, E::None, false},
    };
    for (const Case& c : cases) {
        AttemptFacts f = ranged(c.result, c.status);
        f.hasFinalUrl = c.hasFinalUrl;
        for (bool resumable : {true, false}) {
            f.useRange = resumable;
            const AttemptVerdict v = decideAttempt(f);
            EXPECT_EQ(v.outcome, c.outcome) << static_cast<int>(c.result) << " " << c.status;
            EXPECT_EQ(v.error, c.error) << static_cast<int>(c.result) << " " << c.status;
            EXPECT_EQ(v.fallBackUrl, c.fallBack) << static_cast<int>(c.result) << " " << c.status;
            EXPECT_EQ(v.rewind, !resumable) << static_cast<int>(c.result) << " " << c.status;
            EXPECT_FALSE(v.noteFinalUrl);
        }
    }
}

TEST(DownloadDecision, CancelAndWriteFailuresComeFirst) {
    AttemptFacts f = ranged(HttpResult::Ok, 206);
    f.position = 5000;
    f.writeFailed = true;
    EXPECT_EQ(decideAttempt(f).outcome, O::Fail);
    EXPECT_EQ(decideAttempt(f).error, E::DiskWrite);
    f.cancelled = true;
    EXPECT_EQ(decideAttempt(f).outcome, O::Fail);
    EXPECT_EQ(decideAttempt(f).error, E::None);
}

TEST(DownloadDecision, OkAnswersAreCompleteOnlyWhenTheirBytesArrived) {
    struct Case {
        const char* what;
        bool useRange, acceptFull, rangeIgnored;
        int32_t status;
        int64_t contentLength, totalSize, end, attemptStart, position;
        O outcome;
        bool rewind;
    };
    const Case cases[] = {
        {"206 reached the end", true, true, false, 206, 4000, 5000, 4999, 1000, 5000, O::Done, false},
        {"206 cut short", true, true, false, 206, 4000, 5000, 4999, 1000, 3000, O::Retry, false},
        {"206 whole, server has no more", true, true, false, 206, 2000, 3000, 4999, 1000, 3000, O::Done, false},
        {"206 whole, server has more", true, true, false, 206, 2000, 5000, 4999, 1000, 3000, O::Continue, false},
        {"206 whole, total unknown", true, true, false, 206, 2000, -1, 4999, 1000, 3000, O::Done, false},
        {"206 without a known end", true, true, false, 206, -1, -1, -1, 0, 10, O::Done, false},
        {"206 for a part, short", true, false, false, 206, 4000, 5000, 4999, 1000, 3000, O::Retry, false},
        {"206 for a part, done", true, false, false, 206, 4000, 5000, 4999, 1000, 5000, O::Done, false},
        {"200 from zero, complete", true, true, false, 200, 5000, -1, 4999, 0, 5000, O::Done, false},
        {"200 from zero, cut short", true, true, false, 200, 5000, -1, 4999, 0, 2000, O::Retry, false},
        {"200 without a length", true, true, false, 200, -1, -1, 4999, 0, 5000, O::Retry, false},
        {"range ignored", true, true, true, 200, 5000, -1, 4999, 1000, 1000, O::Retry, true},
        {"plain GET complete", false, true, false, 200, 5000, -1, 4999, 0, 5000, O::Done, false},
        {"plain GET cut short", false, true, false, 200, 5000, -1, 4999, 0, 2000, O::Retry, true},
        {"plain GET, size unknown", false, true, false, 200, -1, -1, -1, 0, 2000, O::Done, false},
        // Under Wine a dropped connection ends the body without an error: only its Content-Length shows it.
        {"plain GET, size unknown, answer whole", false, true, false, 200, 2000, -1, -1, 0, 2000, O::Done, false},
        {"plain GET, size unknown, answer cut", false, true, false, 200, 5000, -1, -1, 0, 2000, O::Retry, true},
        {"plain GET past a size stated too small, answer cut", false, true, false, 200, 8000, -1, 4999, 0, 6000, O::Retry, true},
        {"plain GET whole past a size stated too small", false, true, false, 200, 8000, -1, 4999, 0, 8000, O::Done, false},
    };
    for (const Case& c : cases) {
        AttemptFacts f;
        f.result = HttpResult::Ok;
        f.useRange = c.useRange;
        f.acceptFull = c.acceptFull;
        f.rangeIgnored = c.rangeIgnored;
        f.status = c.status;
        f.contentLength = c.contentLength;
        f.totalSize = c.totalSize;
        f.hasContentRange = c.status == 206;
        f.end = c.end;
        f.attemptStart = c.attemptStart;
        f.position = c.position;
        f.hasFinalUrl = true;
        const AttemptVerdict v = decideAttempt(f);
        EXPECT_EQ(v.outcome, c.outcome) << c.what;
        EXPECT_EQ(v.rewind, c.rewind) << c.what;
        EXPECT_TRUE(v.noteFinalUrl) << c.what;
    }
}

TEST(DownloadDecision, OnlySuccessfulAnswersBelow400NoteTheirUrl) {
    AttemptFacts f = ranged(HttpResult::Ok, 206);
    f.hasFinalUrl = false;
    EXPECT_FALSE(decideAttempt(f).noteFinalUrl);
    f = ranged(HttpResult::Ok, 302);  // a redirect without Location is final
    EXPECT_TRUE(decideAttempt(f).noteFinalUrl);
    f.status = 400;
    EXPECT_FALSE(decideAttempt(f).noteFinalUrl);
}

}  // namespace
