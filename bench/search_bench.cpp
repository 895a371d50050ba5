// Times the catalogue search: building the SearchIndex of the served catalogue, then search() for
// each step of typing a few queries (pinyin letter by letter, initials, hanzi, a description word,
// queries with no result), the steps taken round-robin so that load changes spread over all of them.
//   bench_search SERVER REPETITIONS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "config/text_convert.h"
#include "search/search_index.h"
#include "service/catalogue.h"

namespace {

constexpr int kIndexBuilds = 5;
constexpr double kTargetMs = 2.0;

const wchar_t* const kKeystrokes[] = {
    L"l", L"li", L"liu", L"liul", L"liula", L"liulan", L"llq", L"浏", L"浏览", L"x", L"xh", L"xhb", L"xhbj",
    L"界面", L"界面简洁", L"zhichi", L"Zq", L"没有这个软件",
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_search SERVER REPETITIONS\n");
        return 2;
    }
    const int repetitions = std::max(1, _wtoi(argv[2]));
    Catalogue catalogue;
    if (!catalogue.LoadBootstrap(argv[1])) {
        std::fprintf(stderr, "LoadBootstrap failed: %ls\n", catalogue.lastError.c_str());
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
        const std::string query = WideToUtf8(L"\"" + std::wstring(kKeystrokes[s]) + L"\"");
        std::printf("  median %.3f ms  p95 %.3f ms  %5zu apps  %s\n", summary.median, summary.p95, found[s],
                    query.c_str());
    }
    const bench::Summary overall = bench::summarise(all);
    std::printf("search over %zu apps: median %.3f ms, p95 %.3f ms over %zu searches (target: median <= %.0f ms)\n",
                apps, overall.median, overall.p95, all.size(), kTargetMs);
    return 0;
}
