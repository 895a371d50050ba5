#include "downloads/file_verification.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "base/win_handles.h"
#include "downloads/md5.h"

namespace {

constexpr DWORD kChunkSize = 1 << 20;

// Reads a file one chunk ahead of its consumer on a helper thread, so reading and hashing overlap.
class ReadAhead {
public:
    explicit ReadAhead(HANDLE file) : file_(file) {
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

    // Passes each chunk to consume in order; false when a read failed.
    template <typename Consume>
    bool forEachChunk(Consume consume) {
        if (!thread_) return readInline(consume);
        for (int index = 0;; index ^= 1) {
            Slot& slot = slots_[index];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return slot.full; });
            }
            if (slot.failed) return false;
            if (slot.length == 0) return true;
            consume(slot.data.data(), slot.length);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot.full = false;
            }
            changed_.notify_all();
        }
    }

private:
    struct Slot {
        std::vector<uint8_t> data;
        DWORD length = 0;
        bool full = false;  // owned by the consumer while set, by the reader while clear
        bool failed = false;
    };

    static DWORD WINAPI threadMain(LPVOID self) {
        static_cast<ReadAhead*>(self)->readLoop();
        return 0;
    }

    void readLoop() {
        for (int index = 0;; index ^= 1) {
            Slot& slot = slots_[index];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return !slot.full || stopping_; });
                if (stopping_) return;
            }
            DWORD read = 0;
            const bool ok = ::ReadFile(file_, slot.data.data(), kChunkSize, &read, nullptr) != FALSE;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot.length = ok ? read : 0;
                slot.failed = !ok;
                slot.full = true;
            }
            changed_.notify_all();
            if (!ok || read == 0) return;
        }
    }

    // Without a helper thread the same loop runs here.
    template <typename Consume>
    bool readInline(Consume consume) {
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file_, slots_[0].data.data(), kChunkSize, &read, nullptr)) return false;
            if (read == 0) return true;
            consume(slots_[0].data.data(), read);
        }
    }

    HANDLE file_;
    Slot slots_[2];
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    qb::UniqueHandle thread_;
};

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

bool fileMd5(const std::wstring& path, std::string& digest) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Md5 md5;
    bool complete = false;
    {
        ReadAhead reader(file.get());
        complete = reader.forEachChunk([&](const uint8_t* data, DWORD length) { md5.update(data, length); });
    }
    if (!complete) return false;
    digest += md5.finishHex();
    return true;
}

bool isInstallerFile(const std::wstring& path) {
    uint8_t head[8] = {};
    DWORD count = 0;
    if (!readHead(path, head, count) || count < 2) return false;
    if (head[0] == 'M') return head[1] == 'Z';
    return startsWith(head, count, {0xD0, 0xCF, 0x11, 0xE0});
}

std::wstring archiveKind(const std::wstring& path) {
    uint8_t head[8] = {};
    DWORD count = 0;
    if (!readHead(path, head, count) || count < 4) return std::wstring();
    if (head[0] == 'P') return startsWith(head, count, {0x50, 0x4B, 0x03, 0x04}) ? L"zip" : L"";
    if (startsWith(head, count, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07})) return L"rar";
    if (startsWith(head, count, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C})) return L"7z";
    return std::wstring();
}
