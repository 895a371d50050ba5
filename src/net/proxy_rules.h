#pragma once
// Which proxy carries a request, and what a proxy's 407 leads to: pure decisions, no WinHTTP behind them.
#include <string>

// The user's Internet settings as WinHttpGetIEProxyConfigForCurrentUser gives them.
struct SystemProxyConfig {
    bool autoDetect = false;
    std::wstring autoConfigUrl;  // a PAC script's address; empty when none
    std::wstring proxy;          // "host:port", or per scheme: "http=host:port;https=host:port"
    std::wstring bypass;         // "<local>;*.example.com;10.*"
};

enum class ProxyRoute {
    Direct,
    Named,      // through `proxy`
    Automatic,  // ask WinHttpGetProxyForUrl (detection and/or the PAC address); `proxy` when it finds none
};

struct ProxyPlan {
    ProxyRoute route = ProxyRoute::Direct;
    std::wstring proxy;
    bool autoDetect = false;
    std::wstring autoConfigUrl;
};

// The entry of a proxy list for a scheme: a "scheme=" entry first, else the first without one; empty when none.
std::wstring proxyForScheme(const std::wstring& list, const std::wstring& scheme);
// True when host (or "host:port") matches an entry of a bypass list: "<local>" matches a name without a
// dot, other entries are patterns with '*', any case, an "http://" before them ignored.
bool bypassMatches(const std::wstring& bypass, const std::wstring& host, unsigned port);
// The plan for a request to scheme://host:port under the setting ("system", "none" or "host:port").
// The system's manual proxy is the automatic plan's fallback as well; with none, automatic falls back
// to a direct connection.
ProxyPlan planProxy(const std::wstring& setting, const SystemProxyConfig& system, const std::wstring& scheme,
                    const std::wstring& host, unsigned port);

// What a request that a proxy answered with 407 does next.
enum class ProxyAuthAction {
    Retry,      // newer credentials than the ones it sent are known: send again with them
    UseStored,  // read the credentials kept in the Credential Manager, then send again
    Wait,       // another request is asking the user: wait for the answer
    Ask,        // ask the user
    Fail,       // "代理需要身份验证"
};

struct ProxyAuthFacts {
    int sentGeneration = 0;     // the credentials the answered request carried; 0 for none
    int knownGeneration = 0;    // the newest credentials known for the proxy; 0 for none
    bool storedUnread = true;   // the Credential Manager has not been asked yet
    bool asking = false;        // a question to the user is open
    int asked = 0;              // questions put to the user so far this session
    bool declined = false;      // the user said no (取消), or the questions ran out
    bool canAsk = true;         // a window can ask
};

// At most this many questions for one proxy a session: the first and two after a wrong password.
inline constexpr int kMaxProxyQuestions = 3;

ProxyAuthAction decideProxyAuth(const ProxyAuthFacts& facts);
