#pragma once
// Application icons fetched by a few worker threads: from the local cache when a good copy is there,
// else from the service; decoded once at the size they are drawn and handed to the window thread.
// Workers never see catalogue records: a request names the app by id and catalogue generation.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/win_handles.h"

// At most this many icon fetches run at once; the others wait in the queue. Four keep a distant
// service's latency hidden; eight fetching from a near one took the window's core while it scrolled.
constexpr size_t kMaxIconWorkers = 4;
// Icon files beyond this many bytes are refused, from the service and from the local cache alike.
constexpr size_t kMaxIconBytes = 4194304;

struct IconRequest {
    int32_t appId = 0;
    uint32_t generation = 0;  // of the catalogue the app id belongs to
    std::wstring url;
    int size = 0;  // the side it is drawn at, in pixels
};

struct IconResult {
    int32_t appId = 0;
    uint32_t generation = 0;
    int size = 0;
    qb::UniqueBitmap bitmap;  // empty: the icon cannot be had
};

// server + icon when that stays on the server's origin (scheme, host and port) and icon is a path
// starting with "/"; nullopt otherwise (".evil.example/p.png" would change the host).
std::optional<std::wstring> iconUrlFor(const std::wstring& server, const std::wstring& icon);

// The local cache entry of an icon URL: "icons\" and 16 hex digits of the URL's FNV-1a hash.
std::wstring iconCacheName(const std::wstring& url);

// Runs one icon on the calling thread: the local cache's copy when it decodes (a copy that does not is
// removed), else the service's answer, kept in the local cache once it decodes. Empty on failure.
// beforeFetch, when given, runs just before the service is asked.
qb::UniqueBitmap loadIcon(const std::wstring& url, int size, const std::function<void()>& beforeFetch = {});

// The fetch queue and the mailbox of finished icons. The window's icon cache and every running worker
// hold it by shared_ptr, so it lives until the last of them lets go.
class IconLoader {
public:
    // Each finished icon posts WM_QB_ICON_READY with packIdAndGeneration(app id, generation).
    explicit IconLoader(HWND notifyWindow) : notifyWindow_(notifyWindow) {}
    IconLoader(const IconLoader&) = delete;
    IconLoader& operator=(const IconLoader&) = delete;

    // Queues the request and returns at once. It starts a worker when none runs; a worker about to ask
    // the service while more requests wait than idle workers can take starts another, up to
    // kMaxIconWorkers. Icons in the local cache are read and decoded by the running workers alone:
    // more threads would not decode faster (decoding is one at a time) and only take the window's core.
    // When no worker can start and none runs, every waiting request fails at once.
    static void enqueue(const std::shared_ptr<IconLoader>& loader, IconRequest request);
    // The icons finished since the last call, failures included, oldest first.
    std::vector<IconResult> takeResults();
    // Drops the waiting requests; icons still being fetched finish unannounced and are freed.
    void close();

private:
    static void work(const std::shared_ptr<IconLoader>& loader);
    static void addWorkerIfBehind(const std::shared_ptr<IconLoader>& loader);
    std::optional<IconRequest> takeNext();
    void deliver(IconResult result);

    std::mutex mutex_;
    std::condition_variable requested_;  // a request arrived, or the loader closed
    std::deque<IconRequest> waiting_;
    std::vector<IconResult> finished_;
    size_t workers_ = 0;
    size_t idle_ = 0;  // workers waiting for a request
    bool closed_ = false;
    const HWND notifyWindow_;
};
