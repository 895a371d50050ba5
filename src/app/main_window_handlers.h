#pragma once
// The handlers the main window procedure dispatches to, grouped by the file that holds them.
#include <windows.h>

#include <cstdint>

#include "base/window_messages.h"
#include "model/focus_model.h"
#include "model/hit_region.h"

// main_window_input.cpp: pointer, wheel, timers and clicks on painted elements.
LRESULT onSetCursor(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onMouseMove(HWND hwnd, int x, int y);
LRESULT onMouseLeave();
LRESULT onLeftButtonDown(HWND hwnd, int x, int y);
LRESULT onLeftButtonUp(HWND hwnd);
LRESULT onCaptureChanged(HWND hwnd);
LRESULT onMouseWheel(HWND hwnd, int delta, LPARAM screenPoint);
LRESULT onTimer(HWND hwnd, UINT_PTR id);
// Does what a click on the region does; the keyboard and accessibility clients press controls this way.
void pressControl(HWND hwnd, const HitRegion& region);

// main_window_keys.cpp: the keyboard. Tab and the arrows move the focus (model/focus_model.h), Enter and
// Space press the focused item, Esc clears the search, Shift+F10 and the menu key open the card's menu.
LRESULT onKeyDown(HWND hwnd, WPARAM key, LPARAM lp);
LRESULT onSysKeyDown(HWND hwnd, WPARAM key, LPARAM lp);
LRESULT onContextMenu(HWND hwnd, WPARAM wp, LPARAM lp);
// A key pressed in the search field that moves the focus out of it (Down, Tab); true when it did.
bool searchFieldKey(WPARAM key);
// Puts the keyboard focus on target and shows the ring: the search field takes the caret, anything
// else leaves it with the main window.
void setKeyboardFocus(const FocusTarget& target);

// main_window_notify.cpp: what workers post.
// A catalogue load reached step (a CatalogueLoadStep): its newest lists are adopted and shown.
LRESULT onCatalogueLoaded(WPARAM step);
// News of a download is for the task of that app id and generation; news of a replaced task is dropped.
LRESULT onDownloadDone(IdAndGeneration news);
LRESULT onDownloadFailed(HWND hwnd, IdAndGeneration news);
LRESULT onIconReady();
// Reads the uninstall registrations again (on a worker) for the shown catalogue, once the window has
// painted what is pending (a timer: it comes after the paint), so that a start's first paint does not
// share the processor with it.
// 软件升级: the list of apps that can be updated.
void showUpdatesPage();
void rereadInstalledApps();
void startInstalledAppsReadNow();
// Adopts the newest read of the registrations; an older read's result is dropped.
LRESULT onInstalledRead(WPARAM readNumber);
// A task's installer ended: the registrations are read again, the apps closed for it start again
// once it succeeded, the batch follows and a quit that waited for it goes on.
LRESULT onInstallerFinished();
// Any news of the download tasks (WM_QB_REFRESH): the batch follows, the window repaints.
LRESULT onTasksChanged();
// The window was activated: the registrations are read again when the last read is 30 s old.
LRESULT onActivateApp(bool active);
// A worker read or wrote an install list (install_list_action.cpp).
LRESULT onListFileDone(uint32_t number);
// Starts the installer of a finished task and, when it starts, reports the install to the service.
// How a request to install went: the installer was accepted, refused, or it waits for a running app
// (which has been asked to close, or skipped in a batch).
enum class InstallStart { Accepted, Refused, Deferred };
InstallStart installAndReport(int32_t taskId);
// running_app_action.cpp: an update whose app is running. A single update asks to close it and goes
// on once it has (onAppClosed); a batch skips it. True when the install was deferred that way.
bool deferForRunningApp(int32_t taskId);
LRESULT onAppClosed(int32_t appId, bool closed);
// Starts again the programs closed for updates that have now succeeded.
void restartClosedApps();

// search_field.cpp: the header's search field and its edit control.
LRESULT onCommand(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onCtlColorEdit(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onActivate(HWND hwnd, WPARAM wp, LPARAM lp);

// card_menu.cpp: the right-click menu of an installed app's card.
LRESULT onRightButtonUp(HWND hwnd, int x, int y);
// While the menu is open: Esc closes it, Up and Down move among its items, Enter and Space act; true
// when the menu took the key.
bool cardMenuTakesKey(WPARAM key);
// Opens the menu of an installed app's card at a client point (its centre, from the keyboard).
void openCardMenu(int32_t appId, POINT anchor, bool fromKeyboard);
// A left press while the menu is open: an item acts, a press outside closes the menu; true when the
// menu took the press (nothing beneath it acts).
bool cardMenuTakesPress(POINT point);
void closeCardMenu();
// Shows the download folder in a file-manager window (the download page's 打开目录 and the card menu).
void openDownloadDirectory();

// uninstall_action.cpp: uninstalling an app from its card.
// Asks first (No is the default), then runs the registration's uninstaller; refused while one runs.
void uninstallFromCard(int32_t appId);
// The uninstaller ended: the card and a toast say whether the app is gone; the registrations are read again.
LRESULT onUninstallFinished(int32_t appId);

// main_window_access.cpp: accessibility clients. The first WM_GETOBJECT for the client area makes the
// tree of what the window shows (access/access_tree.h); from then on every paint publishes it again
// and raises the events of what changed.
LRESULT onGetObject(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onAccessPress(HWND hwnd, WPARAM wp);
LRESULT onAccessFocus(WPARAM wp);
LRESULT onAccessScroll(WPARAM wp);
void accessWindowMoved(HWND hwnd);
void disconnectAccessClients();

// frame.cpp: the borderless frame.
LRESULT onNcCalcSize(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onNcHitTest(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onNcActivate(HWND hwnd, WPARAM wp);
LRESULT onSize(HWND hwnd, WPARAM kind, int width, int height);
LRESULT onGetMinMaxInfo(HWND hwnd, MINMAXINFO* info);
LRESULT onWindowPosChanged(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onSizing(HWND hwnd, WPARAM wp, LPARAM lp);
LRESULT onEnterSizeMove();
LRESULT onExitSizeMove(HWND hwnd);
