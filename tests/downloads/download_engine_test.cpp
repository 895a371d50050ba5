#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "base/window_messages.h"
#include "support/download_fixture.h"
#include "base/text_convert.h"
#include "downloads/download_directory.h"
#include "support/test_support.h"
#include "support/trickle_server.h"

namespace {

const int64_t kSmallSize = 100 * 1024;                 // app 1
const int64_t kBigSize = 8 * 1024 * 1024 + 123;        // app 2
const std::string kBigRange = "bytes=0-" + std::to_string(kBigSize - 1);

std::vector<uint32_t> millisecondsOf(const std::vector<RecordedWait>& waits, WaitReason reason) {
    std::vector<uint32_t> out;
    for (const auto& w : waits)
        if (w.reason == reason) out.push_back(w.milliseconds);
    return out;
}

using qbtest::ServiceControl;
bool posted(const std::vector<PostedMessage>& messages, UINT message) {
    for (const auto& m : messages)
        if (m.message == message) return true;
    return false;
}

// The job's last words: a refresh, then the given message with its news of the task.
void expectEndsWith(const std::vector<PostedMessage>& messages, UINT last, WPARAM news) {
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], (PostedMessage{WM_QB_REFRESH, 0}));
    EXPECT_EQ(messages.back(), (PostedMessage{last, news}));
}

class DownloadEngine : public DownloadTest {
protected:
    // The big package came whole: finished with its digest checked, each byte counted once and in place.
    void expectBigPackageWhole() {
        EXPECT_EQ(task(2).state, Completed);
        EXPECT_TRUE(task(2).md5Ok);
        EXPECT_EQ(task(2).receivedBytes, kBigSize);
        EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == packageBytes(2));
    }
};

TEST_F(DownloadEngine, PlainDownloadWithRangeSupport) {
    start(1, packageMd5(1), 12345);
    ASSERT_TRUE(finish(1));
    const TaskSnapshot t = task(1);
    EXPECT_EQ(t.state, Completed);
    EXPECT_TRUE(t.md5Ok);
    EXPECT_FALSE(t.isArchive);
    EXPECT_EQ(t.size, kSmallSize);  // the server's size replaces the catalogue's
    EXPECT_EQ(t.receivedBytes, kSmallSize);
    EXPECT_EQ(t.retryCount, 0);
    EXPECT_EQ(t.speed, 0u);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"small-setup.exe"});
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", "bytes=0-102399"}));
    EXPECT_TRUE(waits().empty());
    const auto posts = messages();
    expectEndsWith(posts, WM_QB_DOWNLOAD_DONE, news(1));
    EXPECT_FALSE(posted(posts, WM_QB_DOWNLOAD_FAILED));
}

TEST_F(DownloadEngine, PlainDownloadWithoutRangeSupport) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{"ignoreRange": true, "repeat": -1}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_EQ(task(1).size, kSmallSize);  // from Content-Length
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    // After a probe answered 200 the transfer is a plain GET.
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", ""}));
}

TEST_F(DownloadEngine, DropResumesWithARangeFromTheLastByte) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"dropAfter": 3000000}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_EQ(task(2).retryCount, 0);
    EXPECT_EQ(task(2).receivedBytes, kBigSize);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    EXPECT_EQ(fileRanges(2),
              (std::vector<std::string>{"bytes=0-0", kBigRange, "bytes=3000000-" + std::to_string(kBigSize - 1)}));
    const auto w = waits();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].milliseconds, 500u);
    EXPECT_EQ(w[0].retryCount, 1);
    EXPECT_EQ(w[0].receivedBytes, 3000000);
}

// The first answer came with another total than the resumed one: the file was replaced in between, so the
// resumed bytes are never written after the first ones; the file starts over, and ends where the server's ends.
TEST_F(DownloadEngine, AResumedRangeOfAnotherTotalStartsTheFileOver) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"dropAfter": 3000000, "headers": {"Content-Range":
                                            "bytes 0-8388730/9000000"}}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    EXPECT_EQ(fileRanges(2), (std::vector<std::string>{"bytes=0-0", kBigRange, "bytes=3000000-8999999",
                                                       "bytes=0-8999999"}));
}

TEST_F(DownloadEngine, DropWithoutRangeSupportStartsOverAndCorrectsProgress) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{"ignoreRange": true}, {"ignoreRange": true, "dropAfter": 3000000},
                                            {"ignoreRange": true}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    EXPECT_EQ(fileRanges(2), (std::vector<std::string>{"bytes=0-0", "", ""}));
    const auto w = waits();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].receivedBytes, 0);  // the 3000000 dropped bytes no longer count
    EXPECT_EQ(task(2).receivedBytes, kBigSize);
}

TEST_F(DownloadEngine, FullAnswerToARangeIsWrittenOnlyAtOffsetZero) {
    // At offset 0 a 200 with the whole file is taken as it is.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"ignoreRange": true}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    const auto first = fileRequests(2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].status, 200);
    EXPECT_TRUE(waits().empty());
}

TEST_F(DownloadEngine, FullAnswerToARangeAboveZeroRewinds) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"dropAfter": 3000000}, {"ignoreRange": true}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    EXPECT_EQ(fileRanges(2), (std::vector<std::string>{"bytes=0-0", kBigRange,
                                                        "bytes=3000000-" + std::to_string(kBigSize - 1), kBigRange}));
    const auto w = waits();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].receivedBytes, 3000000);
    EXPECT_EQ(w[1].receivedBytes, 0);
}

TEST_F(DownloadEngine, FullAnswerOfAnotherLengthIsNeverWritten) {
    // Error pages sent with 200 and a whole-file answer that claims fewer bytes than the file holds
    // are not the file; the retry after each asks for the range again.
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"html": true}, {"body": "<html>busy</html>", "contentType": "text/html"},
                                            {"ignoreRange": true, "contentLength": 40000}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"small-setup.exe")) == packageBytes(1));
    std::vector<int32_t> statuses;
    for (const auto& r : fileRequests(1)) statuses.push_back(r.status);
    EXPECT_EQ(statuses, (std::vector<int32_t>{206, 200, 200, 200, 206}));
    const auto w = waits();
    EXPECT_EQ(millisecondsOf(w, WaitReason::Retry), (std::vector<uint32_t>{500, 1000, 1500}));
    for (const auto& wait : w) EXPECT_EQ(wait.receivedBytes, 0);
}

TEST_F(DownloadEngine, PlainGetCutShortIsRetriedWhenTheSizeIsUnknownOrStatedTooSmall) {
    // A probe that ignores Range and states too small a size, then a transfer cut past that size.
    ASSERT_TRUE(service.addAppFaults(1, R"([{"ignoreRange": true, "contentLength": 50000}, {"dropAfter": 70000}])"));
    // A probe answered from a wrong offset and no catalogue size: nothing but Content-Length tells.
    ASSERT_TRUE(service.addAppFaults(4, R"([{"rangeStart": 5}, {"resetAfter": 30000}])"));
    start(1, packageMd5(1));
    start(4, packageMd5(4));
    ASSERT_TRUE(finish(1));
    ASSERT_TRUE(finish(4));
    for (int32_t app : {1, 4}) {
        EXPECT_EQ(task(app).state, Completed) << app;
        EXPECT_TRUE(task(app).md5Ok) << app;
        EXPECT_EQ(fileRanges(app), (std::vector<std::string>{"bytes=0-0", "", ""})) << app;
    }
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"small-setup.exe")) == packageBytes(1));
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"setup.exe")) == packageBytes(4));
    const auto w = waits();
    ASSERT_EQ(w.size(), 2u);
    for (const auto& wait : w) EXPECT_EQ(wait.receivedBytes, 0) << wait.appId;  // the cut bytes no longer count
}

TEST_F(DownloadEngine, PartialAnswerStartingElsewhereIsNeverWrittenAtTheAskedOffset) {
    // Asked for 3000000-, the server answers 206 from 1000000: writing it at 3000000 would corrupt the file.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"dropAfter": 3000000}, {"rangeStart": 1000000}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"big-setup.exe")), packageBytes(2));
    const auto requests = fileRequests(2);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].range, kBigRange);
    const auto w = waits();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1].receivedBytes, 0);

    // A probe answered from the wrong offset: ranges are not trusted and the file comes in one GET.
    ASSERT_TRUE(service.addAppFaults(1, R"([{"rangeStart": 5}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", ""}));
}

TEST_F(DownloadEngine, ShortPartialAnswerIsFollowedByARequestForTheRest) {
    // Asked for the whole file, the server sends a complete answer for its first 40000 bytes only;
    // its Content-Range says the file goes on, so the rest is asked for at once.
    const std::string head = packageBytes(1).substr(0, 40000);
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 206, "contentType": "application/octet-stream", "bodyBase64": ")" +
                                            ServiceControl::base64(head) + R"(", "headers": {"Content-Range": "bytes 0-39999/102400"}}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", "bytes=0-102399", "bytes=40000-102399"}));
    EXPECT_TRUE(waits().empty());  // not a failed attempt
}

TEST_F(DownloadEngine, SizeOverstatedByTheProbeLeavesNoPaddedTail) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{"headers": {"Content-Range": "bytes 0-0/200000"}}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_EQ(task(1).size, kSmallSize);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", "bytes=0-199999"}));
}

TEST_F(DownloadEngine, ServerErrorsAreRetriedAndTheirBodiesNeverWritten) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 500, "bodySize": 5000}, {"status": 503, "bodySize": 70000},
                                            {"status": 429}, {"status": 408, "bodySize": 1000}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    std::vector<int32_t> statuses;
    for (const auto& r : fileRequests(1)) statuses.push_back(r.status);
    EXPECT_EQ(statuses, (std::vector<int32_t>{206, 500, 503, 429, 408, 206}));
    const auto w = waits();
    EXPECT_EQ(millisecondsOf(w, WaitReason::Retry), (std::vector<uint32_t>{500, 1000, 1500, 2000}));
    for (size_t i = 0; i < w.size(); ++i) {
        EXPECT_EQ(w[i].retryCount, static_cast<int32_t>(i + 1));
        EXPECT_EQ(w[i].receivedBytes, 0);
    }
    EXPECT_EQ(task(1).retryCount, 0);
}

TEST_F(DownloadEngine, ARefusingRouteAndASilentMirrorAreLeftForTheNextSourceAtOnce) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"stallAfter": 40000, "stallMs": 20000}])"));
    manager().setStallTimeout(1000);
    DownloadIdentity package{L"镜像", "http://127.0.0.1:1/closed", packageMd5(1)};
    package.mirrors = {downloadUrl(1), downloadUrl(1) + "&second"};
    manager().startDownload(1, package);
    ASSERT_TRUE(finish(1));
    manager().setStallTimeout(kSourceStallMs);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    EXPECT_EQ(fileRanges(1), (std::vector<std::string>{"bytes=0-0", "bytes=0-102399", "bytes=40000-102399"}));
    EXPECT_TRUE(waits().empty());
}

TEST_F(DownloadEngine, ExpiredRedirectTargetSendsTheNextAttemptBackToTheDownloadUrl) {
    ASSERT_TRUE(service.expireTargets(1, 1));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe")), packageBytes(1));
    std::vector<std::pair<std::string, int32_t>> trail;
    for (const auto& r : service.requests()) trail.emplace_back(r.path, r.status);
    const std::string download = "/api/client/download/1?channel=test";
    const std::string file = "/files/1/small-setup.exe?ticket=";
    EXPECT_EQ(trail, (std::vector<std::pair<std::string, int32_t>>{
                         {download, 302}, {file + "1", 206},  // the probe uses the first ticket
                         {file + "1", 403},                    // the cached target has expired
                         {download, 302}, {file + "2", 206}}));
    EXPECT_EQ(millisecondsOf(waits(), WaitReason::Retry), std::vector<uint32_t>{500});
}

TEST_F(DownloadEngine, ALinkThatFailedTwiceIsLeftForAFreshOne) {
    // Links serve one request each. A fresh link answers 410 once; asked for again it has expired:
    // the next attempt must fetch a new link instead of retrying the dead one until the attempts run out.
    ASSERT_TRUE(service.expireTargets(1, 1));
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 500}, {}, {"status": 410}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"small-setup.exe")) == packageBytes(1));
    std::vector<std::pair<std::string, int32_t>> trail;
    for (const auto& r : service.requests()) trail.emplace_back(r.path, r.status);
    const std::string download = "/api/client/download/1?channel=test";
    const std::string file = "/files/1/small-setup.exe?ticket=";
    EXPECT_EQ(trail, (std::vector<std::pair<std::string, int32_t>>{
                         {download, 302}, {file + "1", 206},                    // the probe
                         {file + "1", 500}, {file + "1", 403},                  // the cached link expires
                         {download, 302}, {file + "2", 410}, {file + "2", 403},  // the fresh one fails twice
                         {download, 302}, {file + "3", 206}}));
}

TEST_F(DownloadEngine, ThirteenFailedAttemptsEndInServiceTrouble) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503, "repeat": 13}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    const TaskSnapshot t = task(1);
    EXPECT_EQ(t.state, Failed);
    EXPECT_EQ(downloadFaultText(t), ServiceTroubleMessage);
    EXPECT_EQ(fileRequests(1).size(), 14u);  // the probe and 13 attempts
    const auto w = waits();
    EXPECT_EQ(millisecondsOf(w, WaitReason::Retry),
              (std::vector<uint32_t>{500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4000, 4000, 4000, 4000}));
    std::vector<int32_t> counts;
    for (const auto& wait : w) counts.push_back(wait.retryCount);
    EXPECT_EQ(counts, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    expectEndsWith(messages(), WM_QB_DOWNLOAD_FAILED, news(1));
}

TEST_F(DownloadEngine, ProbesAreRetriedFiveTimes) {
    ASSERT_TRUE(service.addPathFaults("/api/client/download/1", R"([{"status": 502, "body": "", "repeat": 4}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(millisecondsOf(waits(), WaitReason::Probe), (std::vector<uint32_t>{500, 500, 500, 500}));

    ASSERT_TRUE(service.reset());
    ASSERT_TRUE(service.addPathFaults("/api/client/download/2", R"([{"status": 502, "body": "", "repeat": 5}])"));
    start(2);
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Failed);
    EXPECT_EQ(downloadFaultText(task(2)), ServiceTroubleMessage);
    EXPECT_TRUE(fileRequests(2).empty());
}

TEST_F(DownloadEngine, ProbeErrorsWithABodyAreFailedProbes) {
    // The probe stops reading at the first body byte, which must not turn an error page into a probe
    // that got through.
    ASSERT_TRUE(service.addAppFaults(4, R"([{"status": 503}, {"status": 404, "html": true},
                                            {"status": 500, "bodySize": 70000}, {"status": 429}])"));
    start(4, packageMd5(4));
    ASSERT_TRUE(finish(4));
    EXPECT_EQ(task(4).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"setup.exe")), packageBytes(4));
    EXPECT_EQ(millisecondsOf(waits(), WaitReason::Probe), (std::vector<uint32_t>{500, 500, 500, 500}));
    const std::string range = "bytes=0-" + std::to_string(packageBytes(4).size() - 1);
    EXPECT_EQ(fileRanges(4), (std::vector<std::string>{"bytes=0-0", "bytes=0-0", "bytes=0-0", "bytes=0-0",
                                                        "bytes=0-0", range}));

    ASSERT_TRUE(service.addAppFaults(5, R"([{"status": 502, "repeat": 5}])"));
    start(5, packageMd5(5));
    ASSERT_TRUE(finish(5));
    EXPECT_EQ(task(5).state, Failed);
    EXPECT_EQ(downloadFaultText(task(5)), ServiceTroubleMessage);
    EXPECT_EQ(fileRanges(5), std::vector<std::string>(5, "bytes=0-0"));
}

TEST_F(DownloadEngine, HtmlPageAnsweringTheProbeFails) {
    ASSERT_TRUE(service.addPathFaults("/api/client/download/1", R"([{"html": true}])"));
    start(1);
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(downloadFaultText(task(1)), ServiceTroubleMessage);
    EXPECT_TRUE(folderFiles().empty());
    expectEndsWith(messages(), WM_QB_DOWNLOAD_FAILED, news(1));
}

TEST_F(DownloadEngine, ContentThatIsNeitherInstallerNorArchiveFailsAndIsDeleted) {
    start(6);
    ASSERT_TRUE(finish(6));
    EXPECT_EQ(task(6).state, Failed);
    EXPECT_EQ(downloadFaultText(task(6)), ServiceTroubleMessage);
    EXPECT_TRUE(folderFiles().empty());
    expectEndsWith(messages(), WM_QB_DOWNLOAD_FAILED, news(6));
}

TEST_F(DownloadEngine, ArchivesAreNamedByTheirContent) {
    start(9, packageMd5(9));  // served as bundle.zip, but a rar archive
    start(3, packageMd5(3));
    start(8, packageMd5(8));
    ASSERT_TRUE(finish(9));
    ASSERT_TRUE(finish(3));
    ASSERT_TRUE(finish(8));
    for (int32_t app : {3, 8, 9}) {
        EXPECT_EQ(task(app).state, Completed) << app;
        EXPECT_TRUE(task(app).isArchive) << app;
        EXPECT_FALSE(manager().install(app)) << app;
        EXPECT_EQ(task(app).state, Completed) << app;
    }
    EXPECT_EQ(folderFiles(), (std::vector<std::wstring>{L"bundle.rar", L"portable.zip", L"tools.7z"}));
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"bundle.rar")), packageBytes(9));
}

TEST_F(DownloadEngine, DigestMismatchCompletesButBlocksInstallation) {
    std::string upper = packageMd5(1);
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const std::string& expected : {std::string(32, '0'), upper}) {
        SCOPED_TRACE(expected);
        start(1, expected);
        ASSERT_TRUE(finish(1));
        EXPECT_EQ(task(1).state, Completed);
        EXPECT_FALSE(task(1).md5Ok);
        EXPECT_FALSE(manager().install(1));
        EXPECT_EQ(task(1).state, Completed);
        manager().clearFinished();
        ::DeleteFileW(downloaded(L"small-setup.exe").c_str());
    }
}

TEST_F(DownloadEngine, EveryDigestGivenIsChecked) {
    const std::string md5 = packageMd5(1);
    const std::string sha = packageSha256(1);
    const std::string wrongSha = std::string(64, 'a');
    struct Case {
        std::string md5, sha256;
        bool ok, unverified;
    };
    ShellActions actions;
    actions.startInstaller = [](const std::shared_ptr<Task>& t) {
        t->state.store(Installed);
        return true;
    };
    manager().setShellActions(actions);
    const Case cases[] = {
        {md5, sha, true, false},       {"", sha, true, false},          {md5, "", true, false},
        {md5, wrongSha, false, false}, {"", wrongSha, false, false},    {std::string(32, '0'), sha, false, false},
        {"", sha.substr(0, 63), false, false}, {"", "", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.md5 + " / " + c.sha256);
        start(1, c.md5, 0, c.sha256);
        ASSERT_TRUE(finish(1));
        EXPECT_EQ(task(1).state, Completed);
        EXPECT_EQ(task(1).md5Ok, c.ok);
        EXPECT_EQ(task(1).unverified, c.unverified);
        EXPECT_EQ(manager().install(1), c.ok);
        manager().clearFinished();
        for (const std::wstring& name : folderFiles()) ::DeleteFileW(downloaded(name).c_str());
    }
}

TEST_F(DownloadEngine, ThePartialFileIsHeldForThisTaskAlone) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(1, packageMd5(1));
    ASSERT_TRUE(waitUntilHeld());
    // Others may read it, but not write, move or delete it while the job holds it.
    const std::wstring part = downloaded(L"small-setup.exe.part");
    const DWORD anySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    qb::UniqueHandle writer(::CreateFileW(part.c_str(), GENERIC_WRITE, anySharing, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_FALSE(::DeleteFileW(part.c_str()));
    EXPECT_FALSE(::MoveFileW(part.c_str(), downloaded(L"moved.part").c_str()));
    qb::UniqueHandle reader(::CreateFileW(part.c_str(), GENERIC_READ, anySharing, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader.valid());
    reader.reset();
    letGo();
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_TRUE(task(1).md5Ok);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"small-setup.exe"});
}

TEST_F(DownloadEngine, FilesThatAreNotThisTasksAreNeverOpenedOrReplaced) {
    // Someone else's partial file under the name the package asks for.
    qbtest::writeFileBytes(downloaded(L"small-setup.exe.part"), "not ours");
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup.exe.part")), "not ours");
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"small-setup (2).exe")), packageBytes(1));

    // A file that appears under the final name while the package downloads.
    ASSERT_TRUE(service.addAppFaults(4, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(4, packageMd5(4));
    ASSERT_TRUE(waitUntilHeld());
    qbtest::writeFileBytes(downloaded(L"setup.exe"), "planted");
    letGo();
    ASSERT_TRUE(finish(4));
    EXPECT_EQ(task(4).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"setup.exe")), "planted");
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"setup (2).exe")), packageBytes(4));

    // A partial file that appears under the reserved name while the probe is out (a package the
    // service gives no name keeps the app's name, reserved when the download starts).
    const std::string program = "MZ" + std::string(4000, 'p');
    const std::string body = ServiceControl::base64(program);
    ASSERT_TRUE(service.addPathFaults("/api/client/download/8", R"([{"delayMs": 1500, "bodyBase64": ")" + body +
                                                                     R"("}, {"bodyBase64": ")" + body + R"("}])"));
    start(8);  // the name is reserved before this returns; the partial file waits for the probe's answer
    qbtest::writeFileBytes(downloaded(L"应用8.exe.part"), "not ours either");
    ASSERT_TRUE(finish(8));
    EXPECT_EQ(task(8).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"应用8.exe.part")), "not ours either");
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"应用8 (2).exe")), program);
}

TEST_F(DownloadEngine, TheFinalNameFollowsTheContent) {
    struct Case {
        int32_t app;
        const char* disposition;
        const wchar_t* saved;
    };
    const Case cases[] = {
        {1, "attachment; filename=\\\"version.dll\\\"", L"version.exe"},
        {1, "attachment; filename=x.scr", L"x.exe"},
        {1, "attachment; filename=x.cpl", L"x.exe"},
        {1, "attachment; filename=x.com", L"x.exe"},
        {1, "attachment; filename=x.bat", L"x.exe"},
        {1, "attachment; filename*=UTF-8''report%E2%80%AEexe.pdf", L"reportexe.exe"},
        {7, "attachment; filename=product.exe", L"product.msi"},
        {3, "attachment; filename=portable.exe", L"portable.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disposition);
        ASSERT_TRUE(service.addAppFaults(c.app, std::string(R"([{"headers": {"Content-Disposition": ")") +
                                                    c.disposition + R"("}}])"));
        start(c.app, packageMd5(c.app));
        ASSERT_TRUE(finish(c.app));
        EXPECT_EQ(task(c.app).state, Completed);
        EXPECT_EQ(folderFiles(), std::vector<std::wstring>{c.saved});
        EXPECT_EQ(qbtest::readFileBytes(downloaded(c.saved)), packageBytes(c.app));
        manager().clearFinished();
        ::DeleteFileW(downloaded(c.saved).c_str());
    }
}

TEST_F(DownloadEngine, ASizeTheFolderCannotHoldEndsTheTaskBeforeAnyFileIsMade) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{"headers": {"Content-Range": "bytes 0-0/1125899906842624"}}])"));
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(downloadFaultText(task(1)), L"磁盘空间不足");
    EXPECT_TRUE(folderFiles().empty());
    EXPECT_EQ(fileRequests(1).size(), 1u);  // the probe only
    EXPECT_FALSE(posted(messages(), WM_QB_DOWNLOAD_FAILED));
}

TEST_F(DownloadEngine, SignaturesAreCheckedAndABrokenOneBlocksInstallation) {
    std::vector<int32_t> started;
    ShellActions actions;
    actions.startInstaller = [&](const std::shared_ptr<Task>& t) {
        started.push_back(t->appId);
        t->state.store(Installed);
        return true;
    };
    manager().setShellActions(actions);
    for (int32_t app : {1, 11, 12}) start(app, packageMd5(app));
    for (int32_t app : {1, 11, 12}) ASSERT_TRUE(finish(app)) << app;

    EXPECT_EQ(task(1).signature, SignatureUnsigned);
    EXPECT_EQ(task(11).signature, SignatureValid);
    EXPECT_EQ(task(11).publisher, L"Qb Test Publisher");
    EXPECT_EQ(task(12).signature, SignatureBroken);
    EXPECT_TRUE(task(12).md5Ok);  // the catalogue vouched for the bytes; their signature does not hold
    EXPECT_FALSE(manager().install(12));
    EXPECT_EQ(task(12).state, Completed);
    EXPECT_TRUE(manager().install(11));
    EXPECT_EQ(started, std::vector<int32_t>{11});
}

TEST_F(DownloadEngine, FinishedPackagesAreMarkedAsDownloadedFromTheInternet) {
    std::vector<std::pair<std::wstring, std::wstring>> marked;
    ShellActions actions;
    actions.markDownloaded = [&](const std::wstring& path, const std::wstring& source) {
        marked.emplace_back(path, source);
    };
    manager().setShellActions(actions);
    start(1, packageMd5(1));
    ASSERT_TRUE(finish(1));
    start(3, packageMd5(3));
    ASSERT_TRUE(finish(3));
    EXPECT_EQ(marked, (std::vector<std::pair<std::wstring, std::wstring>>{
                          {downloaded(L"small-setup.exe"), utf8ToWide(downloadUrl(1))},
                          {downloaded(L"portable.zip"), utf8ToWide(downloadUrl(3))}}));
}

TEST_F(DownloadEngine, CancelDuringTransferEndsTheJobAtOnce) {
    TrickleServer slow(64LL << 20, 16384, 5);  // about 3 MB/s for 64 MiB
    ASSERT_TRUE(slow.listening());
    manager().startDownload(1, {L"慢速", slow.url()});
    qbtest::waitUntil([&] { return task(1).receivedBytes >= 200000; }, 20000);
    ASSERT_GE(task(1).receivedBytes, 200000);
    messages();
    const auto cancelledAt = std::chrono::steady_clock::now();
    manager().cancel(1);
    ASSERT_TRUE(finish(1, 5000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cancelledAt);
    EXPECT_LT(took.count(), 150);
    const TaskSnapshot t = task(1);
    EXPECT_EQ(t.state, Cancelled);
    EXPECT_LT(t.receivedBytes, 64LL << 20);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{(PostedMessage{WM_QB_REFRESH, 0})});
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"setup.exe.part"});  // kept until cleared
}

TEST_F(DownloadEngine, CancelDuringARetryWaitEndsTheJobWithinATick) {
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(1);
    ASSERT_TRUE(waitUntilHeld());
    messages();
    const auto cancelledAt = std::chrono::steady_clock::now();
    manager().cancel(1);
    ASSERT_TRUE(finish(1, 5000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cancelledAt);
    EXPECT_LT(took.count(), 200);
    EXPECT_EQ(task(1).state, Cancelled);
    EXPECT_EQ(messages(), std::vector<PostedMessage>{(PostedMessage{WM_QB_REFRESH, 0})});
    EXPECT_EQ(fileRequests(1).size(), 2u);
}

TEST_F(DownloadEngine, SevenTasksOfFourConnectionsNeverHaveMoreThanSixteenRequestsInFlight) {
    manager().setConnectionsPerDownload(4);
    SegmentRules rules;
    rules.minimumSize = 1;  // these small packages come in four ranges as well
    manager().setSegmentRules(rules);
    const int32_t apps[] = {1, 2, 3, 4, 5, 7, 8};
    for (int32_t app : apps) ASSERT_TRUE(service.addAppFaults(app, R"([{"delayMs": 400, "repeat": -1}])"));
    for (int32_t app : apps) start(app, packageMd5(app));
    for (int32_t app : apps) ASSERT_TRUE(finish(app)) << app;
    int64_t maxInFlight = -1;
    service.requests(0, &maxInFlight);
    EXPECT_EQ(maxInFlight, 16);
    for (int32_t app : apps) {
        EXPECT_EQ(task(app).state, Completed) << app;
        EXPECT_TRUE(task(app).md5Ok) << app;
        EXPECT_GE(fileRequests(app).size(), 5u) << app;  // the probe and four ranges
    }
    // Both packages are called setup.exe: the one named second gets a number, and neither replaced the other.
    EXPECT_EQ(folderFiles(), (std::vector<std::wstring>{L"big-setup.exe", L"portable.zip", L"product.msi",
                                                        L"setup (2).exe", L"setup.exe", L"small-setup.exe",
                                                        L"tools.7z"}));
    const std::string first = qbtest::readFileBytes(downloaded(L"setup.exe"));
    const std::string second = qbtest::readFileBytes(downloaded(L"setup (2).exe"));
    EXPECT_TRUE((first == packageBytes(4) && second == packageBytes(5)) ||
                (first == packageBytes(5) && second == packageBytes(4)));
}

TEST_F(DownloadEngine, ADownloadStartedWhileFourOthersHoldAllSixteenSlotsGetsItsShareAtOnce) {
    manager().setConnectionsPerDownload(4);
    SegmentRules rules;
    rules.minimumSize = 1;  // these small packages come in four ranges as well
    manager().setSegmentRules(rules);
    // Every range of these four takes about 20 s to arrive.
    const std::pair<int32_t, int> slow[] = {{1, 1280}, {3, 3840}, {4, 2560}, {5, 2688}};
    for (const auto& app : slow)
        ASSERT_TRUE(service.addAppFaults(
            app.first, "[{}, {\"bytesPerSecond\": " + std::to_string(app.second) + ", \"repeat\": -1}]"));
    for (const auto& app : slow) start(app.first, packageMd5(app.first));
    size_t ranges = 0;
    qbtest::waitUntil([&] {
        ranges = 0;
        // A download whose probe has not reached the service yet has no ranges either.
        for (const auto& app : slow) ranges += std::max<size_t>(fileRequests(app.first).size(), 1) - 1;
        return ranges >= 16;
    }, 20000);
    ASSERT_EQ(ranges, 16u);

    // Their requests end early to make room, keeping what they wrote: the newcomer does not wait for them.
    start(7, packageMd5(7));
    ASSERT_TRUE(finish(7));
    EXPECT_EQ(task(7).state, Completed);
    EXPECT_TRUE(task(7).md5Ok);
    for (const auto& app : slow) {
        const TaskSnapshot t = task(app.first);
        EXPECT_EQ(t.state, Downloading) << app.first;
        EXPECT_LT(t.receivedBytes, t.size / 2) << app.first;
    }
    // At full speed now, the four finish from what they had written, no byte lost or counted twice.
    ASSERT_TRUE(service.reset());
    for (const auto& app : slow) {
        ASSERT_TRUE(finish(app.first)) << app.first;
        EXPECT_EQ(task(app.first).state, Completed) << app.first;
        EXPECT_TRUE(task(app.first).md5Ok) << app.first;
        EXPECT_EQ(task(app.first).receivedBytes, task(app.first).size) << app.first;
    }
}

TEST_F(DownloadEngine, FourConnectionsFillTheirRangesOfOneFileByteForByte) {
    manager().setConnectionsPerDownload(4);
    // Paced, so that the four connections certainly run at once.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"bytesPerSecond": 8000000, "repeat": -1}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    const TaskSnapshot t = task(2);
    EXPECT_EQ(t.state, Completed);
    EXPECT_TRUE(t.md5Ok);
    EXPECT_EQ(t.size, kBigSize);
    EXPECT_EQ(t.receivedBytes, kBigSize);  // no byte counted twice
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == packageBytes(2));
    const auto requests = fileRequests(2);
    ASSERT_GE(requests.size(), 5u);
    EXPECT_EQ(requests[0].range, "bytes=0-0");
    std::vector<std::string> first;
    for (size_t i = 1; i < 5; ++i) first.push_back(requests[i].range);
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{"bytes=0-2097182", "bytes=2097183-4194365", "bytes=4194366-6291548",
                                               "bytes=6291549-8388730"}));
    for (size_t i = 1; i < requests.size(); ++i) EXPECT_EQ(requests[i].status, 206) << requests[i].range;
    int64_t maxInFlight = -1;
    service.requests(0, &maxInFlight);
    EXPECT_EQ(maxInFlight, 4);
    EXPECT_TRUE(waits().empty());
}

TEST_F(DownloadEngine, AFinishedConnectionTakesHalfOfWhatASlowOneHasNotReached) {
    manager().setConnectionsPerDownload(2);
    // One of the two first requests is paced to 1 MB/s; the other connection finishes its half at
    // once and then takes the upper half of what the slow one has not reached, as long as that is
    // at least 1 MiB.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {}, {"bytesPerSecond": 1000000}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    // The slow answer went on past its moved end; those bytes must not be written or counted twice.
    expectBigPackageWhole();
    std::vector<std::string> taken;
    for (const auto& r : fileRequests(2))
        if (r.range != "bytes=0-0" && r.range != "bytes=0-4194365" && r.range != "bytes=4194366-8388730")
            taken.push_back(r.range);
    ASSERT_FALSE(taken.empty());
    ASSERT_LE(taken.size(), 2u);  // 4 MiB, then less than 2 MiB, then less than 1 MiB is left to take
    // Each taken range ends where the slow range ended, and the second starts below the first.
    const auto startOf = [](const std::string& range) { return std::stoll(range.substr(6)); };
    const std::string end = taken[0].substr(taken[0].find('-'));
    EXPECT_TRUE(end == "-4194365" || end == "-8388730") << taken[0];
    if (taken.size() == 2) {
        EXPECT_LT(startOf(taken[1]), startOf(taken[0]));
        EXPECT_EQ(taken[1].substr(taken[1].find('-')), "-" + std::to_string(startOf(taken[0]) - 1));
    }
}

TEST_F(DownloadEngine, AConnectionThatKeepsFailingHandsItsRangeOnAndOnlyAllFailingFailsTheTask) {
    manager().setConnectionsPerDownload(2);
    // After the probe one connection's request fails; the other's stalls while the first uses up its
    // 13 attempts on the failures that follow.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503}, {"stallAfter": 65536, "stallMs": 2000},
                                            {"status": 503, "repeat": 13}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    expectBigPackageWhole();
    std::map<std::string, int> failures;
    std::vector<std::string> delivered;
    for (const auto& r : fileRequests(2)) {
        if (r.status == 503) ++failures[r.range];
        if (r.status == 206 && r.range != "bytes=0-0") delivered.push_back(r.range);
    }
    std::sort(delivered.begin(), delivered.end());
    // Each half came whole in one answer: the given-up half from its first byte, on the other connection.
    EXPECT_EQ(delivered, (std::vector<std::string>{"bytes=0-4194365", "bytes=4194366-8388730"}));
    int mostFailures = 0;
    for (const auto& entry : failures) mostFailures = std::max(mostFailures, entry.second);
    EXPECT_GE(mostFailures, 13);

    // Both connections fail all their attempts: the task fails once the second has given up.
    manager().clearFinished();
    ASSERT_TRUE(service.reset());
    ::DeleteFileW(downloaded(L"big-setup.exe").c_str());
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503, "repeat": -1}])"));
    messages();
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Failed);
    EXPECT_EQ(downloadFaultText(task(2)), ServiceTroubleMessage);
    EXPECT_EQ(fileRequests(2).size(), 1u + 2 * 13);
    expectEndsWith(messages(), WM_QB_DOWNLOAD_FAILED, news(2));
}

TEST_F(DownloadEngine, ARangeGivenUpAfterTheOtherConnectionRanOutOfWorkIsStillFetched) {
    manager().setConnectionsPerDownload(2);
    holdRetryWaits(true);
    // After the probe one connection's request fails and it waits to retry; the other fills its half,
    // then takes 2 MiB, 1 MiB and 0.5 MiB of the waiting one's range, which keeps its last 524296
    // bytes: too few to take.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(waitUntilHeld());
    const int64_t kept = 524296;
    qbtest::waitUntil([&] { return task(2).receivedBytes >= kBigSize - kept; }, 20000);
    ASSERT_EQ(task(2).receivedBytes, kBigSize - kept);
    // Now the waiting connection uses up its attempts and gives its range back.
    ASSERT_TRUE(service.addAppFaults(2, R"([{"status": 503, "repeat": 12}])"));
    holdRetryWaits(false);
    letGo();
    ASSERT_TRUE(finish(2));
    expectBigPackageWhole();  // not Completed: the given-up range was left to nobody
}

TEST_F(DownloadEngine, ARangeOfAFileOfAnotherSizeIsNeverWrittenIntoASegment) {
    manager().setConnectionsPerDownload(2);
    SegmentRules rules;
    rules.minimumSize = 1;
    manager().setSegmentRules(rules);
    // The probe saw half the size the file has when its ranges are asked for (it was replaced in
    // between): the answers are parts of another file, and the file planned is never assembled from them.
    ASSERT_TRUE(service.addAppFaults(1, R"([{"headers": {"Content-Range": "bytes 0-0/51200"}}])"));
    start(1);  // no digest: nothing after the transfer would notice
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(downloadFaultText(task(1)), ServiceTroubleMessage);
    EXPECT_EQ(task(1).receivedBytes, 0);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"small-setup.exe.part"});
    std::vector<std::string> ranges = fileRanges(1);
    ASSERT_EQ(ranges.size(), 1u + 2 * 13);
    std::sort(ranges.begin() + 1, ranges.end());
    EXPECT_EQ(ranges[1], "bytes=0-25599");
    EXPECT_EQ(ranges[14], "bytes=25600-51199");
}

TEST_F(DownloadEngine, ASegmentsRangeAnsweredWithTheWholeFileHandsTheFileToOneConnection) {
    manager().setConnectionsPerDownload(2);
    // The probe's range is honoured, every later one ignored (a server that honours only the first
    // bytes, or a mirror behind the same name that has no ranges): retrying a segment cannot help.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"ignoreRange": true, "repeat": -1}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    expectBigPackageWhole();
    const std::vector<qbtest::LoggedRequest> requests = fileRequests(2);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_LE(requests.size(), 4u);  // the probe, one or two segments' requests, the whole file
    EXPECT_EQ(requests.back().range, kBigRange);
    EXPECT_EQ(requests.back().status, 200);
    EXPECT_TRUE(millisecondsOf(waits(), WaitReason::Retry).empty());
}

TEST_F(DownloadEngine, ARefusedConnectionEndsItsSiblingsRetryWait) {
    manager().setConnectionsPerDownload(2);
    holdRetryWaits(true);  // a retry wait lasts until it is ended, as the program's would for seconds
    // After the probe one connection's request fails and waits to retry; the other's is refused.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503}, {"status": 400}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2, 10000)) << "the held retry wait outlived the refusal";
    EXPECT_EQ(task(2).state, Failed);
    EXPECT_EQ(fileRequests(2).size(), 3u);  // the waiting connection did not ask again
}

TEST_F(DownloadEngine, SameNamedPackageLaterNeverReplacesTheFirst) {
    start(4, packageMd5(4));
    ASSERT_TRUE(finish(4));
    start(5, packageMd5(5));
    ASSERT_TRUE(finish(5));
    EXPECT_EQ(task(4).state, Completed);
    EXPECT_EQ(task(5).state, Completed);
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"setup.exe")), packageBytes(4));
    EXPECT_EQ(qbtest::readFileBytes(downloaded(L"setup (2).exe")), packageBytes(5));
}

TEST_F(DownloadEngine, FolderThatCannotHoldTheFileFailsWithoutTheServiceMessage) {
    setDownloadDirOverride(folder + L"\\missing\\deeper");
    start(1);
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Failed);
    EXPECT_EQ(downloadFaultText(task(1)), L"无法创建下载文件");
    const auto posts = messages();
    EXPECT_EQ(posts.back(), (PostedMessage{WM_QB_REFRESH, 0}));
    EXPECT_FALSE(posted(posts, WM_QB_DOWNLOAD_FAILED));
    EXPECT_FALSE(posted(posts, WM_QB_DOWNLOAD_DONE));
}

}  // namespace
