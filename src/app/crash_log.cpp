#include "app/crash_log.h"

#include <cstdio>
#include <cstring>

// Runs on the crashing thread: no heap allocation of our own, only the C runtime's file.
LONG WINAPI crashFilter(EXCEPTION_POINTERS* exception) {
    void* frames[16] = {};
    const USHORT captured = ::RtlCaptureStackBackTrace(0, 16, frames, nullptr);
    const uintptr_t base = reinterpret_cast<uintptr_t>(::GetModuleHandleW(nullptr));

    char path[260] = {};
    ::GetTempPathA(sizeof path, path);
    std::strncat(path, "qb_crash.log", sizeof path - std::strlen(path) - 1);
    FILE* log = std::fopen(path, "a");
    if (!log) return EXCEPTION_CONTINUE_SEARCH;

    const EXCEPTION_RECORD* record = exception ? exception->ExceptionRecord : nullptr;
    const DWORD code = record ? record->ExceptionCode : 0;
    const uintptr_t fault = record ? reinterpret_cast<uintptr_t>(record->ExceptionAddress) - base : 0;
    std::fprintf(log, "code=%08lX rva=%p frames:", static_cast<unsigned long>(code), reinterpret_cast<void*>(fault));
    for (USHORT i = 0; i < captured; ++i)
        std::fprintf(log, " %p", reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(frames[i]) - base));
    std::fputs("\n", log);
    std::fclose(log);
    return EXCEPTION_CONTINUE_SEARCH;
}
