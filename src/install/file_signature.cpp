#include "install/file_signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace {

// The signer's simple name ("Contoso Ltd."), read while WinVerifyTrust still holds its state.
std::wstring signerName(HANDLE stateData) {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(stateData);
    if (!provider) return std::wstring();
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain || !signer->pasCertChain[0].pCert)
        return std::wstring();
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::vector<wchar_t> name(length);
    ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    return std::wstring(name.data());
}

}  // namespace

SignatureState signatureStateFor(LONG trustStatus) {
    // A file that cannot be read or parsed carries no signature we could check (Wine answers such
    // files with plain system error codes).
    if (trustStatus > 0 || HRESULT_FACILITY(trustStatus) == FACILITY_WIN32) return SignatureUnsigned;
    switch (static_cast<HRESULT>(trustStatus)) {
        case ERROR_SUCCESS: return SignatureValid;
        case TRUST_E_NOSIGNATURE:
        case TRUST_E_SUBJECT_FORM_UNKNOWN:
        case TRUST_E_PROVIDER_UNKNOWN:
        case CRYPT_E_FILE_ERROR: return SignatureUnsigned;
        case TRUST_E_BAD_DIGEST:
        case CRYPT_E_HASH_VALUE:
        case TRUST_E_CERT_SIGNATURE:
        case TRUST_E_EXPLICIT_DISTRUST:
        case CERT_E_REVOKED: return SignatureBroken;
        default: return SignatureUntrusted;
    }
}

SignatureCheck checkSignature(const std::wstring& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    SignatureCheck check;
    check.state = signatureStateFor(status);
    if (check.state != SignatureUnsigned && data.hWVTStateData) check.publisher = signerName(data.hWVTStateData);

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return check;
}
