#include "install/installed_apps.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "base/mailbox.h"
#include "base/win_handles.h"
#include "base/window_messages.h"
#include "base/worker_thread.h"

namespace {

// Of two registrations matching an app's name, whether `candidate` stands for the app rather than `best`
// (each "exact" when its normalised name is the app's): one named exactly as the app first ("QQ" before
// "QQ音乐", whatever its version), then the highest version.
bool betterRegistration(const InstalledApp* best, bool bestExact, const InstalledApp& candidate, bool candidateExact) {
    if (!best) return true;
    if (bestExact != candidateExact) return candidateExact;
    return compareVersions(best->displayVersion, candidate.displayVersion).value_or(0) < 0;
}

// Longer values are refused rather than read: no real name or command comes near it.
constexpr DWORD kValueCapBytes = 32 * 1024;
// ExpandEnvironmentStringsW gives at most this many characters.
constexpr DWORD kExpandedChars = 32 * 1024;

enum class ValueRead { Absent, Text, Unreadable };

// Replaces %NAME% references with the environment's values; false when the result does not fit.
bool expandEnvironment(std::wstring& text) {
    const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0 || needed > kExpandedChars) return false;
    std::vector<wchar_t> expanded(needed, L'\0');
    const DWORD written = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) return false;
    text.assign(expanded.data(), ::wcsnlen(expanded.data(), needed));
    return true;
}

// A REG_SZ value up to its first NUL, or a REG_EXPAND_SZ one expanded; empty text for a value of
// another type. Unreadable (never absent) when it is over the cap or the read or expansion fails.
ValueRead readText(HKEY key, const wchar_t* name, std::wstring& text) {
    text.clear();
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return ValueRead::Absent;
    if (status != ERROR_SUCCESS) return ValueRead::Unreadable;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ValueRead::Text;
    if (size > kValueCapBytes) return ValueRead::Unreadable;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return ValueRead::Unreadable;
    text.assign(buffer.data(), ::wcsnlen(buffer.data(), size / sizeof(wchar_t)));
    if (type == REG_EXPAND_SZ && !expandEnvironment(text)) {
        text.clear();
        return ValueRead::Unreadable;
    }
    return ValueRead::Text;
}

bool isSystemComponent(HKEY key) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    return ::RegQueryValueExW(key, L"SystemComponent", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && value != 0;
}

// One registration as the Windows list of apps shows it; false for entries it hides: no display name,
// a system component, or an update of another entry (it names a parent).
bool readRegistration(const std::wstring& key, HKEY entry, InstalledApp& app) {
    if (!entry) return false;
    std::wstring parent;
    // Any ParentKeyName, even one too long to read, marks an update.
    const bool hasParent = readText(entry, L"ParentKeyName", parent) != ValueRead::Absent;
    readText(entry, L"DisplayName", app.displayName);
    if (app.displayName.empty() || hasParent || isSystemComponent(entry)) return false;
    app.key = key;
    readText(entry, L"DisplayVersion", app.displayVersion);
    readText(entry, L"Publisher", app.publisher);
    app.uninstallStringUnreadable =
        readText(entry, L"UninstallString", app.uninstallString) == ValueRead::Unreadable;
    readText(entry, L"QuietUninstallString", app.quietUninstallString);
    readText(entry, L"InstallLocation", app.installLocation);
    readText(entry, L"DisplayIcon", app.displayIcon);
    return true;
}

struct VersionPart {
    unsigned long long number = 0;
    std::wstring suffix;
};

// The version's parts; empty when the text holds no digit.
std::vector<VersionPart> versionParts(const std::wstring& text) {
    size_t start = 0;
    while (start < text.size() && !(text[start] >= L'0' && text[start] <= L'9')) ++start;
    size_t end = start;
    while (end < text.size() && text[end] > L' ' && text[end] < 0x7F) ++end;
    std::vector<VersionPart> parts;
    if (start == end) return parts;
    size_t from = start;
    while (from <= end) {
        size_t to = text.find(L'.', from);
        if (to == std::wstring::npos || to > end) to = end;
        VersionPart part;
        size_t i = from;
        for (; i < to && text[i] >= L'0' && text[i] <= L'9'; ++i) {
            if (part.number < 100000000000000000ULL) part.number = part.number * 10 + (text[i] - L'0');
        }
        for (; i < to; ++i) part.suffix.push_back(static_cast<wchar_t>(std::towlower(text[i])));
        parts.push_back(std::move(part));
        from = to + 1;
    }
    return parts;
}

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Two suffixes in text order, except that runs of digits compare as numbers: "rc9" before "rc10".
int compareSuffix(const std::wstring& a, const std::wstring& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            while (i < a.size() && a[i] == L'0') ++i;
            while (j < b.size() && b[j] == L'0') ++j;
            size_t endA = i, endB = j;
            while (endA < a.size() && isDigit(a[endA])) ++endA;
            while (endB < b.size() && isDigit(b[endB])) ++endB;
            if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
            const int order = a.compare(i, endA - i, b, j, endB - j);
            if (order != 0) return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
        } else if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        } else {
            ++i;
            ++j;
        }
    }
    return i < a.size() ? 1 : (j < b.size() ? -1 : 0);
}

int comparePart(const VersionPart& a, const VersionPart& b) {
    if (a.number != b.number) return a.number < b.number ? -1 : 1;
    if (a.suffix.empty() != b.suffix.empty()) return a.suffix.empty() ? 1 : -1;
    return compareSuffix(a.suffix, b.suffix);
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool isSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

// Where an unquoted program path ends: the longest prefix ending at a blank (or the end) that names an
// existing file; failing that, the first ".exe" followed by a blank; failing that, the first blank.
size_t unquotedProgramEnd(const std::wstring& line, size_t start, const FileExists& fileExists) {
    for (size_t end = line.size(); end > start; --end) {
        if ((end < line.size() && !isSpace(line[end])) || isSpace(line[end - 1])) continue;
        if (fileExists(line.substr(start, end - start))) return end;
    }
    const std::wstring folded = lower(line);
    for (size_t at = folded.find(L".exe", start); at != std::wstring::npos; at = folded.find(L".exe", at + 1)) {
        if (at + 4 == folded.size() || isSpace(folded[at + 4])) return at + 4;
    }
    size_t end = start;
    while (end < line.size() && !isSpace(line[end])) ++end;
    return end;
}

// The words of a parameter text as a program receives them: split at blanks outside quotes, quotes removed.
std::vector<std::wstring> splitParameters(const std::wstring& parameters) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool quoted = false, inWord = false;
    for (wchar_t c : parameters) {
        if (c == L'"') {
            quoted = !quoted;
            inWord = true;
        } else if (isSpace(c) && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

bool isProductCode(const std::wstring& text) {
    if (text.size() < 3 || text.front() != L'{' || text.back() != L'}') return false;
    return std::all_of(text.begin() + 1, text.end() - 1, [](wchar_t c) { return c == L'-' || std::iswxdigit(c); });
}

// The letters after the switch character of an option that installs or repairs a package: "i",
// "package", or "f" with its repair modes; 0 for any other option.
size_t installOrRepairOptionLength(const std::wstring& option) {
    if (option.compare(0, 7, L"package") == 0) return 7;
    if (!option.empty() && option[0] == L'i') return 1;
    if (option.empty() || option[0] != L'f') return 0;
    const size_t modesEnd = option.find_first_not_of(L"pomdecausv", 1);
    return modesEnd == std::wstring::npos ? option.size() : modesEnd;
}

// The product code an msiexec install or repair option names ("/I{code}", "-i {code}", "/fa \"{code}\"");
// empty when there is none, as for a removal or a package given by its path.
std::wstring installOrRepairProductCode(const std::wstring& parameters) {
    const std::vector<std::wstring> words = splitParameters(parameters);
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i].size() < 2 || (words[i][0] != L'/' && words[i][0] != L'-')) continue;
        const size_t length = installOrRepairOptionLength(lower(words[i].substr(1)));
        if (length == 0) continue;
        const std::wstring attached = words[i].substr(1 + length);
        const std::wstring code = attached.empty() && i + 1 < words.size() ? words[i + 1] : attached;
        if (isProductCode(code)) return code;
    }
    return std::wstring();
}

qb::Mailbox<InstalledAppsRead>& finishedReads() {
    static qb::Mailbox<InstalledAppsRead> reads;
    return reads;
}

}  // namespace

std::vector<InstalledApp> readInstalledApps(const UninstallRoots& roots) {
    std::vector<InstalledApp> installed;
    forEachUninstallEntry(roots, [&installed](const std::wstring& key, HKEY entry) {
        InstalledApp app;
        if (readRegistration(key, entry, app)) installed.push_back(std::move(app));
    });
    return installed;
}

const InstalledApp* findInstalledApp(const std::wstring& appName, const std::vector<InstalledApp>& installed) {
    const std::wstring wanted = normalizeAppName(appName);
    const InstalledApp* best = nullptr;
    bool bestExact = false;
    for (const InstalledApp& app : installed) {
        if (!displayNameMatches(wanted, app.displayName)) continue;
        const bool exact = normalizeAppName(app.displayName) == wanted;
        if (betterRegistration(best, bestExact, app, exact)) {
            best = &app;
            bestExact = exact;
        }
    }
    return best;
}

std::optional<int> compareVersions(const std::wstring& a, const std::wstring& b) {
    const std::vector<VersionPart> left = versionParts(a);
    const std::vector<VersionPart> right = versionParts(b);
    if (left.empty() || right.empty()) return std::nullopt;
    const VersionPart zero;
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const int order = comparePart(i < left.size() ? left[i] : zero, i < right.size() ? right[i] : zero);
        if (order != 0) return order;
    }
    return 0;
}

bool isUpdateAvailable(const std::wstring& installedVersion, const std::wstring& catalogueVersion) {
    return compareVersions(installedVersion, catalogueVersion).value_or(0) < 0;
}

bool isExistingFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<UninstallCommand> parseUninstallCommand(const std::wstring& commandLine, const FileExists& fileExists) {
    size_t start = 0;
    while (start < commandLine.size() && isSpace(commandLine[start])) ++start;
    if (start == commandLine.size()) return std::nullopt;
    UninstallCommand command;
    size_t rest = 0;
    if (commandLine[start] == L'"') {
        const size_t close = commandLine.find(L'"', start + 1);
        if (close == std::wstring::npos || close == start + 1) return std::nullopt;
        command.program = commandLine.substr(start + 1, close - start - 1);
        rest = close + 1;
    } else {
        rest = unquotedProgramEnd(commandLine, start, fileExists);
        command.program = commandLine.substr(start, rest - start);
    }
    while (rest < commandLine.size() && isSpace(commandLine[rest])) ++rest;
    command.parameters = commandLine.substr(rest);
    while (!command.parameters.empty() && isSpace(command.parameters.back())) command.parameters.pop_back();

    const std::wstring program = lower(command.program);
    const size_t slash = program.find_last_of(L"\\/");
    const std::wstring file = slash == std::wstring::npos ? program : program.substr(slash + 1);
    if (file == L"msiexec.exe" || file == L"msiexec") {
        const std::wstring productCode = installOrRepairProductCode(command.parameters);
        if (!productCode.empty()) command.parameters = L"/X" + productCode;
    }
    return command;
}

std::unordered_map<int32_t, InstallStatus> matchInstalledApps(const std::vector<CatalogueName>& apps,
                                                              const std::vector<InstalledApp>& installed) {
    // Sorted by normalised name, the registrations whose names start with a given name lie together.
    std::vector<std::pair<std::wstring, size_t>> names;
    names.reserve(installed.size());
    for (size_t i = 0; i < installed.size(); ++i) names.emplace_back(normalizeAppName(installed[i].displayName), i);
    std::sort(names.begin(), names.end());

    std::unordered_map<int32_t, InstallStatus> statuses;
    for (const CatalogueName& app : apps) {
        const std::wstring wanted = normalizeAppName(app.name);
        if (wanted.empty()) continue;
        const InstalledApp* best = nullptr;
        bool bestExact = false;
        for (auto it = std::lower_bound(names.begin(), names.end(), std::make_pair(wanted, size_t{0}));
             it != names.end() && it->first.compare(0, wanted.size(), wanted) == 0; ++it) {
            const InstalledApp& candidate = installed[it->second];
            const bool exact = it->first == wanted;  // the names are normalised already
            if (displayNameMatches(wanted, candidate.displayName) && betterRegistration(best, bestExact, candidate, exact)) {
                best = &candidate;
                bestExact = exact;
            }
        }
        if (!best) continue;
        InstallStatus status;
        status.registration = *best;
        status.updatable = isUpdateAvailable(best->displayVersion, app.version);
        statuses.emplace(app.id, std::move(status));
    }
    return statuses;
}

bool startInstalledAppsRead(HWND window, uint32_t readNumber, std::vector<CatalogueName> apps,
                            const UninstallRoots& roots) {
    return qb::startWorker([window, readNumber, apps = std::move(apps), roots] {
        InstalledAppsRead read{readNumber, matchInstalledApps(apps, readInstalledApps(roots))};
        // A read that ends after a newer one never replaces it.
        finishedReads().postUnless(std::move(read), [readNumber](const InstalledAppsRead& waiting) {
            return waiting.readNumber > readNumber;
        });
        ::PostMessageW(window, WM_QB_INSTALLED_READ, readNumber, 0);
    });
}

std::optional<InstalledAppsRead> takeInstalledAppsRead() { return finishedReads().take(); }
