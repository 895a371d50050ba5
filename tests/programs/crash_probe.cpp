// Installs the program's crash filter and then faults on purpose; the app tests run it.
#include <windows.h>

#include "app/crash_log.h"

int wmain() {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(crashFilter);
    volatile int* nowhere = nullptr;
    *nowhere = 42;
    return 0;
}
