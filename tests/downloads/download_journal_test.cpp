#include <gtest/gtest.h>

#include <tuple>

#include <functional>
#include <memory>

#include "base/win_handles.h"
#include "base/window_messages.h"
#include "support/download_fixture.h"
#include "downloads/download_journal.h"
#include "downloads/live_progress.h"
#include "support/test_support.h"

namespace {

const int64_t kBigSize = 8 * 1024 * 1024 + 123;  // app 2
const std::string kMd5(32, 'a');
const std::string kSha256 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

JournalEntry entryFor(int32_t appId, const std::wstring& folder, const std::wstring& fileName) {
    JournalEntry e;
    e.appId = appId;
    e.name = L"星河笔记 \"v2\"";
    e.url = "http://127.0.0.1:8080/api/client/download/" + std::to_string(appId) + "?channel=a%20b";
    e.md5 = kMd5;
    e.sha256 = kSha256;
    e.size = 6000000000LL;  // past 32 bits
    e.filePath = folder + L"\\" + fileName;
    e.partPath = e.filePath + L".part";
    e.fileName = fileName;
    // Each segment reaches its neighbour; the last ends at the last byte and is whole.
    e.segments = {{0, 2999999999LL, 123}, {3000000000LL, 5999999999LL, 3000000000LL}};
    return e;
}

void expectSameEntry(const JournalEntry& a, const JournalEntry& b) {
    EXPECT_EQ(a.appId, b.appId);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.url, b.url);
    EXPECT_EQ(a.md5, b.md5);
    EXPECT_EQ(a.sha256, b.sha256);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.filePath, b.filePath);
    EXPECT_EQ(a.partPath, b.partPath);
    EXPECT_EQ(a.fileName, b.fileName);
    EXPECT_EQ(a.pinnedPublisher, b.pinnedPublisher);
    ASSERT_EQ(a.segments.size(), b.segments.size());
    for (size_t i = 0; i < a.segments.size(); ++i) {
        EXPECT_EQ(a.segments[i].start, b.segments[i].start) << i;
        EXPECT_EQ(a.segments[i].end, b.segments[i].end) << i;
        EXPECT_EQ(a.segments[i].written, b.segments[i].written) << i;
    }
}

TEST(DownloadJournalText, RoundTripKeepsEveryField) {
    JournalEntry first = entryFor(7, L"C:\\下载", L"setup.exe");
    first.pinnedPublisher = L"星河软件";  // a restart keeps the catalogue's pin
    JournalEntry second = entryFor(8, L"\\\\server\\share\\d", L"工具 (2).zip");
    second.md5.clear();
    second.sha256.clear();
    second.size = 0;  // size unknown: one transfer from byte 0
    second.segments = {{0, -1, 5000}};
    JournalEntry third = entryFor(-9, L"C:\\d", L"a.msi");  // the catalogue allows negative ids
    third.segments.clear();  // still probing: listed, nothing on disk yet
    std::vector<JournalEntry> parsed;
    ASSERT_TRUE(parseJournal(journalText({first, second, third}), parsed));
    ASSERT_EQ(parsed.size(), 3u);
    expectSameEntry(parsed[0], first);
    expectSameEntry(parsed[1], second);
    expectSameEntry(parsed[2], third);

    ASSERT_TRUE(parseJournal(journalText({}), parsed));
    EXPECT_TRUE(parsed.empty());

    // Finished ranges side by side are written as one; at most 1 000 entries are read back.
    std::vector<std::tuple<int64_t, int64_t, int64_t>> merged;
    for (const Segment& s : mergedSegments({{200, 299, 50}, {0, 99, 100}, {100, 199, 100}, {300, 399, 0}, {400, 499, 100}}))
        merged.emplace_back(s.start, s.end, s.written);
    EXPECT_EQ(merged, (std::vector<std::tuple<int64_t, int64_t, int64_t>>{{0, 299, 250}, {300, 399, 0}, {400, 499, 100}}));
    std::vector<JournalEntry> many;
    for (int i = 0; i < 1001; ++i) many.push_back(entryFor(i + 1, L"C:\\d", L"s" + std::to_wstring(i) + L".exe"));
    ASSERT_TRUE(parseJournal(journalText(many), parsed));
    EXPECT_EQ(parsed.size(), 1000u);
}

TEST(DownloadJournalText, AnEntryBreakingARuleIsDroppedAndTheOthersKept) {
    const std::wstring folder = L"C:\\下载";
    const struct {
        const char* rule;
        std::function<void(JournalEntry&)> breakIt;
    } cases[] = {
        {"part in another folder", [](JournalEntry& e) { e.partPath = L"C:\\其他\\setup.exe.part"; }},
        {"part in a subfolder", [](JournalEntry& e) { e.partPath = L"C:\\下载\\x\\setup.exe.part"; }},
        {"relative paths", [](JournalEntry& e) { e.filePath = L"setup.exe"; e.partPath = L"setup.exe.part"; }},
        {"relative to a drive's current folder", [](JournalEntry& e) {
             e.filePath = L"C:..\\setup.exe";
             e.partPath = e.filePath + L".part";
         }},
        {"a .. step", [](JournalEntry& e) {
             e.filePath = L"C:\\下载\\..\\Windows\\setup.exe";
             e.partPath = e.filePath + L".part";
         }},
        {"unsafe final name", [](JournalEntry& e) { e.filePath = L"C:\\下载\\a<b.exe"; }},
        {"final name with a trailing dot", [](JournalEntry& e) { e.filePath = L"C:\\下载\\setup.exe."; }},
        {"part of a device name", [](JournalEntry& e) { e.partPath = L"C:\\下载\\con.exe.part"; }},
        {"part without .part", [](JournalEntry& e) { e.partPath = L"C:\\下载\\setup.exe.tmp"; }},
        {"bare .part", [](JournalEntry& e) { e.partPath = L"C:\\下载\\.part"; }},
        {"asked-for name is a path", [](JournalEntry& e) { e.fileName = L"..\\setup.exe"; }},
        {"segments overlap", [](JournalEntry& e) { e.segments[1].start = 2999999999LL; }},
        {"segments overlap out of order", [](JournalEntry& e) { std::swap(e.segments[0], e.segments[1]); e.segments[0].start = 2999999999LL; }},
        {"segment past the size", [](JournalEntry& e) { e.segments[1].end = 6000000000LL; }},
        {"segment claims more than its length", [](JournalEntry& e) { e.segments[1].written = 3000000001LL; }},
        {"negative written", [](JournalEntry& e) { e.segments[0].written = -1; }},
        {"segment ends before it starts", [](JournalEntry& e) { e.segments[0].end = -1; }},
        {"an end while the size is unknown", [](JournalEntry& e) { e.size = 0; e.segments = {{0, 99, 10}}; }},
        {"two segments while the size is unknown", [](JournalEntry& e) { e.size = 0; e.segments = {{0, -1, 1}, {5, -1, 0}}; }},
        {"md5 not hex", [](JournalEntry& e) { e.md5 = std::string(31, 'a') + "g"; }},
        {"sha256 too short", [](JournalEntry& e) { e.sha256.pop_back(); }},
        {"no url", [](JournalEntry& e) { e.url.clear(); }},
        {"more segments than a journal writes", [](JournalEntry& e) {
             e.segments.clear();
             for (int64_t k = 0; k < 65; ++k) e.segments.push_back({k * 1000, k * 1000 + 999, 0});
         }},
        {"same app as the next entry", [](JournalEntry& e) { e.appId = 2; }},
    };
    const JournalEntry kept = entryFor(2, L"C:\\其他", L"kept.exe");
    for (const auto& c : cases) {
        JournalEntry broken = entryFor(1, folder, L"setup.exe");
        c.breakIt(broken);
        std::vector<JournalEntry> parsed;
        ASSERT_TRUE(parseJournal(journalText({broken, kept}), parsed)) << c.rule;
        ASSERT_EQ(parsed.size(), 1u) << c.rule;
        EXPECT_EQ(parsed[0].appId, 2) << c.rule;
    }
    // The first of two entries for one file wins, whatever the case of its letters.
    JournalEntry samePart = entryFor(3, L"c:\\其他", L"KEPT.exe");
    std::vector<JournalEntry> parsed;
    ASSERT_TRUE(parseJournal(journalText({kept, samePart}), parsed));
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].appId, 2);
    // A member of the wrong kind drops its entry only.
    std::string text = journalText({entryFor(4, folder, L"setup.exe"), kept});
    text.replace(text.find("\"size\": 6000000000"), 18, "\"size\": \"6000000000\"");
    ASSERT_TRUE(parseJournal(text, parsed));
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].appId, 2);
}

TEST(DownloadJournalText, TextThatIsNoJournalIsRefusedWhole) {
    const std::string whole = journalText({entryFor(1, L"C:\\d", L"setup.exe")});
    const std::string texts[] = {"", "{", whole.substr(0, whole.size() / 2), whole.substr(0, whole.size() - 3),
                                 "[]", "null", "{\"downloads\": {}}", "{\"other\": []}", "downloads"};
    for (const std::string& text : texts) {
        std::vector<JournalEntry> parsed{entryFor(9, L"C:\\d", L"x.exe")};
        EXPECT_FALSE(parseJournal(text, parsed)) << text;
        EXPECT_TRUE(parsed.empty()) << text;
    }
}

// The newest text replaces one not yet written, and a write that failed is made good by a flush.
TEST(JournalWriter, WritesTheNewestTextAndMakesAFailedWriteGood) {
    qb::UniqueHandle entered(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    qb::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));  // holds the first write
    std::vector<std::string> written;
    DWORD answer = ERROR_SHARING_VIOLATION;
    JournalWriter writer;
    writer.writeFile = [&](const std::wstring&, const std::string& bytes) {
        ::SetEvent(entered.get());
        ::WaitForSingleObject(release.get(), INFINITE);
        written.push_back(bytes);
        return answer;
    };
    writer.hand(L"j", "1");
    EXPECT_EQ(::WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0);
    writer.hand(L"j", "2");
    writer.hand(L"j", "3");
    ::SetEvent(release.get());
    EXPECT_FALSE(writer.flush());
    answer = ERROR_SUCCESS;
    EXPECT_TRUE(writer.flush());
    EXPECT_TRUE(writer.flush());  // nothing waits
    EXPECT_EQ(written, (std::vector<std::string>{"1", "3", "3", "3"}));
}

using DownloadJournalTest = DownloadTest;

// The journal's file once the writer has written what it was handed.
std::string journalFile(const std::wstring& path) {
    DownloadManager::instance().flushJournal();
    return qbtest::readFileBytes(path);
}

std::vector<JournalEntry> journalOnDisk(const std::wstring& path) {
    std::vector<JournalEntry> entries;
    EXPECT_TRUE(parseJournal(journalFile(path), entries)) << "the journal does not parse";
    return entries;
}

TEST_F(DownloadJournalTest, PauseKeepsThePartFileAndResumeGoesOnFromTheRecordedBytes) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"bytesPerSecond": 2000000}])"));
    start(2, packageMd5(2));
    qbtest::waitUntil([&] { return task(2).receivedBytes >= 1000000; }, 20000);
    manager().pause(2);
    ASSERT_TRUE(finish(2, 5000));
    const TaskSnapshot paused = task(2);
    ASSERT_EQ(paused.state, Paused);
    EXPECT_EQ(paused.speed, 0u);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"big-setup.exe.part"});

    const std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    const JournalEntry& entry = entries[0];
    EXPECT_EQ(entry.appId, 2);
    EXPECT_EQ(entry.name, L"应用2");
    EXPECT_EQ(entry.url, downloadUrl(2));
    EXPECT_EQ(entry.md5, packageMd5(2));
    EXPECT_EQ(entry.size, kBigSize);
    EXPECT_EQ(entry.partPath, downloaded(L"big-setup.exe.part"));
    ASSERT_EQ(entry.segments.size(), 1u);
    const int64_t recorded = entry.segments[0].written;
    EXPECT_GE(recorded, 1000000);
    EXPECT_LT(recorded, kBigSize);
    EXPECT_EQ(recorded, paused.receivedBytes);
    // What the journal vouches for is on disk.
    const std::string part = qbtest::readFileBytes(downloaded(L"big-setup.exe.part"));
    ASSERT_GE(static_cast<int64_t>(part.size()), recorded);
    EXPECT_TRUE(part.compare(0, recorded, packageBytes(2), 0, recorded) == 0);

    // Starting the paused app again resumes it, in the same file.
    start(2, packageMd5(2));
    EXPECT_GT(task(2).generation, paused.generation);
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"big-setup.exe"});
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == packageBytes(2));
    const std::string last = std::to_string(kBigSize - 1);
    EXPECT_EQ(fileRanges(2), (std::vector<std::string>{"bytes=0-0", "bytes=0-" + last, "bytes=0-0",
                                                        "bytes=" + std::to_string(recorded) + "-" + last}));
    EXPECT_TRUE(journalOnDisk(journalPath).empty());  // finished: it left the journal
}

// The network went away for longer than the retries last: starting the download again goes on from its bytes.
TEST_F(DownloadJournalTest, ADownloadThatFailedWithItsBytesGoesOnFromThemWhenStartedAgain) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"dropAfter": 3000000}, {"status": 503, "repeat": 12}])"));
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    ASSERT_EQ(task(2).state, Failed);
    EXPECT_TRUE(task(2).bytesKept);
    start(2, packageMd5(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == packageBytes(2));
    EXPECT_EQ(fileRanges(2).back(), "bytes=3000000-" + std::to_string(kBigSize - 1));
}

TEST_F(DownloadJournalTest, ANewDownloadIsInTheJournalAsSoonAsItsPartFileExists) {
    // Its first request fails and the retry waits: killed now, the program must still know the
    // ".part" it made (sized for the whole file), or the next start would leave it on disk forever.
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(2, packageMd5(2));
    ASSERT_TRUE(waitUntilHeld());
    ASSERT_TRUE(qbtest::fileExists(downloaded(L"big-setup.exe.part")));
    const std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].partPath, downloaded(L"big-setup.exe.part"));
    EXPECT_EQ(entries[0].size, kBigSize);
    holdRetryWaits(false);
    letGo();
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
}

TEST_F(DownloadJournalTest, ASecondInstanceLeavesTheJournalOfTheRunningOneAlone) {
    JournalEntry first = entryFor(3, folder, L"portable.zip");
    first.url = downloadUrl(3);
    first.size = 1000;
    first.segments = {{0, 999, 10}};
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({first})));
    LiveProgress running;  // the first instance holds the record beside its journal
    running.setJournalPath(journalPath);
    ASSERT_GE(running.claim(first.partPath, 1000), 0);

    manager().restoreJournal();
    EXPECT_TRUE(manager().snapshot().empty()) << "the other instance's downloads are not listed twice";
    // A download of this instance, held between attempts, is not written into the other's journal.
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(1);
    ASSERT_TRUE(waitUntilHeld());
    std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].appId, 3);
    holdRetryWaits(false);
    letGo();
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].appId, 3);
}

TEST_F(DownloadJournalTest, AJournalThatCannotBeReadAtStartIsNeitherRestoredNorOverwritten) {
    JournalEntry first = entryFor(3, folder, L"portable.zip");
    first.url = downloadUrl(3);
    first.size = 1000;
    first.segments = {{0, 999, 10}};
    const std::string text = journalText({first});
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, text));
    {
        // Another program (a backup, a scanner) holds the file without sharing it while the program starts.
        qb::UniqueHandle held(::CreateFileW(journalPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        manager().restoreJournal();
    }
    EXPECT_TRUE(manager().snapshot().empty());
    // A download of this run does not replace the entries it could not read.
    ASSERT_TRUE(service.addAppFaults(1, R"([{}, {"status": 503}])"));
    holdRetryWaits(true);
    start(1);
    ASSERT_TRUE(waitUntilHeld());
    EXPECT_EQ(journalFile(journalPath), text);
    holdRetryWaits(false);
    letGo();
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(task(1).state, Completed);
    EXPECT_EQ(journalFile(journalPath), text);
}

// A closing program pauses its transfers and waits for their last counts: the journal then holds every
// byte that is in the ".part", over four connections as over one.
TEST_F(DownloadJournalTest, PausingAllAtExitLeavesTheJournalExactlyAtTheBytesOnDisk) {
    manager().setConnectionsPerDownload(4);
    ASSERT_TRUE(service.addAppFaults(2, R"([{}, {"bytesPerSecond": 2000000, "repeat": -1}])"));
    start(2, packageMd5(2));
    qbtest::waitUntil([&] { return task(2).receivedBytes >= 3000000; }, 20000);
    ASSERT_TRUE(manager().pauseAll(5000));
    const TaskSnapshot paused = task(2);
    EXPECT_EQ(paused.state, Paused);

    const std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].segments.size(), 4u);
    int64_t recorded = 0;
    const std::string part = qbtest::readFileBytes(downloaded(L"big-setup.exe.part"));
    const std::string bytes = packageBytes(2);
    for (const Segment& segment : entries[0].segments) {
        recorded += segment.written;
        // The byte after a segment's recorded ones was never written: the journal is not behind.
        const int64_t next = segment.start + segment.written;
        EXPECT_TRUE(part.compare(segment.start, segment.written, bytes, segment.start, segment.written) == 0);
        if (next <= segment.end && bytes[next] != '\0') {
            EXPECT_EQ(part[next], '\0') << "segment from " << segment.start;
        }
    }
    EXPECT_EQ(recorded, paused.receivedBytes);
    EXPECT_GE(recorded, 3000000);
}

TEST_F(DownloadJournalTest, RestoredTasksArePausedWithTheirProgressAndResumeFromTheRecordedBytes) {
    const std::string bytes = packageBytes(2);
    const int64_t journalled = 4000000, recorded = 5000000;
    // Past the recorded bytes the file holds rubbish: only what the journal vouches for is kept, and
    // what the live record of a killed run adds beyond the journal's last write.
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"big-setup.exe.part"),
                                       bytes.substr(0, recorded) + std::string(kBigSize - recorded, 'x')));
    {
        LiveProgress killed;
        killed.setJournalPath(journalPath);
        killed.note(killed.claim(downloaded(L"big-setup.exe.part"), kBigSize), 0, recorded);
        const int other = killed.claim(downloaded(L"small-setup.exe.part"), 102401);  // another size
        killed.note(other, 0, 50000);
    }
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"small-setup.exe.part"), std::string(1000, 'y')));
    JournalEntry big = entryFor(2, folder, L"big-setup.exe");
    big.name = L"应用2";
    big.url = downloadUrl(1);  // never used: the bytes come from the catalogue's address for app 2
    big.md5 = packageMd5(2);
    big.sha256.clear();
    big.size = kBigSize;
    big.segments = {{0, kBigSize - 1, journalled}};
    JournalEntry small = entryFor(1, folder, L"small-setup.exe");
    small.url = downloadUrl(1);
    small.size = 102400;
    small.segments = {{0, 102399, 1000}};
    JournalEntry elsewhere = entryFor(3, folder, L"portable.zip");
    elsewhere.partPath = journalFolder + L"\\portable.zip.part";
    // Whole and well-formed, but in a folder that is not the download folder: nothing there is ours to
    // write, rename or delete.
    JournalEntry outside = entryFor(4, journalFolder, L"setup.exe");
    outside.url = downloadUrl(4);
    outside.size = 1000;
    outside.segments = {{0, 999, 10}};
    ASSERT_TRUE(qbtest::writeFileBytes(outside.partPath, std::string(1000, 'z')));
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({big, small, elsewhere, outside})));

    manager().restoreJournal();
    EXPECT_EQ(manager().snapshot().size(), 2u);  // app 3's entry broke a rule, app 4's is not ours
    EXPECT_EQ(manager().snapshot().count(4), 0u);
    const TaskSnapshot restored = task(2);
    EXPECT_EQ(restored.state, Paused);
    EXPECT_EQ(restored.name, L"应用2");
    EXPECT_EQ(restored.receivedBytes, recorded);
    EXPECT_EQ(restored.size, kBigSize);
    EXPECT_EQ(task(1).state, Paused);
    EXPECT_EQ(task(1).receivedBytes, 1000);
    const auto posted = messages();
    EXPECT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), (PostedMessage{WM_QB_REFRESH, 0}));

    // Cancelled while paused: it leaves the journal; the other stays.
    manager().cancel(1);
    EXPECT_EQ(task(1).state, Cancelled);
    std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].appId, 2);
    EXPECT_EQ(entries[0].segments[0].written, recorded);

    manager().resume(2, downloadUrl(2));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == bytes);
    EXPECT_EQ(fileRanges(2),
              (std::vector<std::string>{"bytes=0-0", "bytes=" + std::to_string(recorded) + "-" + std::to_string(kBigSize - 1)}));
    EXPECT_TRUE(fileRequests(1).empty());
    EXPECT_TRUE(journalOnDisk(journalPath).empty());
}

// Killed between the last rename and the journal's next write: the entry outlives its ".part" file.
TEST_F(DownloadJournalTest, AnEntryWhosePartFileIsGoneIsDroppedWhenWholeAndStartsOverWhenNot) {
    const std::string bytes = packageBytes(2);
    JournalEntry big = entryFor(2, folder, L"big-setup.exe");
    big.url = downloadUrl(2);
    big.md5 = packageMd5(2);
    big.sha256.clear();
    big.size = kBigSize;
    big.segments = {{0, 4999999, 5000000}, {5000000, kBigSize - 1, kBigSize - 5000000}};
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"big-setup.exe"), bytes));  // renamed: it had finished
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({big})));
    manager().restoreJournal();
    EXPECT_TRUE(manager().snapshot().empty()) << "a finished download is not fetched again as \"(2)\"";
    EXPECT_TRUE(journalOnDisk(journalPath).empty());

    // A part whose file was deleted: listed without the bytes it no longer has, and fetched anew.
    ASSERT_TRUE(::DeleteFileW(downloaded(L"big-setup.exe").c_str()));
    big.segments[1].written = 1000;
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({big})));
    manager().restoreJournal();
    EXPECT_EQ(task(2).state, Paused);
    EXPECT_EQ(task(2).receivedBytes, 0);
    std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].segments.empty());
    manager().resume(2);
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"big-setup.exe"});
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == bytes);
}

// The program ends: what it leaves behind is exactly what the next start can go on from.
TEST_F(DownloadJournalTest, AtExitAFailedJournalWriteIsMadeGoodAndACancelledDownloadLeavesNoFile) {
    JournalEntry small = entryFor(1, folder, L"small-setup.exe");
    small.url = downloadUrl(1);
    small.size = 102400;
    small.segments = {{0, 102399, 1000}};
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"small-setup.exe.part"), std::string(1000, 'y')));
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({small})));
    manager().restoreJournal();
    ASSERT_EQ(task(1).state, Paused);
    {
        // Another program reads the journal, sharing it only for reading, while the download is cancelled.
        qb::UniqueHandle held(::CreateFileW(journalPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        manager().cancel(1);
        ASSERT_EQ(task(1).state, Cancelled);
        ASSERT_EQ(journalOnDisk(journalPath).size(), 1u);
    }
    EXPECT_TRUE(qbtest::fileExists(downloaded(L"small-setup.exe.part")));  // kept for 清除已完成 until then
    manager().pauseAll(1000);
    EXPECT_TRUE(journalOnDisk(journalPath).empty()) << "the next start would list a cancelled download";
    EXPECT_TRUE(folderFiles().empty()) << "a cancelled download's file known to no journal";
}

TEST_F(DownloadJournalTest, ADownloadPausedBeforeItHadAFileIsNamedByTheServerWhenResumed) {
    // The probe's answer comes late, so the pause certainly stops the job before anything is named.
    ASSERT_TRUE(service.addAppFaults(2, R"([{"delayMs": 1000}])"));
    start(2, packageMd5(2));
    manager().pause(2);
    ASSERT_TRUE(finish(2, 10000));
    ASSERT_EQ(task(2).state, Paused);
    EXPECT_TRUE(folderFiles().empty());

    manager().resume(2);
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_EQ(folderFiles(), std::vector<std::wstring>{L"big-setup.exe"});  // as an unpaused download names it
}

// Without ranges nothing written can be gone on from: the paused row and card show no progress, as
// after a restart, rather than bytes that 继续 fetches again.
TEST_F(DownloadJournalTest, ADownloadPausedWithoutRangesShowsNothingToGoOnFrom) {
    ASSERT_TRUE(service.addAppFaults(2, R"([{"ignoreRange": true}, {"ignoreRange": true, "bytesPerSecond": 2000000}])"));
    start(2, packageMd5(2));
    qbtest::waitUntil([&] { return task(2).receivedBytes >= 1000000; }, 20000);
    ASSERT_GE(task(2).receivedBytes, 1000000);
    manager().pause(2);
    ASSERT_TRUE(finish(2, 5000));
    const TaskSnapshot paused = task(2);
    ASSERT_EQ(paused.state, Paused);
    EXPECT_EQ(paused.size, kBigSize);
    EXPECT_EQ(paused.receivedBytes, 0);

    manager().resume(2);
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
}

// Reads a file another handle may be writing, as the job writes the ".part" file.
std::string readSharedFile(const std::wstring& path) {
    std::string bytes;
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char chunk[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

TEST_F(DownloadJournalTest, AResumedTaskThatStartsOverStopsVouchingForItsOldBytesFirst) {
    const std::string bytes = packageBytes(2);
    const int64_t recorded = 5000000;
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"big-setup.exe.part"),
                                       bytes.substr(0, recorded) + std::string(kBigSize - recorded, 'x')));
    JournalEntry big = entryFor(2, folder, L"big-setup.exe");
    big.url = downloadUrl(2);
    big.md5 = packageMd5(2);
    big.sha256.clear();
    big.size = kBigSize;
    big.segments = {{0, kBigSize - 1, recorded}};
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({big})));
    manager().restoreJournal();
    ASSERT_EQ(task(2).state, Paused);

    // This time the probe finds no ranges: the file starts over from byte 0, and its first request
    // waits to be retried.
    ASSERT_TRUE(service.addAppFaults(2, R"([{"ignoreRange": true}, {"status": 503}])"));
    holdRetryWaits(true);
    manager().resume(2);
    ASSERT_TRUE(waitUntilHeld());
    // Were the program ended now, the journal must vouch for nothing the file does not hold.
    const std::string part = readSharedFile(downloaded(L"big-setup.exe.part"));
    const std::vector<JournalEntry> entries = journalOnDisk(journalPath);
    ASSERT_EQ(entries.size(), 1u);
    for (const Segment& s : entries[0].segments) {
        ASSERT_LE(s.start + s.written, static_cast<int64_t>(part.size()));
        EXPECT_TRUE(part.compare(s.start, s.written, bytes, s.start, s.written) == 0)
            << "the journal vouches for bytes " << s.start << "-" << s.start + s.written - 1 << " the file lost";
    }

    holdRetryWaits(false);
    letGo();
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(task(2).state, Completed);
    EXPECT_TRUE(task(2).md5Ok);
    EXPECT_TRUE(qbtest::readFileBytes(downloaded(L"big-setup.exe")) == bytes);
}

// While the journal cannot be written (another program holds it), starting over would leave it
// vouching for bytes the emptied file lost: the file is left as it is and the download fails.
TEST_F(DownloadJournalTest, AFileIsNeverStartedOverWhileTheJournalStillVouchesForItsBytes) {
    const std::string before = packageBytes(2).substr(0, 5000000) + std::string(kBigSize - 5000000, 'x');
    ASSERT_TRUE(qbtest::writeFileBytes(downloaded(L"big-setup.exe.part"), before));
    JournalEntry big = entryFor(2, folder, L"big-setup.exe");
    big.url = downloadUrl(2), big.size = kBigSize, big.segments = {{0, kBigSize - 1, 5000000}};
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, journalText({big})));
    manager().restoreJournal();
    ASSERT_TRUE(service.addAppFaults(2, R"([{"ignoreRange": true}])"));
    qb::UniqueHandle held(::CreateFileW(journalPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    manager().resume(2);
    ASSERT_TRUE(held && finish(2));
    EXPECT_EQ(task(2).error.fault, DownloadFault::CannotWrite);
    EXPECT_TRUE(readSharedFile(downloaded(L"big-setup.exe.part")) == before);
}

TEST_F(DownloadJournalTest, AJournalThatDoesNotParseIsRenamedAsideAndNothingIsRestored) {
    JournalEntry entry = entryFor(2, folder, L"big-setup.exe");
    entry.url = downloadUrl(2);
    const std::string whole = journalText({entry});
    const std::string cut = whole.substr(0, whole.size() - 10);
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, cut));
    manager().restoreJournal();
    EXPECT_TRUE(manager().snapshot().empty());
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(qbtest::fileExists(journalPath));
    EXPECT_EQ(qbtest::readFileBytes(journalPath + L".bad"), cut);

    // The next bad journal replaces the older one set aside; a good one afterwards is read again.
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, "not json"));
    manager().restoreJournal();
    EXPECT_TRUE(manager().snapshot().empty());
    EXPECT_EQ(qbtest::readFileBytes(journalPath + L".bad"), "not json");
    // Far larger than any journal the program writes: set aside unread, however it would parse.
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, whole + std::string(16 * 1024 * 1024, ' ')));
    manager().restoreJournal();
    EXPECT_TRUE(manager().snapshot().empty());
    EXPECT_FALSE(qbtest::fileExists(journalPath));
    EXPECT_TRUE(qbtest::fileExists(journalPath + L".bad"));
    ASSERT_TRUE(qbtest::writeFileBytes(journalPath, whole));
    manager().restoreJournal();
    EXPECT_EQ(task(2).state, Paused);
}

}  // namespace

TEST(LiveProgress, ARecordLeftBehindIsBelievedOnceInTheSameBootForTheSameFile) {
    const std::wstring folder = qbtest::makeScratchDir(L"live");
    const std::wstring journal = folder + L"\\downloads.json", part = folder + L"\\a.exe.part";
    const auto leaveRecord = [&](bool release) {
        LiveProgress run;
        run.setJournalPath(journal);
        const int slot = run.claim(part, 1000);
        run.note(slot, 0, 300);
        run.note(slot, 500, 100);
        run.note(slot, 0, 400);  // a later write of the same segment
        if (release) run.release(slot);
    };
    const auto inherit = [&](int64_t size, int64_t bootShift) {
        LiveProgress next;
        next.setJournalPath(journal);
        next.bootStamp = [bootShift] { return currentBootStamp() + bootShift; };
        std::vector<std::pair<int64_t, int64_t>> counts;
        for (const LiveCount& c : next.inherited(part, size)) counts.emplace_back(c.start, c.written);
        if (!counts.empty()) {
            EXPECT_TRUE(next.inherited(part, size).empty()) << "given once";
        }
        return counts;
    };
    const std::vector<std::pair<int64_t, int64_t>> left{{0, 400}, {500, 100}};
    leaveRecord(false);
    EXPECT_EQ(inherit(1000, 0), left);
    EXPECT_TRUE(inherit(1000, 0).empty()) << "the next run clears the file";
    leaveRecord(false);
    EXPECT_TRUE(inherit(999, 0).empty()) << "another size";
    leaveRecord(false);
    EXPECT_TRUE(inherit(1000, 60LL * 10000000).empty()) << "another boot";
    leaveRecord(true);
    EXPECT_TRUE(inherit(1000, 0).empty()) << "a transfer that ended released its slot";
    ASSERT_TRUE(qbtest::writeFileBytes(folder + L"\\downloads.live", std::string(20000, '\x7f')));
    EXPECT_TRUE(inherit(1000, 0).empty()) << "a file that is no record";
    leaveRecord(false);
    EXPECT_EQ(inherit(1000, 0), left) << "and is made anew";
    {
        auto first = std::make_unique<LiveProgress>();
        LiveProgress second;
        first->setJournalPath(journal);
        second.setJournalPath(journal);
        const int slot = first->claim(part, 1000);
        EXPECT_GE(slot, 0);
        first->note(slot, 0, 400);
        EXPECT_EQ(second.claim(part, 1000), -1) << "a second instance keeps to its journal";
        // The first is killed; the second's next transfer (of a file it may have made anew) takes the
        // record over, so the killed one's counts are never believed for what the second wrote since.
        first.reset();
        EXPECT_GE(second.claim(part, 1000), 0);
    }
    EXPECT_TRUE(inherit(1000, 0).empty()) << "a record another instance outlived";

    // Counts rise to the record of the same start, never past the segment, never down.
    std::vector<Segment> segments{{0, 499, 100}, {500, 999, 0}, {1000, 1499, 300}};
    EXPECT_TRUE(adoptLiveCounts(segments, {{0, 400}, {500, 700}, {1000, 200}, {250, 50}}));
    EXPECT_EQ(segments[0].written, 400);
    EXPECT_EQ(segments[1].written, 500);
    EXPECT_EQ(segments[2].written, 300);
    EXPECT_FALSE(adoptLiveCounts(segments, {{0, 400}, {1000, 299}}));
    qbtest::removeTree(folder);
}
