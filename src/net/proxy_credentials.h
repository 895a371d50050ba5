#pragma once
// A proxy's user name and password in the Windows Credential Manager: one generic credential per proxy,
// never in config.json.
#include <optional>
#include <string>

struct ProxyCredentials {
    std::wstring user;
    std::wstring password;
    bool remember = false;  // "记住": keep them in the Credential Manager once the proxy accepts them
};

// "Quillbox 代理 host:port": the credential's name.
std::wstring proxyCredentialName(const std::wstring& proxy);
bool storeProxyCredentials(const std::wstring& proxy, const ProxyCredentials& credentials);
std::optional<ProxyCredentials> readStoredProxyCredentials(const std::wstring& proxy);
