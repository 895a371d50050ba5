#pragma once
// What the main and settings windows ask of the other subsystems. Everything starts bound to the
// real operations; tests swap single entries to observe calls or to stand in for downloads,
// install reports, Explorer and modal dialogs.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "downloads/task.h"
#include "install/install_list_file.h"
#include "install/installed_apps.h"
#include "install/running_apps.h"
#include "install/uninstaller.h"
#include "service/catalogue_loader.h"

struct AppInfo;

struct ShellServices {
    // Downloads and their installers.
    std::function<void(HWND)> attachDownloadWindow;  // where download workers post their news
    std::function<std::map<int32_t, TaskSnapshot>()> taskSnapshot;
    // A new download of the app's package, from the catalogue's address for it.
    std::function<void(const AppInfo&)> startDownload;
    std::function<void(int32_t)> cancelTask;
    std::function<void(int32_t)> pauseTask;
    std::function<void(int32_t)> resumeTask;
    std::function<void()> clearFinished;
    std::function<void(int32_t)> openInFolder;
    std::function<bool(int32_t, const InstallRequest&)> install;
    std::function<bool(int32_t)> withdrawInstall;  // a waiting installer leaves the queue
    std::function<void()> updateSpeeds;
    std::function<void(int)> setConnectionsPerDownload;
    std::function<void(int kbPerSecond)> setSpeedLimit;  // all downloads together; 0 lifts the cap
    std::function<void()> restoreJournal;  // lists the downloads a previous run left unfinished
    // Stops every transfer and waits at most that long for them to record where they stopped.
    std::function<void(DWORD waitMs)> pauseAll;
    std::function<void(const AppInfo*)> appAction;
    // Sends the install report without waiting for the service; false when it could not be sent.
    std::function<bool(const std::wstring& server, int32_t appId, const std::wstring& channel)> reportInstall;

    // Settings.
    std::function<std::wstring()> downloadDirectory;
    std::function<std::wstring()> shownDownloadDirectory;  // as last resolved: no disk work while painting
    std::function<void(const std::wstring&)> setDownloadDirOverride;
    std::function<bool(const AppConfig&)> saveConfig;

    // The catalogue and its icons.
    std::function<void()> startCatalogueLoad;
    // On WM_QB_CATALOGUE_LOADED: moves the load's newest lists into the catalogue shown.
    std::function<CatalogueAdoption(Catalogue& shown)> adoptLoadedCatalogue;
    std::function<void()> finishStartUp;  // what start-up left for after the first catalogue paint
    // Asks for an app's icon decoded at a drawn size (PaintInputs::requestIcon of the live program).
    std::function<void(const AppInfo&, int drawnSize)> requestIcon;

    // Explorer and the system's dialogs.
    std::function<void(const std::wstring& folder)> openFolderWindow;
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)> messageBox;
    std::function<std::wstring(HWND owner)> pickFolder;  // empty when the user backs out
    // A "软件清单 (*.json)" file in the system's Save (or Open) dialog; empty when the user backs out.
    std::function<std::wstring(HWND owner, bool save)> pickListFile;
    // A question with two buttons of its own; true for the first.
    std::function<bool(HWND owner, const std::wstring& text, const std::wstring& caption, const std::wstring& yes,
                       const std::wstring& no)>
        confirm;

    // Installed apps: their registrations, uninstallers and running processes.
    // Reads the uninstall registrations on a worker and posts WM_QB_INSTALLED_READ with readNumber.
    std::function<bool(HWND window, uint32_t readNumber, std::vector<CatalogueName> apps)> readInstalledApps;
    std::function<std::optional<InstalledAppsRead>()> takeInstalledAppsRead;  // the newest read's result, once
    // Runs a registration's uninstaller on a worker, which posts WM_QB_UNINSTALL_FINISHED for the app id;
    // false when it could not be started. The outcome is taken once.
    std::function<bool(HWND window, int32_t appId, const InstalledApp& registration)> startUninstall;
    std::function<std::optional<UninstallOutcome>(int32_t appId)> takeUninstallOutcome;
    // The running processes of an installed app (inside its own folder).
    std::function<std::vector<RunningProcess>(const InstalledApp& registration)> runningProcessesOf;
    // Asks them to close on a worker, which posts WM_QB_APP_CLOSED with the app id; false when it could not start.
    std::function<bool(HWND window, int32_t appId, std::vector<RunningProcess> processes)> closeRunningApp;
    std::function<void(const std::vector<std::wstring>& programs)> startPrograms;

    // Install list files, read and written by workers that post WM_QB_LIST_FILE_DONE with the job's number.
    std::function<bool(HWND window, uint32_t number, const std::wstring& path)> startListRead;
    std::function<bool(HWND window, uint32_t number, const std::wstring& path, std::string text)> startListWrite;
    std::function<std::optional<InstallListFileJob>(uint32_t number)> takeListFileJob;  // once; nullopt for none
};

ShellServices realShellServices();
ShellServices& shellServices();
