#pragma once
// The user's settings and the small JSON file that keeps them.
#include <cstdint>
#include <optional>
#include <string>

#include "base/text_convert.h"

// Built-in service origin, used until config.json names another.
inline constexpr wchar_t kDefaultServer[] = L"https://api.quillbox.app";
inline constexpr wchar_t kDefaultChannel[] = L"default";
// Connections one download may use at once.
inline constexpr int kDefaultConnections = 4;
inline constexpr int kMaxConnections = 8;
// The highest speed cap that can be set, in KB (of 1 024 bytes) a second: 1 GB/s.
inline constexpr int kMaxSpeedLimitKBps = 1024 * 1024;
inline constexpr int kDefaultUpdateCheckHours = 6;
inline constexpr int kMaxUpdateCheckHours = 168;
inline constexpr int kDefaultAutoUpdateIdleMinutes = 5;
inline constexpr int kMaxAutoUpdateIdleMinutes = 24 * 60;
// The proxy setting: the user's Internet settings, none, or else a "host:port" of its own.
inline constexpr wchar_t kProxySystem[] = L"system";
inline constexpr wchar_t kProxyNone[] = L"none";

struct AppConfig {
    std::wstring server = kDefaultServer;
    std::wstring channel = kDefaultChannel;
    std::wstring downloadDir;  // empty: the default download folder
    int connectionsPerDownload = kDefaultConnections;  // 1 to kMaxConnections
    // Packages of a known installer type (or with the catalogue's arguments) install with no window.
    bool silentInstall = true;
    int speedLimitKBps = 0;  // all downloads together, in KB (of 1 024 bytes) a second; 0: no cap
    // Closing the window leaves the program running with its icon in the tray.
    bool closeToTray = false;
    // Checks for updates in the background, every so many hours (1 to 168), not on a metered connection
    // unless allowed.
    int updateCheckHours = kDefaultUpdateCheckHours;
    bool checkOnMetered = false;
    // Updates install unattended once the user has left keyboard and mouse alone that long (0: any time).
    bool autoUpdate = false;
    int autoUpdateIdleMinutes = kDefaultAutoUpdateIdleMinutes;
    std::wstring proxy = kProxySystem;  // kProxySystem, kProxyNone or a "host:port" parseProxyEndpoint takes
};

// A proxy named by "host:port": a host name, an IPv4 address or a bracketed IPv6 one, and a port 1 to 65535.
struct ProxyEndpoint {
    std::wstring host;
    uint16_t port = 0;
};
// The endpoint "host:port" names, spaces around it ignored; nullopt for anything else.
std::optional<ProxyEndpoint> parseProxyEndpoint(const std::wstring& text);
// The setting as stored: kProxyNone as it is, a valid "host:port" as parseProxyEndpoint reads it, and
// anything else kProxySystem.
std::wstring proxySettingFrom(const std::wstring& text);

// Never fails: a missing or bad file gives the defaults field by field.
AppConfig loadConfig();
// True when the whole file was written.
bool saveConfig(const AppConfig& config);
// Roaming application data + "\Tidewell\config.json"; creates the folder.
std::wstring configFilePath();
// Appends the file's bytes to out; false when it cannot be opened.
bool readWholeFile(const std::wstring& path, std::string& out);

// Pure pieces of loading and saving, exposed for tests.
AppConfig parseConfigText(const std::string& bytes);
std::string configFileText(const AppConfig& config);
