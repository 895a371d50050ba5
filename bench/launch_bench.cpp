// Starts the real Quillbox.exe against a local service and watches it from outside: the time from
// CreateProcess to its visible main window, and to the first painted catalogue, seen on the screen
// (a BitBlt of the content heading from the screen DC until its dark heading text appears). The
// service's request log adds when the bootstrap request arrived and was answered, and when the
// first icon request (made only by the painter) came. Also reads the program's private bytes.
// Quillbox has no options of its own, so the service URL goes into its config.json, which is put
// back as it was afterwards. Each run starts the program twice: cold (its cached bootstrap removed
// first; the start fills the cache) and warm (the cached catalogue shown at once, then refreshed).
// Prints key=value lines, "cold" and "warm" ones.
//   bench_launch QUILLBOX_EXE SERVER RUNS
// With --background SECONDS instead of RUNS, the program starts with --background: once its catalogue
// has arrived and it has settled, it prints "sampling", waits SECONDS (the script beside it reads the
// processes' CPU times meanwhile), prints "sampled", then its private bytes and whether a window of it
// became visible.
//   bench_launch QUILLBOX_EXE SERVER --background SECONDS
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/window_dpi.h"
#include "bench_support.h"
#include "base/dpi_scale.h"
#include "base/text_convert.h"
#include "json/json.h"
#include "net/http_client.h"
#include "support/service_control.h"
#include "support/test_support.h"

namespace {

// The heading rectangle of the content area (in units; the probe reads it in the pixels of the system's
// DPI, which the program's window opens at); the loading screen leaves it blank.
constexpr RECT kHeading{212, 78, 512, 118};
constexpr int kDarkPixelsForText = 30;
constexpr uint32_t kWindowBackground = 0xF5F6F8;
constexpr DWORD kPollSleepMs = 2;

// Writes a config.json naming the server and restores the previous one (or none) when destroyed.
class ConfigOverride {
public:
    explicit ConfigOverride(const std::wstring& server) {
        wchar_t buffer[MAX_PATH] = {};
        ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
        const std::wstring folder = std::wstring(buffer) + L"\\Tidewell";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        path_ = folder + L"\\config.json";
        existed_ = qbtest::fileExists(path_);
        if (existed_) previous_ = qbtest::readFileBytes(path_);
        ok_ = qbtest::writeFileBytes(path_, "{\"server\": \"" + wideToUtf8(server) + "\"}");
    }
    ~ConfigOverride() {
        if (existed_) {
            qbtest::writeFileBytes(path_, previous_);
        } else {
            ::DeleteFileW(path_.c_str());
        }
    }
    ConfigOverride(const ConfigOverride&) = delete;
    ConfigOverride& operator=(const ConfigOverride&) = delete;
    bool ok() const { return ok_; }

private:
    std::wstring path_;
    std::string previous_;
    bool existed_ = false;
    bool ok_ = false;
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findMainWindow(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t className[32] = {};
    ::GetClassNameW(hwnd, className, 32);
    if (owner == search->processId && ::IsWindowVisible(hwnd) && std::wstring(className) == L"QBMainWnd") {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Reads the heading rectangle off the screen; counts the pixels dark enough to be heading text.
class HeadingProbe {
public:
    HeadingProbe() : heading_(qb::DpiScale{systemDpi()}.pixels(kHeading)) {
        screen_ = ::GetDC(nullptr);
        memory_ = ::CreateCompatibleDC(screen_);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width();
        info.bmiHeader.biHeight = -height();
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap_ = ::CreateDIBSection(screen_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        previous_ = ::SelectObject(memory_, bitmap_);
    }
    ~HeadingProbe() {
        ::SelectObject(memory_, previous_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(memory_);
        ::ReleaseDC(nullptr, screen_);
    }
    HeadingProbe(const HeadingProbe&) = delete;
    HeadingProbe& operator=(const HeadingProbe&) = delete;

    // Heading text: dark pixels on a mostly painted background (a window not painted yet may be black).
    bool headingShown(HWND window) {
        POINT origin{heading_.left, heading_.top};
        ::ClientToScreen(window, &origin);
        if (!::BitBlt(memory_, 0, 0, width(), height(), screen_, origin.x, origin.y, SRCCOPY)) return 0;
        ::GdiFlush();
        int dark = 0, background = 0;
        for (int i = 0; i < width() * height(); ++i) {
            const uint32_t p = bits_[i] & 0xFFFFFF;
            if (p == kWindowBackground) ++background;
            if (((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60) ++dark;
        }
        return dark >= kDarkPixelsForText && background * 2 >= width() * height();
    }

private:
    int width() const { return heading_.right - heading_.left; }
    int height() const { return heading_.bottom - heading_.top; }

    RECT heading_;
    HDC screen_ = nullptr;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

struct LaunchTimes {
    bool ok = false;
    double windowMs = -1;
    double paintedMs = -1;
    double pollMs = 0;        // mean interval between two looks at the screen
    double bootstrapArrivedMs = -1;
    double bootstrapAnsweredMs = -1;
    double firstIconMs = -1;
    uint64_t privateAtPaint = 0;
    uint64_t privateSettled = 0;
};

// Fills the service-side times from its request log, relative to the launch.
void readServiceLog(const std::wstring& server, double launchEpochMs, LaunchTimes& times) {
    std::string body;
    HttpError error;
    if (!HttpClient::Get(server + L"/test/log", body, error)) return;
    const json::ValuePtr log = json::parse(body);
    const json::Value* requests = log ? log->find("requests") : nullptr;
    if (!requests) return;
    for (const json::ValuePtr& request : requests->items) {
        const json::Value* path = request->find("path");
        const json::Value* time = request->find("time");
        const json::Value* ms = request->find("ms");
        if (!path || !time) continue;
        const std::string p = path->asString("");
        const double at = time->asDouble(0) * 1000.0 - launchEpochMs;
        if (p == "/api/client/bootstrap" && times.bootstrapArrivedMs < 0) {
            times.bootstrapArrivedMs = at;
            times.bootstrapAnsweredMs = at + (ms ? ms->asDouble(0) : 0);
        }
        if (p.rfind("/media/", 0) == 0 && times.firstIconMs < 0) times.firstIconMs = at;
    }
}

// Starts the program in its own folder with `arguments` after its quoted path.
bool startProgram(const std::wstring& exe, const std::wstring& arguments, PROCESS_INFORMATION& process) {
    const std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/"));
    std::wstring commandLine = L"\"" + exe + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                         &process))
        return true;
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", exe.c_str(), ::GetLastError());
    return false;
}

LaunchTimes launch(const std::wstring& exe, const std::wstring& server) {
    LaunchTimes times;
    qbtest::ServiceControl(server).resetLog();
    PROCESS_INFORMATION process{};
    HeadingProbe probe;

    const double launchEpochMs = bench::epochMilliseconds();
    const double started = bench::milliseconds();
    if (!startProgram(exe, L"", process)) return times;
    HWND window = nullptr;
    int polls = 0;
    double firstPoll = 0, lastPoll = 0;
    for (;;) {
        const double now = bench::milliseconds();
        if (now - started > 60000 || ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "no catalogue painted (%s)\n", now - started > 60000 ? "time-out" : "exited");
            break;
        }
        if (!window) {
            WindowSearch search{process.dwProcessId, nullptr};
            ::EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
            window = search.found;
            if (window) times.windowMs = bench::milliseconds() - started;
        }
        if (window) {
            if (polls++ == 0) firstPoll = now;
            lastPoll = now;
            if (probe.headingShown(window)) {
                times.paintedMs = bench::milliseconds() - started;
                times.ok = true;
                break;
            }
        }
        ::Sleep(kPollSleepMs);
    }
    times.pollMs = polls > 1 ? (lastPoll - firstPoll) / (polls - 1) : 0;
    if (times.ok) {
        times.privateAtPaint = bench::memoryOf(process.hProcess).privateBytes;
        ::Sleep(3000);  // the visible cards' icons arrive
        times.privateSettled = bench::memoryOf(process.hProcess).privateBytes;
        readServiceLog(server, launchEpochMs, times);
    }
    if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return times;
}

constexpr DWORD kBackgroundSettleMs = 5000;

bool mainWindowShown(DWORD processId) {
    WindowSearch search{processId, nullptr};
    ::EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
}

int watchBackground(const std::wstring& exe, const std::wstring& server, int seconds) {
    qbtest::ServiceControl(server).resetLog();
    PROCESS_INFORMATION process{};
    const double launchEpochMs = bench::epochMilliseconds();
    if (!startProgram(exe, L" --background", process)) return 1;
    LaunchTimes times;
    for (int waited = 0; times.bootstrapAnsweredMs < 0 && waited < 60000; waited += 200) {
        ::Sleep(200);
        readServiceLog(server, launchEpochMs, times);
    }
    ::Sleep(kBackgroundSettleMs);
    bool shown = mainWindowShown(process.dwProcessId);
    const bool running = ::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    if (times.bootstrapAnsweredMs >= 0 && running) {
        std::printf("sampling\n");
        std::fflush(stdout);
        ::Sleep(static_cast<DWORD>(seconds) * 1000);
        std::printf("sampled\n");
        shown = shown || mainWindowShown(process.dwProcessId);
        std::printf("background_private_mib=%.1f bootstrap_answered_ms=%.0f window_shown=%d\n",
                    bench::mebibytes(bench::memoryOf(process.hProcess).privateBytes), times.bootstrapAnsweredMs,
                    shown ? 1 : 0);
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", running ? "no catalogue requested within a minute" : "the program ended");
    }
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return times.bootstrapAnsweredMs >= 0 && running ? 0 : 1;
}

// Removes the program's cached bootstrap, so the next start is a first one.
void forgetCachedCatalogue() {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    const std::wstring folder = std::wstring(buffer) + L"\\Tidewell\\cache\\";
    ::DeleteFileW((folder + L"bootstrap.stamp.json").c_str());
    ::DeleteFileW((folder + L"bootstrap.json").c_str());
}

struct Series {
    std::vector<double> window, painted, arrived, answered, icon, poll, privateAtPaint, privateSettled;

    void add(const LaunchTimes& t) {
        window.push_back(t.windowMs);
        painted.push_back(t.paintedMs);
        arrived.push_back(t.bootstrapArrivedMs);
        answered.push_back(t.bootstrapAnsweredMs);
        icon.push_back(t.firstIconMs);
        poll.push_back(t.pollMs);
        privateAtPaint.push_back(bench::mebibytes(t.privateAtPaint));
        privateSettled.push_back(bench::mebibytes(t.privateSettled));
    }
};

void printTimes(const char* label, const LaunchTimes& t, int run) {
    std::printf("%s run=%d window_ms=%.0f painted_ms=%.0f bootstrap_arrived_ms=%.0f bootstrap_answered_ms=%.0f "
                "first_icon_ms=%.0f poll_ms=%.1f private_mib=%.1f settled_private_mib=%.1f\n",
                label, run, t.windowMs, t.paintedMs, t.bootstrapArrivedMs, t.bootstrapAnsweredMs, t.firstIconMs,
                t.pollMs, bench::mebibytes(t.privateAtPaint), bench::mebibytes(t.privateSettled));
    std::fflush(stdout);
}

void printMedians(const char* label, const Series& s) {
    std::printf("median %s window_ms=%.0f painted_ms=%.0f bootstrap_arrived_ms=%.0f bootstrap_answered_ms=%.0f "
                "first_icon_ms=%.0f poll_ms=%.1f private_mib=%.1f settled_private_mib=%.1f\n",
                label, bench::summarise(s.window).median, bench::summarise(s.painted).median,
                bench::summarise(s.arrived).median, bench::summarise(s.answered).median,
                bench::summarise(s.icon).median, bench::summarise(s.poll).median,
                bench::summarise(s.privateAtPaint).median, bench::summarise(s.privateSettled).median);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool background = argc == 5 && std::wstring(argv[3]) == L"--background";
    if (argc < 4 || (argc > 4 && !background)) {
        std::fprintf(stderr, "usage: bench_launch QUILLBOX_EXE SERVER RUNS | --background SECONDS\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const std::wstring server = argv[2];
    const int runs = std::max(1, _wtoi(argv[background ? 4 : 3]));
    ConfigOverride config(server);
    if (!config.ok()) {
        std::fprintf(stderr, "cannot write config.json\n");
        return 1;
    }
    if (background) return watchBackground(exe, server, runs);
    Series cold, warm;
    for (int run = 0; run < runs; ++run) {
        forgetCachedCatalogue();
        const LaunchTimes first = launch(exe, server);
        if (!first.ok) return 1;
        printTimes("cold", first, run);
        cold.add(first);
        const LaunchTimes again = launch(exe, server);
        if (!again.ok) return 1;
        printTimes("warm", again, run);
        warm.add(again);
    }
    printMedians("cold", cold);
    printMedians("warm", warm);
    forgetCachedCatalogue();
    return 0;
}
