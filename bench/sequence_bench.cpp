// Starts each program given, one after another, and waits for it: the bare launcher that bench/batch
// measures Quillbox's batch against (the same process starts, with nothing in between).
//   bench_sequence PROGRAM...
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        std::wstring commandLine = L"\"" + std::wstring(argv[i]) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(argv[i], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process)) {
            std::fwprintf(stderr, L"cannot start %ls\n", argv[i]);
            return 1;
        }
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    return 0;
}
