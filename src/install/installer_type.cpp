#include "install/installer_type.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <vector>

namespace {

constexpr char kCompoundFile[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
// NSIS's first header: flags, then 0xDEADBEEF and "NullsoftInst".
constexpr char kNsisSignature[] = "\xEF\xBE\xAD\xDE" "NullsoftInst";
constexpr char kInnoSetupData[] = "Inno Setup Setup Data (";
// The Inno loader's offset table in its resources: "rDlPtS" and its fixed identifier.
constexpr char kInnoOffsetTable[] = "rDlPtS\xCD\xE6\xD7\x7B\x0B\x2A";
constexpr char kBurnSection[] = ".wixburn";
constexpr size_t kHeadBytes = 4096;
// How far into the appended data the NSIS header and the Inno marker are looked for.
constexpr size_t kOverlayWindow = 256 * 1024;
constexpr size_t kResourceWindow = 4 * 1024 * 1024;
constexpr uint16_t kMaxSections = 96;

uint32_t readU32(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t readU16(const std::string& bytes, size_t at) {
    if (at + 2 > bytes.size()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Section {
    std::string name;
    uint64_t start = 0;
    uint64_t size = 0;
};

struct PeLayout {
    std::vector<Section> sections;
    uint64_t overlay = 0;  // where the data appended after the last section begins
};

std::optional<PeLayout> readPeLayout(const ByteReader& read) {
    const std::string head = read(0, kHeadBytes);
    if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
    const uint32_t pe = readU32(head, 0x3C);
    // A file shorter than where its header should be is no program, whatever its first bytes say.
    if (pe > kHeadBytes - 24 || pe + 24 > head.size() || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return std::nullopt;
    const uint16_t count = std::min(readU16(head, pe + 6), kMaxSections);
    const size_t table = pe + 24 + readU16(head, pe + 20);
    const std::string entries = read(table, static_cast<size_t>(count) * 40);
    PeLayout layout;
    for (size_t i = 0; (i + 1) * 40 <= entries.size(); ++i) {
        Section section;
        section.name = entries.substr(i * 40, 8).c_str();
        section.size = readU32(entries, i * 40 + 16);
        section.start = readU32(entries, i * 40 + 20);
        layout.overlay = std::max(layout.overlay, section.start + section.size);
        layout.sections.push_back(std::move(section));
    }
    return layout;
}

bool contains(const std::string& haystack, const char* needle, size_t needleSize) {
    return std::search(haystack.begin(), haystack.end(), needle, needle + needleSize) != haystack.end();
}

bool hasNsisHeader(const ByteReader& read, uint64_t overlay) {
    // The NSIS loader looks for its header at 512-byte boundaries of the file.
    const uint64_t from = overlay & ~uint64_t{511};
    const std::string window = read(from, kOverlayWindow);
    for (size_t at = 0; at + 20 <= window.size(); at += 512)
        if (window.compare(at + 4, 16, kNsisSignature, 16) == 0) return true;
    return false;
}

bool hasInnoMarker(const ByteReader& read, const PeLayout& layout) {
    if (contains(read(layout.overlay, kOverlayWindow), kInnoSetupData, sizeof kInnoSetupData - 1)) return true;
    for (const Section& section : layout.sections) {
        if (section.name != ".rsrc") continue;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(section.size, kResourceWindow));
        if (contains(read(section.start, length), kInnoOffsetTable, sizeof kInnoOffsetTable - 1)) return true;
    }
    return false;
}

std::wstring lowered(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

// Splits at blanks and at quotes alike. Readers of a command line differ in how quotes join and split
// words (msiexec drops them, and starts a new word after a closing one), so a switch inside quotes or
// glued to a quoted value is looked at on its own too. A blank inside a quoted value only makes more
// words, and a value's words do not begin with a switch.
std::vector<std::wstring> argumentWords(const std::wstring& args) {
    std::vector<std::wstring> words;
    std::wstring word;
    for (const wchar_t c : args) {
        if (c == L' ' || c == L'"') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool namesAnotherPackage(const std::wstring& word) {
    const std::wstring w = lowered(word);
    if (startsWith(w, L"transforms=") || startsWith(w, L"patch=")) return true;
    if (w.size() < 2 || (w[0] != L'/' && w[0] != L'-')) return false;
    const std::wstring option = w.substr(1);
    if (startsWith(option, L"package") || startsWith(option, L"uninstall") || startsWith(option, L"update"))
        return true;
    // Switches of the display and restart that merely share a first letter with the package switches.
    for (const wchar_t* harmless : {L"passive", L"promptrestart", L"forcerestart"})
        if (option == harmless) return false;
    // /i, /a, /x, /p, /j and /f take a package, product or patch, with or without a blank after them.
    return std::wcschr(L"iaxpjf", option[0]) != nullptr;
}

bool isCancelCode(InstallerType type, DWORD code) {
    switch (type) {
        case InstallerType::Msi:
        case InstallerType::Burn: return code == 1602 || code == 1223;
        case InstallerType::Nsis: return code == 1;
        case InstallerType::Inno: return code == 2 || code == 5;
        case InstallerType::Unknown: return true;
    }
    return true;
}

}  // namespace

bool isSuccessCode(DWORD code) { return code == 0 || code == 3010 || code == 1641; }

InstallerType detectInstallerType(const ByteReader& read) {
    if (read(0, 8) == std::string(kCompoundFile, 8)) return InstallerType::Msi;
    const std::optional<PeLayout> layout = readPeLayout(read);
    if (!layout) return InstallerType::Unknown;
    for (const Section& section : layout->sections)
        if (section.name == kBurnSection) return InstallerType::Burn;
    if (hasNsisHeader(read, layout->overlay)) return InstallerType::Nsis;
    if (hasInnoMarker(read, *layout)) return InstallerType::Inno;
    return InstallerType::Unknown;
}

InstallerType detectInstallerType(HANDLE file) {
    return detectInstallerType([file](uint64_t offset, size_t length) {
        std::string bytes(length, '\0');
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD count = 0;
        if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(length), &count, &at)) count = 0;
        bytes.resize(count);
        return bytes;
    });
}

InstallerType detectInstallerTypeOfFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return InstallerType::Unknown;
    const InstallerType type = detectInstallerType(file);
    ::CloseHandle(file);
    return type;
}

std::wstring silentSwitches(InstallerType type) {
    switch (type) {
        case InstallerType::Nsis: return L"/S";
        case InstallerType::Inno: return L"/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP-";
        case InstallerType::Msi: return L"/qn /norestart";
        case InstallerType::Burn: return L"/quiet /norestart";
        case InstallerType::Unknown: break;
    }
    return std::wstring();
}

bool silentArgsAcceptable(const std::wstring& args, bool forMsi) {
    for (const wchar_t c : args)
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return false;
    if (!forMsi) return true;
    for (const std::wstring& word : argumentWords(args))
        if (namesAnotherPackage(word)) return false;
    return true;
}

std::optional<SilentLaunch> silentLaunchFor(InstallerType type, const std::wstring& verifiedPath,
                                            const std::optional<std::wstring>& catalogueArgs,
                                            const std::wstring& systemFolder) {
    const bool msi = type == InstallerType::Msi;
    const std::wstring switches = catalogueArgs ? *catalogueArgs : silentSwitches(type);
    if (switches.empty() || (catalogueArgs && !silentArgsAcceptable(*catalogueArgs, msi))) return std::nullopt;
    if (msi) return SilentLaunch{systemFolder + L"\\msiexec.exe", L"/i \"" + verifiedPath + L"\" " + switches};
    return SilentLaunch{verifiedPath, switches};
}

InstallJudgement judgeInstall(const InstallFacts& facts) {
    InstallJudgement judgement;
    judgement.restartStarted = facts.exitCode == 1641;
    const bool unknown = facts.type == InstallerType::Unknown;
    const bool registrationsSay = facts.wasListed ? facts.versionMoved || unknown : facts.registered;
    if (registrationsSay || (facts.wasListed && isSuccessCode(facts.exitCode))) {
        judgement.outcome = InstallOutcome::Installed;
        judgement.restartNeeded = facts.exitCode == 3010 || facts.exitCode == 1641;
    } else if (isSuccessCode(facts.exitCode)) {
        judgement.outcome = InstallOutcome::NotInstalled;
    } else {
        judgement.outcome = isCancelCode(facts.type, facts.exitCode) ? InstallOutcome::Cancelled : InstallOutcome::Failed;
    }
    return judgement;
}

bool registrationsSettle(const InstallFacts& facts) { return judgeInstall(facts).outcome == InstallOutcome::Installed; }

bool runsSilently(bool silentSetting, InstallerType type, const std::optional<std::wstring>& catalogueArgs,
                  bool unverified, bool wizardAsked) {
    return silentSetting && !unverified && !wizardAsked &&
           silentLaunchFor(type, L"package", catalogueArgs, L"system").has_value();
}
