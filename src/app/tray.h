#pragma once
// The icon in the notification area, shown while the program runs without its window: after a start
// with --background, or once the window was closed to it. A click opens the window; its menu opens the
// window, checks for updates, updates every app that can be, or quits.
#include <windows.h>

#include <string>
#include <vector>

#include "base/mailbox.h"
#include "updates/update_checks.h"

// The window's own message from its icon; lParam: the mouse or keyboard event.
constexpr UINT WM_QB_TRAY = WM_APP + 41;

enum TrayCommand : int { TrayOpen = 1, TrayCheckUpdates = 2, TrayUpdateAll = 3, TrayQuit = 4 };

struct TrayMenuItem {
    TrayCommand command;
    std::wstring text;
};
// The menu's items when `updatable` apps can be updated: 全部升级 only when there is one.
std::vector<TrayMenuItem> trayMenuItems(size_t updatable);

struct Tray {
    bool background = false;  // started with --background: closing the window leaves the program in the tray
    bool shown = false;       // the icon is in the notification area
    int addFailures = 0;      // tries at adding the icon that failed in a row (a shell not up yet)
    qb::Mailbox<std::vector<updates::Updatable>> toName;  // apps a notice is to name, from the worker that chose them
};
Tray& tray();

bool showTrayIcon(HWND window);
void removeTrayIcon(HWND window);
// The shell's "TaskbarCreated": a restarted Explorer has lost every icon, so one that was shown, or
// could not be added yet, is added again.
UINT taskbarCreatedMessage();
void onTaskbarCreated(HWND window);
// An icon the shell did not take at the start (it is not up yet at sign-in) is tried again every
// 5 s; after a minute without one, a window hidden in the tray is shown instead, so the program is never
// left running out of reach.
constexpr UINT_PTR kTrayRetryTimerId = 42;
void onTrayRetryTimer(HWND window);
// Shows, restores and brings the window to the front; its first showing paints it for the first time.
void showMainWindow(HWND window);
// The close button (or Alt+F4): true when the window went to the tray instead of closing.
bool closeToTray(HWND window);
// Checks for updates every updateCheckHours (a conditional request for the catalogue), skipped on a
// metered connection unless checkOnMetered; the installed apps read afterwards lead to the notice.
constexpr UINT_PTR kUpdateCheckTimerId = 40;
void scheduleUpdateChecks(HWND window);
void onUpdateCheckTimer();
// The system's connection cost says metered; false when it cannot tell.
bool connectionMetered();
// The icon shows from the start when the window closes to the tray.
void trayAtStart(HWND window, bool background);

// A notice from the icon in the tray; nothing when the icon is not there.
void showTrayNotice(HWND window, const std::wstring& title, const std::wstring& text);
// wParam kTrayAnnounce: a worker chose apps for a notice.
LRESULT onTrayMessage(HWND window, WPARAM what, LPARAM event);
constexpr WPARAM kTrayAnnounce = 1;

// After the installed apps were read: while the icon is in the tray, one notice names the apps that
// became updatable since a notice last named them ("N 款软件可升级"); a click on it opens the updates page.
void announceUpdates(HWND window);
// The notice's title and text: the count, and up to three names.
std::wstring updateNoticeTitle(size_t count);
std::wstring updateNoticeText(const std::vector<updates::Updatable>& apps);
// 「a」、「b」、「c」 等: up to three names, and 等 when there are more.
std::wstring namedApps(const std::vector<updates::Updatable>& apps);
// The one notice after an automatic batch: the updates installed ("已自动升级 N 款") and those
// downloaded for a click ("N 款升级已下载，点击安装"), each naming up to three apps; an empty title when
// there is nothing to say.
struct TrayNotice {
    std::wstring title;
    std::wstring text;
};
TrayNotice autoUpdateNotice(const std::vector<updates::Updatable>& installed,
                            const std::vector<updates::Updatable>& downloaded);
