#include "net/proxy_credentials.h"

#include <windows.h>
#include <wincred.h>

std::wstring proxyCredentialName(const std::wstring& proxy) { return L"Quillbox 代理 " + proxy; }

bool storeProxyCredentials(const std::wstring& proxy, const ProxyCredentials& credentials) {
    std::wstring name = proxyCredentialName(proxy);
    std::wstring user = credentials.user;
    std::wstring password = credentials.password;
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = name.data();
    credential.UserName = user.data();
    credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<LPBYTE>(password.data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    const bool written = ::CredWriteW(&credential, 0) != FALSE;
    ::SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
    return written;
}

std::optional<ProxyCredentials> readStoredProxyCredentials(const std::wstring& proxy) {
    PCREDENTIALW credential = nullptr;
    if (!::CredReadW(proxyCredentialName(proxy).c_str(), CRED_TYPE_GENERIC, 0, &credential)) return std::nullopt;
    ProxyCredentials found;
    if (credential->UserName) found.user = credential->UserName;
    found.password.assign(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                          credential->CredentialBlobSize / sizeof(wchar_t));
    found.remember = true;
    ::CredFree(credential);
    if (found.user.empty()) return std::nullopt;
    return found;
}
