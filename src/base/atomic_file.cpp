#include "base/atomic_file.h"

#include <algorithm>

#include "base/win_handles.h"

namespace qb {

namespace {

DWORD writeAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file, bytes.data() + done, ask, &wrote, nullptr)) return ::GetLastError();
        if (wrote == 0) return ERROR_WRITE_FAULT;
        done += wrote;
    }
    return ::FlushFileBuffers(file) ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace

DWORD writeFileAtomically(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L"." + std::to_wstring(::GetCurrentThreadId()) + L".tmp";
    DWORD error = ERROR_SUCCESS;
    {
        UniqueHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return ::GetLastError();
        error = writeAll(file.get(), bytes);
    }
    if (error == ERROR_SUCCESS &&
        !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != ERROR_SUCCESS) ::DeleteFileW(temporary.c_str());
    return error;
}

}  // namespace qb
