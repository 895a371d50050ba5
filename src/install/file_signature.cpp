#include "install/file_signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace {

// The signer's certificate, valid while WinVerifyTrust still holds its state.
PCCERT_CONTEXT signerCertificate(CRYPT_PROVIDER_DATA* provider) {
    if (!provider) return nullptr;
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return nullptr;
    return signer->pasCertChain[0].pCert;
}

// The signer's simple name ("Contoso Ltd.").
std::wstring signerName(PCCERT_CONTEXT certificate) {
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::vector<wchar_t> name(length);
    ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    return std::wstring(name.data());
}

// The chain of the signer's certificate for code signing, its issuers looked up in the system's stores
// and in the certificates the signature carries; no revocation check.
DWORD chainErrorsOf(PCCERT_CONTEXT certificate, CRYPT_PROVIDER_DATA* provider) {
    HCERTSTORE carried = provider->hMsg ? ::CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          0, 0, provider->hMsg)
                                        : nullptr;
    LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD errors = kChainNotBuilt;
    if (::CertGetCertificateChain(nullptr, certificate, nullptr, carried, &para, 0, nullptr, &chain) && chain) {
        errors = chain->TrustStatus.dwErrorStatus;
        ::CertFreeCertificateChain(chain);
    }
    if (carried) ::CertCloseStore(carried, 0);
    return errors;
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

PublisherVerdict publisherVerdict(const std::wstring& expected, SignatureState state, DWORD chainErrors,
                                  const std::wstring& signer) {
    if (expected.empty()) return PublisherVerdict::NotPinned;
    const bool trusted = state == SignatureValid && chainErrors == 0;
    return trusted && signer == expected ? PublisherVerdict::Matches : PublisherVerdict::Refused;
}

PublisherVerdict publisherVerdict(const std::wstring& expected, const SignatureCheck& check) {
    return publisherVerdict(expected, check.state, check.chainErrors, check.publisher);
}

SignatureCheck checkSignature(const std::wstring& path, HANDLE file, bool withChain) {
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
    CRYPT_PROVIDER_DATA* provider =
        check.state != SignatureUnsigned && data.hWVTStateData ? ::WTHelperProvDataFromStateData(data.hWVTStateData)
                                                               : nullptr;
    if (PCCERT_CONTEXT signer = signerCertificate(provider)) {
        check.publisher = signerName(signer);
        if (withChain) check.chainErrors = chainErrorsOf(signer, provider);
    }

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return check;
}
