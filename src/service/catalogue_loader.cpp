#include "service/catalogue_loader.h"

#include <memory>

#include "base/checksum.h"
#include "base/mailbox.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"
#include "base/text_convert.h"
#include "service/bootstrap_cache.h"
#include "net/http_client.h"

namespace {

// The newest step of a load, waiting for the window thread.
struct LoadResult {
    std::unique_ptr<Catalogue> catalogue;  // lists not adopted yet; a newer load result replaces them
    CatalogueAdoption outcome;
    CatalogueError lastError;
    CatalogueLoadStep step = CatalogueLoadFailed;
};

qb::Mailbox<LoadResult>& loadResults() {
    static qb::Mailbox<LoadResult> results;
    return results;
}

// Where steps are posted; null until there is one. Read and written only inside loadResults().update,
// so that a step is posted once: by its publisher, or by whoever names the window after it.
HWND stepWindow = nullptr;

// Set once the first catalogue is on the screen. Until then the start-up load's question to the service
// waits, so that loading the network libraries and the request do not compete with the first frame for
// the two cores; a window that never gets there holds the question back for this long at most.
constexpr DWORD kRefreshWaitsForFirstFrameAtMostMs = 1500;

HANDLE firstFrameShown() {
    static const HANDLE shown = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return shown;
}

int64_t nowMs() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - 116444736000000000ULL) / 10000ULL);
}

// A step without lists keeps those of an earlier step that were not adopted yet.
void publish(CatalogueLoadStep step, std::unique_ptr<Catalogue> lists, const CatalogueError& error,
             int64_t confirmedAtMs) {
    loadResults().update([&](std::optional<LoadResult>& waiting) {
        if (!waiting) waiting.emplace();
        if (lists) waiting->catalogue = std::move(lists);
        waiting->lastError = error;
        waiting->step = step;
        waiting->outcome.pending = true;
        waiting->outcome.finished = step != CatalogueLoadCached;
        waiting->outcome.failed = step == CatalogueLoadFailed;
        waiting->outcome.offline = step == CatalogueLoadOffline;
        waiting->outcome.confirmed = step == CatalogueLoadFresh || step == CatalogueLoadUnchanged;
        waiting->outcome.confirmedAtMs = confirmedAtMs;
        if (stepWindow) ::PostMessageW(stepWindow, WM_QB_CATALOGUE_LOADED, step, 0);
    });
}

// The cached lists: from their snapshot when it names the stored body, else parsed from the body
// (then a snapshot is written for the next start). Null when there is no usable copy; a body that
// does not parse, or does not match the SHA-256 beside it, is removed, never used again.
std::unique_ptr<Catalogue> readCached(std::optional<StoredStamp>& stored) {
    if (!stored) return nullptr;
    if (std::unique_ptr<Catalogue> lists = readCachedCatalogue(*stored)) return lists;
    std::optional<CachedBootstrap> cached = readCachedBootstrap();
    auto lists = std::make_unique<Catalogue>();
    json::ValuePtr tree;  // freed after the snapshot is written
    if (!cached || !lists->parseBootstrap(cached->body, &tree)) {
        forgetCachedBootstrap();
        stored.reset();
        return nullptr;
    }
    storeCachedCatalogue(*lists, stored->stamp.bodyChecksum);
    return lists;
}

// Asks the service for the bootstrap, naming the cached copy's validators when there is one.
HttpResult askService(const std::wstring& server, const std::optional<StoredStamp>& cached, HttpResponse& response,
                      CatalogueError& error) {
    HttpRequest request;
    request.url = server + L"/api/client/bootstrap";
    if (cached && !cached->stamp.etag.empty())
        request.headers.emplace_back(L"If-None-Match", utf8ToWide(cached->stamp.etag));
    if (cached && !cached->stamp.lastModified.empty())
        request.headers.emplace_back(L"If-Modified-Since", utf8ToWide(cached->stamp.lastModified));
    const HttpResult result = HttpClient::Send(request, response, error.http);
    if (result != HttpResult::Ok) error.fault = CatalogueFault::Network;
    return result;
}

// The service vouched for the cached copy (a 304, or the same body again). Its lists were shown from
// the snapshot; the body they came from is checked against its SHA-256 before the copy counts as
// confirmed. False when it no longer matches (the copy is gone then).
bool confirmCached(const StoredStamp& cached, BootstrapStamp stamp) {
    if (!readCachedBootstrap()) return false;
    // A 304 need not repeat the validators; the copy keeps its own then.
    if (stamp.etag.empty()) stamp.etag = cached.stamp.etag;
    if (stamp.lastModified.empty()) stamp.lastModified = cached.stamp.lastModified;
    stamp.bodyChecksum = cached.stamp.bodyChecksum;
    stamp.bodySha256 = cached.stamp.bodySha256;
    storeBootstrapStamp(stamp, cached.bodyBytes);
    publish(CatalogueLoadUnchanged, nullptr, CatalogueError{}, stamp.confirmedAtMs);
    return true;
}

// The service's answer to this run's request; false when it neither confirmed the cached copy nor sent
// a catalogue (error says why), or when the cached copy it confirmed turned out damaged (retry).
bool adoptAnswer(HttpResult result, const HttpResponse& response, const std::optional<StoredStamp>& cached,
                 const std::string& source, CatalogueError& error, bool& retry) {
    BootstrapStamp stamp;
    stamp.etag = wideToUtf8(response.etag);
    stamp.lastModified = wideToUtf8(response.lastModified);
    stamp.confirmedAtMs = nowMs();
    stamp.source = source;
    const bool sameBody = result == HttpResult::Ok && cached && response.status == 200 &&
                          response.body.size() == cached->bodyBytes &&
                          qb::checksum64(response.body.data(), response.body.size()) == cached->stamp.bodyChecksum;
    if (result == HttpResult::Ok && cached && (response.status == 304 || sameBody)) {
        retry = !confirmCached(*cached, stamp);
        return !retry;
    }
    if (result == HttpResult::Ok && response.status != 304) {
        auto fresh = std::make_unique<Catalogue>();
        json::ValuePtr tree;  // freed after the hand-over
        if (fresh->parseBootstrap(response.body, &tree)) {
            if (storeCachedBootstrap(response.body, stamp))
                storeCachedCatalogue(*fresh, qb::checksum64(response.body.data(), response.body.size()));
            publish(CatalogueLoadFresh, std::move(fresh), CatalogueError{}, stamp.confirmedAtMs);
            return true;
        }
        error = fresh->lastError;
    } else if (result == HttpResult::Ok) {
        error.fault = CatalogueFault::BadData;  // 304 to a request that named no copy
    }
    return false;
}

void runLoad(const std::wstring& server, const std::wstring& channel, bool beforeFirstFrame) {
    // The cache first: a start shows what it holds while the service is asked. Another server's (or
    // channel's) copy is neither shown as this one's nor named to it in a conditional request.
    const std::string source = bootstrapSource(server, channel);
    std::optional<StoredStamp> cached = readBootstrapStamp();
    if (cached && cached->stamp.source != source) cached.reset();
    if (std::unique_ptr<Catalogue> lists = readCached(cached)) {
        publish(CatalogueLoadCached, std::move(lists), CatalogueError{}, cached->stamp.confirmedAtMs);
        if (HANDLE shown = firstFrameShown(); shown && beforeFirstFrame)
            ::WaitForSingleObject(shown, kRefreshWaitsForFirstFrameAtMostMs);
    }
    HttpResponse response;
    CatalogueError error;
    bool retry = false;
    if (adoptAnswer(askService(server, cached, response, error), response, cached, source, error, retry)) return;
    if (retry) {
        // The copy the service confirmed was damaged on the disk: ask once more, for the whole body.
        const std::optional<StoredStamp> none;
        response = HttpResponse{};
        error = CatalogueError{};
        if (adoptAnswer(askService(server, none, response, error), response, none, source, error, retry)) return;
        cached.reset();
    }
    if (cached) {
        publish(CatalogueLoadOffline, nullptr, error, cached->stamp.confirmedAtMs);
    } else {
        publish(CatalogueLoadFailed, nullptr, error, 0);
    }
}

}  // namespace

void catalogueShown() {
    if (HANDLE shown = firstFrameShown()) ::SetEvent(shown);
}

void setCatalogueLoadWindow(HWND window) {
    loadResults().update([window](std::optional<LoadResult>& waiting) {
        stepWindow = window;
        if (window && waiting) ::PostMessageW(window, WM_QB_CATALOGUE_LOADED, waiting->step, 0);
    });
}

bool startCatalogueLoadThread(const std::wstring& server, HWND notifyWindow, const std::wstring& channel) {
    if (notifyWindow) setCatalogueLoadWindow(notifyWindow);
    auto running = std::make_shared<qb::UniqueHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!*running) return false;
    // Only the start-up load, begun before there is a window, waits for the first frame.
    const bool beforeFirstFrame = notifyWindow == nullptr;
    const bool started = qb::startWorker([server, channel, running, beforeFirstFrame] {
        ::SetEvent(running->get());
        runLoad(server, channel, beforeFirstFrame);
    });
    if (started) ::WaitForSingleObject(running->get(), 100);
    return started;
}

bool loadCatalogueHere(const std::wstring& server, const std::wstring& channel, Catalogue& target) {
    runLoad(server, channel, false);
    return adoptLoadedCatalogue(target).replaced;
}

CatalogueAdoption adoptLoadedCatalogue(Catalogue& target) {
    std::optional<LoadResult> loaded = loadResults().take();
    if (!loaded) return CatalogueAdoption();
    CatalogueAdoption outcome = loaded->outcome;
    target.lastError = loaded->lastError;
    if (!loaded->catalogue) return outcome;
    target.categories = std::move(loaded->catalogue->categories);
    target.apps = std::move(loaded->catalogue->apps);
    ++target.generation;
    outcome.replaced = true;
    return outcome;
}
