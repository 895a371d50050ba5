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

struct SignatureCheck {
    SignatureState state = SignatureUnchecked;
    std::wstring publisher;  // the signer's simple name; empty when unsigned
};

// What WinVerifyTrust's answer means for starting the file.
SignatureState signatureStateFor(LONG trustStatus);
// Checks the file with WinVerifyTrust (no user interface, no revocation check). When `file` is given it
// is read through that handle (opened with GENERIC_READ), so the check also works while the file is
// held open without write sharing.
SignatureCheck checkSignature(const std::wstring& path, HANDLE file = nullptr);
