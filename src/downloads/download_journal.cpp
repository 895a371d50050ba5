#include "downloads/download_journal.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "base/win_handles.h"
#include "config/config.h"
#include "base/text_convert.h"
#include "downloads/file_naming.h"
#include "json/json.h"

namespace {

constexpr uint32_t kRecordIntervalMs = 1000;
constexpr int64_t kLargestExactCount = 9007199254740992LL;  // 2^53: larger counts do not survive a double
const wchar_t kPartSuffix[] = L".part";
// Far more than the entries of every app with their segments take: a larger file is no journal of ours,
// and reading it whole could exhaust the memory before it was found out.
constexpr int64_t kMaxJournalBytes = 16LL * 1024 * 1024;

std::string quoted(const std::wstring& text) { return "\"" + json::escapeString(wideToUtf8(text)) + "\""; }
std::string quoted(const std::string& text) { return "\"" + json::escapeString(text) + "\""; }

bool readText(const json::Value& object, const char* key, std::string& out) {
    const json::Value* member = object.find(key);
    if (!member || member->kind != json::Kind::String) return false;
    out = member->text;
    return true;
}

bool readText(const json::Value& object, const char* key, std::wstring& out) {
    std::string bytes;
    if (!readText(object, key, bytes)) return false;
    out = utf8ToWide(bytes);
    return true;
}

// A whole number from `minimum` up to 2^53.
bool readCount(const json::Value& object, const char* key, int64_t minimum, int64_t& out) {
    const json::Value* member = object.find(key);
    if (!member || member->kind != json::Kind::Number) return false;
    const double number = member->number;
    if (!(number >= static_cast<double>(minimum) && number <= static_cast<double>(kLargestExactCount))) return false;
    out = static_cast<int64_t>(number);
    return static_cast<double>(out) == number;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring upperCased(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

bool isSafeName(const std::wstring& name) { return !name.empty() && sanitizeFileName(name) == name; }

bool isLowerHex(const std::string& text, size_t length) {
    if (text.empty()) return true;
    if (text.size() != length) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "C:\…" or "\\server\share\…", with no "." or ".." step that would lead elsewhere.
bool isAbsoluteFolder(const std::wstring& folder) {
    // "C:name" without a separator after the colon is relative to that drive's current folder.
    const bool drive = folder.size() >= 2 && folder[1] == L':' &&
                       ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z')) &&
                       (folder.size() == 2 || folder[2] == L'\\' || folder[2] == L'/');
    const bool share = folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\';
    if (!drive && !share) return false;
    size_t begin = 0;
    while (begin <= folder.size()) {
        size_t end = folder.find_first_of(L"\\/", begin);
        if (end == std::wstring::npos) end = folder.size();
        const std::wstring step = folder.substr(begin, end - begin);
        if (step == L"." || step == L"..") return false;
        begin = end + 1;
    }
    return true;
}

std::wstring nameOfPath(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool segmentsValid(const std::vector<Segment>& segments, int64_t totalBytes) {
    if (totalBytes <= 0) {
        // Without a known size there is one transfer from byte 0 and no end to check against.
        return segments.empty() || (segments.size() == 1 && segments[0].start == 0 && segments[0].end == -1);
    }
    std::vector<Segment> sorted = segments;
    std::sort(sorted.begin(), sorted.end(), [](const Segment& a, const Segment& b) { return a.start < b.start; });
    int64_t firstFree = 0;
    for (const Segment& s : sorted) {
        if (s.start < firstFree || s.end < s.start || s.end >= totalBytes) return false;
        if (s.written < 0 || s.written > s.end - s.start + 1) return false;
        firstFree = s.end + 1;
    }
    return true;
}

bool parseSegment(const json::Value& item, Segment& segment) {
    return item.kind == json::Kind::Object && readCount(item, "start", 0, segment.start) &&
           readCount(item, "end", -1, segment.end) && readCount(item, "written", 0, segment.written);
}

// Any id the catalogue may give: a whole number that fits 32 bits, negative ones included.
bool readAppId(const json::Value& object, int32_t& out) {
    const json::Value* member = object.find("appId");
    if (!member || member->kind != json::Kind::Number) return false;
    const double number = member->number;
    if (!(number >= static_cast<double>(INT32_MIN) && number <= static_cast<double>(INT32_MAX))) return false;
    out = static_cast<int32_t>(number);
    return static_cast<double>(out) == number;
}

bool parseEntry(const json::Value& item, JournalEntry& entry) {
    if (item.kind != json::Kind::Object) return false;
    const json::Value* segments = item.find("segments");
    if (!readAppId(item, entry.appId) || !readText(item, "name", entry.name) ||
        !readText(item, "url", entry.url) || !readText(item, "md5", entry.md5) ||
        !readText(item, "sha256", entry.sha256) || !readCount(item, "size", 0, entry.size) ||
        !readText(item, "file", entry.filePath) || !readText(item, "part", entry.partPath) ||
        !readText(item, "fileName", entry.fileName) || !segments || segments->kind != json::Kind::Array ||
        segments->items.size() > kMaxJournalSegments)
        return false;
    // A journal from before publishers were pinned has none: such a download was not pinned.
    if (item.find("publisher") && !readText(item, "publisher", entry.pinnedPublisher)) return false;
    for (const json::ValuePtr& value : segments->items) {
        Segment segment;
        if (!value || !parseSegment(*value, segment)) return false;
        entry.segments.push_back(segment);
    }
    return true;
}

}  // namespace

std::vector<Segment> mergedSegments(std::vector<Segment> segments) {
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.start < b.start; });
    std::vector<Segment> merged;
    for (const Segment& segment : segments) {
        if (!merged.empty()) {
            Segment& last = merged.back();
            const bool lastFinished = last.end >= last.start && last.written == last.end - last.start + 1;
            if (lastFinished && segment.start == last.end + 1) {
                last.written += segment.written;
                last.end = segment.end;
                continue;
            }
        }
        merged.push_back(segment);
    }
    return merged;
}

std::string journalText(const std::vector<JournalEntry>& entries) {
    std::string text = "{\n  \"downloads\": [";
    for (size_t i = 0; i < entries.size(); ++i) {
        const JournalEntry& e = entries[i];
        text += i == 0 ? "\n" : ",\n";
        text += "    {\"appId\": " + std::to_string(e.appId) + ", \"name\": " + quoted(e.name) +
                ", \"url\": " + quoted(e.url) + ", \"md5\": " + quoted(e.md5) + ", \"sha256\": " + quoted(e.sha256) +
                ", \"size\": " + std::to_string(e.size) + ",\n     \"file\": " + quoted(e.filePath) +
                ", \"part\": " + quoted(e.partPath) + ", \"fileName\": " + quoted(e.fileName) +
                ", \"publisher\": " + quoted(e.pinnedPublisher) + ",\n     \"segments\": [";
        for (size_t k = 0; k < e.segments.size(); ++k) {
            const Segment& s = e.segments[k];
            text += (k == 0 ? "" : ", ") + std::string("{\"start\": ") + std::to_string(s.start) +
                    ", \"end\": " + std::to_string(s.end) + ", \"written\": " + std::to_string(s.written) + "}";
        }
        text += "]}";
    }
    text += entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

bool journalEntryValid(const JournalEntry& entry) {
    if (entry.url.empty() || entry.size < 0) return false;
    if (!isLowerHex(entry.md5, 32) || !isLowerHex(entry.sha256, 64)) return false;
    const std::wstring folder = folderOfPath(entry.filePath);
    if (!isAbsoluteFolder(folder) || !sameText(folder, folderOfPath(entry.partPath))) return false;
    const std::wstring partName = nameOfPath(entry.partPath);
    const size_t suffix = sizeof kPartSuffix / sizeof kPartSuffix[0] - 1;
    if (partName.size() <= suffix || !sameText(partName.substr(partName.size() - suffix), kPartSuffix)) return false;
    if (!isSafeName(nameOfPath(entry.filePath)) || !isSafeName(partName.substr(0, partName.size() - suffix)) ||
        !isSafeName(entry.fileName))
        return false;
    return segmentsValid(entry.segments, entry.size);
}

bool parseJournal(const std::string& text, std::vector<JournalEntry>& entries) {
    entries.clear();
    const json::ValuePtr root = json::parse(text);
    if (!root || root->kind != json::Kind::Object) return false;
    const json::Value* downloads = root->find("downloads");
    if (!downloads || downloads->kind != json::Kind::Array) return false;
    std::set<int32_t> apps;
    std::set<std::wstring> paths;
    for (const json::ValuePtr& item : downloads->items) {
        if (entries.size() == kMaxJournalEntries) break;
        JournalEntry entry;
        if (!item || !parseEntry(*item, entry) || !journalEntryValid(entry)) continue;
        const std::wstring file = upperCased(entry.filePath), part = upperCased(entry.partPath);
        if (apps.count(entry.appId) || paths.count(file) || paths.count(part)) continue;
        apps.insert(entry.appId);
        paths.insert(file);
        paths.insert(part);
        entries.push_back(std::move(entry));
    }
    return true;
}

std::wstring defaultJournalPath() { return folderOfPath(configFilePath()) + L"\\downloads.json"; }

// Reads at most kMaxJournalBytes + 1 through the open handle: the size checked is the size of what is
// read, whatever the path named by the time it was opened. False when it cannot be read.
bool readCapped(HANDLE file, std::string& text) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return false;
    text.resize(static_cast<size_t>(std::min<int64_t>(size.QuadPart, kMaxJournalBytes + 1)));
    size_t filled = 0;
    while (filled < text.size()) {
        DWORD read = 0;
        const DWORD asked = static_cast<DWORD>(std::min<size_t>(text.size() - filled, 1 << 20));
        if (!::ReadFile(file, &text[filled], asked, &read, nullptr)) return false;
        if (read == 0) break;
        filled += read;
    }
    text.resize(filled);
    return true;
}

JournalRead readJournalFile(const std::wstring& path, std::vector<JournalEntry>& entries) {
    entries.clear();
    std::string text;
    {
        qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? JournalRead::Missing
                                                                                   : JournalRead::Unreadable;
        }
        if (!readCapped(file.get(), text)) return JournalRead::Unreadable;
    }
    if (text.size() <= static_cast<size_t>(kMaxJournalBytes) && parseJournal(text, entries)) return JournalRead::Read;
    ::MoveFileExW(path.c_str(), (path + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING);
    return JournalRead::RenamedAside;
}

void DownloadJournal::setPath(const std::wstring& path) {
    writer_.flush();
    owned_.store(true);
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    entries_.clear();
    latestGeneration_.clear();
    lastWriteTick_.clear();
    unsaved_ = false;
}

std::wstring DownloadJournal::path() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) path_ = defaultJournalPath();
    return path_;
}

bool DownloadJournal::due(const Task& task, bool force) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto latest = latestGeneration_.find(task.appId);
    if (latest != latestGeneration_.end() && task.generation < latest->second) return false;
    if (force) return true;
    const auto last = lastWriteTick_.find(task.appId);
    // Unsigned difference: the 49.7-day wrap of the tick count does no harm.
    return last == lastWriteTick_.end() || static_cast<uint32_t>(::GetTickCount() - last->second) >= kRecordIntervalMs;
}

void DownloadJournal::record(const Task& task, const JournalEntry& entry, bool write) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t& latest = latestGeneration_[task.appId];
    if (task.generation < latest) return;
    latest = task.generation;
    const uint32_t state = task.state.load();
    if (state == Downloading || state == Verifying || state == Paused) {
        entries_[task.appId] = entry;
    } else if (entries_.erase(task.appId) == 0 && !unsaved_) {
        return;  // nothing recorded for it: the file stays as it is
    }
    lastWriteTick_[task.appId] = ::GetTickCount();
    if (write) {
        writeLocked();
    } else {
        unsaved_ = true;
    }
}

// Handed over under the journal's lock, so the writer gets the texts in the order of the changes.
void DownloadJournal::writeLocked() {
    if (path_.empty()) path_ = defaultJournalPath();
    std::vector<JournalEntry> all;
    all.reserve(entries_.size());
    for (const auto& item : entries_) all.push_back(item.second);
    writer_.hand(path_, journalText(all));
    unsaved_ = false;
}

JournalRead DownloadJournal::load(std::vector<JournalEntry>& entries) {
    writer_.flush();  // nothing handed over earlier lands after the file is read
    const JournalRead read = readJournalFile(path(), entries);
    std::lock_guard<std::mutex> lock(mutex_);
    unsaved_ = !entries.empty();
    return read;
}

void DownloadJournal::saveIfUnsaved() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unsaved_ && owned_.load()) writeLocked();
}

void DownloadJournal::flush() {
    saveIfUnsaved();
    writer_.flush();
}
