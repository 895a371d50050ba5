#include "downloads/live_progress.h"

#include <algorithm>
#include <cstring>

#include "downloads/download_journal.h"

namespace {

const char kMagic[8] = {'Q', 'B', 'L', 'I', 'V', 'E', '0', '1'};
constexpr size_t kHeaderBytes = 64;
// A record is believed when its stamp is within this of the current boot's (the two clocks it is made
// of drift apart by a few milliseconds an hour).
constexpr int64_t kBootStampSlack = 5LL * 10000000;
constexpr int64_t kFree = -1;

// FNV-1a over the path's UTF-16 units; never 0, which marks a free slot.
uint64_t keyOf(const std::wstring& path) {
    uint64_t hash = 1469598103934665603ULL;
    for (wchar_t c : path) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ULL;
    }
    return hash ? hash : 1;
}

// Stores into the shared page go through interlocked writes, so none is ever half made; the order of
// the stores is the order a later reader may find them in.
void store(volatile LONG64& field, int64_t value) { ::InterlockedExchange64(&field, value); }

}  // namespace

struct LiveProgress::Slot {
    volatile LONG64 key;    // 0: free
    volatile LONG64 size;   // the file's size
    volatile LONG64 stamp;  // the boot it was written in
    volatile LONG64 reserved;
    struct Count {
        volatile LONG64 start;  // kFree: unused
        volatile LONG64 written;
    } counts[kCountsPerSlot];
};

const size_t LiveProgress::kFileBytes = kHeaderBytes + sizeof(LiveProgress::Slot) * LiveProgress::kSlots;

bool adoptLiveCounts(std::vector<Segment>& segments, const std::vector<LiveCount>& live) {
    bool rose = false;
    for (Segment& segment : segments) {
        if (segment.end < segment.start) continue;
        const int64_t length = segment.end - segment.start + 1;
        for (const LiveCount& count : live) {
            if (count.start != segment.start) continue;
            const int64_t written = std::min(count.written, length);
            if (written > segment.written) {
                segment.written = written;
                rose = true;
            }
        }
    }
    return rose;
}

int64_t currentBootStamp() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const int64_t time = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return time - static_cast<int64_t>(::GetTickCount64()) * 10000;
}

LiveProgress::~LiveProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
}

void LiveProgress::setJournalPath(const std::wstring& journalPath) {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLocked();
    journalPath_ = journalPath;
}

void LiveProgress::closeLocked() {
    view_.reset();
    mapping_.reset();
    file_.reset();
    opened_ = false;
    inherited_.clear();
}

LiveProgress::Slot* LiveProgress::slotAt(int slot) {
    if (!view_ || slot < 0 || slot >= kSlots) return nullptr;
    uint8_t* base = static_cast<uint8_t*>(const_cast<void*>(view_.get()));
    return reinterpret_cast<Slot*>(base + kHeaderBytes) + slot;
}

bool LiveProgress::openLocked() {
    if (opened_) return static_cast<bool>(view_);
    if (!mapFileLocked()) {
        // A file that could not be opened (another instance holds it) is tried again at the next call:
        // once that instance has gone, its records are cleared before this one writes a file they might
        // claim bytes of. A file that opened but could not be mapped is not tried again.
        opened_ = static_cast<bool>(file_);
        view_.reset();
        mapping_.reset();
        file_.reset();
        return false;
    }
    opened_ = true;
    takeOverLocked();
    return true;
}

bool LiveProgress::mapFileLocked() {
    std::wstring path = journalPath_.empty() ? defaultJournalPath() : journalPath_;
    const std::wstring json = L".json";
    if (path.size() > json.size() && path.compare(path.size() - json.size(), json.size(), json) == 0)
        path.resize(path.size() - json.size());
    path += L".live";
    // No write sharing: a second instance of the program finds the file taken and leaves the journal
    // and this record to the first.
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    sharingRefused_ = opened == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
    file_.reset(opened);
    if (!file_) return false;
    LARGE_INTEGER size{};
    whole_ = ::GetFileSizeEx(file_.get(), &size) && size.QuadPart == static_cast<LONGLONG>(kFileBytes);
    if (!whole_) {
        // Made anew at its own size: a file of another length is no record of this program's.
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(kFileBytes);
        if (!::SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get())) return false;
    }
    mapping_.reset(::CreateFileMappingW(file_.get(), nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(kFileBytes), nullptr));
    if (mapping_) view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, kFileBytes));
    return static_cast<bool>(view_);
}

void LiveProgress::takeOverLocked() {
    uint8_t* base = static_cast<uint8_t*>(const_cast<void*>(view_.get()));
    const int64_t boot = bootStamp();
    if (whole_ && std::memcmp(base, kMagic, sizeof kMagic) == 0) {
        for (int i = 0; i < kSlots; ++i) {
            const Slot& slot = *slotAt(i);
            if (slot.key == 0 || slot.size <= 0) continue;
            const int64_t age = boot - slot.stamp;
            if (age > kBootStampSlack || age < -kBootStampSlack) continue;
            std::vector<LiveCount> counts;
            for (const Slot::Count& count : slot.counts) {
                if (count.start < 0 || count.written <= 0) continue;
                counts.push_back({count.start, count.written});
            }
            inherited_[static_cast<uint64_t>(slot.key)] = {slot.size, std::move(counts)};
        }
    }
    // Cleared for this run: every slot free, every count unused.
    std::memset(base, 0, kFileBytes);
    for (int i = 0; i < kSlots; ++i)
        for (Slot::Count& count : slotAt(i)->counts) count.start = kFree;
    std::memcpy(base, kMagic, sizeof kMagic);
}

std::vector<LiveCount> LiveProgress::inherited(const std::wstring& partPath, int64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    openLocked();
    const auto it = inherited_.find(keyOf(partPath));
    if (it == inherited_.end() || it->second.first != size) return {};
    std::vector<LiveCount> counts = std::move(it->second.second);
    inherited_.erase(it);
    return counts;
}

bool LiveProgress::heldElsewhere() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !openLocked() && sharingRefused_;
}

int LiveProgress::claim(const std::wstring& partPath, int64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!openLocked() || size <= 0) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = *slotAt(i);
        if (slot.key != 0) continue;
        // Everything else first, the key last: a slot left half claimed is still free.
        for (Slot::Count& count : slot.counts) {
            store(count.start, kFree);
            store(count.written, 0);
        }
        store(slot.size, size);
        store(slot.stamp, bootStamp());
        store(slot.key, static_cast<int64_t>(keyOf(partPath)));
        return i;
    }
    return -1;
}

void LiveProgress::note(int slot, int64_t start, int64_t written) {
    Slot* at = slotAt(slot);
    if (!at) return;
    Slot::Count* free = nullptr;
    for (Slot::Count& count : at->counts) {
        if (count.start == start) {
            store(count.written, written);
            store(at->stamp, bootStamp());
            return;
        }
        if (!free && count.start == kFree) free = &count;
    }
    if (!free) return;  // more segments than counts: the journal keeps the rest
    // A free count holds 0 written, so its start may come first; the count follows.
    store(free->start, start);
    store(free->written, written);
    store(at->stamp, bootStamp());
}

void LiveProgress::release(int slot) {
    if (Slot* at = slotAt(slot)) store(at->key, 0);
}
