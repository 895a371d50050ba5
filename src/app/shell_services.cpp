#include "app/shell_services.h"

#include <shellapi.h>
#include <shlobj.h>

#include "app/startup.h"
#include "app/app_action.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "service/install_report.h"

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

}  // namespace

ShellServices realShellServices() {
    ShellServices s;
    s.attachDownloadWindow = [](HWND window) { DownloadManager::instance().mainWindow = window; };
    s.taskSnapshot = [] { return DownloadManager::instance().snapshot(); };
    s.cancelTask = [](int32_t id) { DownloadManager::instance().cancel(id); };
    s.pauseTask = [](int32_t id) { DownloadManager::instance().pause(id); };
    s.resumeTask = [](int32_t id) { DownloadManager::instance().resume(id); };
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
    s.readInstalledApps = [](HWND window, uint32_t readNumber, std::vector<CatalogueName> apps) {
        return startInstalledAppsRead(window, readNumber, std::move(apps));
    };
    s.startUninstall = [](HWND window, int32_t appId, const InstalledApp& registration) {
        return startUninstall(window, appId, registration);
    };
    s.takeUninstallOutcome = [](int32_t appId) { return takeUninstallOutcome(appId); };
    return s;
}

ShellServices& shellServices() {
    static ShellServices services = realShellServices();
    return services;
}
