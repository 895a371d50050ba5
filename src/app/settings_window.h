#pragma once
// The small "下载设置" window: the download folder and the connections per download, how packages
// install and update, the install lists, and how the program starts and closes.
#include <windows.h>

#include <string>

inline constexpr wchar_t kSettingsWindowClass[] = L"QBSettings";

// Button and edit ids; 1 and 2 are also what the dialog keys send, hence the Escape handling.
enum SettingsControlId : int {
    kSettingsCancelId = 1,
    kSettingsSaveId = 2,
    kSettingsBrowseId = 3,
    kSettingsImportId = 4,  // 导入软件清单
    kSettingsExportId = 5,  // 导出软件清单
    kSettingsDirEditId = 103,
    kSettingsConnectionsId = 104,  // the connection choice; its window text is the number chosen
    kSettingsSilentId = 105,       // the "静默安装" switch; its window text is "1" when on, "0" when off
    kSettingsSpeedId = 106,        // the speed cap's field: KB a second, digits only
    kSettingsProxyChoiceId = 107,  // the proxy choice; its window text is the ProxyChoice
    kSettingsProxyEditId = 108,    // the manual proxy's "host:port", enabled under 手动 only
    kSettingsAutoUpdateId = 109,   // the "自动升级" switch, as 静默安装's
    kSettingsCloseToTrayId = 110,  // the "关闭时最小化到托盘" switch
    kSettingsSignInId = 111,       // the "开机启动" switch: the Run entry, not config.json
    kSettingsProblemId = 112,      // why a save did not go through; hidden until then
};

enum ProxyChoice : int { kProxyChoiceSystem = 1, kProxyChoiceNone = 2, kProxyChoiceManual = 3 };

// Opens the one settings window centred on the main window, which stays disabled while it is open.
void openSettingsWindow();
LRESULT CALLBACK settingsWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Keyboard handling of the open settings window for the message loop; true when consumed.
bool settingsDialogMessage(MSG* msg);

// The speed cap a field's text asks for, in KB a second: its digits, 0 when there are none, at most
// the highest cap.
int speedLimitToSave(const std::wstring& text);
// The proxy setting a save stores: "system", "none", or under 手动 the field's "host:port" (the system's
// when the field holds no valid one).
std::wstring proxyToSave(int choice, const std::wstring& text);
// The text before the third dot of a version ("1.2.3.4" -> "1.2.3"); shorter versions stay whole.
std::wstring versionBeforeThirdDot(const std::wstring& version);
// "版本 v" and the cut product version, or nothing when there is no version.
std::wstring versionLabelText(const std::wstring& productVersion);
// The running program's ProductVersion string; empty when it has none.
std::wstring programProductVersion();
// The folder a save stores: trailing separators dropped, and a drive root (3 characters or fewer)
// becomes empty, which means the default folder.
std::wstring folderToSave(const std::wstring& editText);
