#pragma once
// The proxies of this session: which one carries a request (found once per scheme and host, then kept),
// and the credentials each asked for. Every HttpClient exchange goes through here.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "net/proxy_credentials.h"

// Takes the setting ("system", "none" or "host:port") for every later request and forgets the proxies
// found so far.
void setProxySetting(const std::wstring& setting);
// The proxy for scheme://host:port ("host:port" or a WinHTTP proxy list); empty for a direct connection.
std::wstring proxyForRequest(const std::wstring& scheme, const std::wstring& host, unsigned port);

struct ProxyQuestion {
    std::wstring proxy;
    int number = 1;        // 1 for the first question this session
    bool refused = false;  // the proxy turned down the last credentials
};
enum class ProxyAnswer { Given, Declined, NoWindow, Cancelled };
// Asks the user on behalf of a worker and waits, giving up with Cancelled when *cancel turns true.
using ProxyCredentialPrompt =
    std::function<ProxyAnswer(const ProxyQuestion& question, const std::atomic<bool>* cancel, ProxyCredentials& out)>;
// The program's window installs one; without it a 407 fails at once.
void setProxyCredentialPrompt(ProxyCredentialPrompt prompt);

// What a request sends to its proxy: generation 0 when nothing is known yet.
struct ProxyLogin {
    int generation = 0;
    std::wstring user;
    std::wstring password;
    DWORD scheme = 0;  // the WINHTTP_AUTH_SCHEME_* the proxy last asked for; 0 before any 407
};
ProxyLogin currentProxyLogin(const std::wstring& proxy);

enum class ProxyChallenge { Retry, Fail, Aborted };
// After a 407 to a request that sent sentGeneration: Retry with `login`, Fail, or Aborted on *cancel.
ProxyChallenge answerProxyChallenge(const std::wstring& proxy, int sentGeneration, DWORD scheme,
                                    const std::atomic<bool>* cancel, ProxyLogin& login);
// The proxy let a request with these credentials through: "记住" stores them now.
void proxyLoginAccepted(const std::wstring& proxy, int generation);
