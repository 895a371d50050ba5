#include "net/proxy_rules.h"

#include <cwctype>
#include <vector>

namespace {

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

// The entries of a list split at ';', ',' and white space, empty ones left out.
std::vector<std::wstring> entriesOf(const std::wstring& list) {
    std::vector<std::wstring> entries;
    std::wstring entry;
    for (const wchar_t c : list + L";") {
        if (c == L';' || c == L',' || iswspace(c)) {
            if (!entry.empty()) entries.push_back(entry);
            entry.clear();
        } else {
            entry.push_back(c);
        }
    }
    return entries;
}

// '*' matches any run of characters, anything else itself; both sides already lower case.
bool wildcardMatch(const wchar_t* pattern, const wchar_t* text) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*text) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == *text) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == L'\0';
}

std::wstring withoutScheme(const std::wstring& entry) {
    const size_t slashes = entry.find(L"://");
    return slashes == std::wstring::npos ? entry : entry.substr(slashes + 3);
}

}  // namespace

std::wstring proxyForScheme(const std::wstring& list, const std::wstring& scheme) {
    std::wstring general;
    for (const std::wstring& entry : entriesOf(list)) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            if (general.empty()) general = entry;
        } else if (lower(entry.substr(0, equals)) == lower(scheme) && equals + 1 < entry.size()) {
            return entry.substr(equals + 1);
        }
    }
    return general;
}

bool bypassMatches(const std::wstring& bypass, const std::wstring& host, unsigned port) {
    const std::wstring name = lower(host);
    const std::wstring nameAndPort = name + L":" + std::to_wstring(port);
    for (const std::wstring& entry : entriesOf(lower(bypass))) {
        if (entry == L"<local>") {
            if (name.find(L'.') == std::wstring::npos && name.find(L':') == std::wstring::npos) return true;
            continue;
        }
        const std::wstring pattern = withoutScheme(entry);
        const bool hasPort = pattern.find(L':') != std::wstring::npos && pattern.front() != L'[';
        if (wildcardMatch(pattern.c_str(), (hasPort ? nameAndPort : name).c_str())) return true;
    }
    return false;
}

ProxyPlan planProxy(const std::wstring& setting, const SystemProxyConfig& system, const std::wstring& scheme,
                    const std::wstring& host, unsigned port) {
    ProxyPlan plan;
    if (setting == L"none") return plan;
    if (setting != L"system") {
        plan.route = ProxyRoute::Named;
        plan.proxy = setting;
        return plan;
    }
    if (!system.proxy.empty() && !bypassMatches(system.bypass, host, port))
        plan.proxy = proxyForScheme(system.proxy, scheme);
    if (system.autoDetect || !system.autoConfigUrl.empty()) {
        plan.route = ProxyRoute::Automatic;
        plan.autoDetect = system.autoDetect;
        plan.autoConfigUrl = system.autoConfigUrl;
    } else if (!plan.proxy.empty()) {
        plan.route = ProxyRoute::Named;
    }
    return plan;
}

ProxyAuthAction decideProxyAuth(const ProxyAuthFacts& f) {
    if (f.knownGeneration > f.sentGeneration) return ProxyAuthAction::Retry;
    if (f.declined) return ProxyAuthAction::Fail;
    if (f.storedUnread) return ProxyAuthAction::UseStored;
    if (f.asking) return ProxyAuthAction::Wait;
    if (!f.canAsk || f.asked >= kMaxProxyQuestions) return ProxyAuthAction::Fail;
    return ProxyAuthAction::Ask;
}
