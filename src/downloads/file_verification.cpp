#include "downloads/file_verification.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "base/win_handles.h"
#include "downloads/md5.h"
#include "base/sha256.h"

namespace {

constexpr DWORD kChunkSize = 1 << 20;
constexpr int kSlots = 4;

// Reads `size` bytes at `offset`, so the handle's file pointer does not matter; at the end of the file
// `read` is 0. False on a read error.
bool readAt(HANDLE file, uint64_t offset, uint8_t* buffer, DWORD size, DWORD& read) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    read = 0;
    if (::ReadFile(file, buffer, size, &read, &at)) return true;
    read = 0;
    return ::GetLastError() == ERROR_HANDLE_EOF;  // how a synchronous handle answers a read at the end
}

// Reads a file from offset 0 on a helper thread, up to kSlots chunks ahead of its consumers, so reading
// and hashing overlap. Every consumer sees every chunk in order; a slot is refilled once all have seen it.
class ReadAhead {
public:
    ReadAhead(HANDLE file, int consumers) : file_(file), consumers_(consumers) {
        for (Slot& slot : slots_) slot.data.resize(kChunkSize);
        thread_.reset(::CreateThread(nullptr, 0, &ReadAhead::threadMain, this, 0, nullptr));
    }
    ~ReadAhead() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Passes each chunk to consume in order; false when a read failed. Each consumer calls this once, on
    // its own thread.
    template <typename Consume>
    bool forEachChunk(Consume consume) {
        if (!thread_) return readInline(consume);
        for (int64_t chunk = 0;; ++chunk) {
            Slot& slot = slots_[chunk % kSlots];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return slot.chunk == chunk || stopping_; });
                if (slot.chunk != chunk) return false;
            }
            if (slot.failed) return false;
            if (slot.length == 0) return true;
            consume(slot.data.data(), slot.length);
            bool emptied = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                emptied = --slot.unseen == 0;
            }
            if (emptied) changed_.notify_all();
        }
    }

private:
    struct Slot {
        std::vector<uint8_t> data;
        int64_t chunk = -1;  // the chunk it holds once filled
        int unseen = 0;      // consumers yet to see it; the reader refills it at 0
        DWORD length = 0;
        bool failed = false;
    };

    static DWORD WINAPI threadMain(LPVOID self) {
        static_cast<ReadAhead*>(self)->readLoop();
        return 0;
    }

    void readLoop() {
        uint64_t offset = 0;
        for (int64_t chunk = 0;; ++chunk) {
            Slot& slot = slots_[chunk % kSlots];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return slot.unseen == 0 || stopping_; });
                if (stopping_) return;
            }
            DWORD read = 0;
            const bool ok = readAt(file_, offset, slot.data.data(), kChunkSize, read);
            offset += read;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot.length = read;
                slot.failed = !ok;
                slot.unseen = consumers_;
                slot.chunk = chunk;
            }
            changed_.notify_all();
            if (!ok || read == 0) return;
        }
    }

    // Without a helper thread each consumer reads the file itself.
    template <typename Consume>
    bool readInline(Consume consume) {
        std::vector<uint8_t> buffer(kChunkSize);
        for (uint64_t offset = 0;;) {
            DWORD read = 0;
            if (!readAt(file_, offset, buffer.data(), kChunkSize, read)) return false;
            if (read == 0) return true;
            consume(buffer.data(), read);
            offset += read;
        }
    }

    HANDLE file_;
    const int consumers_;
    Slot slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    qb::UniqueHandle thread_;
};

struct Sha256Job {
    ReadAhead* reader = nullptr;
    Sha256* sha256 = nullptr;
    bool complete = false;
};

template <typename Hash>
bool hashAlone(HANDLE file, Hash& hash) {
    ReadAhead reader(file, 1);
    return reader.forEachChunk([&](const uint8_t* data, DWORD length) { hash.update(data, length); });
}

DWORD WINAPI sha256JobMain(LPVOID param) {
    Sha256Job& job = *static_cast<Sha256Job*>(param);
    Sha256& sha256 = *job.sha256;
    job.complete = job.reader->forEachChunk([&](const uint8_t* data, DWORD length) { sha256.update(data, length); });
    return 0;
}

// MD5 here and SHA-256 on a second thread, both fed from the same chunks, so asking for both costs about
// as much as the slower alone.
bool hashBoth(HANDLE file, Md5& md5, Sha256& sha256) {
    Sha256Job job;
    job.sha256 = &sha256;
    qb::UniqueHandle worker(::CreateThread(nullptr, 0, &sha256JobMain, &job, CREATE_SUSPENDED, nullptr));
    ReadAhead reader(file, worker ? 2 : 1);
    if (!worker) {
        return reader.forEachChunk([&](const uint8_t* data, DWORD length) {
            md5.update(data, length);
            sha256.update(data, length);
        });
    }
    job.reader = &reader;
    ::ResumeThread(worker.get());
    const bool complete = reader.forEachChunk([&](const uint8_t* data, DWORD length) { md5.update(data, length); });
    ::WaitForSingleObject(worker.get(), INFINITE);
    return complete && job.complete;
}

bool pathDigests(const std::wstring& path, bool wantMd5, bool wantSha256, FileDigests& out) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file && fileDigests(file.get(), wantMd5, wantSha256, out);
}

// Up to eight leading bytes of a file; false when it cannot be opened.
bool readHead(const std::wstring& path, uint8_t (&head)[8], DWORD& count) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    count = 0;
    if (!::ReadFile(file.get(), head, sizeof head, &count, nullptr)) count = 0;
    return true;
}

bool startsWith(const uint8_t* data, DWORD count, std::initializer_list<uint8_t> signature) {
    if (count < signature.size()) return false;
    size_t i = 0;
    for (uint8_t byte : signature)
        if (data[i++] != byte) return false;
    return true;
}

}  // namespace

bool fileDigests(HANDLE file, bool wantMd5, bool wantSha256, FileDigests& out) {
    out = FileDigests();
    if (!wantMd5 && !wantSha256) return true;
    Md5 md5;
    Sha256 sha256;
    const bool complete = wantMd5 && wantSha256 ? hashBoth(file, md5, sha256)
                          : wantMd5             ? hashAlone(file, md5)
                                                : hashAlone(file, sha256);
    if (!complete) return false;
    if (wantMd5) out.md5 = md5.finishHex();
    if (wantSha256) out.sha256 = sha256.finishHex();
    return true;
}

bool fileMd5(const std::wstring& path, std::string& digest) {
    FileDigests digests;
    if (!pathDigests(path, true, false, digests)) return false;
    digest += digests.md5;
    return true;
}

bool fileSha256(const std::wstring& path, std::string& digest) {
    FileDigests digests;
    if (!pathDigests(path, false, true, digests)) return false;
    digest += digests.sha256;
    return true;
}

bool isInstallerFile(const std::wstring& path) {
    uint8_t head[8] = {};
    DWORD count = 0;
    if (!readHead(path, head, count)) return false;
    const PackageKind kind = sniffPackage(head, count);
    return kind == PackageKind::Executable || kind == PackageKind::InstallerDatabase;
}

std::wstring archiveKind(const std::wstring& path) {
    uint8_t head[8] = {};
    DWORD count = 0;
    if (!readHead(path, head, count)) return std::wstring();
    switch (sniffPackage(head, count)) {
        case PackageKind::Zip: return L"zip";
        case PackageKind::Rar: return L"rar";
        case PackageKind::SevenZip: return L"7z";
        default: return std::wstring();
    }
}

PackageKind sniffPackage(const uint8_t* head, size_t count) {
    if (count >= 2 && head[0] == 'M' && head[1] == 'Z') return PackageKind::Executable;
    if (startsWith(head, count, {0xD0, 0xCF, 0x11, 0xE0})) return PackageKind::InstallerDatabase;
    if (startsWith(head, count, {0x50, 0x4B, 0x03, 0x04})) return PackageKind::Zip;
    if (startsWith(head, count, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07})) return PackageKind::Rar;
    if (startsWith(head, count, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C})) return PackageKind::SevenZip;
    return PackageKind::Unknown;
}

bool isArchiveKind(PackageKind kind) {
    return kind == PackageKind::Zip || kind == PackageKind::Rar || kind == PackageKind::SevenZip;
}

const wchar_t* packageExtension(PackageKind kind) {
    switch (kind) {
        case PackageKind::Executable: return L".exe";
        case PackageKind::InstallerDatabase: return L".msi";
        case PackageKind::Zip: return L".zip";
        case PackageKind::Rar: return L".rar";
        case PackageKind::SevenZip: return L".7z";
        case PackageKind::Unknown: break;
    }
    return L"";
}

PackageKind sniffPackage(HANDLE file) {
    uint8_t head[8] = {};
    OVERLAPPED at{};  // offset 0, whatever the handle's position
    DWORD count = 0;
    if (!::ReadFile(file, head, sizeof head, &count, &at)) return PackageKind::Unknown;
    return sniffPackage(head, count);
}
