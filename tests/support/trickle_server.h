#pragma once
// A loopback HTTP server that answers every GET with 200 and a large executable-looking body sent
// in small pieces with pauses, so a transfer is certainly still running when a test cancels it.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/win_handles.h"

class TrickleServer {
public:
    TrickleServer(int64_t bodySize, uint32_t pieceSize, DWORD pauseMs);
    ~TrickleServer();
    TrickleServer(const TrickleServer&) = delete;
    TrickleServer& operator=(const TrickleServer&) = delete;

    bool listening() const { return listener_ != INVALID_SOCKET; }
    std::string url() const;

private:
    static DWORD WINAPI threadMain(LPVOID self);
    void serve();
    void answer(SOCKET client);

    int64_t bodySize_;
    uint32_t pieceSize_;
    DWORD pauseMs_;
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    qb::UniqueHandle thread_;
};
