#include "net/http_client.h"
#include "net/proxy_credentials.h"
#include "net/proxy_rules.h"

#include <gtest/gtest.h>
#include <winhttp.h>
#include <wincred.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "base/text_convert.h"
#include "json/json.h"
#include "render/problem_texts.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

const HttpError kUntouched{HttpFault::HttpStatus, 599, 1};

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.available()) << "QB_TEST_SERVER is not set";
        ASSERT_TRUE(service.reset());
    }

    HttpResult get(const std::wstring& path, HttpResponse& response, HttpError& error) {
        return fetch(service.url(path), response, error);
    }

    static HttpResult fetch(const std::wstring& url, HttpResponse& response, HttpError& error) {
        HttpRequest request;
        request.url = url;
        return HttpClient::Send(request, response, error);
    }

    size_t requestsTo(const std::string& prefix) {
        size_t count = 0;
        for (const auto& entry : service.requests())
            if (entry.path.compare(0, prefix.size(), prefix) == 0) ++count;
        return count;
    }

    qbtest::ServiceControl service;
};

// The same service behind the HTTPS front of tests/with-service --tls, whose test CA the prefix trusts.
class HttpsClientTest : public HttpClientTest {
protected:
    void SetUp() override {
        HttpClientTest::SetUp();
        ASSERT_TRUE(secure.available()) << "QB_TEST_TLS_SERVER is not set";
    }

    // The next request to path answers 302 to target.
    bool redirectOnce(const std::string& path, const std::wstring& target) {
        const std::string location = qbtest::ServiceControl::quoted(wideToUtf8(target));
        return service.addPathFaults(path, "[{\"redirect\": " + location + "}]");
    }

    qbtest::ServiceControl secure{qbtest::environment(L"QB_TEST_TLS_SERVER")};
};

TEST(RedirectTargetTest, ResolvesLocationsAgainstTheCurrentUrl) {
    struct Case {
        const wchar_t* location;
        const wchar_t* current;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"d", L"http://host:8080/a/b/c?x=1", L"http://host:8080/a/b/d"},
        {L"/e", L"http://host:8080/a/b/c?x=1", L"http://host:8080/e"},
        {L"p", L"https://host/a", L"https://host/p"},
        {L"p", L"https://host:443/a", L"https://host/p"},
        {L"p", L"http://host:80/dir/", L"http://host/dir/p"},
        {L"p", L"https://host:80/x", L"https://host:80/p"},
        {L"q?y=2", L"http://host/a/b?z=/s/t", L"http://host/a/q?y=2"},
        {L"../up", L"http://host/a/b", L"http://host/a/../up"},
        {L"//other/x", L"http://host/a", L"http://other/x"},
        {L"//other:8080/x?y", L"https://host/a", L"https://other:8080/x?y"},
        {L"HTTPS://Elsewhere/x", L"http://host/a", L"HTTPS://Elsewhere/x"},
        {L"http://x", L"https://host/a", L"http://x"},
        {L"http://", L"http://host/a/b", L"http://host/a/http://"},
        {L"https://", L"http://host/a/b", L"http://host/a/https://"},
        {L"p", L"http://host", L"http://host/p"},
        {L"p", L"not a url", L"p"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolveRedirectTarget(c.location, c.current), c.expected) << c.location << L" from " << c.current;
}

// Wine cuts header lines at 1460 bytes: this query answers as WinHttpQueryHeaders is documented to.
TEST(HeaderValueTest, ReadsAnyLengthUpToTheCapAndNeverTakesAFailureForAnAbsence) {
    const struct { size_t length; DWORD failure; HeaderRead read; } cases[] = {
        {4096, 0, HeaderRead::Value}, {16383, 0, HeaderRead::Value}, {16384, 0, HeaderRead::Unreadable},
        {0, ERROR_WINHTTP_HEADER_NOT_FOUND, HeaderRead::Absent}, {0, ERROR_ACCESS_DENIED, HeaderRead::Unreadable},
    };
    for (const auto& c : cases) {
        const std::wstring stored(c.length, L'v');
        const DWORD needed = static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t));
        std::wstring value = L"old";
        const auto query = [&](wchar_t* buffer, DWORD* bytes) {
            ::SetLastError(c.failure ? c.failure : ERROR_INSUFFICIENT_BUFFER);
            const bool fits = !c.failure && *bytes >= needed;
            if (fits) std::copy(stored.c_str(), stored.c_str() + stored.size() + 1, buffer);
            *bytes = c.failure ? 0 : (fits ? needed - sizeof(wchar_t) : needed);
            return fits;
        };
        EXPECT_EQ(readHeaderValue(query, 32768, value), c.read) << c.length;
        EXPECT_EQ(value, c.read == HeaderRead::Value ? stored : std::wstring()) << c.length;
    }
}

// Another origin sees no credentials, no conditions about the old origin's copy and no body again.
TEST(RedirectTargetTest, ResendsTheRequestOnItsOriginAndStripsItForAnother) {
    const HopRequest post{L"POST", {{L"Content-Type", L"a/b"}, {L"Authorization", L"t"}, {L"X-Order", L"1"}}, "{}"};
    const HopRequest get{L"GET", {{L"Range", L"bytes=0-0"}, {L"if-none-match", L"e"}, {L"Cookie", L"c"}}, {}};
    const HopRequest postAsGet{L"GET", {{L"X-Order", L"1"}}, {}}, getElsewhere{L"GET", {get.headers[0]}, {}};
    const struct { const HopRequest& request; int32_t status; const wchar_t* to;
                   std::optional<HopRequest> expected; /* nullopt: not followed */ } cases[] = {
        {post, 302, L"http://HOST:8080/b", post},       {post, 307, L"http://host:8080/c", post},
        {post, 302, L"http://host:8081/b", postAsGet},  {post, 301, L"https://host:8080/b", postAsGet},
        {post, 303, L"http://other:8080/b", postAsGet}, {post, 307, L"http://other:8080/b", std::nullopt},
        {get, 302, L"http://other/b", getElsewhere},    {get, 308, L"https://host/b", getElsewhere},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.status << L" to " << c.to);
        const std::optional<HopRequest> next = redirectedRequest(c.request, c.status, L"http://host:8080/a", c.to);
        ASSERT_EQ(next.has_value(), c.expected.has_value());
        if (!next) continue;
        const HopRequest& want = *c.expected;
        EXPECT_EQ(std::tie(next->method, next->headers, next->body), std::tie(want.method, want.headers, want.body));
    }
    for (int32_t status : {300, 301, 302, 303, 307, 308}) EXPECT_TRUE(isRedirectStatus(status)) << status;
    for (int32_t status : {200, 299, 304, 400}) EXPECT_FALSE(isRedirectStatus(status)) << status;
}

// Which proxy a request takes: the setting, then the system's manual proxy by scheme and its bypass
// list, with detection or a PAC address leaving the choice to WinHttpGetProxyForUrl.
TEST(ProxyPlanTest, ChoosesBySettingSchemeAndBypassList) {
    const SystemProxyConfig none;
    const SystemProxyConfig manual{false, L"", L"proxy:3128", L"<local>;*.intra.net;10.*;http://Svc:8443;127.0.0.1"};
    const SystemProxyConfig split{false, L"", L"http=web:80; https=secure:443", L""};
    const SystemProxyConfig httpOnly{false, L"", L"http=web:80", L""};
    const SystemProxyConfig automatic{true, L"", L"proxy:3128", L"*.intra.net"};
    const SystemProxyConfig pac{false, L"http://wpad/proxy.pac", L"", L""};
    const struct {
        const wchar_t* setting;
        const SystemProxyConfig& system;
        const wchar_t* scheme;
        const wchar_t* host;
        unsigned port;
        ProxyRoute route;
        const wchar_t* proxy;
    } cases[] = {
        {L"none", manual, L"http", L"example.com", 80, ProxyRoute::Direct, L""},
        {L"corp:8080", none, L"https", L"example.com", 443, ProxyRoute::Named, L"corp:8080"},
        {L"corp:8080", manual, L"http", L"10.1.2.3", 80, ProxyRoute::Named, L"corp:8080"},
        {L"system", none, L"http", L"example.com", 80, ProxyRoute::Direct, L""},
        {L"system", manual, L"http", L"example.com", 80, ProxyRoute::Named, L"proxy:3128"},
        {L"system", manual, L"http", L"localhost", 80, ProxyRoute::Direct, L""},
        {L"system", manual, L"http", L"a.INTRA.net", 80, ProxyRoute::Direct, L""},
        {L"system", manual, L"http", L"intra.net", 80, ProxyRoute::Named, L"proxy:3128"},
        {L"system", manual, L"http", L"10.0.0.9", 80, ProxyRoute::Direct, L""},
        {L"system", manual, L"http", L"110.0.0.9", 80, ProxyRoute::Named, L"proxy:3128"},
        {L"system", manual, L"https", L"svc", 8443, ProxyRoute::Direct, L""},
        {L"system", manual, L"https", L"svc.example", 8443, ProxyRoute::Named, L"proxy:3128"},
        {L"system", manual, L"http", L"127.0.0.1", 8080, ProxyRoute::Direct, L""},
        {L"system", split, L"http", L"example.com", 80, ProxyRoute::Named, L"web:80"},
        {L"system", split, L"https", L"example.com", 443, ProxyRoute::Named, L"secure:443"},
        {L"system", httpOnly, L"https", L"example.com", 443, ProxyRoute::Direct, L""},
        {L"system", automatic, L"http", L"example.com", 80, ProxyRoute::Automatic, L"proxy:3128"},
        {L"system", automatic, L"http", L"x.intra.net", 80, ProxyRoute::Automatic, L""},
        {L"system", pac, L"https", L"example.com", 443, ProxyRoute::Automatic, L""},
    };
    for (const auto& c : cases) {
        const ProxyPlan plan = planProxy(c.setting, c.system, c.scheme, c.host, c.port);
        EXPECT_EQ(plan.route, c.route) << c.setting << L" " << c.host;
        EXPECT_EQ(plan.proxy, c.proxy) << c.setting << L" " << c.host;
        EXPECT_EQ(plan.autoConfigUrl, c.route == ProxyRoute::Automatic ? c.system.autoConfigUrl : L"");
    }
}

// What a 407 leads to: newer credentials first, then the stored ones, then at most three questions.
TEST(ProxyAuthTest, AsksOnceAndTwiceMoreAfterARefusalThenFails) {
    const struct {
        ProxyAuthFacts facts;
        ProxyAuthAction action;
    } cases[] = {
        {{0, 0, true, false, 0, false, true}, ProxyAuthAction::UseStored},
        {{0, 0, false, false, 0, false, true}, ProxyAuthAction::Ask},
        {{0, 1, false, false, 0, false, true}, ProxyAuthAction::Retry},
        {{1, 1, false, false, 0, false, true}, ProxyAuthAction::Ask},
        {{1, 1, false, true, 1, false, true}, ProxyAuthAction::Wait},
        {{1, 2, false, false, 1, false, true}, ProxyAuthAction::Retry},
        {{2, 2, false, false, 2, false, true}, ProxyAuthAction::Ask},
        {{3, 3, false, false, 3, false, true}, ProxyAuthAction::Fail},
        {{0, 0, false, false, 1, true, true}, ProxyAuthAction::Fail},
        {{0, 0, false, false, 0, false, false}, ProxyAuthAction::Fail},
        {{0, 0, true, false, 0, false, false}, ProxyAuthAction::UseStored},
    };
    for (const auto& c : cases) {
        const ProxyAuthFacts& f = c.facts;
        EXPECT_EQ(decideProxyAuth(f), c.action) << f.sentGeneration << " " << f.knownGeneration << " " << f.asked;
    }
    // tinyproxy refuses a wrong Basic password with 401; after Digest or NTLM a 401 is the server's.
    EXPECT_TRUE(proxyRefusal(407, 0));
    EXPECT_TRUE(proxyRefusal(401, WINHTTP_AUTH_SCHEME_BASIC));
    EXPECT_FALSE(proxyRefusal(401, 0));
    EXPECT_FALSE(proxyRefusal(401, WINHTTP_AUTH_SCHEME_DIGEST));
    EXPECT_FALSE(proxyRefusal(401, WINHTTP_AUTH_SCHEME_NTLM));
}

// "记住" keeps the credentials under the proxy's own name in the Credential Manager, password included.
TEST(ProxyAuthTest, RememberedCredentialsComeBackForTheirProxyOnly) {
    ASSERT_TRUE(storeProxyCredentials(L"127.0.0.2:3128", {L"用户", L"pa:ss 密码", true}));
    const std::optional<ProxyCredentials> read = readStoredProxyCredentials(L"127.0.0.2:3128");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->user, L"用户");
    EXPECT_EQ(read->password, L"pa:ss 密码");
    EXPECT_FALSE(readStoredProxyCredentials(L"127.0.0.2:3129").has_value());
    ::CredDeleteW(proxyCredentialName(L"127.0.0.2:3128").c_str(), CRED_TYPE_GENERIC, 0);
}

TEST(SplitUrlTest, SplitsWhatFitsAndRefusesTheRest) {
    auto parts = splitUrl(L"https://Example.com");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->scheme, L"https");
    EXPECT_TRUE(parts->secure);
    EXPECT_EQ(parts->port, 443);
    EXPECT_EQ(parts->pathAndQuery, L"/");

    parts = splitUrl(L"http://127.0.0.1:8080/a/b?x=1#frag");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->scheme, L"http");
    EXPECT_FALSE(parts->secure);
    EXPECT_EQ(parts->host, L"127.0.0.1");
    EXPECT_EQ(parts->port, 8080);
    EXPECT_EQ(parts->pathAndQuery, L"/a/b?x=1#frag");

    EXPECT_FALSE(splitUrl(L"not a url"));
    EXPECT_FALSE(splitUrl(L""));
    EXPECT_FALSE(splitUrl(L"http://" + std::wstring(300, L'h') + L"/x"));
    EXPECT_FALSE(splitUrl(L"http://host/" + std::wstring(5000, L'p')));
    EXPECT_TRUE(splitUrl(L"http://" + std::wstring(200, L'h') + L"/x"));
}

TEST_F(HttpClientTest, FollowsTenRedirectsAndRefusesTheEleventh) {
    for (const wchar_t* form : {L"path", L"absolute", L"relative"}) {
        SCOPED_TRACE(form);
        ASSERT_TRUE(service.resetLog());
        HttpResponse response;
        HttpError error = kUntouched;
        EXPECT_EQ(get(L"/test/redirect/10?form=" + std::wstring(form), response, error), HttpResult::Ok);
        EXPECT_EQ(error, kUntouched);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.finalUrl, service.url(L"/test/redirect/0?form=") + form);
        EXPECT_EQ(response.body, "end of redirect chain\n");
        EXPECT_EQ(requestsTo("/test/redirect/"), 11u);

        ASSERT_TRUE(service.resetLog());
        HttpResponse tooMany;
        EXPECT_EQ(get(L"/test/redirect/11?form=" + std::wstring(form), tooMany, error), HttpResult::RedirectFailed);
        EXPECT_EQ(httpErrorText(error), L"重定向次数过多");
        EXPECT_EQ(tooMany.status, 0);
        EXPECT_EQ(requestsTo("/test/redirect/"), 11u);
        EXPECT_EQ(requestsTo("/test/redirect/0"), 0u);
    }
}

TEST_F(HttpClientTest, DetectsASelfRedirectAtOnceButNotALongerLoop) {
    for (const wchar_t* form : {L"path", L"absolute", L"relative"}) {
        ASSERT_TRUE(service.resetLog());
        HttpResponse response;
        HttpError error;
        EXPECT_EQ(get(L"/test/self?form=" + std::wstring(form), response, error), HttpResult::RedirectFailed) << form;
        EXPECT_EQ(httpErrorText(error), L"重定向死循环");
        EXPECT_EQ(requestsTo("/test/self"), 1u);
    }

    ASSERT_TRUE(service.addPathFaults("/test/echo/a", R"([{"redirect": "/test/echo/b", "repeat": -1}])"));
    ASSERT_TRUE(service.addPathFaults("/test/echo/b", R"([{"redirect": "a", "repeat": -1}])"));
    HttpResponse response;
    HttpError error;
    EXPECT_EQ(get(L"/test/echo/a", response, error), HttpResult::RedirectFailed);
    EXPECT_EQ(httpErrorText(error), L"重定向次数过多");
}

TEST_F(HttpClientTest, RepeatsAPostWithItsBodyAcrossRedirects) {
    for (const wchar_t* status : {L"302", L"301", L"307"}) {
        SCOPED_TRACE(status);
        HttpRequest request;
        request.url = service.url(L"/test/echo/first?status=") + status + L"&redirect=/test/echo/second";
        request.method = L"POST";
        request.headers = {{L"Content-Type", L"application/json"}, {L"X-Order", L"one"}};
        request.body = std::string("{\"appId\":7,\"note\":\"\xE4\xB8\xAD\"}");
        HttpResponse response;
        HttpError error;
        ASSERT_EQ(HttpClient::Send(request, response, error), HttpResult::Ok) << httpErrorText(error);
        EXPECT_EQ(response.finalUrl, service.url(L"/test/echo/second"));
        const json::ValuePtr echo = json::parse(response.body);
        ASSERT_TRUE(echo);
        EXPECT_EQ(echo->find("method")->asString(""), "POST");
        EXPECT_EQ(echo->find("path")->asString(""), "/test/echo/second");
        EXPECT_EQ(echo->find("body")->asString(""), *request.body);
        const json::Value* headers = echo->find("headers");
        ASSERT_TRUE(headers);
        ASSERT_TRUE(headers->find("X-Order"));
        EXPECT_EQ(headers->find("X-Order")->asString(""), "one");
        ASSERT_TRUE(headers->find("User-Agent"));
        EXPECT_EQ(headers->find("User-Agent")->asString(""),
                  "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
                  "Chrome/109.0.0.0 Safari/537.36");
    }
}

TEST_F(HttpClientTest, LimitsTheInMemoryBodyToEightMebibytes) {
    HttpResponse response;
    HttpError error = kUntouched;
    ASSERT_EQ(get(L"/test/bytes/8388608", response, error), HttpResult::Ok);
    EXPECT_EQ(error, kUntouched);
    EXPECT_EQ(response.body.size(), 8388608u);
    EXPECT_EQ(response.contentLength, 8388608);

    HttpResponse tooLarge;
    tooLarge.body = "kept";
    EXPECT_EQ(get(L"/test/bytes/8388609", tooLarge, error), HttpResult::ReadFailed);
    EXPECT_EQ(httpErrorText(error), L"响应过大");
    EXPECT_EQ(tooLarge.body, "kept");
    EXPECT_EQ(tooLarge.status, 200);  // the head is captured before the body is read
    EXPECT_EQ(tooLarge.contentLength, 8388609);
    EXPECT_EQ(tooLarge.finalUrl, service.url(L"/test/bytes/8388609"));

    // A sink takes any length.
    uint64_t streamed = 0;
    HttpRequest request;
    request.url = service.url(L"/test/bytes/8388609");
    request.sink = [&streamed](const uint8_t*, uint32_t length) {
        EXPECT_LE(length, 65536u);
        streamed += length;
        return true;
    };
    HttpResponse sunk;
    EXPECT_EQ(HttpClient::Send(request, sunk, error), HttpResult::Ok);
    EXPECT_EQ(streamed, 8388609u);
    EXPECT_TRUE(sunk.body.empty());
}

TEST_F(HttpClientTest, ReadsClientErrorPagesButNotServerErrorPages) {
    HttpResponse notFound;
    HttpError error;
    EXPECT_EQ(get(L"/test/status/404", notFound, error), HttpResult::HttpError);
    EXPECT_EQ(httpErrorText(error), L"HTTP 404");
    EXPECT_EQ(notFound.status, 404);
    EXPECT_NE(notFound.body.find("404"), std::string::npos);

    HttpResponse unavailable;
    EXPECT_EQ(get(L"/test/status/503", unavailable, error), HttpResult::HttpError);
    EXPECT_EQ(httpErrorText(error), L"HTTP 503");
    EXPECT_EQ(unavailable.status, 503);
    EXPECT_TRUE(unavailable.body.empty());

    // With a sink even a server error page is streamed in full.
    std::string streamed;
    HttpRequest request;
    request.url = service.url(L"/test/status/503");
    request.sink = [&streamed](const uint8_t* data, uint32_t length) {
        streamed.append(reinterpret_cast<const char*>(data), length);
        return true;
    };
    HttpResponse sunk;
    EXPECT_EQ(HttpClient::Send(request, sunk, error), HttpResult::HttpError);
    EXPECT_NE(streamed.find("503"), std::string::npos);
    EXPECT_EQ(static_cast<int64_t>(streamed.size()), sunk.contentLength);

    std::string body = "kept";
    EXPECT_FALSE(HttpClient::Get(service.url(L"/test/status/500"), body, error));
    EXPECT_EQ(httpErrorText(error), L"HTTP 500");
    EXPECT_EQ(body, "kept");
    EXPECT_FALSE(HttpClient::Get(service.url(L"/test/status/404"), body, error));
    EXPECT_EQ(httpErrorText(error), L"HTTP 404");
    EXPECT_EQ(body, "kept");
    EXPECT_TRUE(HttpClient::Get(service.url(L"/test/bytes/3"), body, error));
    EXPECT_EQ(body.size(), 3u);
}

TEST_F(HttpClientTest, TreatsARedirectWithoutLocationAsFinal) {
    HttpResponse response;
    HttpError error = kUntouched;
    EXPECT_EQ(get(L"/test/respond?status=302&body=moved", response, error), HttpResult::Ok);
    EXPECT_EQ(error, kUntouched);
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.body, "moved");
}

TEST_F(HttpClientTest, CapturesRangeLengthDispositionAndType) {
    struct Case {
        const wchar_t* contentRange;  // percent-encoded; nullptr: no header
        bool hasRange;
        int64_t total;
        int64_t start;
    };
    const Case cases[] = {
        {L"bytes%200-0/12345", true, 12345, 0},
        {L"bytes%200-0/*", true, -1, 0},
        {L"bytes%20100-199", true, -1, 100},
        {L"bytes%20*/500", true, 500, -1},
        {L"bytes%207-9/10", true, 10, 7},
        {L"garbage", true, -1, -1},
        {nullptr, false, -1, -1},
    };
    for (const Case& c : cases) {
        std::wstring path = L"/test/respond?status=206&body=abc";
        if (c.contentRange) path += L"&h=Content-Range:%20" + std::wstring(c.contentRange);
        SCOPED_TRACE(path);
        HttpResponse response;
        HttpError error;
        ASSERT_EQ(get(path, response, error), HttpResult::Ok) << httpErrorText(error);
        EXPECT_EQ(response.status, 206);
        EXPECT_EQ(response.hasContentRange, c.hasRange);
        EXPECT_EQ(response.totalSize, c.total);
        EXPECT_EQ(response.rangeStart, c.start);
        EXPECT_EQ(response.contentLength, 3);
        EXPECT_EQ(response.body, "abc");
    }

    HttpResponse response;
    HttpError error;
    ASSERT_EQ(get(L"/test/respond?body=x&type=application/x-thing&h=Content-Disposition:%20attachment;%20"
                  L"filename%3D%22a%20b.exe%22",
                  response, error),
              HttpResult::Ok);
    EXPECT_EQ(response.contentType, L"application/x-thing");
    EXPECT_EQ(response.contentDisposition, L"attachment; filename=\"a b.exe\"");
    EXPECT_FALSE(response.hasContentRange);
}

TEST_F(HttpClientTest, ASinkThatRefusesAbortsWithoutAMessage) {
    int calls = 0;
    HttpRequest request;
    request.url = service.url(L"/test/bytes/300000");
    request.sink = [&calls](const uint8_t*, uint32_t) {
        ++calls;
        return false;
    };
    HttpResponse response;
    HttpError error = kUntouched;
    EXPECT_EQ(HttpClient::Send(request, response, error), HttpResult::Aborted);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(error, kUntouched);
    EXPECT_EQ(response.status, 200);
}

TEST_F(HttpClientTest, AnswersLeftUnreadOrLongerThanTheirLengthSpoilNoLaterRequest) {
    // A connection the server has closed, or one still holding bytes of an earlier answer, must never
    // carry the next request.
    for (int round = 0; round < 5; ++round) {
        HttpResponse lying;
        HttpError error;
        ASSERT_EQ(get(L"/test/respond?size=20000&contentLength=100", lying, error), HttpResult::Ok);
        HttpResponse next;
        EXPECT_EQ(get(L"/test/bytes/10", next, error), HttpResult::Ok) << round;
        EXPECT_EQ(next.body.size(), 10u) << round;

        HttpRequest stopped;
        stopped.url = service.url(L"/test/bytes/300000");
        stopped.sink = [](const uint8_t*, uint32_t) { return false; };
        HttpResponse unread;
        EXPECT_EQ(HttpClient::Send(stopped, unread, error), HttpResult::Aborted);
        EXPECT_EQ(get(L"/test/bytes/10", next, error), HttpResult::Ok) << round;
        EXPECT_EQ(next.body.size(), 10u) << round;
    }
}

TEST_F(HttpClientTest, ACancelFlagSetBeforehandStopsBeforeAnyRequest) {
    std::atomic<bool> cancel{true};
    HttpRequest request;
    request.url = service.url(L"/test/bytes/10");
    request.cancelFlag = &cancel;
    HttpResponse response;
    HttpError error = kUntouched;
    EXPECT_EQ(HttpClient::Send(request, response, error), HttpResult::Aborted);
    EXPECT_EQ(error, kUntouched);
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(requestsTo("/test/bytes/"), 0u);
}

TEST_F(HttpClientTest, ACancelFlagSetDuringAStalledBodyStopsAtTheNextRead) {
    constexpr uint64_t kSize = 300000;
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    std::condition_variable firstChunkArrived;
    bool firstChunk = false;
    std::thread canceller([&] {
        std::unique_lock<std::mutex> lock(mutex);
        firstChunkArrived.wait(lock, [&] { return firstChunk; });
        cancel.store(true, std::memory_order_release);
    });

    uint64_t received = 0;
    HttpRequest request;
    request.url = service.url(L"/test/respond?size=" + std::to_wstring(kSize) + L"&stallAfter=1000&stallMs=1500");
    request.cancelFlag = &cancel;
    request.sink = [&](const uint8_t*, uint32_t length) {
        received += length;
        {
            std::lock_guard<std::mutex> lock(mutex);
            firstChunk = true;
        }
        firstChunkArrived.notify_one();
        return true;
    };
    HttpResponse response;
    HttpError error = kUntouched;
    const HttpResult result = HttpClient::Send(request, response, error);
    canceller.join();
    EXPECT_EQ(result, HttpResult::Aborted);
    EXPECT_EQ(error, kUntouched);
    EXPECT_GE(received, 1u);
    EXPECT_LT(received, kSize);
    EXPECT_EQ(response.status, 200);
}

TEST_F(HttpClientTest, ReportsBadAddressesAndUnreachableServers) {
    const std::wstring tooLongHost = L"http://" + std::wstring(300, L'h') + L"/x";
    const std::wstring tooLongPath = service.url(L"/" + std::wstring(5000, L'p'));
    for (const std::wstring& url : {std::wstring(L"not a url"), tooLongHost, tooLongPath}) {
        HttpResponse response;
        HttpError error;
        EXPECT_EQ(fetch(url, response, error), HttpResult::InvalidUrl);
        EXPECT_EQ(httpErrorText(error), L"地址无效");
    }
    EXPECT_EQ(service.requests().size(), 0u);

    // A redirect to something that cannot be split fails the same way.
    HttpResponse redirected;
    HttpError error;
    EXPECT_EQ(get(L"/test/echo/x?redirect=" + tooLongHost, redirected, error), HttpResult::InvalidUrl);
    EXPECT_EQ(httpErrorText(error), L"地址无效");

    std::string body = "kept";
    EXPECT_FALSE(HttpClient::Get(L"http://127.0.0.1:1/api/client/bootstrap", body, error));
    EXPECT_EQ(httpErrorText(error), L"请求发送失败 (winhttp 12029)");
    EXPECT_EQ(body, "kept");

    HttpResponse response;
    EXPECT_EQ(fetch(L"http://127.0.0.1:1/", response, error), HttpResult::SendFailed);
    EXPECT_EQ(httpErrorText(error), L"请求发送失败 (winhttp 12029)");
}

TEST_F(HttpsClientTest, FetchesOverTlsAndFollowsRedirectsThatEndOnHttps) {
    HttpResponse direct;
    HttpError error = kUntouched;
    EXPECT_EQ(fetch(secure.url(L"/test/bytes/70000"), direct, error), HttpResult::Ok) << httpErrorText(error);
    EXPECT_EQ(direct.body.size(), 70000u);

    struct Case {
        std::wstring start;
        std::wstring final;
    };
    const std::wstring end = secure.url(L"/test/echo/end");
    const Case cases[] = {
        {secure.url(L"/test/redirect/3?form=relative"), secure.url(L"/test/redirect/0?form=relative")},
        {secure.url(L"/test/echo/a?redirect=") + end, end},
        {secure.url(L"/test/echo/a?redirect=HTTPS") + end.substr(5), L"HTTPS" + end.substr(5)},
        // Only http(s) Locations are absolute: this one is a name beside the current path, still on https.
        {secure.url(L"/test/echo/a?redirect=ftp://127.0.0.1/x"), secure.url(L"/test/echo/ftp://127.0.0.1/x")},
        {service.url(L"/test/echo/a?redirect=") + end, end},  // http may move up to https
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        HttpResponse response;
        EXPECT_EQ(fetch(c.start, response, error), HttpResult::Ok) << httpErrorText(error);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.finalUrl, c.final);
    }
    EXPECT_EQ(error, kUntouched);
}

TEST_F(HttpsClientTest, RefusesRedirectsFromHttpsToHttpWithoutRequestingThem) {
    const std::wstring insecure = service.url(L"/test/echo/insecure");
    for (const std::wstring& location : {insecure, L"HTTP" + insecure.substr(4)}) {
        SCOPED_TRACE(location);
        ASSERT_TRUE(service.resetLog());
        HttpResponse response;
        HttpError error;
        EXPECT_EQ(fetch(secure.url(L"/test/echo/start?redirect=") + location, response, error),
                  HttpResult::RedirectFailed);
        EXPECT_EQ(httpErrorText(error), L"重定向到不安全的地址");
        EXPECT_EQ(response.status, 0);
        EXPECT_EQ(requestsTo("/test/echo/start"), 1u);
        EXPECT_EQ(requestsTo("/test/echo/insecure"), 0u);
    }

    // A package link answered with a plain-http copy: the probe stops before any byte of it arrives.
    ASSERT_TRUE(service.resetLog());
    ASSERT_TRUE(redirectOnce("/api/client/download/1", service.url(L"/files/1/copy.exe")));
    HttpRequest probe;
    probe.url = secure.url(L"/api/client/download/1?channel=x");
    probe.headers = {{L"Range", L"bytes=0-0"}};
    int chunks = 0;
    probe.sink = [&chunks](const uint8_t*, uint32_t) { return ++chunks > 0; };
    HttpResponse response;
    HttpError error;
    EXPECT_EQ(HttpClient::Send(probe, response, error), HttpResult::RedirectFailed);
    EXPECT_EQ(httpErrorText(error), L"重定向到不安全的地址");
    EXPECT_EQ(chunks, 0);
    EXPECT_EQ(requestsTo("/api/client/download/1"), 1u);
    EXPECT_EQ(requestsTo("/files/"), 0u);
}

TEST_F(HttpsClientTest, ACatalogueRedirectedFromHttpsToHttpIsNotLoaded) {
    ASSERT_TRUE(redirectOnce("/api/client/bootstrap", service.url(L"/api/client/bootstrap")));
    std::string body = "kept";
    HttpError error;
    EXPECT_FALSE(HttpClient::Get(secure.url(L"/api/client/bootstrap"), body, error));
    EXPECT_EQ(httpErrorText(error), L"重定向到不安全的地址");
    EXPECT_EQ(body, "kept");
    EXPECT_EQ(requestsTo("/api/client/bootstrap"), 1u);
}

TEST_F(HttpsClientTest, RefusesACertificateFromAnUntrustedAuthority) {
    const qbtest::ServiceControl untrusted(qbtest::environment(L"QB_TEST_TLS_UNTRUSTED_SERVER"));
    ASSERT_TRUE(untrusted.available()) << "QB_TEST_TLS_UNTRUSTED_SERVER is not set";
    HttpResponse response;
    HttpError error;
    EXPECT_EQ(fetch(untrusted.url(L"/test/bytes/10"), response, error), HttpResult::TlsFailed);
    EXPECT_EQ(httpErrorText(error).rfind(L"请求发送失败 (winhttp ", 0), 0u) << httpErrorText(error);
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(requestsTo("/test/bytes/"), 0u);
}

}  // namespace
