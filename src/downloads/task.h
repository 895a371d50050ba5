#pragma once
// One download task: what the job and the installer monitor change, and the copy the window reads.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "install/file_signature.h"
#include "install/installer_type.h"

enum TaskState : uint32_t {
    Downloading = 0,
    Verifying = 1,
    Completed = 2,
    Failed = 3,
    Cancelled = 4,
    Installed = 5,
    Installing = 6,
    InstallCancelled = 7,
    InstallQueued = 8,  // verified and accepted; waits for the installer that runs now to end
    Paused = 9,         // stopped by the user, or found unfinished at start; its ".part" file and segments stay
    InstallFailed = 10,  // its installer ended with an exit code that its type reads as failure
};

// How a verified package's installer is to run, as the window decided when it was accepted.
struct InstallRequest {
    bool silent = false;  // with no window of its own; otherwise the shell opens its wizard
    std::optional<std::wstring> silentArgs;  // the catalogue's arguments, replacing the detected ones
};

// One range of the file that one connection fills. `written` counts the bytes from `start` that are
// in the file without a gap (WriteFile returned); the journal records them only after a flush.
struct Segment {
    int64_t start = 0;
    int64_t end = -1;  // inclusive; -1 while the size is unknown
    int64_t written = 0;
};

// Why a task failed. The window chooses the words (downloadFaultText in render/state_texts.h).
enum class DownloadFault : uint8_t {
    None,
    ServiceTrouble,   // the service, its network or what it sent let the download down: try again later
    CannotCreate,     // the ".part" file could not be made
    CannotOpen,       // the ".part" file could not be opened
    CannotWrite,      // writing to the ".part" file, or sizing it, failed
    CannotSave,       // the finished file could not take its final name
    NoSpace,          // the folder's volume cannot hold the size the server gave
    SignatureBroken,  // its installer's signature no longer held when the installer was to run
    PublisherMismatch,  // its installer was no longer signed by the catalogue's publisher when it was to run
};

struct DownloadError {
    DownloadFault fault = DownloadFault::None;
    uint32_t systemCode = 0;  // the system's error code of the step that failed, where there was one
    int32_t httpStatus = 0;   // the status of the last answer, where one came
};

// What a download is and where it is kept: copied whole wherever one task or record is made from
// another (a new download, a resume, the journal, the window's snapshot). Every member has its default,
// so a brace list may give only the first ones: {name, url, md5, sha256, size} for a new download.
struct DownloadIdentity {
    std::wstring name{};
    std::string url{};
    std::string md5{};  // expected digests from the catalogue, lowercase hex; either may be empty
    std::string sha256{};
    int64_t size = 0;          // 0 while unknown
    std::wstring filePath{};   // the final path
    std::wstring partPath{};   // the ".part" file beside it
    std::wstring fileName{};   // the name asked for, before a "(n)" made it free
    std::wstring pinnedPublisher{};  // the signer's simple name the catalogue expects; empty: any signer
    std::wstring version{};  // the catalogue's version of the package; empty where unknown (the journal keeps none)
    // The catalogue's mirrors of the package, in its order; never read from the journal.
    std::vector<std::string> mirrors{};
    // The catalogue gave a digest to check the file against.
    bool verifiable() const { return !md5.empty() || !sha256.empty(); }
};

struct Task {
    Task(int32_t appId, const DownloadIdentity& identity)
        : appId(appId), identity(identity), totalBytes(identity.size) {}

    const int32_t appId;
    uint32_t generation = 0;  // tells this task's news from its predecessors' under the same app id
    // Its name, URL and digests stay as the task was made, and its size is where totalBytes began. The
    // paths are written by the job under pathMutex; other threads copy them under it (the installer
    // reads filePath once the job has finished, when nothing writes it any more).
    DownloadIdentity identity;
    std::mutex pathMutex;
    std::atomic<int64_t> totalBytes{0};
    std::atomic<int64_t> receivedBytes{0};
    std::atomic<int64_t> sampleBytes{0};
    std::atomic<uint32_t> sampleTick{0};
    std::atomic<uint32_t> speed{0};
    std::atomic<uint32_t> state{Downloading};
    std::atomic<bool> md5Ok{true};  // false when any digest the catalogue gave differs from the file's
    std::atomic<bool> isArchive{false};
    std::atomic<bool> installerFailed{false};  // its installer's exit code is not one of success
    // Failed while downloading, for a reason that leaves its ".part" file sound (the network, the
    // service, the disk), with bytes written: starting it again goes on from them, as from a pause.
    std::atomic<bool> bytesKept{false};
    bool goesOnFromDisk() const;  // Paused, or failed with bytes kept
    std::atomic<uint32_t> installerType{static_cast<uint32_t>(InstallerType::Unknown)};  // from its bytes
    std::atomic<uint32_t> installerExitCode{0};
    std::atomic<bool> restartNeeded{false};  // installed; the change takes effect after a restart
    InstallRequest installRequest;  // set when the install is accepted, before its installer starts
    std::atomic<bool> silentInstall{false};  // the accepted request's `silent`, for the window
    std::atomic<uint32_t> signature{SignatureUnchecked};
    std::atomic<uint32_t> publisherVerdict{static_cast<uint32_t>(PublisherVerdict::NotPinned)};
    std::mutex errorMutex;  // guards failure and publisher
    DownloadError failure;
    std::wstring publisher;
    std::atomic<int32_t> retryCount{0};
    std::atomic<bool> cancelled{false};
    // Set when the list let go of a failed or cancelled task: a partial file its job still held then
    // is deleted by the job once it lets go.
    std::atomic<bool> cleared{false};
    // Set when one connection of a segmented transfer stops them all (a refusal, a disk error): the
    // others' retry waits end at once instead of running out first.
    std::atomic<bool> waitsEnd{false};
    qb::UniqueHandle thread;  // the job's worker thread; closed with the task
    std::mutex urlMutex;
    std::string resolvedUrl;
    std::wstring sourceHost;  // the host asked last, while the package has mirrors besides the route
    // The ".part" file, open from its creation to its rename: nobody else may write, move or delete it
    // meanwhile. Only the job's thread uses it.
    qb::UniqueHandle partFile;
    // The ranges the transfer is split into; empty until the job has planned them. A resumed task
    // arrives with its predecessor's segments and names and `resumeExisting` set: the job opens the
    // ".part" file on disk and goes on from each segment's written bytes.
    std::mutex segmentsMutex;
    std::vector<Segment> segments;
    bool resumeExisting = false;
    // The transfer's slot in the live record of written bytes (live_progress.h), -1 without one. Set
    // and cleared by the job's thread while no worker of it runs; the workers only read it.
    int liveSlot = -1;

    // Moves the state only from the one the mover expects: a cancel or a failure that came first wins.
    bool advance(TaskState from, TaskState to) {
        uint32_t expected = from;
        return state.compare_exchange_strong(expected, to);
    }
    void setError(const DownloadError& error);
    DownloadError error();
    std::wstring signer();
    std::wstring finalPath();
    std::wstring partialPath();
    // The identity with the paths and size it has now.
    DownloadIdentity currentIdentity();
};

// What the window reads of a task: its identity (the digests are the ones the file is checked against)
// and where it stands.
struct TaskSnapshot : DownloadIdentity {
    int32_t appId = 0;
    uint32_t generation = 0;
    uint32_t state = Downloading;
    int64_t receivedBytes = 0;
    uint32_t speed = 0;
    bool md5Ok = true;
    bool isArchive = false;
    bool unverified = false;  // the catalogue gave no digest: its installer never starts unasked
    uint32_t signature = SignatureUnchecked;
    std::wstring publisher;
    PublisherVerdict publisherVerdict = PublisherVerdict::NotPinned;
    DownloadError error;  // why it failed
    int32_t retryCount = 0;
    bool installerFailed = false;
    bool bytesKept = false;  // failed with bytes on disk that starting it again goes on from
    InstallerType installerType = InstallerType::Unknown;
    uint32_t installerExitCode = 0;
    bool restartNeeded = false;
    bool waitsForRestart = false;  // queued behind an installer that restarts the machine
    bool silentInstall = false;    // its accepted installer runs without a window
    std::wstring sourceHost;       // where its bytes come from, for a package with mirrors
};
