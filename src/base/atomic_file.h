#pragma once
// Files written one way: the bytes go to a temporary file beside the target, are flushed to the disk,
// and the temporary file is renamed over the target with write-through. A crash or a full disk leaves
// either the old file or the new one, never a half-written one.
#include <windows.h>

#include <string>

namespace qb {

// ERROR_SUCCESS, or the system's error code of the step that failed (the target is then untouched and
// no temporary file stays behind). Two threads writing the same target never share a temporary file.
DWORD writeFileAtomically(const std::wstring& path, const std::string& bytes);

}  // namespace qb
