// Runs the program's own start-up in this process (initInstance: GDI+, fonts, classes, the main
// window whose creation starts the catalogue load, the shadow) and its message loop, with a hook
// on the main window that notes the catalogue's arrival and the end of the first paint after it.
// With --all-icons it then requests every app's icon at the card size in pixels, at the DPI the
// window opened at (at most 16 requested and
// unfinished at once, of which the loader fetches 4; messages pumped as the program would, so the main
// window adopts them and its icon cache keeps the most recent few hundred) and reports the private
// bytes next to the size of every icon decoded and of those kept. With --cold the cached bootstrap is
// removed first, so the start waits for the service (and fills the cache); otherwise the cached
// catalogue is what is painted first.
//   bench_app SERVER [--all-icons | --cold]
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "base/window_messages.h"
#include "app/startup.h"
#include "bench_support.h"
#include "app/main_window_paint.h"
#include "render/layout.h"
#include "service/bootstrap_cache.h"
#include "net/http_client.h"

namespace {

constexpr int kIconsInFlight = 16;

struct Hook {
    WNDPROC original = nullptr;
    double loadedMs = -1;
    double paintedMs = -1;
    bench::MemoryFigures atPaint;
};

Hook& hook() {
    static Hook h;
    return h;
}

LRESULT CALLBACK hookedMainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Hook& h = hook();
    if (msg == WM_QB_CATALOGUE_LOADED && h.loadedMs < 0) h.loadedMs = bench::milliseconds();
    const LRESULT result = ::CallWindowProcW(h.original, hwnd, msg, wp, lp);
    if (msg == WM_PAINT && h.loadedMs >= 0 && h.paintedMs < 0) {
        h.paintedMs = bench::milliseconds();
        h.atPaint = bench::memoryOf(::GetCurrentProcess());
    }
    return result;
}

// Milliseconds on the bench clock at which this process was created.
double processCreatedMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    const double createdEpochMs = static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
    return bench::milliseconds() - (bench::epochMilliseconds() - createdEpochMs);
}

bool pumpUntil(double deadline, const std::function<bool()>& done) {
    while (!done()) {
        if (bench::milliseconds() > deadline) return false;
        bench::pumpMessages();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

uint64_t bitmapBytes(HBITMAP handle) {
    BITMAP bitmap{};
    if (!handle || !::GetObjectW(handle, sizeof bitmap, &bitmap)) return 0;
    return static_cast<uint64_t>(bitmap.bmWidthBytes) * static_cast<uint64_t>(bitmap.bmHeight);
}

void loadAllIcons(AppState& app) {
    const int side = app.scale.length(layout::kIconTileOnCard);  // the card's icon in pixels
    const double started = bench::milliseconds();
    size_t ready = 0, failed = 0;
    uint64_t decodedBytes = 0;
    // Counts each icon as it arrives: the cache may free it again before the end.
    const auto tally = [&](const AppInfo& info) {
        const IconStatus status = app.icons.status(info.id, side);
        if (status == IconStatus::Failed) ++failed;
        if (status != IconStatus::Ready) return;
        ++ready;
        decodedBytes += bitmapBytes(app.icons.bitmap(info.id, side));
    };
    std::vector<const AppInfo*> pending;
    const auto tallyPending = [&] {
        std::vector<const AppInfo*> loading;
        for (const AppInfo* info : pending) {
            if (app.icons.status(info->id, side) == IconStatus::Loading)
                loading.push_back(info);
            else
                tally(*info);
        }
        pending.swap(loading);
    };
    for (const AppInfo& info : app.catalogue.apps) {
        pumpUntil(started + 600000, [&] {
            tallyPending();
            return app.icons.loadingCount() < kIconsInFlight;
        });
        requestIcon(app, info, side);
        pending.push_back(&info);
    }
    pumpUntil(started + 600000, [&] {
        tallyPending();
        return pending.empty();
    });
    bench::pumpMessages();
    uint64_t keptBytes = 0;
    for (const AppInfo& info : app.catalogue.apps) keptBytes += bitmapBytes(app.icons.bitmap(info.id, side));
    const bench::MemoryFigures after = bench::memoryOf(::GetCurrentProcess());
    std::printf("icons_ready=%zu icons_failed=%zu icons_kept=%zu load_s=%.1f bitmap_mib=%.1f kept_bitmap_mib=%.1f "
                "private_icons_mib=%.1f peak_private_mib=%.1f\n",
                ready, failed, app.icons.decodedCount(), (bench::milliseconds() - started) / 1000.0,
                bench::mebibytes(decodedBytes), bench::mebibytes(keptBytes), bench::mebibytes(after.privateBytes),
                bench::mebibytes(after.peakPrivateBytes));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const double entered = bench::milliseconds();
    const bench::MemoryFigures atEntry = bench::memoryOf(::GetCurrentProcess());
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_app SERVER [--all-icons | --cold]\n");
        return 2;
    }
    const bool allIcons = argc > 2 && std::wstring(argv[2]) == L"--all-icons";
    if (argc > 2 && std::wstring(argv[2]) == L"--cold") forgetCachedBootstrap();
    const double created = processCreatedMs();

    // runApplication's steps, with the server set as config.json would set it.
    ::SetProcessDPIAware();
    AppState& app = appState();
    app.config.server = argv[1];
    if (!initInstance(::GetModuleHandleW(nullptr))) {
        std::fprintf(stderr, "initInstance failed\n");
        return 1;
    }
    const double windowUp = bench::milliseconds();
    const bench::MemoryFigures afterInit = bench::memoryOf(::GetCurrentProcess());
    Hook& h = hook();
    if (!app.catalogueLoading) {
        // The cached catalogue was ready before the window's first paint, which showed it.
        h.loadedMs = windowUp;
        h.paintedMs = windowUp;
        h.atPaint = afterInit;
    }
    h.original = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(app.mainWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hookedMainWindowProc)));

    MSG msg;
    while (h.paintedMs < 0 && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (dialogMessageFilter(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (h.paintedMs < 0 || app.catalogueFailed) {
        std::fprintf(stderr, "no catalogue painted\n");
        return 1;
    }
    std::printf("apps=%zu categories=%zu entry_ms=%.0f window_ms=%.0f loaded_ms=%.0f painted_ms=%.0f "
                "painted_from_entry_ms=%.0f\n",
                app.catalogue.apps.size(), app.catalogue.categories.size(), entered - created, windowUp - created,
                h.loadedMs - created, h.paintedMs - created, h.paintedMs - entered);
    std::printf("private_entry_mib=%.1f private_window_mib=%.1f private_catalogue_mib=%.1f peak_private_mib=%.1f\n",
                bench::mebibytes(atEntry.privateBytes), bench::mebibytes(afterInit.privateBytes),
                bench::mebibytes(h.atPaint.privateBytes), bench::mebibytes(h.atPaint.peakPrivateBytes));
    std::fflush(stdout);
    if (allIcons) loadAllIcons(app);
    std::fflush(stdout);
    ::ExitProcess(0);
}
