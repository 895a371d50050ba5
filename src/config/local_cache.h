#pragma once
// Files Quillbox keeps between runs to start at once and to work offline: the last good bootstrap and
// the fetched icons, under the per-user local application data ("...\Tidewell\cache"). Nothing read
// from here is trusted: callers check what they read as if it came from the network.
#include <cstddef>
#include <optional>
#include <string>

#include "base/win_handles.h"

namespace cache {

// A file's bytes mapped read-only. Reading a large file this way costs a fraction of copying it into
// fresh memory; while it is mapped the file cannot be replaced, so hold it only as long as needed.
struct MappedFile {
    qb::UniqueView view;
    size_t size = 0;
    const char* data() const { return static_cast<const char*>(view.get()); }
};

// Local application data + "\Tidewell\cache", created on first use; empty when there is no such folder.
// Tests and benchmarks may point it elsewhere with setFolder.
std::wstring folder();
void setFolder(const std::wstring& path);

// A relative name is one or more parts of [0-9A-Za-z._-] joined by "\" (no "..", no drive, no
// leading separator); anything else is refused, so no name can lead outside the cache folder.
bool isSafeName(const std::wstring& name);

// The file's bytes, or nullopt when it is missing, unreadable, larger than maxBytes or the name is unsafe.
std::optional<std::string> read(const std::wstring& name, size_t maxBytes);

// The same file mapped; nullopt also for an empty file.
std::optional<MappedFile> map(const std::wstring& name, size_t maxBytes);

// Writes the bytes to a temporary file beside the target, then replaces the target with it, so a
// reader sees the old file or the new one, never a part. Creates the folders of the name. False on
// any failure (the old file is then left as it was).
bool write(const std::wstring& name, const std::string& bytes);

// Deletes the file (a corrupt entry is replaced, never trusted again); true when it is gone.
bool remove(const std::wstring& name);

}  // namespace cache
