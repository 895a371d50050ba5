// Times the catalogue search: building the SearchIndex of the served catalogue, then search() for
// each step of typing a few queries (pinyin letter by letter, initials, hanzi, a description word,
// queries with no result), the steps taken round-robin so that load changes spread over all of them.
// Then one keystroke as the window answers it: the field's new text applied (the search and the
// state it changes) and paintMainWindow of the result grid at 1180 x 780 into a memory DC made for a
// hidden window, as bench/paint paints; icons are letter placeholders (no icon server).
//   bench_search SERVER REPETITIONS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/search_field.h"
#include "base/window_messages.h"
#include "bench_support.h"
#include "base/text_convert.h"
#include "model/app_state.h"
#include "render/gdiplus_api.h"
#include "app/main_window_paint.h"
#include "render/problem_texts.h"
#include "search/search_index.h"
#include "service/catalogue.h"

namespace {

constexpr int kIndexBuilds = 5;
constexpr double kTargetMs = 2.0;
constexpr double kFrameBudgetMs = 16.7;
constexpr int kWidth = 1180;
constexpr int kHeight = 780;

const wchar_t* const kKeystrokes[] = {
    L"l", L"li", L"liu", L"liul", L"liula", L"liulan", L"llq", L"浏", L"浏览", L"x", L"xh", L"xhb", L"xhbj",
    L"界面", L"界面简洁", L"zhichi", L"Zq", L"没有这个软件",
};

std::string quoted(const wchar_t* query) { return wideToUtf8(L"\"" + std::wstring(query) + L"\""); }

// Draws card faces between paints as the main window does.
LRESULT CALLBACK benchWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_QB_PREPARE_FACES) {
        prepareMainWindowFaces();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// Each keystroke of the steps, round-robin: the text applied as the edit's EN_CHANGE applies it, then
// the paint it causes. Messages are pumped between keystrokes (not timed).
void timeKeystrokes(AppState& app, const bench::PaintTarget& target, int repetitions) {
    const size_t steps = std::size(kKeystrokes);
    std::vector<std::vector<double>> filterMs(steps), totalMs(steps);
    std::vector<double> allFilter, allTotal;
    const RECT client{0, 0, kWidth, kHeight};
    for (int rep = 0; rep < repetitions; ++rep) {
        for (size_t s = 0; s < steps; ++s) {
            const double start = bench::milliseconds();
            applySearchText(app, kKeystrokes[s]);
            const double filtered = bench::milliseconds();
            paintMainWindow(target.memory, client);
            ::GdiFlush();
            const double painted = bench::milliseconds();
            filterMs[s].push_back(filtered - start);
            totalMs[s].push_back(painted - start);
            allFilter.push_back(filtered - start);
            allTotal.push_back(painted - start);
            bench::pumpMessages();
        }
    }
    std::printf("keystroke at %dx%d: filter + paintMainWindow of the result grid (letter placeholders)\n", kWidth,
                kHeight);
    for (size_t s = 0; s < steps; ++s) {
        applySearchText(app, kKeystrokes[s]);
        const bench::Summary total = bench::summarise(totalMs[s]);
        std::printf("  median %6.2f ms  p95 %6.2f ms  (filter %.3f ms)  %5zu apps  %s\n", total.median, total.p95,
                    bench::summarise(filterMs[s]).median, app.search.results.size(), quoted(kKeystrokes[s]).c_str());
    }
    const bench::Summary filter = bench::summarise(allFilter), total = bench::summarise(allTotal);
    std::printf("keystroke over %zu apps: filter + repaint median %.2f ms, p95 %.2f ms (filter alone median %.3f ms) "
                "over %zu keystrokes (%.1f ms frame budget)\n",
                app.catalogue.apps.size(), total.median, total.p95, filter.median, allTotal.size(), kFrameBudgetMs);
}

// search() for every step of kKeystrokes, round-robin, repetitions times; prints each step and all of them.
void timeSearches(const SearchIndex& index, size_t apps, int repetitions) {
    const size_t steps = std::size(kKeystrokes);
    std::vector<std::vector<double>> samples(steps);
    std::vector<size_t> found(steps);
    std::vector<double> all;
    for (int rep = 0; rep < repetitions; ++rep) {
        for (size_t s = 0; s < steps; ++s) {
            const double start = bench::milliseconds();
            const std::vector<size_t> result = search(index, kKeystrokes[s]);
            const double ms = bench::milliseconds() - start;
            samples[s].push_back(ms);
            all.push_back(ms);
            found[s] = result.size();
        }
    }
    for (size_t s = 0; s < steps; ++s) {
        const bench::Summary summary = bench::summarise(samples[s]);
        std::printf("  median %.3f ms  p95 %.3f ms  %5zu apps  %s\n", summary.median, summary.p95, found[s],
                    quoted(kKeystrokes[s]).c_str());
    }
    const bench::Summary overall = bench::summarise(all);
    std::printf("search over %zu apps: median %.3f ms, p95 %.3f ms over %zu searches (target: median <= %.0f ms)\n",
                apps, overall.median, overall.p95, all.size(), kTargetMs);
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_search SERVER REPETITIONS\n");
        return 2;
    }
    const int repetitions = std::max(1, _wtoi(argv[2]));
    Catalogue catalogue;
    if (!catalogue.loadBootstrap(argv[1])) {
        std::fprintf(stderr, "loadBootstrap failed: %ls\n", catalogueErrorText(catalogue.lastError).c_str());
        return 1;
    }
    size_t descriptionCharacters = 0;
    for (const AppInfo& app : catalogue.apps) descriptionCharacters += app.description.size();

    std::vector<double> buildMs;
    SearchIndex index;
    for (int run = 0; run < kIndexBuilds; ++run) {
        const double start = bench::milliseconds();
        index = SearchIndex(catalogue.apps);
        buildMs.push_back(bench::milliseconds() - start);
    }
    const size_t apps = catalogue.apps.size();
    std::printf("index of %zu apps (descriptions %.0f characters on average): built in %.1f ms (median of %d, max %.1f)\n",
                apps, apps ? double(descriptionCharacters) / double(apps) : 0.0, bench::summarise(buildMs).median,
                kIndexBuilds, bench::summarise(buildMs).max);
    timeSearches(index, apps, repetitions);

    ::SetProcessDPIAware();
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bench::PaintTarget target;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok || 
        !target.make(benchWindowProc, L"QBBenchSearch", kWidth, kHeight)) {
        std::fprintf(stderr, "no paint target\n");
        return 1;
    }
    AppState& app = appState();
    createUiFonts(app.uiFonts);
    app.mainWnd = target.window;
    app.catalogue = std::move(catalogue);
    if (!app.catalogue.categories.empty()) app.selectedCategoryId = app.catalogue.categories.front().id;
    ensureSearchIndex(app);  // the window builds it when the field takes the caret
    paintMainWindow(target.memory, RECT{0, 0, kWidth, kHeight});
    bench::pumpMessages();
    timeKeystrokes(app, target, std::max(1, repetitions / 4));
    std::fflush(stdout);
    ::ExitProcess(0);
}
