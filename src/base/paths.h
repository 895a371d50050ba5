#pragma once
// Path shapes, with no disk behind them.
#include <string>

namespace qb {

// "C:\…" or "\\server\…": not relative to a current folder, as "folder", "C:folder" and "\folder" are.
inline bool isAbsolutePath(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
    return drive || share;
}

}  // namespace qb
