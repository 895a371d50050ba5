#pragma once
// A bare WinHTTP GET with no redirects, retries or header handling: the floor the client is held to.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/http_client.h"

namespace bench {

// GETs the URL reading at most chunkLimit bytes per call, as the client does; keeps the body in
// *body when given. Bytes read, or -1.
inline int64_t bareRead(const std::wstring& url, DWORD chunkLimit, std::string* body = nullptr) {
    const std::optional<UrlParts> parts = splitUrl(url);
    if (!parts) return -1;
    HINTERNET session = ::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? ::WinHttpConnect(session, parts->host.c_str(), parts->port, 0) : nullptr;
    HINTERNET request = connection ? ::WinHttpOpenRequest(connection, L"GET", parts->pathAndQuery.c_str(), nullptr,
                                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                   : nullptr;
    int64_t total = -1;
    if (request && ::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        ::WinHttpReceiveResponse(request, nullptr)) {
        std::vector<char> buffer(chunkLimit);
        total = 0;
        if (body) body->clear();
        for (;;) {
            DWORD available = 0;
            if (!::WinHttpQueryDataAvailable(request, &available) || available == 0) break;
            DWORD read = 0;
            if (!::WinHttpReadData(request, buffer.data(), std::min(available, chunkLimit), &read) || read == 0) break;
            total += read;
            if (body) body->append(buffer.data(), read);
        }
    }
    if (request) ::WinHttpCloseHandle(request);
    if (connection) ::WinHttpCloseHandle(connection);
    if (session) ::WinHttpCloseHandle(session);
    return total;
}

}  // namespace bench
