#include "config/config.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>

#include "base/atomic_file.h"
#include "base/paths.h"
#include "base/win_handles.h"
#include "json/json.h"

namespace {

void trimTrailing(std::wstring& text, const wchar_t* separators) {
    while (!text.empty() && wcschr(separators, text.back()) != nullptr) text.pop_back();
}

std::wstring memberText(const json::Value& root, const char* key, bool* present) {
    const json::Value* member = root.find(key);
    *present = member != nullptr;
    return member ? utf8ToWide(member->asString("")) : std::wstring();
}

std::wstring programFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer);
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut);
}

void readFlag(const json::Value& root, const char* name, bool& flag) {
    const json::Value* value = root.find(name);
    if (value && value->kind == json::Kind::Bool) flag = value->boolValue;
}

// A whole number kept between lo and hi (a NaN takes lo); anything but a number leaves the default.
void readCount(const json::Value& root, const char* name, int lo, int hi, int& count) {
    const json::Value* value = root.find(name);
    if (value && value->kind == json::Kind::Number)
        count = !(value->number >= lo) ? lo : value->number > hi ? hi : static_cast<int>(value->number);
}

void readBackgroundSettings(const json::Value& root, AppConfig& config) {
    readFlag(root, "closeToTray", config.closeToTray);
    readCount(root, "updateCheckHours", 1, kMaxUpdateCheckHours, config.updateCheckHours);
    readFlag(root, "checkOnMetered", config.checkOnMetered);
    readFlag(root, "autoUpdate", config.autoUpdate);
    readCount(root, "autoUpdateIdleMinutes", 0, kMaxAutoUpdateIdleMinutes, config.autoUpdateIdleMinutes);
}

const char* flagText(bool flag) { return flag ? "true" : "false"; }

bool isHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_';
}

}  // namespace

std::optional<ProxyEndpoint> parseProxyEndpoint(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    if (first == std::wstring::npos) return std::nullopt;
    const std::wstring whole = text.substr(first, last - first + 1);
    const size_t colon = whole.rfind(L':');
    if (colon == std::wstring::npos || colon == 0 || colon + 1 == whole.size() || whole.size() - colon > 6)
        return std::nullopt;
    uint32_t port = 0;
    for (size_t i = colon + 1; i < whole.size(); ++i) {
        if (whole[i] < L'0' || whole[i] > L'9') return std::nullopt;
        port = port * 10 + (whole[i] - L'0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    std::wstring host = whole.substr(0, colon);
    if (host.front() == L'[') {
        // An IPv6 address: hex digits and colons between the brackets.
        if (host.size() < 4 || host.back() != L']') return std::nullopt;
        host = host.substr(1, host.size() - 2);
        for (const wchar_t c : host)
            if (!iswxdigit(c) && c != L':' && c != L'.') return std::nullopt;
    } else {
        for (const wchar_t c : host)
            if (!isHostCharacter(c)) return std::nullopt;
        if (host.front() == L'.' || host.front() == L'-' || host.back() == L'.') return std::nullopt;
    }
    return ProxyEndpoint{host, static_cast<uint16_t>(port)};
}

std::wstring proxySettingFrom(const std::wstring& text) {
    if (text == kProxyNone) return text;
    const std::optional<ProxyEndpoint> endpoint = parseProxyEndpoint(text);
    if (!endpoint) return kProxySystem;
    const bool bracketed = endpoint->host.find(L':') != std::wstring::npos;
    return (bracketed ? L"[" + endpoint->host + L"]" : endpoint->host) + L":" + std::to_wstring(endpoint->port);
}

bool readWholeFile(const std::wstring& path, std::string& out) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) out.append(chunk, read);
    return true;
}

std::wstring configFilePath() {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    std::wstring folder = std::wstring(buffer) + L"\\Tidewell";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\config.json";
}

AppConfig parseConfigText(const std::string& bytes) {
    AppConfig config;
    if (bytes.empty()) return config;
    const json::ValuePtr root = json::parse(bytes);
    if (!root) return config;

    bool present = false;
    std::wstring server = memberText(*root, "server", &present);
    if (present) {
        trimTrailing(server, L"/");
        if (!server.empty()) config.server = server;
    }
    std::wstring channel = memberText(*root, "channel", &present);
    if (present && !channel.empty()) config.channel = channel;
    std::wstring downloadDir = memberText(*root, "downloadDir", &present);
    if (present) {
        trimTrailing(downloadDir, L"\\/");
        // A relative folder would follow the current folder of whoever started the program.
        if (downloadDir.size() >= 3 && qb::isAbsolutePath(downloadDir)) config.downloadDir = downloadDir;
    }
    const json::Value* connections = root->find("connectionsPerDownload");
    if (connections && connections->kind == json::Kind::Number) {
        const double wanted = connections->number;
        config.connectionsPerDownload = !(wanted >= 1) ? 1 : wanted > kMaxConnections ? kMaxConnections : static_cast<int>(wanted);
    }
    const json::Value* limit = root->find("speedLimitKBps");
    if (limit && limit->kind == json::Kind::Number && limit->number >= 1)
        config.speedLimitKBps = limit->number > kMaxSpeedLimitKBps ? kMaxSpeedLimitKBps : static_cast<int>(limit->number);
    std::wstring proxy = memberText(*root, "proxy", &present);
    if (present) config.proxy = proxySettingFrom(proxy);
    const json::Value* silent = root->find("silentInstall");
    if (silent && silent->kind == json::Kind::Bool) config.silentInstall = silent->boolValue;
    readBackgroundSettings(*root, config);
    return config;
}

AppConfig loadConfig() {
    std::string bytes;
    if (!readWholeFile(configFilePath(), bytes)) readWholeFile(programFolder() + L"\\config.json", bytes);
    return parseConfigText(bytes);
}

std::string configFileText(const AppConfig& config) {
    return "{\n  \"server\": \"" + json::escapeString(wideToUtf8(config.server)) + "\",\n  \"channel\": \"" +
           json::escapeString(wideToUtf8(config.channel)) + "\",\n  \"downloadDir\": \"" +
           json::escapeString(wideToUtf8(config.downloadDir)) + "\",\n  \"connectionsPerDownload\": " +
           std::to_string(config.connectionsPerDownload) + ",\n  \"silentInstall\": " +
           (config.silentInstall ? "true" : "false") + ",\n  \"speedLimitKBps\": " +
           std::to_string(config.speedLimitKBps) + ",\n  \"closeToTray\": " + flagText(config.closeToTray) +
           ",\n  \"updateCheckHours\": " + std::to_string(config.updateCheckHours) + ",\n  \"checkOnMetered\": " +
           flagText(config.checkOnMetered) + ",\n  \"autoUpdate\": " + flagText(config.autoUpdate) +
           ",\n  \"autoUpdateIdleMinutes\": " + std::to_string(config.autoUpdateIdleMinutes) + ",\n  \"proxy\": \"" +
           json::escapeString(wideToUtf8(config.proxy)) + "\"\n}\n";
}

bool saveConfig(const AppConfig& config) {
    return qb::writeFileAtomically(configFilePath(), configFileText(config)) == ERROR_SUCCESS;
}
