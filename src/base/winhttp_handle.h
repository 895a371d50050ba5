#pragma once
// Owner of one WinHTTP handle (session, connection or request).
#include <windows.h>
#include <winhttp.h>

#include "base/win_handles.h"

namespace qb {

struct InternetHandleTraits {
    using Value = HINTERNET;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::WinHttpCloseHandle(v); }
};
using UniqueInternet = UniqueResource<InternetHandleTraits>;

}  // namespace qb
