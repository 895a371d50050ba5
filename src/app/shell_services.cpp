#include "app/shell_services.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "app/app_action.h"
#include "app/main_window_paint.h"
#include "app/startup.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "model/app_state.h"
#include "service/install_report.h"

// How long a running app is given to close after it was asked.
constexpr DWORD kAppCloseWaitMs = 10000;

namespace {

std::wstring browseForFolder(HWND owner) {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = L"选择下载保存目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    if (!chosen) return std::wstring();
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(chosen, path)) path[0] = L'\0';
    ::CoTaskMemFree(chosen);
    return path;
}

// The labels the next message box of this thread gives its OK and Cancel buttons.
struct ButtonLabels {
    HHOOK hook = nullptr;
    const wchar_t* yes = nullptr;
    const wchar_t* no = nullptr;
};
thread_local ButtonLabels labels;

LRESULT CALLBACK labelButtons(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wp);
        ::SetDlgItemTextW(box, IDOK, labels.yes);
        ::SetDlgItemTextW(box, IDCANCEL, labels.no);
        ::UnhookWindowsHookEx(labels.hook);
        labels.hook = nullptr;
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

// The system's question box with its two buttons named as the question needs them; the first is the
// default, and Escape or the close box answer the second.
bool confirmWithButtons(HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                        const std::wstring& no) {
    labels.yes = yes.c_str();
    labels.no = no.c_str();
    labels.hook = ::SetWindowsHookExW(WH_CBT, labelButtons, nullptr, ::GetCurrentThreadId());
    const int answer = ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONQUESTION);
    if (labels.hook) ::UnhookWindowsHookEx(labels.hook);
    labels.hook = nullptr;
    return answer == IDOK;
}

// The common dialogs' library is loaded when a file is first chosen, not with the program: most runs
// never open the dialog, and linked, the library and the common controls it brings with it would be
// loaded and started before main().
using FileDialogFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
FileDialogFunction fileDialog(bool save) {
    HMODULE dialogs = ::LoadLibraryW(L"comdlg32.dll");  // kept for the process, as a linked library is
    return dialogs ? reinterpret_cast<FileDialogFunction>(reinterpret_cast<void*>(
                         ::GetProcAddress(dialogs, save ? "GetSaveFileNameW" : "GetOpenFileNameW")))
                   : nullptr;
}

std::wstring browseForListFile(HWND owner, bool save) {
    wchar_t path[MAX_PATH * 4] = {};
    if (save) std::wcscpy(path, L"软件清单.json");
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"软件清单 (*.json)\0*.json\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(std::size(path));
    dialog.lpstrDefExt = L"json";
    dialog.lpstrTitle = save ? L"导出软件清单" : L"导入软件清单";
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const FileDialogFunction show = fileDialog(save);
    const BOOL chosen = show ? show(&dialog) : FALSE;
    return chosen ? std::wstring(path) : std::wstring();
}

void bindDownloads(ShellServices& s) {
    s.attachDownloadWindow = [](HWND window) { DownloadManager::instance().mainWindow = window; };
    s.taskSnapshot = [] { return DownloadManager::instance().snapshot(); };
    s.startDownload = [](const AppInfo& app) {
        const AppConfig& config = appState().config;
        DownloadIdentity package{app.name, downloadUrlFor(config.server, app.id, config.channel), app.md5,
                                 app.sha256, app.packageSize};
        package.pinnedPublisher = app.publisher;
        package.version = app.version;
        package.mirrors = app.mirrors;
        DownloadManager::instance().startDownload(app.id, package);
    };
    s.cancelTask = [](int32_t id) { DownloadManager::instance().cancel(id); };
    s.pauseTask = [](int32_t id) { DownloadManager::instance().pause(id); };
    // The bytes come from the catalogue's address for the app, never from one the journal named.
    s.resumeTask = [](int32_t id) {
        const AppState& state = appState();
        const AppInfo* app = state.catalogue.findApp(id);
        DownloadManager::instance().resume(id, downloadUrlFor(state.config.server, id, state.config.channel),
                                           app ? app->mirrors : std::vector<std::string>());
    };
    // Deleting the partial files of failed and cancelled tasks is disk work: a worker does it, and the
    // rows go when it tells the window the tasks changed.
    s.clearFinished = [] {
        if (!qb::startWorker([] { DownloadManager::instance().clearFinished(); }))
            DownloadManager::instance().clearFinished();
    };
    s.openInFolder = [](int32_t id) { DownloadManager::instance().openInFolder(id); };
    s.install = [](int32_t id, const InstallRequest& request) { return DownloadManager::instance().install(id, request); };
    s.withdrawInstall = [](int32_t id) { return DownloadManager::instance().withdrawInstall(id); };
    s.updateSpeeds = [] { DownloadManager::instance().updateSpeeds(); };
    s.setConnectionsPerDownload = [](int count) { DownloadManager::instance().setConnectionsPerDownload(count); };
    s.setSpeedLimit = [](int kbPerSecond) { DownloadManager::instance().setSpeedLimit(kbPerSecond); };
    s.restoreJournal = [] { DownloadManager::instance().restoreJournal(); };
    s.pauseAll = [](DWORD waitMs) { DownloadManager::instance().pauseAll(waitMs); };
    s.appAction = [](const AppInfo* app) { onAppAction(app); };
    s.reportInstall = [](const std::wstring& server, int32_t id, const std::wstring& channel) {
        return reportInstallInBackground(server, id, channel);
    };
}

void bindSettingsAndCatalogue(ShellServices& s) {
    s.downloadDirectory = [] { return downloadDirectory(); };
    s.shownDownloadDirectory = [] { return shownDownloadDirectory(); };
    s.setDownloadDirOverride = [](const std::wstring& path) { setDownloadDirOverride(path); };
    s.saveConfig = [](const AppConfig& config) { return saveConfig(config); };
    s.startCatalogueLoad = [] { startCatalogueLoad(); };
    s.adoptLoadedCatalogue = [](Catalogue& shown) { return adoptLoadedCatalogue(shown); };
    s.finishStartUp = [] { finishStartUpSoon(); };
    s.requestIcon = [](const AppInfo& app, int drawnSize) { requestIcon(appState(), app, drawnSize); };
}

void bindShell(ShellServices& s) {
    s.openFolderWindow = [](const std::wstring& folder) {
        ::ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    s.messageBox = [](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
        return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
    };
    s.pickFolder = [](HWND owner) {
        finishStartUp();  // the picker needs OLE on this thread
        return browseForFolder(owner);
    };
    s.pickListFile = [](HWND owner, bool save) {
        finishStartUp();  // the dialog needs OLE on this thread
        return browseForListFile(owner, save);
    };
    s.confirm = [](HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                   const std::wstring& no) { return confirmWithButtons(owner, text, caption, yes, no); };
}

void bindInstalledApps(ShellServices& s) {
    s.readInstalledApps = [](HWND window, uint32_t readNumber, std::vector<CatalogueName> apps) {
        return startInstalledAppsRead(window, readNumber, std::move(apps));
    };
    s.takeInstalledAppsRead = [] { return takeInstalledAppsRead(); };
    s.startUninstall = [](HWND window, int32_t appId, const InstalledApp& registration) {
        return startUninstall(window, appId, registration);
    };
    s.takeUninstallOutcome = [](int32_t appId) { return takeUninstallOutcome(appId); };
    s.runningProcessesOf = [](const InstalledApp& registration) { return runningProcessesOf(registration); };
    s.closeRunningApp = [](HWND window, int32_t appId, std::vector<RunningProcess> processes) {
        return qb::startWorker([window, appId, processes = std::move(processes)] {
            const bool closed = closeProcesses(processes, kAppCloseWaitMs);
            ::PostMessageW(window, WM_QB_APP_CLOSED, static_cast<WPARAM>(static_cast<uint32_t>(appId)), closed);
        });
    };
    s.startPrograms = [](const std::vector<std::wstring>& programs) { startPrograms(programs); };
}

void bindInstallLists(ShellServices& s) {
    s.startListRead = [](HWND window, uint32_t number, const std::wstring& path) {
        return startInstallListRead(window, number, path);
    };
    s.startListWrite = [](HWND window, uint32_t number, const std::wstring& path, std::string text) {
        return startInstallListWrite(window, number, path, std::move(text));
    };
    s.takeListFileJob = [](uint32_t number) { return takeInstallListFileJob(number); };
}

}  // namespace

ShellServices realShellServices() {
    ShellServices s;
    bindDownloads(s);
    bindSettingsAndCatalogue(s);
    bindShell(s);
    bindInstalledApps(s);
    bindInstallLists(s);
    return s;
}

ShellServices& shellServices() {
    static ShellServices services = realShellServices();
    return services;
}
