#include "app/shell_services.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>

#include <cwchar>
#include <iterator>

#include "app/startup.h"
#include "app/app_action.h"
#include "render/app_state.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"
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

// The system's task dialog with the two buttons named; the first is the default.
bool confirmWithButtons(HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                        const std::wstring& no) {
    const TASKDIALOG_BUTTON buttons[] = {{IDYES, yes.c_str()}, {IDNO, no.c_str()}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = caption.c_str();
    config.pszMainInstruction = text.c_str();
    config.pButtons = buttons;
    config.cButtons = 2;
    config.nDefaultButton = IDYES;
    // Looked up, not linked: only the common controls of version 6 (the program's manifest asks for
    // them) have the task dialog.
    using TaskDialogFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
    const auto taskDialog =
        controls ? reinterpret_cast<TaskDialogFunction>(reinterpret_cast<void*>(::GetProcAddress(controls, "TaskDialogIndirect"))) : nullptr;
    int pressed = IDNO;
    if (!taskDialog || taskDialog(&config, &pressed, nullptr, nullptr) != S_OK) {
        // Without the task dialog, the plain question says which answer does what.
        const std::wstring plain = text + L"\n\n“是”：" + yes + L"　“否”：" + no;
        return ::MessageBoxW(owner, plain.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    return pressed == IDYES;
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
    const BOOL chosen = save ? ::GetSaveFileNameW(&dialog) : ::GetOpenFileNameW(&dialog);
    return chosen ? std::wstring(path) : std::wstring();
}

}  // namespace

ShellServices realShellServices() {
    ShellServices s;
    s.attachDownloadWindow = [](HWND window) { DownloadManager::instance().mainWindow = window; };
    s.taskSnapshot = [] { return DownloadManager::instance().snapshot(); };
    s.cancelTask = [](int32_t id) { DownloadManager::instance().cancel(id); };
    s.pauseTask = [](int32_t id) { DownloadManager::instance().pause(id); };
    // The bytes come from the catalogue's address for the app, never from one the journal named.
    s.resumeTask = [](int32_t id) {
        const AppConfig& config = appState().config;
        DownloadManager::instance().resume(id, downloadUrlFor(config.server, id, config.channel));
    };
    s.clearFinished = [] { DownloadManager::instance().clearFinished(); };
    s.openInFolder = [](int32_t id) { DownloadManager::instance().openInFolder(id); };
    s.install = [](int32_t id, const InstallRequest& request) { return DownloadManager::instance().install(id, request); };
    s.withdrawInstall = [](int32_t id) { return DownloadManager::instance().withdrawInstall(id); };
    s.updateSpeeds = [] { DownloadManager::instance().updateSpeeds(); };
    s.appAction = [](const AppInfo* app) { onAppAction(app); };
    s.reportInstall = [](const std::wstring& server, int32_t id, const std::wstring& channel) {
        return ReportInstallInBackground(server, id, channel);
    };
    s.downloadDirectory = [] { return downloadDirectory(); };
    s.setDownloadDirOverride = [](const std::wstring& path) { setDownloadDirOverride(path); };
    s.saveConfig = [](const AppConfig& config) { return saveConfig(config); };
    s.startCatalogLoad = [] { startCatalogLoad(); };
    s.finishStartUp = [] { finishStartUpSoon(); };
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
    s.readInstalledApps = [](HWND window, uint32_t readNumber, std::vector<CatalogueName> apps) {
        return startInstalledAppsRead(window, readNumber, std::move(apps));
    };
    s.startUninstall = [](HWND window, int32_t appId, const InstalledApp& registration) {
        return startUninstall(window, appId, registration);
    };
    s.takeUninstallOutcome = [](int32_t appId) { return takeUninstallOutcome(appId); };
    s.confirm = [](HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                   const std::wstring& no) { return confirmWithButtons(owner, text, caption, yes, no); };
    s.runningProcessesOf = [](const InstalledApp& registration) { return runningProcessesOf(registration); };
    s.closeRunningApp = [](HWND window, int32_t appId, std::vector<RunningProcess> processes) {
        return qb::startWorker([window, appId, processes = std::move(processes)] {
            const bool closed = closeProcesses(processes, kAppCloseWaitMs);
            ::PostMessageW(window, WM_QB_APP_CLOSED, static_cast<WPARAM>(static_cast<uint32_t>(appId)), closed);
        });
    };
    s.startPrograms = [](const std::vector<std::wstring>& programs) { startPrograms(programs); };
    return s;
}

ShellServices& shellServices() {
    static ShellServices services = realShellServices();
    return services;
}
