// Runs many downloads through the real DownloadManager against the local service while it answers
// with randomly scripted faults, several downloads at once, first over one connection each, then
// over four. Every download must end complete with a byte-identical file, or failed with the
// service-trouble message for a reason its script makes certain; no completed file may differ from
// its source.
//   QB_SOAK_SEED (default below), QB_SOAK_COUNT (60), QB_SOAK_PARALLEL (10) change the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/window_messages.h"
#include "config/config.h"
#include "base/text_convert.h"
#include "app/app_action.h"
#include "downloads/download_directory.h"
#include "downloads/md5.h"
#include "json/json.h"
#include "render/problem_texts.h"
#include "render/state_texts.h"
#include "service/catalogue.h"
#include "soak_plan.h"
#include "support/message_window.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

constexpr uint64_t kDefaultSeed = 20250611;
constexpr uint64_t kDefaultCount = 60;
constexpr uint64_t kDefaultParallel = 10;
constexpr int32_t kFirstSoakApp = 1001;
constexpr DWORD kBatchDeadlineMs = 240000;
constexpr int kSegmentedConnections = 4;

uint64_t environmentNumber(const wchar_t* name, uint64_t fallback) {
    const std::wstring text = qbtest::environment(name);
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text.c_str(), &end, 0);
    return end && *end == 0 ? value : fallback;
}

struct SoakApp {
    soak::Package package;
    std::wstring name;
    std::wstring sourcePath;  // the package file in the served catalogue folder
};

// The soak apps as the program sees them (bootstrap) and their files in the catalogue folder.
std::vector<SoakApp> loadSoakApps(const std::wstring& server, std::string& problem) {
    std::vector<SoakApp> apps;
    Catalogue catalogue;
    if (!catalogue.loadBootstrap(server)) {
        problem = "the bootstrap does not load: " + wideToUtf8(catalogueErrorText(catalogue.lastError));
        return apps;
    }
    const std::wstring folder = qbtest::environment(L"QB_TEST_CATALOGUE");
    const json::ValuePtr served = json::parse(qbtest::readFileBytes(folder + L"\\catalogue.json"));
    const json::Value* list = served ? served->find("apps") : nullptr;
    if (!list) {
        problem = "no catalogue.json in QB_TEST_CATALOGUE";
        return apps;
    }
    std::map<int32_t, std::wstring> packages;
    for (const json::ValuePtr& item : list->items) {
        const json::Value* id = item->find("id");
        const json::Value* package = item->find("package");
        if (!id || !package) continue;
        std::wstring path = utf8ToWide(package->asString(""));
        std::replace(path.begin(), path.end(), L'/', L'\\');
        packages[id->asInt(0)] = folder + L"\\" + path;
    }
    for (const AppInfo& app : catalogue.apps) {
        if (app.id < kFirstSoakApp || !app.hasPackage || !packages.count(app.id)) continue;
        apps.push_back({{app.id, app.packageSize, app.md5}, app.name, packages[app.id]});
    }
    if (apps.empty()) problem = "the catalogue has no soak apps (make-catalogue --soak)";
    return apps;
}

enum class Verdict { Identical, FailedCleanly, Corrupted, Otherwise };

struct Result {
    uint64_t index = 0;
    std::vector<std::string> trail;  // the service's log of the app's requests, for reports
    soak::Plan plan;
    TaskSnapshot task;
    std::wstring filePath;  // where a completed download was saved
    Verdict verdict = Verdict::Otherwise;
    std::vector<std::string> problems;
};

struct RequestCounts {
    int probes = 0;
    int transfers = 0;
};

std::vector<std::string> trailOf(const std::vector<qbtest::LoggedRequest>& log, int32_t appId) {
    const std::string download = "/api/client/download/" + std::to_string(appId) + "?";
    const std::string file = "/files/" + std::to_string(appId) + "/";
    std::vector<std::string> trail;
    for (const qbtest::LoggedRequest& entry : log) {
        if (entry.path.compare(0, download.size(), download) != 0 && entry.path.compare(0, file.size(), file) != 0)
            continue;
        trail.push_back(entry.path + " [" + entry.range + "] " + std::to_string(entry.status) + " " +
                        std::to_string(entry.bytes) + " bytes" + (entry.dropped.empty() ? "" : ", " + entry.dropped));
    }
    return trail;
}

std::map<int32_t, RequestCounts> countRequests(const std::vector<qbtest::LoggedRequest>& log) {
    std::map<int32_t, RequestCounts> counts;
    for (const qbtest::LoggedRequest& entry : log) {
        if (entry.path.compare(0, 7, "/files/") != 0) continue;
        const int32_t appId = std::atoi(entry.path.c_str() + 7);
        (entry.range == "bytes=0-0" ? counts[appId].probes : counts[appId].transfers)++;
    }
    return counts;
}

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        manager().mainWindow.store(window.handle());
        // Retry and probe waits pass at once, so a run takes seconds instead of minutes.
        manager().setWaitFunction([](Task&, WaitReason, uint32_t) {});
        ShellActions actions;
        actions.showInFolder = [this](const std::wstring& path) { shownPath = path; };
        actions.startInstaller = [this](const std::shared_ptr<Task>&) {
            installerStarted = true;
            return false;
        };
        manager().setShellActions(actions);
    }

    void TearDown() override {
        for (const auto& entry : manager().snapshot()) {
            manager().cancel(entry.first);
            manager().waitForJob(entry.first, 60000);
        }
        manager().clearFinished();
        manager().setWaitFunction(nullptr);
        manager().setShellActions({});
        manager().setConnectionsPerDownload(kDefaultConnections);
        manager().setSegmentRules(SegmentRules());
        manager().mainWindow.store(nullptr);
        setDownloadDirOverride(L"");
    }

    static DownloadManager& manager() { return DownloadManager::instance(); }

    void pumpMessages() {
        MSG msg;
        while (::PeekMessageW(&msg, window.handle(), WM_APP, WM_APP + 16, PM_REMOVE)) {
            if (msg.message == WM_QB_DOWNLOAD_DONE) ++doneMessages[unpackIdAndGeneration(msg.wParam).id];
            if (msg.message == WM_QB_DOWNLOAD_FAILED) ++failedMessages[unpackIdAndGeneration(msg.wParam).id];
        }
    }

    // Runs one batch (each app at most once) with `parallel` downloads at a time.
    std::vector<Result> runBatch(const std::vector<SoakApp>& apps, uint64_t seed, uint64_t first, uint64_t count,
                                 uint64_t parallel, bool segmented);
    // All downloads of a run with the given connections per download; prints its tally line.
    void runMode(const std::vector<SoakApp>& apps, uint64_t seed, uint64_t count, uint64_t parallel, int connections);
    void judge(Result& result, const SoakApp& app, const RequestCounts& requests, bool segmented);

    qbtest::ServiceControl service;
    qbtest::MessageWindow window;
    std::wstring shownPath;
    bool installerStarted = false;
    std::map<int32_t, int> doneMessages;
    std::map<int32_t, int> failedMessages;
    int64_t maxInFlight = -1;
};

std::vector<Result> SoakTest::runBatch(const std::vector<SoakApp>& apps, uint64_t seed, uint64_t first,
                                       uint64_t count, uint64_t parallel, bool segmented) {
    std::vector<Result> results(count);
    if (!service.reset()) {
        ADD_FAILURE() << "the service does not reset";
        return results;
    }
    const std::wstring folder = qbtest::makeScratchDir(L"soak");
    setDownloadDirOverride(folder);
    doneMessages.clear();
    failedMessages.clear();

    for (uint64_t i = 0; i < count; ++i) {
        results[i].index = first + i;
        results[i].plan = soak::makePlan(seed, first + i, apps[i].package);
        const soak::Plan& plan = results[i].plan;
        const bool scripted = service.addAppFaults(plan.appId, plan.faultsJson()) &&
                              (!plan.expiringUses || service.expireTargets(plan.appId, plan.expiringUses));
        if (!scripted) results[i].problems.push_back("the service refused the script");
    }

    std::deque<uint64_t> waiting;
    for (uint64_t i = 0; i < count; ++i) waiting.push_back(i);
    std::set<uint64_t> running;
    const DWORD started = ::GetTickCount();
    while (!waiting.empty() || !running.empty()) {
        while (running.size() < parallel && !waiting.empty()) {
            const uint64_t i = waiting.front();
            waiting.pop_front();
            const soak::Plan& plan = results[i].plan;
            manager().startDownload(plan.appId, {apps[i].name, downloadUrlFor(service.base(), plan.appId, L"soak"),
                                                 plan.md5, std::string(), plan.sizeHint});
            running.insert(i);
        }
        pumpMessages();
        const auto tasks = manager().snapshot();
        const bool overdue = ::GetTickCount() - started > kBatchDeadlineMs;
        for (auto it = running.begin(); it != running.end();) {
            const int32_t appId = results[*it].plan.appId;
            const auto found = tasks.find(appId);
            const bool busy = found != tasks.end() && (found->second.state == Downloading || found->second.state == Verifying);
            if (busy && !overdue) {
                ++it;
                continue;
            }
            if (busy) {
                results[*it].problems.push_back("still running after " + std::to_string(kBatchDeadlineMs / 1000) + " s");
                manager().cancel(appId);
            }
            if (!manager().waitForJob(appId, 60000)) results[*it].problems.push_back("its job does not end");
            it = running.erase(it);
        }
        ::Sleep(10);
    }
    pumpMessages();

    const std::vector<qbtest::LoggedRequest> log = service.requests(0, &maxInFlight);
    const std::map<int32_t, RequestCounts> requests = countRequests(log);
    const auto tasks = manager().snapshot();
    std::set<std::wstring> savedNames;
    for (uint64_t i = 0; i < count; ++i) {
        Result& result = results[i];
        const auto found = tasks.find(result.plan.appId);
        if (found != tasks.end()) result.task = found->second;
        shownPath.clear();
        manager().openInFolder(result.plan.appId);
        result.filePath = shownPath;
        const auto counted = requests.find(result.plan.appId);
        judge(result, apps[i], counted == requests.end() ? RequestCounts() : counted->second, segmented);
        if (!result.problems.empty()) result.trail = trailOf(log, result.plan.appId);
        if (result.task.state == Completed) {
            const std::wstring name = result.filePath.substr(result.filePath.find_last_of(L'\\') + 1);
            if (!savedNames.insert(name).second) result.problems.push_back("its file name was used twice");
        }
    }

    // Clearing removes the partial files of failed downloads; only the saved files stay.
    manager().clearFinished();
    const std::vector<std::wstring> left = qbtest::filesIn(folder);
    for (const std::wstring& name : left)
        if (!savedNames.count(name)) ADD_FAILURE() << "stray file in the download folder: " << wideToUtf8(name);
    EXPECT_EQ(left.size(), savedNames.size());
    setDownloadDirOverride(L"");
    qbtest::removeTree(folder);
    return results;
}

void SoakTest::judge(Result& result, const SoakApp& app, const RequestCounts& requests, bool segmented) {
    const soak::Plan& plan = result.plan;
    const TaskSnapshot& task = result.task;
    std::vector<std::string>& problems = result.problems;
    const bool expectsFile = plan.expect == soak::Expect::Completes;
    // Over several connections, failures that would use up one connection's 13 attempts are shared
    // out: the download may get through, or fail cleanly once every connection has given up.
    const bool eitherWay = segmented && plan.ranged && plan.expect == soak::Expect::AttemptsExhausted;
    const int done = doneMessages[plan.appId];
    const int failed = failedMessages[plan.appId];

    if (task.state == Completed) {
        const std::string saved = qbtest::readFileBytes(result.filePath);
        const std::string source = qbtest::readFileBytes(app.sourcePath);
        if (source.size() != static_cast<size_t>(app.package.size)) problems.push_back("the source package is not readable");
        if (saved != source) {
            result.verdict = Verdict::Corrupted;
            char sizes[160];
            std::snprintf(sizes, sizeof sizes, "completed with a file that differs from its source (%zu bytes, source %zu, md5Ok %d)",
                          saved.size(), source.size(), task.md5Ok ? 1 : 0);
            problems.push_back(sizes);
        } else {
            result.verdict = Verdict::Identical;
        }
        if (!task.md5Ok) problems.push_back("md5Ok is false");
        if (task.receivedBytes != app.package.size) problems.push_back("receivedBytes " + std::to_string(task.receivedBytes));
        if (task.retryCount != 0) problems.push_back("retryCount " + std::to_string(task.retryCount) + " after success");
        if (done != 1 || failed != 0) problems.push_back("posted " + std::to_string(done) + " done and " + std::to_string(failed) + " failed");
        if (!expectsFile && !eitherWay)
            problems.push_back(std::string("completed although its script ") + soak::expectName(plan.expect));
    } else if (task.state == Failed) {
        const bool rightText = downloadFaultText(task) == ServiceTroubleMessage;
        if (!rightText) problems.push_back("failed with \"" + wideToUtf8(downloadFaultText(task)) + "\"");
        if (done != 0 || failed != 1) problems.push_back("posted " + std::to_string(done) + " done and " + std::to_string(failed) + " failed");
        if (!result.filePath.empty() && qbtest::fileExists(result.filePath)) problems.push_back("failed but left its final file");
        if (expectsFile) problems.push_back("failed although its script lets it complete");
        result.verdict = rightText && !expectsFile ? Verdict::FailedCleanly : Verdict::Otherwise;
    } else {
        problems.push_back("ended in state " + std::to_string(task.state));
    }

    // The request log shows whether the engine made the attempts its rules promise; how the faults of
    // a ranged transfer fall on its connections is left to the race between them.
    if (requests.probes != plan.probes)
        problems.push_back("made " + std::to_string(requests.probes) + " probes, script says " + std::to_string(plan.probes));
    if (plan.transfers >= 0 && !(segmented && plan.ranged) && requests.transfers != plan.transfers)
        problems.push_back("made " + std::to_string(requests.transfers) + " transfer requests, script says " +
                           std::to_string(plan.transfers));
    if (!problems.empty() && result.verdict != Verdict::Corrupted) result.verdict = Verdict::Otherwise;
}

void SoakTest::runMode(const std::vector<SoakApp>& apps, uint64_t seed, uint64_t count, uint64_t parallel,
                       int connections) {
    const bool segmented = connections > 1;
    manager().setConnectionsPerDownload(connections);
    SegmentRules rules;
    if (segmented) {
        // The soak packages are small (40 KiB to 1 MiB): split them all, and pass ranges on from 32 KiB.
        rules.minimumSize = 1;
        rules.minimumSteal = 32 * 1024;
    }
    manager().setSegmentRules(rules);

    const auto clockStart = std::chrono::steady_clock::now();
    std::vector<Result> all;
    int64_t peak = 0;
    for (uint64_t first = 0; first < count; first += apps.size()) {
        const uint64_t batch = std::min<uint64_t>(apps.size(), count - first);
        std::vector<Result> results = runBatch(apps, seed, first, batch, parallel, segmented);
        peak = std::max(peak, maxInFlight);
        all.insert(all.end(), results.begin(), results.end());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();

    uint64_t identical = 0, failedCleanly = 0, corrupted = 0, otherwise = 0;
    std::map<soak::Expect, int> expected;
    for (const Result& result : all) {
        ++expected[result.plan.expect];
        switch (result.verdict) {
            case Verdict::Identical: ++identical; break;
            case Verdict::FailedCleanly: ++failedCleanly; break;
            case Verdict::Corrupted: ++corrupted; break;
            case Verdict::Otherwise: ++otherwise; break;
        }
        for (const std::string& text : result.problems)
            std::printf("soak: download %llu over %d (app %d, %s; %s): %s\n  faults %s\n",
                        static_cast<unsigned long long>(result.index), connections, result.plan.appId,
                        soak::expectName(result.plan.expect), result.plan.summary.c_str(), text.c_str(),
                        result.plan.faultsJson().c_str());
        for (const std::string& line : result.trail) std::printf("    %s\n", line.c_str());
    }
    std::printf("soak: scripts: %d to complete, %d five failed probes, %d HTML probe, %d refused, %d 13 failed attempts\n",
                expected[soak::Expect::Completes], expected[soak::Expect::ProbesExhausted],
                expected[soak::Expect::HtmlProbe], expected[soak::Expect::Refused],
                expected[soak::Expect::AttemptsExhausted]);
    std::printf("soak: %d connection%s per download: %.1f s, at most %lld package requests in flight on the service\n",
                connections, segmented ? "s" : "", seconds, static_cast<long long>(peak));
    std::printf("soak: %d connection%s per download: %llu downloads, %llu byte-identical, %llu failed cleanly, "
                "%llu corrupted\n",
                connections, segmented ? "s" : "", static_cast<unsigned long long>(all.size()),
                static_cast<unsigned long long>(identical), static_cast<unsigned long long>(failedCleanly),
                static_cast<unsigned long long>(corrupted));
    std::fflush(stdout);

    EXPECT_EQ(corrupted, 0u) << "seed " << seed << ", " << connections << " connections";
    EXPECT_EQ(otherwise, 0u) << "downloads that ended otherwise (seed " << seed << ", " << connections << " connections)";
}

TEST_F(SoakTest, DownloadsUnderRandomFaultsEndWholeOrFailCleanly) {
    const uint64_t seed = environmentNumber(L"QB_SOAK_SEED", kDefaultSeed);
    const uint64_t count = environmentNumber(L"QB_SOAK_COUNT", kDefaultCount);
    const uint64_t parallel = std::max<uint64_t>(1, environmentNumber(L"QB_SOAK_PARALLEL", kDefaultParallel));
    std::printf("soak: seed %llu (QB_SOAK_SEED), %llu downloads (QB_SOAK_COUNT), %llu at once (QB_SOAK_PARALLEL)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(parallel));
    std::fflush(stdout);

    std::string problem;
    const std::vector<SoakApp> apps = loadSoakApps(service.base(), problem);
    ASSERT_FALSE(apps.empty()) << problem;

    for (int connections : {1, kSegmentedConnections}) runMode(apps, seed, count, parallel, connections);
    EXPECT_FALSE(installerStarted);
}

}  // namespace
