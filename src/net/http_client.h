#pragma once
// One HTTP(S) exchange over WinHTTP: own redirect handling, header capture, in-memory or streamed body.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct UrlParts {
    std::wstring scheme;  // "https" or "http"
    std::wstring host;
    uint16_t port = 0;
    std::wstring pathAndQuery;  // "/" when the URL has neither
    bool secure = false;
};

std::optional<UrlParts> splitUrl(const std::wstring& url);

// The URL a Location value leads to from currentUrl: absolute http(s) URLs as they are, "//host/x"
// on the current scheme, "/x" on the current origin, anything else beside the current path. No
// further normalisation.
std::wstring resolveRedirectTarget(const std::wstring& location, const std::wstring& currentUrl);

// The answers whose Location is followed: every 3xx but 304, which only says the caller's copy is current.
bool isRedirectStatus(int32_t status);

// What one hop of an exchange sends.
struct HopRequest {
    std::wstring method;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    std::optional<std::string> body;
};

// The request the hop after a redirect (status, fromUrl to toUrl) sends. On the same origin (scheme,
// host and port) it is sent again as it was. To another origin the headers that carry credentials
// or conditions are left out and a body is never sent again: a POST answered with 301, 302 or 303
// becomes a GET without a body (and without the Content-* headers); nullopt when the method would
// have to keep its body (307, 308).
std::optional<HopRequest> redirectedRequest(const HopRequest& request, int32_t status, const std::wstring& fromUrl,
                                            const std::wstring& toUrl);

// Whether an answer is the proxy turning the request down for want of credentials: a 407, or a 401 to
// a request that carried Basic proxy credentials (tinyproxy refuses a wrong password so; the program
// sends no server credentials). A 401 to credentials in another scheme is the server's.
bool proxyRefusal(int32_t status, DWORD sentScheme);

// One header query into buffer: *bytes is its size on entry and the value's (or, failing with
// ERROR_INSUFFICIENT_BUFFER, the size needed) on return, as WinHttpQueryHeaders does it.
using HeaderQuery = std::function<bool(wchar_t* buffer, DWORD* bytes)>;
enum class HeaderRead { Absent, Value, Unreadable };
// A header value of any length up to capBytes; Unreadable when it is longer or the query fails for
// any reason but a missing header.
HeaderRead readHeaderValue(const HeaderQuery& query, DWORD capBytes, std::wstring& value);

// True when url begins with "https://" (any case): the only redirect target an https exchange follows.
bool isHttpsUrl(const std::wstring& url);

// Receives the body chunk by chunk; returning false stops the transfer with Aborted.
using HttpSink = std::function<bool(const uint8_t* data, uint32_t length)>;

struct HttpRequest {
    std::wstring url;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    std::optional<std::string> body;
    std::wstring method = L"GET";
    HttpSink sink;                                   // empty: collect the body in memory
    const std::atomic<bool>* cancelFlag = nullptr;  // caller-owned; only read here
    // How long a read waits for the next byte before it fails with ERROR_WINHTTP_TIMEOUT; 0: 30 s.
    uint32_t receiveTimeoutMs = 0;
};

struct HttpResponse {
    int32_t status = 0;
    int64_t contentLength = -1;
    int64_t totalSize = -1;
    bool hasContentRange = false;
    int64_t rangeStart = -1;  // first byte of a "bytes a-b/total" Content-Range; -1 without one
    std::string body;
    std::wstring finalUrl;
    std::wstring contentDisposition;
    std::wstring contentType;
    std::wstring etag;          // validators of the body, verbatim; empty when the server sent none
    std::wstring lastModified;
};

enum class HttpResult : int32_t {
    Ok = 0,
    InvalidUrl = 1,
    ConnectFailed = 2,
    SendFailed = 3,
    ReadFailed = 4,
    RedirectFailed = 5,
    Aborted = 6,
    HttpError = 7,
    TlsFailed = 8,
};

// The step of an exchange that failed, for whoever words it; a cancelled exchange records none.
enum class HttpFault : int32_t {
    None = 0,
    SessionFailed,       // WinHttpOpen
    RequestFailed,       // WinHttpConnect or WinHttpOpenRequest
    SendFailed,          // WinHttpSendRequest (systemCode)
    NoResponse,          // WinHttpReceiveResponse (systemCode)
    QueryFailed,         // WinHttpQueryDataAvailable (systemCode)
    ReadInterrupted,     // WinHttpReadData failed or read nothing (systemCode)
    BodyTooLarge,        // an in-memory body beyond 8 MiB
    RedirectLoop,        // a Location leading back to the URL it came from
    InsecureRedirect,    // an https exchange sent elsewhere than https
    RedirectKeepsBody,   // a body that would have to go to another origin
    TooManyRedirects,
    InvalidUrl,
    LocationUnreadable,
    HttpStatus,          // the final answer's status is 400 or more (status)
    ProxyAuthRequired,   // the proxy wants credentials the user did not give, or turned them down (status 407)
};

struct HttpError {
    HttpFault fault = HttpFault::None;
    int32_t status = 0;
    DWORD systemCode = 0;  // the WinHTTP error of the failed call
};

inline bool operator==(const HttpError& a, const HttpError& b) {
    return a.fault == b.fault && a.status == b.status && a.systemCode == b.systemCode;
}
inline bool operator!=(const HttpError& a, const HttpError& b) { return !(a == b); }

class HttpClient {
public:
    // The whole exchange, redirects included; error records what failed (untouched on success).
    static HttpResult Send(const HttpRequest& request, HttpResponse& response, HttpError& error);
    // GET into memory; false on any failure, with Send's error (HttpFault::None when it recorded none).
    static bool Get(const std::wstring& url, std::string& body, HttpError& error);
};
