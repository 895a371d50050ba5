#include "service/icon_loader.h"

#include <chrono>
#include <cwchar>

#include "base/window_messages.h"
#include "base/worker_thread.h"
#include "config/local_cache.h"
#include "net/http_client.h"
#include "service/icon_decode.h"

namespace {

bool sameOrigin(const UrlParts& a, const UrlParts& b) {
    return a.scheme == b.scheme && a.port == b.port && a.host.size() == b.host.size() &&
           ::_wcsicmp(a.host.c_str(), b.host.c_str()) == 0;
}

// The service's answer when it is a plausible icon file; nullopt otherwise.
std::optional<std::string> fetchIconBytes(const std::wstring& url) {
    HttpRequest request;
    request.url = url;
    HttpResponse response;
    HttpError error;
    if (HttpClient::Send(request, response, error) != HttpResult::Ok || response.body.empty() ||
        response.body.size() > kMaxIconBytes)
        return std::nullopt;
    return std::move(response.body);
}

// Decoding and scaling are the processor's share of an icon: at most one core fewer than the machine
// has decodes at once, so the window thread always has a core to paint on while icons arrive.
class DecodeGate {
public:
    DecodeGate() {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        free_ = info.dwNumberOfProcessors > 2 ? static_cast<int>(info.dwNumberOfProcessors) - 1 : 1;
    }
    void enter() {
        std::unique_lock<std::mutex> lock(mutex_);
        freed_.wait(lock, [this] { return free_ > 0; });
        --free_;
    }
    void leave() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++free_;
        }
        freed_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    int free_ = 1;
};

qb::UniqueBitmap decodeGated(const std::string& bytes, int size) {
    static DecodeGate gate;
    gate.enter();
    qb::UniqueBitmap bitmap = decodeIconAtSize(bytes, size);
    gate.leave();
    return bitmap;
}

// A worker with nothing to do waits this long for another request before it ends: icons are asked
// for a few at a time while the user scrolls, and starting a thread each time costs the window.
constexpr auto kWorkerLinger = std::chrono::seconds(2);

}  // namespace

std::optional<std::wstring> iconUrlFor(const std::wstring& server, const std::wstring& icon) {
    if (icon.empty() || icon[0] != L'/') return std::nullopt;
    std::wstring url = server + icon;
    const std::optional<UrlParts> origin = splitUrl(server);
    const std::optional<UrlParts> target = splitUrl(url);
    if (!origin || !target || !sameOrigin(*origin, *target)) return std::nullopt;
    return url;
}

std::wstring iconCacheName(const std::wstring& url) {
    uint64_t hash = 14695981039346656037ULL;
    for (const wchar_t c : url) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (static_cast<uint32_t>(c) >> shift) & 0xFF;
            hash *= 1099511628211ULL;
        }
    }
    wchar_t hex[17];
    std::swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return std::wstring(L"icons\\") + hex;
}

qb::UniqueBitmap loadIcon(const std::wstring& url, int size, const std::function<void()>& beforeFetch) {
    const std::wstring name = iconCacheName(url);
    if (const std::optional<std::string> kept = cache::read(name, kMaxIconBytes)) {
        if (qb::UniqueBitmap bitmap = decodeGated(*kept, size)) return bitmap;
        cache::remove(name);  // never trusted again: the service's copy replaces it
    }
    if (beforeFetch) beforeFetch();
    const std::optional<std::string> body = fetchIconBytes(url);
    if (!body) return {};
    qb::UniqueBitmap bitmap = decodeGated(*body, size);
    if (bitmap) cache::write(name, *body);
    return bitmap;
}

void IconLoader::enqueue(const std::shared_ptr<IconLoader>& loader, IconRequest request) {
    std::unique_lock<std::mutex> lock(loader->mutex_);
    if (loader->closed_) return;
    loader->waiting_.push_back(std::move(request));
    if (loader->idle_ > 0) loader->requested_.notify_one();
    // The window starts the first worker only; running workers start more as the queue needs them,
    // so a paint that asks for a screenful of icons does not pay for eight new threads.
    if (loader->workers_ > 0) return;
    ++loader->workers_;
    lock.unlock();
    if (qb::startWorker([loader] { work(loader); })) return;
    lock.lock();
    if (--loader->workers_ > 0) return;
    std::deque<IconRequest> failed;
    failed.swap(loader->waiting_);
    lock.unlock();
    for (const IconRequest& waiting : failed) loader->deliver({waiting.appId, waiting.generation, waiting.size, {}});
}

std::vector<IconResult> IconLoader::takeResults() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<IconResult> results;
    results.swap(finished_);
    return results;
}

void IconLoader::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    waiting_.clear();
    finished_.clear();
    requested_.notify_all();
}

void IconLoader::work(const std::shared_ptr<IconLoader>& loader) {
    // Decoding competes with the window for the processor: a late icon costs less than a late frame.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    const auto keepQueueMoving = [&loader] { addWorkerIfBehind(loader); };
    while (std::optional<IconRequest> request = loader->takeNext()) {
        loader->deliver(
            {request->appId, request->generation, request->size, loadIcon(request->url, request->size, keepQueueMoving)});
    }
}

void IconLoader::addWorkerIfBehind(const std::shared_ptr<IconLoader>& loader) {
    {
        std::lock_guard<std::mutex> lock(loader->mutex_);
        if (loader->closed_ || loader->waiting_.size() <= loader->idle_ || loader->workers_ >= kMaxIconWorkers) return;
        ++loader->workers_;
    }
    if (qb::startWorker([loader] { work(loader); })) return;
    std::lock_guard<std::mutex> lock(loader->mutex_);
    --loader->workers_;  // this worker goes on with the queue alone
}

// The next waiting request; nullopt when there is none, and the asking worker then no longer counts.
std::optional<IconRequest> IconLoader::takeNext() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (waiting_.empty() && !closed_) {
        ++idle_;
        requested_.wait_for(lock, kWorkerLinger, [this] { return closed_ || !waiting_.empty(); });
        --idle_;
    }
    if (waiting_.empty()) {
        --workers_;
        return std::nullopt;
    }
    IconRequest request = std::move(waiting_.front());
    waiting_.pop_front();
    return request;
}

void IconLoader::deliver(IconResult result) {
    const WPARAM names = packIdAndGeneration(result.appId, result.generation);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;  // the bitmap is freed on the way out
        finished_.push_back(std::move(result));
    }
    ::PostMessageW(notifyWindow_, WM_QB_ICON_READY, names, 0);
}
