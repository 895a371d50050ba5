#include "net/proxy_session.h"

#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

#include "base/winhttp_handle.h"
#include "net/proxy_rules.h"

namespace {

constexpr auto kAnswerPoll = std::chrono::milliseconds(100);

struct ProxyRoutes {
    std::mutex mutex;
    std::wstring setting = L"system";
    uint64_t generation = 0;  // of the setting: an answer found under an older one is not kept
    std::optional<SystemProxyConfig> system;
    std::map<std::wstring, std::wstring> found;  // "scheme://host:port" -> proxy
    // When automatic detection last found no proxy script at all (GetTickCount64; 0: never). For a
    // while after, other hosts go straight to the fallback instead of each waiting for detection again.
    uint64_t nothingDetectedAt = 0;
    // One lookup at a time: the second request to a host waits for the first's answer instead of
    // detecting again.
    std::mutex lookup;
};

ProxyRoutes& routes() {
    static ProxyRoutes state;
    return state;
}

std::wstring takeGlobalString(LPWSTR text) {
    std::wstring copy = text ? text : L"";
    if (text) ::GlobalFree(text);
    return copy;
}

SystemProxyConfig readSystemProxyConfig() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    SystemProxyConfig config;
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&ie)) return config;
    config.autoDetect = ie.fAutoDetect != FALSE;
    config.autoConfigUrl = takeGlobalString(ie.lpszAutoConfigUrl);
    config.proxy = takeGlobalString(ie.lpszProxy);
    config.bypass = takeGlobalString(ie.lpszProxyBypass);
    return config;
}

constexpr uint64_t kRememberNothingDetectedMs = 15 * 60 * 1000;

// WinHttpGetProxyForUrl's answer for url; the plan's fallback when it finds none. `nothingDetected` is
// set when detection alone was asked and found no script.
std::wstring automaticProxy(const ProxyPlan& plan, const std::wstring& url, bool& nothingDetected) {
    qb::UniqueInternet session(::WinHttpOpen(L"Quillbox", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                             WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return plan.proxy;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (plan.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!plan.autoConfigUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = plan.autoConfigUrl.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        nothingDetected = plan.autoConfigUrl.empty() && ::GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED;
        return plan.proxy;
    }
    const std::wstring proxy = takeGlobalString(info.lpszProxy);
    takeGlobalString(info.lpszProxyBypass);
    return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxy : std::wstring();
}

// What is known of one proxy's credentials this session.
struct ProxyAccount {
    ProxyLogin login;
    bool storedRead = false;
    bool asking = false;
    int asked = 0;
    bool declined = false;
    bool remember = false;
    bool saved = false;
};

struct ProxyAccounts {
    std::mutex mutex;
    std::condition_variable answered;
    std::map<std::wstring, ProxyAccount> byProxy;
    ProxyCredentialPrompt prompt;
};

ProxyAccounts& accounts() {
    static ProxyAccounts state;
    return state;
}

bool isCancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_acquire); }

void takeCredentials(ProxyAccount& account, const ProxyCredentials& credentials) {
    account.login.generation += 1;
    account.login.user = credentials.user;
    account.login.password = credentials.password;
    account.remember = credentials.remember;
    account.saved = false;
}

}  // namespace

void setProxySetting(const std::wstring& setting) {
    ProxyRoutes& state = routes();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (setting == state.setting) return;
    state.setting = setting;
    state.generation += 1;
    state.found.clear();
    state.nothingDetectedAt = 0;
}

std::wstring proxyForRequest(const std::wstring& scheme, const std::wstring& host, unsigned port) {
    ProxyRoutes& state = routes();
    const std::wstring key = scheme + L"://" + host + L":" + std::to_wstring(port);
    std::unique_lock<std::mutex> lock(state.mutex);
    if (const auto known = state.found.find(key); known != state.found.end()) return known->second;
    lock.unlock();

    std::lock_guard<std::mutex> lookup(state.lookup);
    lock.lock();
    if (const auto known = state.found.find(key); known != state.found.end()) return known->second;
    const std::wstring setting = state.setting;
    const uint64_t generation = state.generation;
    const uint64_t now = ::GetTickCount64();
    const bool detectedLately = state.nothingDetectedAt && now - state.nothingDetectedAt < kRememberNothingDetectedMs;
    lock.unlock();
    // Read once a session, and only when the setting leaves the choice to the system.
    if (setting == L"system" && !state.system) state.system = readSystemProxyConfig();
    const ProxyPlan plan = planProxy(setting, state.system.value_or(SystemProxyConfig{}), scheme, host, port);
    const bool detect =
        plan.route == ProxyRoute::Automatic && !(plan.autoConfigUrl.empty() && detectedLately);
    bool nothingDetected = false;
    const std::wstring proxy = detect ? automaticProxy(plan, key + L"/", nothingDetected) : plan.proxy;
    lock.lock();
    if (generation != state.generation) return proxy;
    // Detection that found nothing is remembered for every host for a while, and for no host for
    // good: a background copy that runs for days sees a proxy script that appears later.
    if (nothingDetected) state.nothingDetectedAt = now;
    if (!nothingDetected && (detect || plan.route != ProxyRoute::Automatic)) state.found[key] = proxy;
    return proxy;
}

void setProxyCredentialPrompt(ProxyCredentialPrompt prompt) {
    ProxyAccounts& state = accounts();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.prompt = std::move(prompt);
}

ProxyLogin currentProxyLogin(const std::wstring& proxy) {
    ProxyAccounts& state = accounts();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto account = state.byProxy.find(proxy);
    return account == state.byProxy.end() ? ProxyLogin{} : account->second.login;
}

ProxyChallenge answerProxyChallenge(const std::wstring& proxy, int sentGeneration, DWORD scheme,
                                    const std::atomic<bool>* cancel, ProxyLogin& login) {
    ProxyAccounts& state = accounts();
    std::unique_lock<std::mutex> lock(state.mutex);
    ProxyAccount& account = state.byProxy[proxy];
    if (scheme) account.login.scheme = scheme;
    for (;;) {
        if (isCancelled(cancel)) return ProxyChallenge::Aborted;
        const ProxyAuthFacts facts{sentGeneration, account.login.generation, !account.storedRead, account.asking,
                                   account.asked,  account.declined,        static_cast<bool>(state.prompt)};
        switch (decideProxyAuth(facts)) {
            case ProxyAuthAction::Retry: login = account.login; return ProxyChallenge::Retry;
            case ProxyAuthAction::Wait: state.answered.wait_for(lock, kAnswerPoll); break;
            case ProxyAuthAction::Fail:
                if (account.asked >= kMaxProxyQuestions) account.declined = true;
                return ProxyChallenge::Fail;
            case ProxyAuthAction::UseStored: {
                account.storedRead = true;
                lock.unlock();
                const std::optional<ProxyCredentials> stored = readStoredProxyCredentials(proxy);
                lock.lock();
                if (stored) {
                    takeCredentials(account, *stored);
                    account.saved = true;
                }
                break;
            }
            case ProxyAuthAction::Ask: {
                account.asking = true;
                const ProxyQuestion question{proxy, ++account.asked, sentGeneration > 0};
                const ProxyCredentialPrompt prompt = state.prompt;
                lock.unlock();
                ProxyCredentials given;
                const ProxyAnswer answer = prompt(question, cancel, given);
                lock.lock();
                account.asking = false;
                state.answered.notify_all();
                if (answer == ProxyAnswer::Given) takeCredentials(account, given);
                if (answer == ProxyAnswer::Declined) account.declined = true;
                if (answer == ProxyAnswer::NoWindow || answer == ProxyAnswer::Cancelled) account.asked -= 1;
                if (answer == ProxyAnswer::NoWindow) return ProxyChallenge::Fail;
                if (answer == ProxyAnswer::Cancelled) return ProxyChallenge::Aborted;
                break;
            }
        }
    }
}

void proxyLoginAccepted(const std::wstring& proxy, int generation) {
    ProxyAccounts& state = accounts();
    std::unique_lock<std::mutex> lock(state.mutex);
    ProxyAccount& account = state.byProxy[proxy];
    if (generation != account.login.generation || !account.remember || account.saved) return;
    account.saved = true;
    const ProxyCredentials credentials{account.login.user, account.login.password, true};
    lock.unlock();
    storeProxyCredentials(proxy, credentials);
}
