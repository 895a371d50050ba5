#include "service/install_report.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <climits>
#include <tuple>

#include "json/json.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

// Lines of the service's JSON-lines report log.
std::vector<std::string> reportLogLines() {
    std::vector<std::string> lines;
    const std::string text = qbtest::readFileBytes(qbtest::environment(L"QB_TEST_REPORT_LOG"));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(InstallReportBodyTest, IsExactlyTheOneLineJsonObject) {
    const std::tuple<int32_t, std::wstring, std::string> cases[] = {
        {42, L"default", R"({"appId":42,"event":"install","channel":"default"})"},
        {0, L"", R"({"appId":0,"event":"install","channel":""})"},
        {-5, L"x", R"({"appId":-5,"event":"install","channel":"x"})"},
        {INT_MIN, L"x", R"({"appId":-2147483648,"event":"install","channel":"x"})"},
        {7, L"a\"b\\c", R"({"appId":7,"event":"install","channel":"a\"b\\c"})"},
        {7, L"line\nbreak", R"({"appId":7,"event":"install","channel":"line\nbreak"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(installReportBody(std::get<0>(c), std::get<1>(c)), std::get<2>(c));
}

class InstallReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        ASSERT_FALSE(qbtest::environment(L"QB_TEST_REPORT_LOG").empty());
        ASSERT_TRUE(service.reset());
    }

    qbtest::ServiceControl service;
};

TEST_F(InstallReportTest, TheServiceLogsExactlyTheBodySent) {
    struct Case {
        int32_t appId;
        std::wstring channel;
        std::string body;
        std::string parsedChannel;
    };
    const Case cases[] = {
        {42, L"default", R"({"appId":42,"event":"install","channel":"default"})", "default"},
        {9, L"a\"b\\c", R"({"appId":9,"event":"install","channel":"a\"b\\c"})", "a\"b\\c"},
        {3, L"官网渠道", "{\"appId\":3,\"event\":\"install\",\"channel\":\"\xE5\xAE\x98\xE7\xBD\x91\xE6\xB8\xA0\xE9\x81\x93\"}",
         "\xE5\xAE\x98\xE7\xBD\x91\xE6\xB8\xA0\xE9\x81\x93"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const size_t linesBefore = reportLogLines().size();
        EXPECT_TRUE(reportInstall(service.base(), c.appId, c.channel));

        const std::vector<std::string> lines = reportLogLines();
        ASSERT_EQ(lines.size(), linesBefore + 1);
        const json::ValuePtr record = json::parse(lines.back());
        ASSERT_TRUE(record);
        ASSERT_TRUE(record->find("body"));
        EXPECT_EQ(record->find("body")->asString(""), c.body);
        EXPECT_EQ(record->find("appId")->asInt(-1), c.appId);
        EXPECT_EQ(record->find("event")->asString(""), "install");
        EXPECT_EQ(record->find("channel")->asString(""), c.parsedChannel);
    }
    EXPECT_EQ(service.reports().size(), 3u);

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/api/client/report");
    }
}

TEST_F(InstallReportTest, FollowsARedirectWithTheSameBody) {
    ASSERT_TRUE(service.addPathFaults("/old/api/client/report", R"([{"redirect": "/api/client/report", "status": 307}])"));
    EXPECT_TRUE(reportInstall(service.base() + L"/old", 42, L"default"));
    const auto reports = service.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]->find("body")->asString(""), R"({"appId":42,"event":"install","channel":"default"})");
}

TEST_F(InstallReportTest, AFailedReportOnlyReturnsFalse) {
    ASSERT_TRUE(service.addPathFaults("/api/client/report", R"([{"status": 500}])"));
    EXPECT_FALSE(reportInstall(service.base(), 42, L"default"));
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 500);
    EXPECT_FALSE(reportInstall(L"http://127.0.0.1:1", 42, L"default"));
    EXPECT_FALSE(reportInstall(L"no server", 42, L"default"));
}

// The window sends reports this way: a service that takes its time never holds the caller.
TEST_F(InstallReportTest, ABackgroundReportReturnsAtOnceAndArrivesLater) {
    ASSERT_TRUE(service.addPathFaults("/api/client/report", R"([{"delayMs": 1500}])"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(reportInstallInBackground(service.base(), 42, L"default"));
    const auto took = std::chrono::steady_clock::now() - started;
    // The service stores a report before it delays its answer, so only the return time shows the caller
    // did not wait for that answer.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 100);
    size_t arrived = 0;
    qbtest::waitUntil([&] { return (arrived = service.reports().size()) != 0; }, 5000);
    EXPECT_EQ(arrived, 1u);
}

}  // namespace
