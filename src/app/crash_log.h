#pragma once
// One line per crash in "qb_crash.log" in the temporary folder:
// "code=%08lX rva=%p frames: %p %p ...", addresses relative to the program's load address.
#include <windows.h>

LONG WINAPI crashFilter(EXCEPTION_POINTERS* exception);
