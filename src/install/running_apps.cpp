#include "install/running_apps.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "base/win_handles.h"

namespace {

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// "C:\x\" or "C:\x" under "C:\x\..." compares by whole folder, without case.
bool isInsideOrEqual(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty()) return false;
    const std::wstring p = upper(withoutTrailingSeparators(path)) + L"\\";
    const std::wstring f = upper(withoutTrailingSeparators(folder)) + L"\\";
    return p.compare(0, f.size(), f) == 0;
}

bool sameFolder(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && upper(withoutTrailingSeparators(a)) == upper(withoutTrailingSeparators(b));
}

std::wstring knownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK ? std::wstring(path)
                                                                                      : std::wstring();
}

std::wstring environmentFolder(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path) : std::wstring();
}

// "\"C:\Apps\x.exe\",0" -> "C:\Apps\x.exe".
std::wstring iconPath(std::wstring icon) {
    if (!icon.empty() && icon[0] == L'"') {
        const size_t close = icon.find(L'"', 1);
        return close == std::wstring::npos ? std::wstring() : icon.substr(1, close - 1);
    }
    const size_t comma = icon.rfind(L',');
    if (comma != std::wstring::npos && icon.find_first_not_of(L"-0123456789 ", comma + 1) == std::wstring::npos)
        icon.resize(comma);
    return icon;
}

BOOL CALLBACK closeWindowOf(HWND window, LPARAM processes) {
    DWORD id = 0;
    ::GetWindowThreadProcessId(window, &id);
    const auto& ids = *reinterpret_cast<const std::set<DWORD>*>(processes);
    if (ids.count(id) && !::GetWindow(window, GW_OWNER)) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

SharedFolders systemSharedFolders() {
    SharedFolders shared;
    shared.windows = knownFolder(CSIDL_WINDOWS);
    for (const int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                            CSIDL_PROGRAM_FILES_COMMONX86})
        if (std::wstring folder = knownFolder(csidl); !folder.empty()) shared.exact.push_back(folder);
    const std::wstring profile = knownFolder(CSIDL_PROFILE);
    const size_t cut = profile.find_last_of(L'\\');
    shared.profilesRoot = cut == std::wstring::npos ? std::wstring() : profile.substr(0, cut);
    if (std::wstring root = environmentFolder(L"PUBLIC"); !root.empty()) shared.exact.push_back(root);
    if (!shared.profilesRoot.empty()) shared.exact.push_back(shared.profilesRoot);
    return shared;
}

std::wstring appFolderOf(const InstalledApp& registration) {
    std::wstring location = registration.installLocation;
    if (!location.empty() && location.front() == L'"' && location.back() == L'"' && location.size() >= 2)
        location = location.substr(1, location.size() - 2);
    if (!location.empty()) return withoutTrailingSeparators(location);
    const std::wstring icon = iconPath(registration.displayIcon);
    const size_t cut = icon.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : withoutTrailingSeparators(icon.substr(0, cut));
}

bool isOwnAppFolder(const std::wstring& folder, const SharedFolders& shared) {
    const std::wstring f = withoutTrailingSeparators(folder);
    // A full path with a drive and at least one folder below its root.
    if (f.size() < 4 || f[1] != L':' || (f[2] != L'\\' && f[2] != L'/')) return false;
    if (isInsideOrEqual(f, shared.windows)) return false;
    for (const std::wstring& exact : shared.exact)
        if (sameFolder(f, exact)) return false;
    // A profile's root is a folder directly inside the profiles' root.
    if (!shared.profilesRoot.empty() && isInsideOrEqual(f, shared.profilesRoot)) {
        const std::wstring rest = f.substr(withoutTrailingSeparators(shared.profilesRoot).size() + 1);
        if (rest.find_first_of(L"\\/") == std::wstring::npos) return false;
    }
    return true;
}

std::vector<RunningProcess> processesInside(const std::wstring& folder, const std::vector<RunningProcess>& all) {
    std::vector<RunningProcess> inside;
    const std::wstring prefix = upper(withoutTrailingSeparators(folder)) + L"\\";
    for (const RunningProcess& process : all)
        if (upper(process.image).compare(0, prefix.size(), prefix) == 0) inside.push_back(process);
    return inside;
}

std::vector<RunningProcess> listRunningProcesses() {
    std::vector<RunningProcess> processes;
    qb::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        qb::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) continue;
        wchar_t image[MAX_PATH * 2] = {};
        DWORD length = MAX_PATH * 2;
        if (::QueryFullProcessImageNameW(process.get(), 0, image, &length))
            processes.push_back({entry.th32ProcessID, std::wstring(image, length)});
    }
    return processes;
}

std::vector<RunningProcess> runningProcessesOf(const InstalledApp& registration) {
    const std::wstring folder = appFolderOf(registration);
    if (!isOwnAppFolder(folder, systemSharedFolders())) return {};
    return processesInside(folder, listRunningProcesses());
}

bool closeProcesses(const std::vector<RunningProcess>& processes, DWORD milliseconds) {
    std::set<DWORD> ids;
    std::vector<qb::UniqueHandle> handles;
    for (const RunningProcess& process : processes) {
        qb::UniqueHandle handle(::OpenProcess(SYNCHRONIZE, FALSE, process.id));
        if (!handle) continue;  // already gone
        ids.insert(process.id);
        handles.push_back(std::move(handle));
    }
    // Asked again every half second: a window that was not up yet, or a question the program asked
    // first and the user answered, gets the next request.
    const DWORD deadline = ::GetTickCount() + milliseconds;
    for (const qb::UniqueHandle& handle : handles) {
        for (;;) {
            ::EnumWindows(closeWindowOf, reinterpret_cast<LPARAM>(&ids));
            const DWORD now = ::GetTickCount();
            const DWORD left = static_cast<int32_t>(deadline - now) > 0 ? deadline - now : 0;
            const DWORD waited = ::WaitForSingleObject(handle.get(), std::min<DWORD>(left, 500));
            if (waited == WAIT_OBJECT_0) break;
            if (left <= 500) return false;
        }
    }
    return true;
}

void startPrograms(const std::vector<std::wstring>& images) {
    std::set<std::wstring> started;
    for (const std::wstring& image : images) {
        if (!started.insert(upper(image)).second) continue;
        std::wstring commandLine = L"\"" + image + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(image.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process)) {
            ::CloseHandle(process.hThread);
            ::CloseHandle(process.hProcess);
        }
    }
}
