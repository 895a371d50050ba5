#include <windows.h>
#include <winhttp.h>

#include <cwchar>

#include "net/http_client.h"

namespace {

constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 4096;

bool startsWithNoCase(const std::wstring& text, const wchar_t* prefix, size_t prefixLength) {
    return text.size() > prefixLength && ::_wcsnicmp(text.c_str(), prefix, prefixLength) == 0;
}

bool sameOrigin(const std::wstring& a, const std::wstring& b) {
    const std::optional<UrlParts> left = splitUrl(a);
    const std::optional<UrlParts> right = splitUrl(b);
    return left && right && left->secure == right->secure && left->port == right->port &&
           ::_wcsicmp(left->host.c_str(), right->host.c_str()) == 0;
}

// Headers another origin must not see again: credentials, and conditions about the old origin's copy.
bool carriesCredentialsOrConditions(const std::wstring& name) {
    static const wchar_t* const kNames[] = {L"Authorization", L"Proxy-Authorization", L"Cookie", L"If-Match",
                                            L"If-None-Match", L"If-Modified-Since", L"If-Unmodified-Since",
                                            L"If-Range"};
    for (const wchar_t* known : kNames)
        if (::_wcsicmp(name.c_str(), known) == 0) return true;
    return false;
}

}  // namespace

std::optional<UrlParts> splitUrl(const std::wstring& url) {
    wchar_t host[kHostChars] = {};
    wchar_t path[kPathChars] = {};
    wchar_t extra[kPathChars] = {};
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host;
    components.dwHostNameLength = kHostChars - 1;
    components.lpszUrlPath = path;
    components.dwUrlPathLength = kPathChars - 1;
    components.lpszExtraInfo = extra;
    components.dwExtraInfoLength = kPathChars - 1;
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) return std::nullopt;

    UrlParts parts;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.scheme = parts.secure ? L"https" : L"http";
    parts.host.assign(host, components.dwHostNameLength);
    parts.port = components.nPort;
    parts.pathAndQuery.assign(path, components.dwUrlPathLength);
    parts.pathAndQuery.append(extra, components.dwExtraInfoLength);
    if (parts.pathAndQuery.empty()) parts.pathAndQuery = L"/";
    return parts;
}

std::wstring resolveRedirectTarget(const std::wstring& location, const std::wstring& currentUrl) {
    if (startsWithNoCase(location, L"http://", 7) || startsWithNoCase(location, L"https://", 8)) return location;
    const std::optional<UrlParts> current = splitUrl(currentUrl);
    if (!current) return location;

    std::wstring origin = current->scheme + L"://" + current->host;
    const bool defaultPort = current->secure ? current->port == 443 : current->port == 80;
    if (!defaultPort) origin += L":" + std::to_wstring(current->port);
    if (location.compare(0, 2, L"//") == 0) return current->scheme + L":" + location;
    if (!location.empty() && location[0] == L'/') return origin + location;

    std::wstring directory = current->pathAndQuery.substr(0, current->pathAndQuery.find(L'?'));
    const size_t lastSlash = directory.rfind(L'/');
    if (lastSlash == std::wstring::npos)
        directory.push_back(L'/');
    else
        directory.resize(lastSlash + 1);
    return origin + directory + location;
}

bool isHttpsUrl(const std::wstring& url) { return startsWithNoCase(url, L"https://", 8); }

bool isRedirectStatus(int32_t status) { return status >= 300 && status <= 399 && status != 304; }

std::optional<HopRequest> redirectedRequest(const HopRequest& request, int32_t status, const std::wstring& fromUrl,
                                            const std::wstring& toUrl) {
    if (sameOrigin(fromUrl, toUrl)) return request;
    HopRequest next;
    next.method = request.method;
    const bool becomesGet = request.method == L"POST" && (status == 301 || status == 302 || status == 303);
    if (becomesGet) {
        next.method = L"GET";
    } else if (request.body) {
        return std::nullopt;
    }
    for (const auto& header : request.headers) {
        if (carriesCredentialsOrConditions(header.first)) continue;
        if (becomesGet && startsWithNoCase(header.first, L"Content-", 8)) continue;
        next.headers.push_back(header);
    }
    return next;
}
