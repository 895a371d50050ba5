#include "service/catalogue_loader.h"

#include <memory>
#include <mutex>

#include "base/window_messages.h"
#include "config/text_convert.h"
#include "service/bootstrap_cache.h"
#include "service/http_client.h"

namespace {

struct PendingLoad {
    std::mutex mutex;
    std::unique_ptr<Catalogue> catalogue;  // lists not adopted yet; a newer load result replaces them
    CatalogueAdoption outcome;
    std::wstring lastError;
    CatalogueLoadStep step = CatalogueLoadFailed;  // the newest step published
    HWND window = nullptr;                          // where steps are posted; null until there is one
};

PendingLoad& pendingLoad() {
    static PendingLoad pending;
    return pending;
}

int64_t nowMs() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - 116444736000000000ULL) / 10000ULL);
}

void publish(CatalogueLoadStep step, std::unique_ptr<Catalogue> lists, const std::wstring& error,
             int64_t confirmedAtMs) {
    PendingLoad& pending = pendingLoad();
    std::lock_guard<std::mutex> lock(pending.mutex);
    if (lists) pending.catalogue = std::move(lists);
    pending.lastError = error;
    pending.step = step;
    pending.outcome.pending = true;
    pending.outcome.finished = step != CatalogueLoadCached;
    pending.outcome.failed = step == CatalogueLoadFailed;
    pending.outcome.offline = step == CatalogueLoadOffline;
    pending.outcome.confirmedAtMs = confirmedAtMs;
    if (pending.window) ::PostMessageW(pending.window, WM_QB_CATALOG_LOADED, step, 0);
}

// The cached bootstrap parsed, or null (a cache that does not parse is removed, never used again).
// The parsed document goes to tree, to be freed after the lists were handed over.
std::unique_ptr<Catalogue> parseCached(const CachedBootstrap& cached, json::ValuePtr& tree) {
    auto lists = std::make_unique<Catalogue>();
    if (lists->ParseBootstrap(cached.body, &tree)) return lists;
    forgetCachedBootstrap();
    return nullptr;
}

void runLoad(const CatalogueLoadJob& job) {
    // The cache first: a start shows what it holds while the service is asked.
    std::optional<CachedBootstrap> cached = readCachedBootstrap();
    if (cached) {
        json::ValuePtr tree;
        std::unique_ptr<Catalogue> lists = parseCached(*cached, tree);
        if (lists) {
            publish(CatalogueLoadCached, std::move(lists), L"", cached->stamp.confirmedAtMs);
        } else {
            cached.reset();
        }
    }

    HttpRequest request;
    request.url = job.server + L"/api/client/bootstrap";
    if (cached && !cached->stamp.etag.empty())
        request.headers.emplace_back(L"If-None-Match", Utf8ToWide(cached->stamp.etag));
    if (cached && !cached->stamp.lastModified.empty())
        request.headers.emplace_back(L"If-Modified-Since", Utf8ToWide(cached->stamp.lastModified));
    HttpResponse response;
    std::wstring error;
    const HttpResult result = HttpClient::Send(request, response, error);
    if (result != HttpResult::Ok && error.empty()) error = L"网络错误";

    BootstrapStamp stamp{WideToUtf8(response.etag), WideToUtf8(response.lastModified), nowMs()};
    if (result == HttpResult::Ok && cached && (response.status == 304 || response.body == cached->body)) {
        // A 304 need not repeat the validators; the copy keeps its own then.
        if (stamp.etag.empty()) stamp.etag = cached->stamp.etag;
        if (stamp.lastModified.empty()) stamp.lastModified = cached->stamp.lastModified;
        storeBootstrapStamp(stamp, cached->body.size());
        publish(CatalogueLoadUnchanged, nullptr, L"", stamp.confirmedAtMs);
        return;
    }
    if (result == HttpResult::Ok && response.status != 304) {
        auto fresh = std::make_unique<Catalogue>();
        json::ValuePtr tree;  // freed after the hand-over
        if (fresh->ParseBootstrap(response.body, &tree)) {
            storeCachedBootstrap(response.body, stamp);
            publish(CatalogueLoadFresh, std::move(fresh), L"", stamp.confirmedAtMs);
            return;
        }
        error = fresh->lastError;
    } else if (result == HttpResult::Ok) {
        error = L"数据格式错误";  // 304 to a request that named no copy
    }
    if (cached) {
        publish(CatalogueLoadOffline, nullptr, error, cached->stamp.confirmedAtMs);
    } else {
        publish(CatalogueLoadFailed, nullptr, error, 0);
    }
}

}  // namespace

DWORD WINAPI CatalogueLoadThread(LPVOID parameter) {
    std::unique_ptr<CatalogueLoadJob> job(static_cast<CatalogueLoadJob*>(parameter));
    runLoad(*job);
    return 0;
}

void setCatalogueLoadWindow(HWND window) {
    PendingLoad& pending = pendingLoad();
    std::lock_guard<std::mutex> lock(pending.mutex);
    pending.window = window;
    if (window && pending.outcome.pending) ::PostMessageW(window, WM_QB_CATALOG_LOADED, pending.step, 0);
}

bool startCatalogueLoadThread(const std::wstring& server, HWND notifyWindow) {
    if (notifyWindow) setCatalogueLoadWindow(notifyWindow);
    auto* job = new CatalogueLoadJob{server};
    HANDLE thread = ::CreateThread(nullptr, 0, CatalogueLoadThread, job, 0, nullptr);
    if (!thread) {
        delete job;
        return false;
    }
    ::CloseHandle(thread);
    return true;
}

CatalogueAdoption adoptLoadedCatalogue(Catalogue& target) {
    std::unique_ptr<Catalogue> loaded;
    CatalogueAdoption outcome;
    {
        PendingLoad& pending = pendingLoad();
        std::lock_guard<std::mutex> lock(pending.mutex);
        if (!pending.outcome.pending) return outcome;
        loaded = std::move(pending.catalogue);
        outcome = pending.outcome;
        target.lastError = pending.lastError;
        pending.outcome = CatalogueAdoption();
    }
    if (!loaded) return outcome;
    target.categories = std::move(loaded->categories);
    target.apps = std::move(loaded->apps);
    ++target.generation;
    outcome.replaced = true;
    return outcome;
}
