// libFuzzer harness: any Content-Disposition value gives a name that, once sanitised, is safe to
// create in the download folder; an empty result means "no name here".
#include "file_name_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring value = wideFromFuzz(data, size);
    const std::wstring name = fileNameFromDisposition(value);
    if (name.size() > value.size()) __builtin_trap();  // decoding only ever shortens the text
    const std::wstring safe = sanitizeFileName(name);
    checkSafeName(name, safe);
    checkSafeName(value, sanitizeFileName(value));
    checkSafeName(name, numberedFileName(safe, 2 + static_cast<int>(size % 1000)));
    return 0;
}
