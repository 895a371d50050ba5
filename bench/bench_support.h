#pragma once
// Clock, statistics, memory counters and small service calls shared by the benchmark programs.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline double seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double milliseconds() { return seconds() * 1000.0; }

// Wall clock in milliseconds since 1970, comparable with the service's request log.
inline double epochMilliseconds() {
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
}

struct Summary {
    size_t count = 0;
    double min = 0;
    double median = 0;
    double p95 = 0;
    double max = 0;
};

// Nearest-rank percentiles of the samples.
inline Summary summarise(std::vector<double> samples) {
    Summary s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&samples](double percent) {
        size_t index = static_cast<size_t>(percent / 100.0 * static_cast<double>(samples.size()) + 0.999999);
        return samples[std::min(samples.size(), std::max<size_t>(index, 1)) - 1];
    };
    s.count = samples.size();
    s.min = samples.front();
    s.median = rank(50);
    s.p95 = rank(95);
    s.max = samples.back();
    return s;
}

struct MemoryFigures {
    uint64_t privateBytes = 0;
    uint64_t peakPrivateBytes = 0;
    uint64_t workingSet = 0;
};

// Private bytes are PrivateUsage, which Windows sets equal to PagefileUsage (the commit charge);
// Wine 8 leaves PrivateUsage 0 and reports resident private memory in PagefileUsage.
inline MemoryFigures memoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    MemoryFigures figures;
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
        figures.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
        figures.peakPrivateBytes = counters.PeakPagefileUsage;
        figures.workingSet = counters.WorkingSetSize;
    }
    return figures;
}

inline double mebibytes(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Handles the messages already queued for this thread, so posted worker news is delivered.
inline void pumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

inline std::wstring argument(int argc, wchar_t** argv, int index, const wchar_t* fallback = L"") {
    return index < argc ? std::wstring(argv[index]) : std::wstring(fallback);
}

// A hidden window of the main window's size and a memory DC compatible with it, painted into as into
// the window's own DC. The window answers with `procedure`, as the main window would.
struct PaintTarget {
    HWND window = nullptr;
    HDC windowDc = nullptr;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    RECT client{};

    bool make(WNDPROC procedure, const wchar_t* className, int width, int height) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        ::RegisterClassExW(&wc);
        window = ::CreateWindowExW(0, className, L"bench", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                   wc.hInstance, nullptr);
        if (!window) return false;
        client = RECT{0, 0, width, height};
        windowDc = ::GetDC(window);
        memory = ::CreateCompatibleDC(windowDc);
        bitmap = ::CreateCompatibleBitmap(windowDc, width, height);
        if (!memory || !bitmap) return false;
        ::SelectObject(memory, bitmap);
        return true;
    }
};

}  // namespace bench
