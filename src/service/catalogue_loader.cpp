#include "service/catalogue_loader.h"

#include <memory>
#include <mutex>

#include "base/window_messages.h"

namespace {

struct PendingLoad {
    std::mutex mutex;
    std::unique_ptr<Catalogue> catalogue;
    bool succeeded = false;
};

PendingLoad& pendingLoad() {
    static PendingLoad pending;
    return pending;
}

}  // namespace

DWORD WINAPI CatalogueLoadThread(LPVOID parameter) {
    std::unique_ptr<CatalogueLoadJob> job(static_cast<CatalogueLoadJob*>(parameter));
    auto fresh = std::make_unique<Catalogue>();
    const bool ok = fresh->LoadBootstrap(job->server);
    {
        PendingLoad& pending = pendingLoad();
        std::lock_guard<std::mutex> lock(pending.mutex);
        pending.catalogue = std::move(fresh);
        pending.succeeded = ok;
    }
    if (job->notifyWindow) ::PostMessageW(job->notifyWindow, WM_QB_CATALOG_LOADED, ok ? 1 : 0, 0);
    return 0;
}

bool startCatalogueLoadThread(const std::wstring& server, HWND notifyWindow) {
    auto* job = new CatalogueLoadJob{server, notifyWindow};
    HANDLE thread = ::CreateThread(nullptr, 0, CatalogueLoadThread, job, 0, nullptr);
    if (!thread) {
        delete job;
        return false;
    }
    ::CloseHandle(thread);
    return true;
}

bool adoptLoadedCatalogue(Catalogue& target) {
    std::unique_ptr<Catalogue> loaded;
    bool succeeded = false;
    {
        PendingLoad& pending = pendingLoad();
        std::lock_guard<std::mutex> lock(pending.mutex);
        loaded = std::move(pending.catalogue);
        succeeded = pending.succeeded;
    }
    if (!loaded) return false;
    target.lastError = loaded->lastError;
    if (!succeeded) return true;
    target.categories = std::move(loaded->categories);
    target.apps = std::move(loaded->apps);
    ++target.generation;
    return true;
}
