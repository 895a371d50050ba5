#pragma once
// The Authenticode signature of a downloaded installer: who signed it, and whether the file is still
// the one that was signed.
#include <windows.h>

#include <cstdint>
#include <string>

enum SignatureState : uint32_t {
    SignatureUnchecked = 0,
    SignatureUnsigned = 1,   // no signature (or a format that cannot carry one)
    SignatureValid = 2,      // intact and trusted; the publisher is known
    SignatureUntrusted = 3,  // intact, but its certificate does not lead to a trusted root
    SignatureBroken = 4,     // the file changed after signing, or the signer is explicitly distrusted
};

// The chain status of a signer whose chain was not built (not asked for, no signer, or the build failed).
constexpr DWORD kChainNotBuilt = 0xFFFFFFFF;

struct SignatureCheck {
    SignatureState state = SignatureUnchecked;
    std::wstring publisher;  // the signer's simple name; empty when unsigned
    // CERT_CHAIN_CONTEXT::TrustStatus.dwErrorStatus of the signer's certificate for code signing: 0 when
    // it chains to a trusted root. Wine's WinVerifyTrust accepts an untrusted root, so this is asked apart.
    DWORD chainErrors = kChainNotBuilt;
};

// Whether a package may run as far as the catalogue's expected publisher is concerned.
enum class PublisherVerdict : uint32_t {
    NotPinned = 0,  // the catalogue names no publisher
    Matches = 1,    // intact, chained to a trusted root, signed by exactly that name
    Refused = 2,    // unsigned, broken, untrusted, or signed by another name: it never runs
};
// The pin's decision; `expected` empty means no pin. A self-signed certificate copying the name fails
// on its chain.
PublisherVerdict publisherVerdict(const std::wstring& expected, SignatureState state, DWORD chainErrors,
                                  const std::wstring& signer);
PublisherVerdict publisherVerdict(const std::wstring& expected, const SignatureCheck& check);

// What WinVerifyTrust's answer means for starting the file.
SignatureState signatureStateFor(LONG trustStatus);
// Checks the file with WinVerifyTrust (no user interface, no revocation check). When `file` is given it
// is read through that handle (opened with GENERIC_READ), so the check also works while the file is
// held open without write sharing. With `withChain` the signer's chain is built too (chainErrors).
SignatureCheck checkSignature(const std::wstring& path, HANDLE file = nullptr, bool withChain = false);
