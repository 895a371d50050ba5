// Keeps the desktop of the benchmarks' Wine prefix up, as a signed-in Windows session always has it.
// Under Wine the first window call of a process on an empty desktop starts the desktop process
// (about 250 ms here) and the desktop ends with its last process; on Windows the shell's desktop is
// there before any program starts, so a start-up figure that included it would measure Wine's
// session start, not the program. Prints "ready" once the desktop is up, then waits to be ended.
//   bench_session
#include <windows.h>

#include <cstdio>

int wmain() {
    ::GetDesktopWindow();
    std::printf("ready\n");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}
