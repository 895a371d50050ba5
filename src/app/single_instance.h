#pragma once
// One Quillbox per user and session. The first start holds a named mutex in the session's namespace
// and answers a pipe that only its user may open; a later start hands its command line over through
// the pipe, lets the first copy take the foreground, and leaves. Only the first copy writes the
// configuration, the journal and the caches.
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "base/mailbox.h"
#include "base/win_handles.h"

// The names both copies derive from the user's SID and the session: the mutex in the session's own
// namespace, the pipe (a machine-wide name) with the session in it.
struct InstanceNames {
    std::wstring mutex;
    std::wstring pipe;
};
InstanceNames instanceNames(const std::wstring& userSid, DWORD sessionId);

// What a later start asks of the first: show the window, and import the list at an absolute path.
struct HandOver {
    StartKind kind = StartKind::Window;
    std::wstring file;
};
// The pipe's message: "window", or "import" and the path on the next line.
std::wstring encodeHandOver(const HandOver& handOver);
// Nothing for another kind, an import without an absolute path, or a path with a line break or a NUL.
std::optional<HandOver> decodeHandOver(const std::wstring& message);

enum class InstanceRole {
    First,       // this start is the first copy: it goes on
    HandedOver,  // the first copy took the request: this one ends
    NoAnswer,    // another copy holds the place but did not take the request
};

class SingleInstance {
public:
    SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance() { stopServing(); }

    // Takes the first place, or hands `request` to the copy that holds it (waiting at most waitMs for
    // that copy to answer, as one that is still starting up does not yet).
    InstanceRole claim(const HandOver& request, DWORD waitMs = 10000);
    // The first copy: from now on hand-overs reach `window` as WM_QB_HAND_OVER.
    bool serve(HWND window);
    void stopServing();
    // The newest hand-over not taken yet.
    std::optional<HandOver> take() { return received_.take(); }

private:
    void serveLoop(HWND window);
    bool receiveOne(HANDLE pipe, HWND window);

    InstanceNames names_;
    qb::UniqueHandle mutex_;
    std::thread server_;
    std::atomic<bool> stopping_{false};
    qb::Mailbox<HandOver> received_;
};

// The program's one instance guard, alive for the process.
SingleInstance& singleInstance();
