#include "app/single_instance.h"

#include <sddl.h>

#include <vector>

#include "base/paths.h"
#include "base/window_messages.h"

namespace {

constexpr DWORD kLongestMessageBytes = 2 * 4096;  // a path of the longest kind, and its kind
constexpr wchar_t kWindowWord[] = L"window";
constexpr wchar_t kImportWord[] = L"import";

// The user a token belongs to, as a copy of its SID; empty when it cannot be read.
std::vector<BYTE> tokenUser(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    return user;
}

std::vector<BYTE> processUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    qb::UniqueHandle held(token);
    return tokenUser(token);
}

PSID sidOf(std::vector<BYTE>& user) {
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text)) return std::wstring();
    std::wstring copy(text);
    ::LocalFree(text);
    return copy;
}

// The pipe's other end runs as the same user: a pipe of that name made first by anyone else is not ours.
bool servedBySameUser(HANDLE pipe) {
    ULONG serverId = 0;
    if (!::GetNamedPipeServerProcessId(pipe, &serverId)) return false;
    qb::UniqueHandle server(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
    if (!server.valid()) return false;
    std::vector<BYTE> ours = processUser(::GetCurrentProcess());
    std::vector<BYTE> theirs = processUser(server.get());
    return sidOf(ours) && sidOf(theirs) && ::EqualSid(sidOf(ours), sidOf(theirs));
}

std::optional<InstanceNames> ownNames() {
    std::vector<BYTE> user = processUser(::GetCurrentProcess());
    const std::wstring sid = sidText(sidOf(user));
    DWORD session = 0;
    if (sid.empty() || !::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return std::nullopt;
    return instanceNames(sid, session);
}

// Sends the request to the copy that answers the pipe; false when none answers now.
bool handOver(const std::wstring& pipeName, const HandOver& request) {
    qb::UniqueHandle pipe(::CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe.valid()) {
        if (::GetLastError() == ERROR_PIPE_BUSY) ::WaitNamedPipeW(pipeName.c_str(), 500);
        return false;
    }
    ULONG serverId = 0;
    if (!servedBySameUser(pipe.get()) || !::GetNamedPipeServerProcessId(pipe.get(), &serverId)) return false;
    // The first copy may bring its window to the front: this start was given the foreground.
    ::AllowSetForegroundWindow(serverId);
    const std::wstring message = encodeHandOver(request);
    const DWORD bytes = static_cast<DWORD>(message.size() * sizeof(wchar_t));
    DWORD written = 0;
    return ::WriteFile(pipe.get(), message.data(), bytes, &written, nullptr) && written == bytes;
}

}  // namespace

InstanceNames instanceNames(const std::wstring& userSid, DWORD sessionId) {
    const std::wstring session = std::to_wstring(sessionId);
    return {L"Local\\Quillbox-" + userSid, L"\\\\.\\pipe\\Quillbox-" + userSid + L"-" + session};
}

std::wstring encodeHandOver(const HandOver& handOver) {
    if (handOver.kind == StartKind::Import) return std::wstring(kImportWord) + L"\n" + handOver.file;
    return kWindowWord;
}

std::optional<HandOver> decodeHandOver(const std::wstring& message) {
    if (message == kWindowWord) return HandOver{};
    const std::wstring prefix = std::wstring(kImportWord) + L"\n";
    if (message.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    HandOver handOver{StartKind::Import, message.substr(prefix.size())};
    if (!qb::isAbsolutePath(handOver.file) || handOver.file.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos)
        return std::nullopt;
    return handOver;
}

InstanceRole SingleInstance::claim(const HandOver& request, DWORD waitMs) {
    const std::optional<InstanceNames> names = ownNames();
    if (!names) return InstanceRole::First;  // no user to tell copies apart by: every start is its own
    names_ = *names;
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        qb::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, names_.mutex.c_str()));
        if (mutex.valid() && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            mutex_ = std::move(mutex);
            return InstanceRole::First;
        }
        mutex.reset();
        if (handOver(names_.pipe, request)) return InstanceRole::HandedOver;
        if (::GetTickCount64() >= deadline) return InstanceRole::NoAnswer;
        ::Sleep(100);  // the first copy is still starting, or has just ended
    }
}

bool SingleInstance::serve(HWND window) {
    if (!mutex_.valid() || server_.joinable()) return false;
    stopping_ = false;
    server_ = std::thread([this, window] { serveLoop(window); });
    return true;
}

void SingleInstance::stopServing() {
    if (!server_.joinable()) return;
    stopping_ = true;
    // A connection of its own ends the wait for the next one.
    qb::UniqueHandle wake(::CreateFileW(names_.pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    server_.join();
}

void SingleInstance::serveLoop(HWND window) {
    std::vector<BYTE> user = processUser(::GetCurrentProcess());
    // Only this user may open the pipe; the first instance flag refuses a pipe someone else made first.
    const std::wstring sddl = L"D:P(A;;GA;;;" + sidText(sidOf(user)) + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    while (!stopping_) {
        qb::UniqueHandle pipe(::CreateNamedPipeW(
            names_.pipe.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
            kLongestMessageBytes, 0, &attributes));
        if (!pipe.valid()) break;
        const bool connected = ::ConnectNamedPipe(pipe.get(), nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
        if (connected && !stopping_) receiveOne(pipe.get(), window);
        ::DisconnectNamedPipe(pipe.get());
    }
    ::LocalFree(descriptor);
}

bool SingleInstance::receiveOne(HANDLE pipe, HWND window) {
    std::vector<wchar_t> buffer(kLongestMessageBytes / sizeof(wchar_t));
    DWORD read = 0;
    // A message longer than the buffer fails with ERROR_MORE_DATA: dropped whole.
    if (!::ReadFile(pipe, buffer.data(), kLongestMessageBytes, &read, nullptr)) return false;
    const std::optional<HandOver> handOver = decodeHandOver(std::wstring(buffer.data(), read / sizeof(wchar_t)));
    if (!handOver) return false;
    received_.post(*handOver);
    return ::PostMessageW(window, WM_QB_HAND_OVER, 0, 0) != FALSE;
}

SingleInstance& singleInstance() {
    static SingleInstance instance;
    return instance;
}
