#include "net/http_client.h"

#include <winhttp.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "base/winhttp_handle.h"
#include "net/proxy_session.h"

namespace {

constexpr wchar_t kUserAgent[] =
    L"Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/109.0.0.0 "
    L"Safari/537.36";
constexpr DWORD kSecureProtocols = 0xA80;  // TLS 1.0 + 1.1 + 1.2
constexpr int kHopBudget = 11;             // ten redirects are followed, the eleventh fails
constexpr DWORD kHeaderBufferBytes = 8192;
// Far beyond any URL splitUrl takes; a longer Location is not read at all.
constexpr DWORD kLocationCapBytes = 32768;
constexpr DWORD kReadChunkBytes = 65536;
constexpr size_t kMemoryBodyLimit = 8388608;

HttpResult failed(HttpError& error, HttpResult result, HttpFault fault, DWORD systemCode = 0) {
    error = HttpError{fault, 0, systemCode};
    return result;
}

bool isCancelled(const HttpRequest& request) {
    return request.cancelFlag && request.cancelFlag->load(std::memory_order_acquire);
}

bool isTlsError(DWORD code) { return code == 12045 || code == 12157 || code == 12175; }

// The three handles of one hop; members close in reverse order: request, connection, session.
struct Hop {
    qb::UniqueInternet session;
    qb::UniqueInternet connection;
    qb::UniqueInternet request;
    std::wstring proxy;   // empty for a direct connection
    int loginSent = 0;    // the generation of the proxy credentials the request carries; 0 for none
    DWORD loginScheme = 0;  // the scheme they went in

    void close() {
        request.reset();
        connection.reset();
        session.reset();
    }
};

bool sendProxyLogin(HINTERNET request, const ProxyLogin& login) {
    return ::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, login.scheme, login.user.c_str(),
                                   login.password.c_str(), nullptr) != FALSE;
}

// Reads one header into a zeroed 8192-byte buffer; false when the query fails.
bool queryHeader(HINTERNET request, DWORD infoLevel, const wchar_t* name, std::wstring& value) {
    std::vector<wchar_t> buffer(kHeaderBufferBytes / sizeof(wchar_t), L'\0');
    DWORD length = kHeaderBufferBytes;
    if (!::WinHttpQueryHeaders(request, infoLevel, name, buffer.data(), &length, WINHTTP_NO_HEADER_INDEX))
        return false;
    value.assign(buffer.data(), std::min<size_t>(length / sizeof(wchar_t), buffer.size()));
    return true;
}

// Start of "bytes a-b/total"; -1 for "bytes */total" or anything else.
int64_t parseRangeStart(const std::wstring& contentRange) {
    size_t i = contentRange.find_first_not_of(L" \t");
    if (i == std::wstring::npos || contentRange.size() - i < 5 || ::_wcsnicmp(contentRange.c_str() + i, L"bytes", 5) != 0)
        return -1;
    i = contentRange.find_first_not_of(L" \t", i + 5);
    int64_t start = 0;
    size_t digits = 0;
    for (; i != std::wstring::npos && i < contentRange.size() && iswdigit(contentRange[i]); ++i, ++digits) {
        if (digits == 18) return -1;  // beyond any real file size
        start = start * 10 + (contentRange[i] - L'0');
    }
    if (digits == 0 || i >= contentRange.size() || contentRange[i] != L'-') return -1;
    return start;
}

// Steps of one hop up to an open request handle with its options and headers.
HttpResult openHop(const HopRequest& request, const UrlParts& parts, Hop& hop, HttpError& error) {
    hop.proxy = proxyForRequest(parts.scheme, parts.host, parts.port);
    hop.session.reset(::WinHttpOpen(kUserAgent,
                                    hop.proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                    hop.proxy.empty() ? WINHTTP_NO_PROXY_NAME : hop.proxy.c_str(),
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!hop.session) return failed(error, HttpResult::ConnectFailed, HttpFault::SessionFailed);
    ::WinHttpSetTimeouts(hop.session.get(), 10000, 10000, 30000, 30000);
    DWORD protocols = kSecureProtocols;
    ::WinHttpSetOption(hop.session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));

    hop.connection.reset(::WinHttpConnect(hop.session.get(), parts.host.c_str(), parts.port, 0));
    if (!hop.connection) {
        hop.close();
        return failed(error, HttpResult::ConnectFailed, HttpFault::RequestFailed);
    }
    hop.request.reset(::WinHttpOpenRequest(hop.connection.get(), request.method.c_str(), parts.pathAndQuery.c_str(),
                                           nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!hop.request) {
        hop.close();
        return failed(error, HttpResult::ConnectFailed, HttpFault::RequestFailed);
    }
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(hop.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    // One connection per request: a connection kept for reuse may hold the unread rest of an answer
    // that was longer than its Content-Length, or have been closed by the server meanwhile. Through a
    // proxy it stays open for the hop's own session, which ends with the hop: NTLM and Negotiate answer
    // the proxy's challenge on the connection that received it.
    if (hop.proxy.empty()) {
        DWORD disabled = WINHTTP_DISABLE_KEEP_ALIVE;
        ::WinHttpSetOption(hop.request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof(disabled));
    }
    for (const auto& header : request.headers) {
        const std::wstring line = header.first + L": " + header.second;
        ::WinHttpAddRequestHeaders(hop.request.get(), line.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }
    // Credentials the proxy took before go with the first try, in the scheme it asked for.
    if (!hop.proxy.empty()) {
        const ProxyLogin login = currentProxyLogin(hop.proxy);
        if (login.generation > 0 && login.scheme != 0 && sendProxyLogin(hop.request.get(), login)) {
            hop.loginSent = login.generation;
            hop.loginScheme = login.scheme;
        }
    }
    return HttpResult::Ok;
}

// The strongest scheme a 407 offers that a user name and password can answer; 0 when none.
DWORD proxySchemeOf(HINTERNET request) {
    DWORD supported = 0, first = 0, target = 0;
    if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return 0;
    for (const DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                               WINHTTP_AUTH_SCHEME_BASIC})
        if (supported & scheme) return scheme;
    return 0;
}

int32_t statusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    return static_cast<int32_t>(status);
}

// Sends the hop's request and waits for the response head.
HttpResult sendOnce(const HttpRequest& request, const HopRequest& hopRequest, Hop& hop, HttpError& error) {
    const std::optional<std::string>& body = hopRequest.body;
    const DWORD bodyLength = body ? static_cast<DWORD>(body->size()) : 0;
    LPVOID bodyData = body ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA;
    if (!::WinHttpSendRequest(hop.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, bodyData, bodyLength, bodyLength,
                              0)) {
        const DWORD code = ::GetLastError();
        hop.close();
        if (isCancelled(request)) return HttpResult::Aborted;
        return failed(error, isTlsError(code) ? HttpResult::TlsFailed : HttpResult::SendFailed,
                      HttpFault::SendFailed, code);
    }
    if (!::WinHttpReceiveResponse(hop.request.get(), nullptr)) {
        const DWORD code = ::GetLastError();
        hop.close();
        if (isCancelled(request)) return HttpResult::Aborted;
        return failed(error, HttpResult::SendFailed, HttpFault::NoResponse, code);
    }
    return HttpResult::Ok;
}

}  // namespace

bool proxyRefusal(int32_t status, DWORD sentScheme) {
    return status == 407 || (status == 401 && sentScheme == WINHTTP_AUTH_SCHEME_BASIC);
}

namespace {

// Sends the request, and again with the user's credentials for as long as its proxy refuses it and the
// session's proxy credentials say to try again. They go to that proxy only (WINHTTP_AUTH_TARGET_PROXY).
HttpResult exchange(const HttpRequest& request, const HopRequest& hopRequest, Hop& hop, HttpError& error) {
    for (;;) {
        const HttpResult result = sendOnce(request, hopRequest, hop, error);
        if (result != HttpResult::Ok || hop.proxy.empty()) return result;
        const int32_t status = statusOf(hop.request.get());
        if (!proxyRefusal(status, hop.loginScheme)) {
            if (hop.loginSent > 0) proxyLoginAccepted(hop.proxy, hop.loginSent);
            return result;
        }
        // The schemes a 401 offers are the server's: they never change how the proxy is answered.
        const DWORD scheme = status == 407 ? proxySchemeOf(hop.request.get()) : 0;
        ProxyLogin login;
        const ProxyChallenge next = answerProxyChallenge(hop.proxy, hop.loginSent, scheme, request.cancelFlag, login);
        if (next == ProxyChallenge::Aborted) return HttpResult::Aborted;
        if (next == ProxyChallenge::Fail || login.scheme == 0 || !sendProxyLogin(hop.request.get(), login)) {
            hop.close();
            error = HttpError{HttpFault::ProxyAuthRequired, 407, 0};
            return HttpResult::HttpError;
        }
        hop.loginSent = login.generation;
        hop.loginScheme = login.scheme;
    }
}

// The Location of a redirect answer: Absent when this hop is final (not a redirect, no Location or
// an empty one), Unreadable when one is there but cannot be read.
HeaderRead redirectLocation(HINTERNET request, int32_t status, std::wstring& location) {
    location.clear();
    if (!isRedirectStatus(status)) return HeaderRead::Absent;
    const HeaderRead read = readHeaderValue(
        [request](wchar_t* buffer, DWORD* bytes) {
            return ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, buffer, bytes,
                                         WINHTTP_NO_HEADER_INDEX) != FALSE;
        },
        kLocationCapBytes, location);
    return read == HeaderRead::Value && location.empty() ? HeaderRead::Absent : read;
}

void captureHeaders(HINTERNET request, int32_t status, std::wstring& currentUrl, HttpResponse& response) {
    std::wstring contentLength, contentRange, disposition, contentType;
    const bool haveLength = queryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                                        contentLength);
    const bool haveRange = queryHeader(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                                       contentRange);
    if (!queryHeader(request, WINHTTP_QUERY_CUSTOM, L"Content-Disposition", disposition)) disposition.clear();
    if (!queryHeader(request, WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX, contentType))
        contentType.clear();
    std::wstring etag, lastModified;
    if (!queryHeader(request, WINHTTP_QUERY_ETAG, WINHTTP_HEADER_NAME_BY_INDEX, etag)) etag.clear();
    if (!queryHeader(request, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX, lastModified))
        lastModified.clear();

    response.status = status;
    response.finalUrl = std::move(currentUrl);
    response.contentLength = -1;
    response.rangeStart = -1;
    if (haveLength && !contentLength.empty()) response.contentLength = ::_wtoi64(contentLength.c_str());
    if (haveRange && !contentRange.empty()) {
        response.hasContentRange = true;
        response.rangeStart = parseRangeStart(contentRange);
        const size_t slash = contentRange.rfind(L'/');
        if (slash != std::wstring::npos) {
            const std::wstring total = contentRange.substr(slash + 1);
            if (!total.empty() && total != L"*") response.totalSize = ::_wtoi64(total.c_str());
        }
    }
    response.contentDisposition = disposition;
    response.contentType = contentType;
    response.etag = std::move(etag);
    response.lastModified = std::move(lastModified);
}

// Reads the body to the sink or into memory; a failed or cancelled read keeps response.body as it was.
HttpResult readBody(HINTERNET handle, const HttpRequest& request, HttpResponse& response, HttpError& error) {
    std::vector<uint8_t> buffer(kReadChunkBytes);
    std::string collected;
    for (;;) {
        if (isCancelled(request)) return HttpResult::Aborted;
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(handle, &available))
            return failed(error, HttpResult::ReadFailed, HttpFault::QueryFailed, ::GetLastError());
        if (available == 0) {
            if (!request.sink) response.body = std::move(collected);
            return HttpResult::Ok;
        }
        DWORD read = 0;
        const BOOL ok = ::WinHttpReadData(handle, buffer.data(), std::min(available, kReadChunkBytes), &read);
        if (!ok || read == 0)
            return failed(error, HttpResult::ReadFailed, HttpFault::ReadInterrupted, ::GetLastError());
        if (request.sink) {
            if (!request.sink(buffer.data(), read)) return HttpResult::Aborted;
            continue;
        }
        collected.append(reinterpret_cast<const char*>(buffer.data()), read);
        if (collected.size() > kMemoryBodyLimit)
            return failed(error, HttpResult::ReadFailed, HttpFault::BodyTooLarge);
    }
}

// What an exchange carries from hop to hop.
struct ExchangeState {
    std::wstring url;
    HopRequest request;
    int hopsLeft = kHopBudget;
};

// Moves the exchange on to the redirect's target; RedirectFailed when it may not be followed.
HttpResult followRedirect(const std::wstring& location, int32_t status, bool secure, ExchangeState& state,
                          HttpError& error) {
    std::wstring nextUrl = resolveRedirectTarget(location, state.url);
    if (nextUrl == state.url) return failed(error, HttpResult::RedirectFailed, HttpFault::RedirectLoop);
    // What came over TLS never continues in the clear: anyone on the path could replace a
    // plain-http answer (an installer, say). Judged on the resolved target, whatever the Location.
    if (secure && !isHttpsUrl(nextUrl))
        return failed(error, HttpResult::RedirectFailed, HttpFault::InsecureRedirect);
    std::optional<HopRequest> nextRequest = redirectedRequest(state.request, status, state.url, nextUrl);
    if (!nextRequest) return failed(error, HttpResult::RedirectFailed, HttpFault::RedirectKeepsBody);
    state.url = std::move(nextUrl);
    state.request = std::move(*nextRequest);
    if (--state.hopsLeft == 0) return failed(error, HttpResult::RedirectFailed, HttpFault::TooManyRedirects);
    return HttpResult::Ok;
}

}  // namespace

HeaderRead readHeaderValue(const HeaderQuery& query, DWORD capBytes, std::wstring& value) {
    value.clear();
    std::vector<wchar_t> buffer(kHeaderBufferBytes / sizeof(wchar_t), L'\0');
    DWORD length = kHeaderBufferBytes;
    bool read = query(buffer.data(), &length);
    if (!read && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && length <= capBytes) {
        buffer.assign(length / sizeof(wchar_t) + 1, L'\0');
        length = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        read = query(buffer.data(), &length);
    }
    if (!read) return ::GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND ? HeaderRead::Absent : HeaderRead::Unreadable;
    value.assign(buffer.data(), ::wcsnlen(buffer.data(), std::min<size_t>(length / sizeof(wchar_t), buffer.size())));
    return HeaderRead::Value;
}

HttpResult HttpClient::Send(const HttpRequest& request, HttpResponse& response, HttpError& error) {
    ExchangeState state{request.url, HopRequest{request.method, request.headers, request.body}};
    for (;;) {
        if (isCancelled(request)) return HttpResult::Aborted;
        const std::optional<UrlParts> parts = splitUrl(state.url);
        if (!parts) return failed(error, HttpResult::InvalidUrl, HttpFault::InvalidUrl);
        Hop hop;
        HttpResult result = openHop(state.request, *parts, hop, error);
        if (result != HttpResult::Ok) return result;
        if (request.receiveTimeoutMs)
            ::WinHttpSetTimeouts(hop.request.get(), 10000, 10000, 30000, static_cast<int>(request.receiveTimeoutMs));
        result = exchange(request, state.request, hop, error);
        if (result == HttpResult::HttpError) response.status = error.status;
        if (result != HttpResult::Ok) return result;

        const int32_t statusCode = statusOf(hop.request.get());

        std::wstring location;
        const HeaderRead redirect = redirectLocation(hop.request.get(), statusCode, location);
        if (redirect == HeaderRead::Unreadable)
            return failed(error, HttpResult::RedirectFailed, HttpFault::LocationUnreadable);
        if (redirect == HeaderRead::Value) {
            hop.close();
            result = followRedirect(location, statusCode, parts->secure, state, error);
            if (result != HttpResult::Ok) return result;
            continue;
        }

        captureHeaders(hop.request.get(), statusCode, state.url, response);
        if (request.sink || statusCode <= 499) result = readBody(hop.request.get(), request, response, error);
        hop.close();
        if (result != HttpResult::Ok) return result;
        if (statusCode >= 400) {
            error = HttpError{HttpFault::HttpStatus, statusCode, 0};
            return HttpResult::HttpError;
        }
        return HttpResult::Ok;
    }
}

bool HttpClient::Get(const std::wstring& url, std::string& body, HttpError& error) {
    HttpRequest request;
    request.url = url;
    request.method = L"GET";
    HttpResponse response;
    HttpError failure;
    if (Send(request, response, failure) == HttpResult::Ok) {
        body = std::move(response.body);
        return true;
    }
    error = failure;
    return false;
}
