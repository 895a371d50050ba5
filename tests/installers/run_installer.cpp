// Opens a file with the shell as Quillbox does (default verb, SEE_MASK_NOCLOSEPROCESS), waits for
// the started process and prints its exit code; exits 0 after a wait, 2 when the shell refused.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: run-installer FILE\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = argv[1];
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        printf("shell refused: error %lu\n", GetLastError());
        return 2;
    }
    if (!info.hProcess) {
        printf("no process handle\n");
        return 0;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    printf("exit code %lu\n", code);
    CoUninitialize();
    return 0;
}
