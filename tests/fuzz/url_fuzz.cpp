// libFuzzer harness: a name taken from a URL is empty or a plain file name of at most 150 units that
// ends in a known package extension, and stays safe once sanitised.
#include "file_name_checks.h"

namespace {

bool endsWithKnownExtension(const std::wstring& name) {
    std::wstring lower = name;
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    for (const wchar_t* ext : {L".exe", L".zip", L".rar", L".7z", L".msi", L".msix"}) {
        const std::wstring e(ext);
        if (lower.size() > e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring url = wideFromFuzz(data, size);
    const std::wstring name = fileNameFromUrl(url);
    if (name.empty()) return 0;
    if (name.size() > 150 || !endsWithKnownExtension(name)) __builtin_trap();
    for (wchar_t c : name)
        if (isForbiddenInName(c)) __builtin_trap();
    checkSafeName(name, sanitizeFileName(name));
    return 0;
}
