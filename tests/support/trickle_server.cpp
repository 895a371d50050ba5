#include "support/trickle_server.h"

#include <ws2tcpip.h>

#include <algorithm>

#include <string>
#include <vector>

TrickleServer::TrickleServer(int64_t bodySize, uint32_t pieceSize, DWORD pauseMs)
    : bodySize_(bodySize), pieceSize_(pieceSize), pauseMs_(pauseMs) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_.reset(::CreateThread(nullptr, 0, &TrickleServer::threadMain, this, 0, nullptr));
}

TrickleServer::~TrickleServer() {
    stopping_.store(true);
    if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
    if (thread_) ::WaitForSingleObject(thread_.get(), 10000);
    ::WSACleanup();
}

std::string TrickleServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/slow/setup.exe"; }

DWORD WINAPI TrickleServer::threadMain(LPVOID self) {
    static_cast<TrickleServer*>(self)->serve();
    return 0;
}

void TrickleServer::serve() {
    while (!stopping_.load()) {
        SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        answer(client);
        ::closesocket(client);
    }
}

void TrickleServer::answer(SOCKET client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const int got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        request.append(buffer, static_cast<size_t>(got));
    }
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(bodySize_) + "\r\nConnection: close\r\n\r\n";
    if (::send(client, head.data(), static_cast<int>(head.size()), 0) != static_cast<int>(head.size())) return;
    std::vector<char> piece(pieceSize_, 'x');
    piece[0] = 'M';
    piece[1] = 'Z';
    for (int64_t sent = 0; sent < bodySize_ && !stopping_.load(); sent += pieceSize_) {
        const int size = static_cast<int>(std::min<int64_t>(pieceSize_, bodySize_ - sent));
        if (::send(client, piece.data(), size, 0) != size) return;
        piece[0] = piece[1] = 'x';
        ::Sleep(pauseMs_);
    }
}
