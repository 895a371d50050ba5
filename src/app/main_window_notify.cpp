#include "app/app_action.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "app/search_field.h"
#include "app/shell_services.h"
#include "app/tray.h"
#include "downloads/download_manager.h"
#include "model/app_state.h"
#include "render/state_texts.h"

#include <optional>

namespace {

// Another task of the same app (one that replaced or preceded the task the news is for).
bool replacedSince(const std::map<int32_t, TaskSnapshot>& tasks, IdAndGeneration news) {
    const auto found = tasks.find(news.id);
    return found != tasks.end() && found->second.generation != news.generation;
}

// The local clock's distance from UTC in minutes, as the system converts that instant.
int32_t localUtcOffsetMinutes(int64_t utcMs) {
    if (utcMs <= 0) return 0;
    const uint64_t ticks = static_cast<uint64_t>(utcMs) * 10000ULL + 116444736000000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    FILETIME local{};
    if (!::FileTimeToLocalFileTime(&utc, &local)) return 0;
    const uint64_t localTicks = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    return static_cast<int32_t>((static_cast<int64_t>(localTicks) - static_cast<int64_t>(ticks)) / 600000000LL);
}

void showDownloadNotice(const TaskSnapshot& task) {
    AppState& app = appState();
    app.noticeText = task.name;
    app.noticeIsSummary = false;
    app.noticeVerified = task.md5Ok;
    app.noticeIsArchive = task.isArchive;
    app.noticeUnverified = task.unverified;
    app.noticeSignature = task.signature;
    app.noticePublisher = task.publisher;
    app.noticePublisherRefused = task.publisherVerdict == PublisherVerdict::Refused;
    app.noticeSilent = false;
    app.noticeInstallStarted = false;
    app.noticeTaskId = task.appId;
    app.noticeTick = ::GetTickCount();
}

// A verified installer whose download has just finished starts, unless something holds it back.
void installAfterDownload(int32_t taskId, const TaskSnapshot& task, bool inBatch) {
    AppState& app = appState();
    if (app.installsHeld.erase(taskId) > 0) {
        // A stopped batch was checking it: its installer waits for the user's own click.
        app.batch.settle(taskId, BatchOutcome::Skipped);
        showToast(L"「" + task.name + L"」下载完成", ToastSuccess);
        return;
    }
    if (app.installed.uninstalling.count(taskId)) {
        // Its uninstaller runs: the installer waits for the user, from the row, once that has ended.
        app.batch.settle(taskId, BatchOutcome::Skipped);
        showToast(L"「" + task.name + L"」下载完成，卸载结束后可点击安装", ToastNeutral);
        return;
    }
    if (autoUpdateHolds(taskId, task)) return;  // downloaded for the user's click, or refused
    const InstallStart start = installAndReport(taskId);
    if (start == InstallStart::Deferred) return;  // the running app's road has said what happens
    if (start == InstallStart::Refused) {
        app.batch.settle(taskId, BatchOutcome::Failed);
        showToast(L"「" + task.name + L"」下载完成", ToastSuccess);
        return;
    }
    const bool silent = installRequestFor(task).silent;
    if (!inBatch) {
        app.noticeSilent = silent;
        app.noticeInstallStarted = true;
    }
    const wchar_t* text = installWaits(taskId) ? (silent ? L"」下载完成，当前的安装结束后自动安装"
                                                         : L"」下载完成，当前的安装结束后打开安装向导")
                                               : (silent ? L"」下载完成，正在安装" : L"」下载完成，正在打开安装向导");
    showToast(L"「" + task.name + text, ToastSuccess);
}

}  // namespace

InstallStart installAndReport(int32_t taskId) {
    ShellServices& services = shellServices();
    // Never beside the app's own uninstaller (an update whose app closed while it was asked for).
    if (appState().installed.uninstalling.count(taskId)) {
        const AppInfo* app = appState().catalogue.findApp(taskId);
        showToast(L"「" + (app ? app->name : std::wstring()) + L"」正在卸载，卸载结束后可点击安装", ToastNeutral);
        return InstallStart::Refused;
    }
    if (deferForRunningApp(taskId)) return InstallStart::Deferred;
    const auto tasks = services.taskSnapshot();
    const auto task = tasks.find(taskId);
    if (!services.install(taskId, task == tasks.end() ? InstallRequest{} : installRequestFor(task->second)))
        return InstallStart::Refused;
    const AppConfig& config = appState().config;
    services.reportInstall(config.server, taskId, config.channel);
    return InstallStart::Accepted;
}

LRESULT onCatalogueLoaded(WPARAM step) {
    AppState& app = appState();
    ShellServices& services = shellServices();
    CatalogueAdoption loaded = services.adoptLoadedCatalogue(app.catalogue);
    if (!loaded.pending) {
        // Already taken with an earlier message of the same load; or posted without a result to take,
        // when the step alone says what happened.
        if (!app.catalogueLoading) return 0;
        loaded.finished = step != CatalogueLoadCached;
        loaded.failed = step == CatalogueLoadFailed;
        loaded.offline = step == CatalogueLoadOffline;
        loaded.confirmed = step == CatalogueLoadFresh || step == CatalogueLoadUnchanged;
    }
    const bool firstShown = app.catalogueLoading;
    if (loaded.replaced || loaded.finished) app.catalogueLoading = false;
    app.catalogueFailed = loaded.failed;
    app.catalogueOffline = loaded.offline;
    if (loaded.finished) app.catalogueSettled = true;
    app.catalogueNotice =
        loaded.offline ? offlineNotice(loaded.confirmedAtMs, localUtcOffsetMinutes(loaded.confirmedAtMs)) : L"";
    if (firstShown) {
        const bool fromDownloadPage = app.page == Page::Downloads;
        app.page = Page::Catalogue;
        app.selectedCategoryId =
            selectionAfterLoad(app.catalogue.categories, app.selectedCategoryId, fromDownloadPage);
    } else if (loaded.replaced) {
        // A refresh replacing the shown catalogue keeps the page, and the selection and scroll
        // while the selected category still exists.
        const std::wstring kept = selectionAfterLoad(app.catalogue.categories, app.selectedCategoryId, false);
        if (kept != app.selectedCategoryId) app.contentScroll = 0;
        app.selectedCategoryId = kept;
    }
    if (loaded.replaced) rereadInstalledApps();
    if (loaded.replaced) searchAgainInNewCatalogue(app);  // the shown results indexed the old lists
    repaintMainWindow();
    // The rest of the start-up waits until the first catalogue (or the failure screen) is on the screen.
    if (services.finishStartUp) services.finishStartUp();
    continueListImport();
    if (loaded.finished) autoUpdateCheckEnded(loaded.confirmed);
    return 0;
}

// One message per finished icon, but the first takes every icon finished so far; results for a
// catalogue since replaced are dropped there.
LRESULT onIconReady() {
    AppState& app = appState();
    if (app.icons.adoptResults(app.catalogue.generation) > 0) {
        prepareMainWindowFacesSoon();  // the cards showing them are drawn again before the paint
        repaintMainWindow();
    }
    return 0;
}

LRESULT onDownloadDone(IdAndGeneration news) {
    const auto tasks = shellServices().taskSnapshot();
    const auto found = tasks.find(news.id);
    if (found == tasks.end() || replacedSince(tasks, news)) return 0;
    const TaskSnapshot& task = found->second;

    ::MessageBeep(MB_ICONASTERISK);
    AppState& app = appState();
    // A batch's downloads end in its one summary, not a notice each.
    const bool inBatch = app.batch.active();
    if (!inBatch) showDownloadNotice(task);
    repaintMainWindow();

    if (task.isArchive) {
        showToast(L"「" + task.name + L"」下载成功，压缩包已保存，可打开文件夹解压安装", ToastSuccess);
    } else if (!task.md5Ok) {
        showToast(L"下载完成，但 MD5 校验不一致，请谨慎安装", ToastError);
    } else if (task.signature == SignatureBroken) {
        showToast(L"安装包签名无效，已禁止安装", ToastError);
    } else if (task.publisherVerdict == PublisherVerdict::Refused) {
        showToast(PublisherMismatchMessage, ToastError);
    } else if (task.unverified) {
        // Nothing vouches for this file: the user starts it from the card or the row, after a question.
        showToast(L"「" + task.name + L"」无法校验，未自动打开安装向导", ToastNeutral);
    } else {
        installAfterDownload(news.id, task, inBatch);
    }
    repaintMainWindow();
    return 0;
}

LRESULT onDownloadFailed(HWND hwnd, IdAndGeneration news) {
    const auto tasks = shellServices().taskSnapshot();
    if (replacedSince(tasks, news)) return 0;
    if (inAutoUpdateBatch(news.id)) return 0;  // its batch's notice counts it; nothing asks the user now
    // A task cleared from the list since still failed: the warning comes without its name.
    const auto found = tasks.find(news.id);
    std::wstring text;
    if (found != tasks.end() && !found->second.name.empty()) text = L"「" + found->second.name + L"」\n\n";
    const bool proxyRefused = found != tasks.end() && found->second.error.httpStatus == 407;
    text += proxyRefused ? ProxyAuthMessage : ServiceTroubleMessage;
    shellServices().messageBox(hwnd, text, L"下载失败", MB_ICONWARNING);
    return 0;
}

// How old the last read of the registrations must be before activating the window reads them again.
constexpr DWORD kInstalledReadAgainAfterMs = 30000;

void rereadInstalledApps() {
    if (HWND main = appState().mainWnd) ::SetTimer(main, kInstalledReadTimerId, 10, nullptr);
}

void startInstalledAppsReadNow() {
    AppState& app = appState();
    if (!app.mainWnd || app.catalogue.apps.empty()) return;
    std::vector<CatalogueName> names;
    names.reserve(app.catalogue.apps.size());
    for (const AppInfo& info : app.catalogue.apps) names.push_back({info.id, info.name, info.version});
    const uint32_t number = ++app.installed.readsStarted;
    app.installed.newestReadCatalogue = app.catalogue.generation;
    app.installed.readTick = ::GetTickCount();
    if (ShellServices& services = shellServices(); services.readInstalledApps)
        services.readInstalledApps(app.mainWnd, number, std::move(names));
}

LRESULT onInstalledRead(WPARAM) {
    AppState& app = appState();
    std::optional<InstalledAppsRead> read = shellServices().takeInstalledAppsRead();
    if (!read || read->readNumber != app.installed.readsStarted) return 0;
    InstalledState& installed = app.installed;
    installed.byId = std::move(read->statuses);
    installed.everRead = true;
    installed.byIdCatalogue = installed.newestReadCatalogue;
    // An update whose installer succeeded but left the version as it was is not offered again; one whose
    // installer failed (the user cancelled it) is, although the monitor counts an app listed before as
    // installed. A paused update is still under way.
    const auto tasks = shellServices().taskSnapshot();
    // A download the last run left unfinished, of an app listed at an older version, is an update
    // like one started from "升 级" in this run: it keeps the version it started from.
    for (const auto& entry : tasks) {
        const uint32_t state = entry.second.state;
        const InstallStatus* status = installStatusOf(app, entry.first);
        if ((state == Downloading || state == Verifying || state == Paused) && status && status->updatable)
            installed.updating.emplace(entry.first, status->registration.displayVersion);
    }
    for (auto it = installed.updating.begin(); it != installed.updating.end();) {
        const auto task = tasks.find(it->first);
        const uint32_t state = task == tasks.end() ? Failed : task->second.state;
        const bool installerFailed = task != tasks.end() && task->second.installerFailed;
        if (state == Downloading || state == Verifying || state == Paused || state == Installing ||
            state == InstallQueued || state == Completed) {
            ++it;
            continue;
        }
        const InstallStatus* status = installStatusOf(app, it->first);
        const AppInfo* info = app.catalogue.findApp(it->first);
        if (state == Installed && !installerFailed && status && status->updatable && info &&
            status->registration.displayVersion == it->second)
            installed.updateRefused[it->first] = info->version;
        it = installed.updating.erase(it);
    }
    prepareMainWindowFacesSoon();
    repaintMainWindow();
    continueListImport();
    if (!autoUpdateTakesOver()) announceUpdates(app.mainWnd);
    considerAutoUpdate();
    return 0;
}

LRESULT onInstallerFinished() {
    rereadInstalledApps();
    restartClosedApps();
    followBatch();
    closeIfQuitting();
    return 0;
}

LRESULT onTasksChanged() {
    followBatch();
    repaintMainWindow();
    return 0;
}

LRESULT onActivateApp(bool active) {
    if (!active) closeCardMenu();
    const InstalledState& installed = appState().installed;
    if (active && installed.everRead && ::GetTickCount() - installed.readTick >= kInstalledReadAgainAfterMs)
        rereadInstalledApps();
    return 0;
}
