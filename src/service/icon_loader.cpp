#include "service/icon_loader.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>

#include "base/window_messages.h"
#include "base/win_handles.h"
#include "base/worker_thread.h"
#include "service/http_client.h"
#include "service/image_header.h"

namespace {

constexpr size_t kMaxIconBytes = 4194304;
constexpr Gdiplus::ARGB kOpaqueWhite = 0xFFFFFFFF;

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using StreamPtr = std::unique_ptr<IStream, StreamRelease>;

struct GdipImageDispose {
    void operator()(Gdiplus::GpBitmap* bitmap) const { Gdiplus::DllExports::GdipDisposeImage(bitmap); }
};
using GdipBitmapPtr = std::unique_ptr<Gdiplus::GpBitmap, GdipImageDispose>;

void setState(AppInfo& app, IconState state) { app.iconState.store(state, std::memory_order_release); }

// Copies data into moveable global memory; empty on failure.
qb::UniqueGlobal copyToGlobal(const std::string& data) {
    qb::UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, data.size()));
    if (!memory) return memory;
    void* target = ::GlobalLock(memory.get());
    if (!target) return qb::UniqueGlobal();
    std::memcpy(target, data.data(), data.size());
    ::GlobalUnlock(memory.get());
    return memory;
}

// Decodes the stream into an HBITMAP; null when GDI+ cannot read it.
HBITMAP decodeBitmap(IStream* stream) {
    Gdiplus::GpBitmap* raw = nullptr;
    Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &raw);
    const GdipBitmapPtr bitmap(raw);
    if (!bitmap) return nullptr;
    HBITMAP handle = nullptr;
    if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap.get(), &handle, kOpaqueWhite) != Gdiplus::Ok)
        return nullptr;
    return handle;
}

// Everything after the fetch; false when the outcome should not be announced.
bool decodeInto(AppInfo& app, const std::string& body) {
    // An unknown format or a declared size beyond 1024 pixels never reaches GDI+, which would
    // allocate the whole bitmap before looking any further.
    const std::optional<std::string> data = decodableIconBytes(body);
    if (!data) {
        setState(app, IconStateFailed);
        return false;
    }
    qb::UniqueGlobal memory = copyToGlobal(*data);
    if (!memory) {
        setState(app, IconStateFailed);
        return false;
    }
    IStream* rawStream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(memory.get(), TRUE, &rawStream)) || !rawStream) {
        setState(app, IconStateFailed);
        return true;
    }
    memory.release();  // the stream frees it now
    const StreamPtr stream(rawStream);
    if (HBITMAP bitmap = decodeBitmap(stream.get())) {
        app.iconBitmap = bitmap;
        setState(app, IconStateReady);
    } else {
        setState(app, IconStateFailed);
    }
    return true;
}

void runIconJob(const IconJob& job) {
    AppInfo& app = *job.app;
    const int32_t state = app.iconState.load(std::memory_order_acquire);
    if (state == IconStateReady || state == IconStateFailed) return;

    HttpRequest request;
    request.url = job.url;
    HttpResponse response;
    std::wstring error;
    if (HttpClient::Send(request, response, error) != HttpResult::Ok || response.body.empty() ||
        response.body.size() > kMaxIconBytes) {
        setState(app, IconStateFailed);
        return;
    }
    if (decodeInto(app, response.body))
        ::PostMessageW(job.catalogue->notifyWindow, WM_QB_ICON_READY, static_cast<WPARAM>(static_cast<INT_PTR>(app.id)),
                       0);
}

// The fetches waiting for a worker, and how many workers run. Never destroyed: workers may still be
// running while the process exits.
struct IconQueue {
    std::mutex mutex;
    std::deque<std::unique_ptr<IconJob>> waiting;
    size_t workers = 0;
};

IconQueue& iconQueue() {
    static IconQueue* queue = new IconQueue;
    return *queue;
}

// The next waiting job; null when there is none, and the asking worker then no longer counts.
std::unique_ptr<IconJob> takeNextJob() {
    IconQueue& queue = iconQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.waiting.empty()) {
        --queue.workers;
        return nullptr;
    }
    std::unique_ptr<IconJob> job = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    return job;
}

void iconWorker() {
    while (const std::unique_ptr<IconJob> job = takeNextJob()) runIconJob(*job);
}

// Queues the job and starts a worker while fewer than kMaxIconWorkers run. When no worker can be
// started and none is left to take the queue, every waiting icon fails.
void enqueueIconJob(std::unique_ptr<IconJob> job) {
    IconQueue& queue = iconQueue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.waiting.push_back(std::move(job));
    if (queue.workers >= kMaxIconWorkers) return;
    ++queue.workers;
    lock.unlock();
    if (qb::startWorker(iconWorker)) return;
    lock.lock();
    if (--queue.workers > 0) return;
    for (const std::unique_ptr<IconJob>& waiting : queue.waiting) setState(*waiting->app, IconStateFailed);
    queue.waiting.clear();
}

bool sameOrigin(const UrlParts& a, const UrlParts& b) {
    return a.scheme == b.scheme && a.port == b.port && a.host.size() == b.host.size() &&
           ::_wcsicmp(a.host.c_str(), b.host.c_str()) == 0;
}

}  // namespace

std::optional<std::wstring> iconUrlFor(const std::wstring& server, const std::wstring& icon) {
    if (icon.empty() || icon[0] != L'/') return std::nullopt;
    std::wstring url = server + icon;
    const std::optional<UrlParts> origin = SplitUrl(server);
    const std::optional<UrlParts> target = SplitUrl(url);
    if (!origin || !target || !sameOrigin(*origin, *target)) return std::nullopt;
    return url;
}

void RequestIcon(Catalogue& catalogue, HWND mainWindow, AppInfo& app, const std::wstring& server) {
    if (app.icon.empty() || app.iconState.load(std::memory_order_acquire) != IconStateNone) return;
    setState(app, IconStateLoading);
    catalogue.notifyWindow = mainWindow;
    std::optional<std::wstring> url = iconUrlFor(server, app.icon);
    if (!url) {
        setState(app, IconStateFailed);
        return;
    }
    enqueueIconJob(std::make_unique<IconJob>(IconJob{&catalogue, &app, std::move(*url)}));
}

DWORD WINAPI IconThread(LPVOID parameter) {
    const std::unique_ptr<IconJob> job(static_cast<IconJob*>(parameter));
    runIconJob(*job);
    return 0;
}
