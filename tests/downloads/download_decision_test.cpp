#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/text_convert.h"
#include "downloads/connection_slots.h"
#include "downloads/download_decision.h"
#include "downloads/download_sources.h"
#include "downloads/segment_plan.h"
#include "downloads/speed_limit.h"
#include "support/test_support.h"

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
        {"206 to the probe's end of a larger file", true, true, false, 206, 4000, 9000, 4999, 1000, 5000, O::Continue, false},
        {"206 whole, total unknown", true, true, false, 206, 2000, -1, 4999, 1000, 3000, O::Done, false},
        {"206 without a known end", true, true, false, 206, -1, -1, -1, 0, 10, O::Done, false},
        {"206 for a part, short", true, false, false, 206, 4000, 5000, 4999, 1000, 3000, O::Retry, false},
        {"206 for a part, done", true, false, false, 206, 4000, 5000, 4999, 1000, 5000, O::Done, false},
        // A server may answer a range with fewer bytes than asked; a whole answer is no failed attempt.
        {"206 for a part, whole but short of its end", true, false, false, 206, 2000, 5000, 4999, 1000, 3000, O::Continue, false},
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
        // A segment keeps what it wrote when a later answer ignores its range: those bytes came with
        // the right Content-Range.
        {"segment, range ignored", true, false, true, 200, 5000, -1, 4999, 3000, 3000, O::Retry, false},
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

TEST(DownloadDecision, ASegmentStoppedAtItsEndIsDoneAndKeepsItsBytes) {
    // A steal moved the segment's end; the sink stopped the body there, which aborts the request.
    AttemptFacts f = ranged(HttpResult::Aborted, 206);
    f.acceptFull = false;
    f.position = 3000;
    f.end = 2999;
    f.stoppedAtEnd = true;
    EXPECT_EQ(decideAttempt(f).outcome, O::Done);
    EXPECT_FALSE(decideAttempt(f).rewind);
    f.stoppedAtEnd = false;
    EXPECT_EQ(decideAttempt(f).outcome, O::Retry);
    // A range ignored by an answer that then failed: a segment keeps its place, one whole-file
    // connection starts over from 0.
    f.rangeIgnored = true;
    EXPECT_FALSE(decideAttempt(f).rewind);
    f.acceptFull = true;
    EXPECT_TRUE(decideAttempt(f).rewind);
    f.cancelled = true;
    f.stoppedAtEnd = true;
    EXPECT_EQ(decideAttempt(f).outcome, O::Fail);  // a cancel still comes first
}

std::string describe(const std::vector<Segment>& segments) {
    std::string out;
    for (const Segment& s : segments)
        out += std::to_string(s.start) + "-" + std::to_string(s.end) + "/" + std::to_string(s.written) + " ";
    return out;
}

TEST(SegmentPlan, SplitsIntoNearEqualRangesThatCoverTheFile) {
    struct Case {
        int64_t size;
        int count;
        const char* expected;
    };
    const Case cases[] = {
        {8388731, 4, "0-2097182/0 2097183-4194365/0 4194366-6291548/0 6291549-8388730/0 "},
        {10, 4, "0-2/0 3-5/0 6-7/0 8-9/0 "},
        {10, 1, "0-9/0 "},
        {3, 8, "0-0/0 1-1/0 2-2/0 "},
        {0, 4, ""},
        {10, 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(planSegments(c.size, c.count)), c.expected) << c.size << "/" << c.count;
}

// Runs a script of the source rules: 'x' a request its source let down, 'c' one failed otherwise, 'b' bytes
// of the connection's source into the file, 'm' a digest mismatch. The trace names the sources, then each
// outcome: the next source (and its wait), or the mismatch's step and the source connections start from.
std::string runSources(DownloadSources& sources, const char* steps) {
    std::string trace;
    for (size_t s = 0; s < sources.count(); ++s) trace += (s ? " " : "") + wideToUtf8(sourceHost(sources.url(int(s))));
    if (*steps) trace += " |";
    SourceCursor cursor = sources.firstCursor();
    int failed = 0;
    for (const char* step = steps; *step; ++step) {
        const auto startAgain = [&](MismatchStep next) {
            cursor = sources.firstCursor();
            trace += next == MismatchStep::Keep ? " keep" : next == MismatchStep::Fail ? " fail" : " again";
            if (next == MismatchStep::DownloadAgain) trace += std::to_string(cursor.source);
        };
        if (*step == 'b') {
            sources.noteBytes(cursor.source);
        } else if (*step == 'm') {
            startAgain(sources.afterMismatch());
        } else if (const SourceMove move = sources.afterFailure(cursor, *step == 'x', ++failed); move.endsAloneRun) {
            trace += " out";
            startAgain(sources.leaveAloneRun());
        } else {
            trace += " " + std::to_string(cursor.source) + (move.waitMs ? "+" + std::to_string(move.waitMs) : "");
        }
    }
    return trace;
}

TEST(DownloadDecision, SourcesAreTheRouteThenMirrorsLeftOnlyWhenTheyLetTheDownloadDown) {
    const char* md5 = "0123456789abcdef0123456789abcdef";
    const std::vector<std::string> listed = {"https://a.example/p", "http://b.example/p", "ftp://c.example/p",
                                             "/relative/p", "https://d.example:8443/p", "http://"};
    const std::vector<std::string> three = {"http://a/p", "http://b/p"};
    struct Case { const char* route; std::vector<std::string> mirrors; const char *md5, *sha256, *steps, *trace; };
    const Case cases[] = {
        // Absolute http(s) mirrors only, and none without a digest; from https, an http mirror needs SHA-256.
        {"https://s/r", listed, "", "", "xb", "s | 0+500"},
        {"https://s/r", listed, md5, "", "", "s a.example d.example:8443"},
        {"https://s/r", listed, "", "ab", "", "s a.example b.example d.example:8443"},
        {"http://s:8080/r", listed, md5, "", "", "s:8080 a.example b.example d.example:8443"},
        // One source keeps a single download's rules: every failure waits and a mismatch keeps the file.
        {"http://s/r", {}, md5, "", "xcxbm", "s | 0+500 0+1000 0+1500 keep"},
        // The next at once; all failed in the round: the first after the wait; other failures stay.
        {"http://s/r", three, md5, "", "xxxcxcx", "s a b | 1 2 0+1500 0+2000 1 1+3000 2"},
        // Bytes of one source that fail the digest: it is never asked again. Mixed bytes: each source that
        // gave some downloads alone, in order, keeping its own waits.
        {"http://s/r", three, md5, "", "xbmxx", "s a b | 1 again0 2 0+1500"},
        {"http://s/r", three, md5, "", "bmbmbm", "s a b | again1 again2 fail"},
        {"http://s/r", three, md5, "", "bxbmcbmbm", "s a b | 1 again0 0+1000 again1 fail"},
        {"http://s/r", three, md5, "", "xbxbmbm", "s a b | 1 2 again1 again2"},
        // A source downloading alone that lets its run down gives way to the next, never to come back.
        {"http://s/r", three, md5, "", "bxbmxx", "s a b | 1 again0 out again1 out fail"},
    };
    for (const Case& c : cases) {
        DownloadSources sources(c.route, c.mirrors, c.md5, c.sha256);
        EXPECT_EQ(runSources(sources, c.steps), c.trace) << c.route << " " << c.steps;
    }
    // What leaves a source: a refusal, no answer, a redirect no request follows, silence whatever the read
    // said, 5xx and 404.
    EXPECT_TRUE(sourceLetDown(HttpResult::SendFailed, 0, false) && sourceLetDown(HttpResult::Ok, 206, true) &&
                sourceLetDown(HttpResult::RedirectFailed, 302, false));
    EXPECT_FALSE(sourceLetDown(HttpResult::ReadFailed, 206, false));
    for (int32_t status : {500, 599, 404}) EXPECT_TRUE(sourceLetDown(HttpResult::HttpError, status, false)) << status;
    for (int32_t status : {403, 408, 410, 429}) EXPECT_FALSE(sourceLetDown(HttpResult::HttpError, status, false)) << status;
}

TEST(SegmentPlan, FinishedConnectionsTakeFreeRangesThenHalfOfTheLargestUnstartedOne) {
    struct Case {
        const char* what;
        std::vector<Segment> segments;
        std::vector<SegmentClaim> claims;
        int worker;
        bool assigned;
        size_t taken;
        const char* after;
    };
    const int64_t steal = 100;
    const Case cases[] = {
        {"a free range first, even a smaller one", {{0, 999, 0}, {1000, 1099, 50}}, {{0, 0}, {-1, 1050}}, 1, true, 1,
         "0-999/0 1000-1099/50 "},
        {"the free range with the most left", {{0, 99, 0}, {100, 399, 0}, {400, 599, 0}}, {{-1, 0}, {-1, 100}, {-1, 400}},
         0, true, 1, "0-99/0 100-399/0 400-599/0 "},
        {"the upper half of what nobody writes yet", {{0, 999, 150}, {1000, 1999, 1000}}, {{0, 200}, {1, 2000}}, 1, true,
         2, "0-599/150 1000-1999/1000 600-999/0 "},
        {"the odd byte stays with the owner", {{0, 1000, 0}, {1001, 1001, 1}}, {{0, 200}, {1, 1002}}, 1, true, 2,
         "0-600/0 1001-1001/1 601-1000/0 "},
        {"the largest of several owned ranges", {{0, 999, 0}, {1000, 2999, 0}}, {{0, 900}, {1, 1100}}, 2, true, 2,
         "0-999/0 1000-2049/0 2050-2999/0 "},
        {"too little left to be worth a request", {{0, 999, 850}, {1000, 1999, 1000}}, {{0, 901}, {1, 2000}}, 1, false, 0,
         "0-999/850 1000-1999/1000 "},
        {"never from the asking worker itself", {{0, 999, 0}}, {{0, 0}}, 0, false, 0, "0-999/0 "},
        {"finished ranges are nobody's work", {{0, 99, 100}, {100, 199, 100}}, {{-1, 100}, {-1, 200}}, 0, false, 0,
         "0-99/100 100-199/100 "},
    };
    for (const Case& c : cases) {
        std::vector<Segment> segments = c.segments;
        std::vector<SegmentClaim> claims = c.claims;
        size_t taken = 99;
        EXPECT_EQ(assignWork(segments, claims, c.worker, steal, taken), c.assigned) << c.what;
        EXPECT_EQ(describe(segments), c.after) << c.what;
        ASSERT_EQ(claims.size(), segments.size()) << c.what;
        if (!c.assigned) continue;
        EXPECT_EQ(taken, c.taken) << c.what;
        EXPECT_EQ(claims[taken].owner, c.worker) << c.what;
    }
}

TEST(SegmentPlan, AGivenUpRangeGoesOnFromItsWrittenBytes) {
    std::vector<Segment> segments = planSegments(2000, 2);
    std::vector<SegmentClaim> claims = claimsFor(segments);
    size_t first = 9, second = 9;
    ASSERT_TRUE(assignWork(segments, claims, 0, 100, first));
    ASSERT_TRUE(assignWork(segments, claims, 1, 100, second));
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 1u);
    // Worker 1 wrote 300 bytes, had started 100 more, then gave up; worker 0 finished its range.
    segments[1].written = 300;
    claims[1].next = 1400;
    segments[0].written = 1000;
    claims[0].next = 1000;
    // Worker 0 has nothing to take but waits for what worker 1 may give up; nobody waits for itself.
    EXPECT_TRUE(workMayComeBack(segments, claims, 0));
    EXPECT_FALSE(workMayComeBack(segments, claims, 1));
    giveBack(segments, claims, 1);
    EXPECT_EQ(claims[1].owner, -1);
    EXPECT_EQ(claims[1].next, 1300);
    size_t taken = 9;
    ASSERT_TRUE(assignWork(segments, claims, 0, 100, taken));
    EXPECT_EQ(taken, 1u);
    EXPECT_EQ(describe(segments), "0-999/1000 1000-1999/300 ");
    EXPECT_FALSE(allSegmentsDone(segments));
    EXPECT_EQ(writtenBytes(segments), 1300);
    segments[1].written = 1000;
    EXPECT_TRUE(allSegmentsDone(segments));
    EXPECT_FALSE(workMayComeBack(segments, claims, 1));
    EXPECT_TRUE(claimsFor(segments)[1].owner == -1 && claimsFor(segments)[1].next == 2000);

    // A range given up while another is still filled is free at once: no waiting for the other.
    std::vector<Segment> three = planSegments(3000, 3);
    std::vector<SegmentClaim> owned = claimsFor(three);
    for (int worker = 0; worker < 3; ++worker) ASSERT_TRUE(assignWork(three, owned, worker, 100, taken));
    three[0].written = 1000;
    EXPECT_TRUE(workMayComeBack(three, owned, 0));
    giveBack(three, owned, 1);
    EXPECT_FALSE(workMayComeBack(three, owned, 0));
}

TEST(ConnectionSlots, AFreedSlotGoesToTheTaskHoldingFewest) {
    int a = 0, b = 0, c = 0;
    SlotQueue queue(3);
    for (const void* owner : {static_cast<const void*>(&a), static_cast<const void*>(&a), static_cast<const void*>(&b)}) {
        const uint64_t ticket = queue.enqueue(owner);
        ASSERT_TRUE(queue.mayTake(ticket));
        queue.take(ticket);
    }
    const uint64_t aThird = queue.enqueue(&a);
    const uint64_t bSecond = queue.enqueue(&b);
    const uint64_t cFirst = queue.enqueue(&c);
    const uint64_t cSecond = queue.enqueue(&c);
    const uint64_t all[] = {aThird, bSecond, cFirst, cSecond};
    for (uint64_t ticket : all) EXPECT_FALSE(queue.mayTake(ticket));  // all three slots are in use

    // A new task's first connection before anyone's next one; then whoever holds fewest, the earlier
    // waiter among equals.
    const struct {
        const void* releaser;
        uint64_t taker;
        const char* who;
    } steps[] = {{&a, cFirst, "c's first"}, {&b, bSecond, "b's second, b holding none"},
                 {&c, cSecond, "c's second before a's third"}, {&b, aThird, "a's third"}};
    for (const auto& step : steps) {
        queue.release(step.releaser);
        for (uint64_t ticket : all) {
            if (ticket == step.taker) continue;
            EXPECT_FALSE(queue.mayTake(ticket)) << step.who;
        }
        ASSERT_TRUE(queue.mayTake(step.taker)) << step.who;
        queue.take(step.taker);
        EXPECT_EQ(queue.inUse(), 3) << step.who;
    }
    EXPECT_EQ(queue.heldBy(&a), 2);
    EXPECT_EQ(queue.heldBy(&b), 0);
    EXPECT_EQ(queue.heldBy(&c), 1);

    // Every slot in use and b waits with none: one request of a, which holds two more, ends early for
    // it; no second one ends for the same waiter, and none of c, which holds only one more.
    const uint64_t bAgain = queue.enqueue(&b);
    EXPECT_FALSE(queue.yieldFor(&c));
    EXPECT_TRUE(queue.yieldFor(&a));
    EXPECT_FALSE(queue.yieldFor(&a));
    EXPECT_FALSE(queue.yieldFor(&c));
    queue.release(&a, true);
    ASSERT_TRUE(queue.mayTake(bAgain));
    queue.take(bAgain);
    EXPECT_EQ(queue.heldBy(&a), 1);
    EXPECT_FALSE(queue.yieldFor(&a));
}

}  // namespace

TEST(SpeedLimit, TheBucketHoldsAQuarterSecondAndEveryReadPaysItsBytesBack) {
    TokenBucket bucket;
    bucket.setRate(1000, 0);  // 250 bytes of burst
    const struct {
        int64_t nowUs, bytes, waitUs;
        const char* why;
    } steps[] = {
        {0, 250, 0, "the burst"},
        {0, 100, 100000, "a read beyond it waits its own bytes' time"},
        {50000, 100, 150000, "the next read waits behind the debt"},
        {10000000, 500, 250000, "an idle bucket fills to its burst only"},
        {10250000, 0, 0, "the debt is paid"},
        {10250999, 1, 1000, "the fraction of a byte earned stays on account"},
        {10251000, 1, 1000, ""},
    };
    for (const auto& step : steps) EXPECT_EQ(bucket.take(step.bytes, step.nowUs), step.waitUs) << step.why;
    bucket.setRate(0, 10251000);
    EXPECT_EQ(bucket.take(int64_t{1} << 40, 10251000), 0);  // no cap

    // A waiting reader goes on as soon as the cap changes or its download stops.
    SpeedLimit limit;
    limit.setBytesPerSecond(1);
    std::atomic<int> done{0};
    std::thread lifted([&] { done += limit.admit(1000000, nullptr) ? 1 : 100; });
    std::atomic<bool> stop{false};
    std::thread stopped([&] { done += limit.admit(1000000, [&] { return stop.load(); }) ? 100 : 10; });
    EXPECT_FALSE(qbtest::waitUntil([&] { return done.load() != 0; }, 300));  // both wait, for days
    stop = true;
    stopped.join();
    EXPECT_EQ(done.load(), 10);
    limit.setBytesPerSecond(0);
    lifted.join();
    EXPECT_EQ(done.load(), 11);
}
