#pragma once
// What an app card's action button (or a row's retry button) does for one catalogue record.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "downloads/install_batch.h"
#include "downloads/task.h"

struct AppInfo;

void onAppAction(const AppInfo* app);
// Whether a paused task's bytes are of the package the catalogue record lists now: the service hands
// out an app's newest package under the same address, so only then can its download go on.
bool listsPausedPackage(const AppInfo& app, const TaskSnapshot& task);
// server + "/api/client/download/" + id + "?channel=" + percent-encoded channel, in UTF-8.
std::string downloadUrlFor(const std::wstring& server, int32_t appId, const std::wstring& channel);
// Asks (Yes/No, No by default) before the installer of a package without a digest is started; true
// when the user agreed.
bool confirmUnverifiedInstall(const TaskSnapshot& task);
// Adds each app to the batch and starts it as its button would, except a finished package nothing
// vouches for, which joins the batch as skipped (the user's own click asks its question).
struct BatchStarts {
    int started = 0;
    int waiting = 0;  // skipped so
};
BatchStarts startInBatch(const std::vector<const AppInfo*>& apps);
// Starts the update of every app the updates page lists, as its "升 级" would; a finished package
// is installed unless nothing vouches for it (that one asks its question on the user's own click).
void onUpdateAll();
// The batch of unattended installs (batch_action.cpp). followBatch moves it on after any news of
// tasks and shows its summary once the last has ended; stopBatch (停止) skips what has not started
// installing; requestClose asks before a batch is left, and then waits for the running installer
// (closeIfQuitting ends the program once it has).
void followBatch();
void stopBatch();
void requestClose(HWND hwnd);
void closeIfQuitting();
// Automatic updates (auto_update_action.cpp), with autoUpdate on. A load that ends tells whether the
// service confirmed its catalogue; a confirmed check then reads the registrations, and the apps they
// show updatable start as the program's own batch once the user is idle and the battery allows
// (considerAutoUpdate; a timer looks again while they do not). An update that may not install unattended
// stays downloaded for the user's click (autoUpdateHolds, on its download's end). The batch ends in one
// tray notice, and no message box asks anything of the user meanwhile (inAutoUpdateBatch).
constexpr UINT_PTR kAutoUpdateTimerId = 41;
void autoUpdateCheckEnded(bool confirmed);
bool autoUpdateTakesOver();  // the "可升级" notice gives way: the batch's own says what happened
void considerAutoUpdate();
void onAutoUpdateTimer(HWND window);
bool autoUpdateHolds(int32_t taskId, const TaskSnapshot& task);
bool inAutoUpdateBatch(int32_t taskId);
void autoUpdateBatchEnded(const InstallBatch& batch);
// Install lists (install_list_action.cpp). 导出软件清单 and 导入软件清单 of the settings window: the
// file is chosen in the system's dialog, owned by owner, and read or written by a worker.
void exportInstallList(HWND owner);
void importInstallList(HWND owner);
// --import FILE: the list is read now and queued once the catalogue has loaded, asking first only
// when it comes from another server.
void importInstallListUnattended(const std::wstring& path);
// A list another start of the program handed over: read now, matched once the catalogue has loaded,
// and queued only after a question.
void importInstallListHandedOver(const std::wstring& path);
// Goes on with a list that waits for the catalogue or the registrations, after either arrived.
void continueListImport();
// True when the task's installer waits for the one that runs now.
bool installWaits(int32_t taskId);
// The toast after an installer was accepted: opening now, or waiting for the one that runs.
std::wstring installAcceptedToast(int32_t taskId, const std::wstring& name);
// How a finished package's installer runs: without a window where the setting, the catalogue and the
// package's type allow it; with its wizard after a failed install ("重新安装").
InstallRequest installRequestFor(const TaskSnapshot& task);
// The toast text that refuses to install a finished package, or empty when it may be installed.
std::wstring installRefusal(const TaskSnapshot& task);
