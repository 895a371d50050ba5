// Times the catalogue load piece by piece on one bootstrap: the transfer alone (HttpClient::Get,
// next to a bare WinHTTP loop),
// json::parse of the body, building the records from the parsed tree (parseAppInfo for every app,
// as loadBootstrap does), and Catalogue::loadBootstrap as a whole. Prints key=value lines.
//   bench_catalogue SERVER RUNS
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bare_http.h"
#include "bench_support.h"
#include "base/text_convert.h"
#include "json/json.h"
#include "service/catalogue.h"
#include "net/http_client.h"
#include "render/problem_texts.h"

namespace {

void print(const char* key, const std::vector<double>& samples) {
    const bench::Summary s = bench::summarise(samples);
    std::printf("%s_ms median=%.1f min=%.1f max=%.1f\n", key, s.median, s.min, s.max);
}

// The record building loadBootstrap does after parsing, on an already parsed tree.
size_t buildRecords(const json::Value& data, std::vector<CategoryInfo>& categories, std::vector<AppInfo>& apps) {
    categories.clear();
    apps.clear();
    if (const json::Value* list = data.find("categories")) {
        for (const json::ValuePtr& item : list->items) {
            CategoryInfo category;
            if (item) {
                const json::Value* id = item->find("id");
                const json::Value* name = item->find("name");
                if (id) category.id = utf8ToWide(id->asString(""));
                if (name) category.name = utf8ToWide(name->asString(""));
            }
            categories.push_back(std::move(category));
        }
    }
    if (const json::Value* list = data.find("apps"))
        for (const json::ValuePtr& item : list->items) apps.push_back(item ? parseAppInfo(*item) : AppInfo());
    return apps.size();
}

// Times Catalogue::loadBootstrap; false (said on stderr) when it fails or keeps another number of apps.
bool timeLoadBootstrap(const std::wstring& server, size_t appCount, std::vector<double>& loadMs) {
    Catalogue catalogue;
    const double start = bench::milliseconds();
    if (!catalogue.loadBootstrap(server)) {
        std::fprintf(stderr, "loadBootstrap failed: %ls\n", catalogueErrorText(catalogue.lastError).c_str());
        return false;
    }
    loadMs.push_back(bench::milliseconds() - start);
    if (catalogue.apps.size() != appCount) {
        std::fprintf(stderr, "loadBootstrap kept %zu apps, the bench built %zu\n", catalogue.apps.size(), appCount);
        return false;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_catalogue SERVER RUNS\n");
        return 2;
    }
    const std::wstring server = argv[1];
    const int runs = std::max(1, _wtoi(argv[2]));
    const std::wstring url = server + L"/api/client/bootstrap";

    std::vector<double> bareMs, getMs, parseMs, recordsMs, loadMs;
    std::string body;
    size_t appCount = 0;
    for (int run = 0; run < runs; ++run) {
        double start = bench::milliseconds();
        if (bench::bareRead(url, 65536) <= 0) {
            std::fprintf(stderr, "bare bootstrap GET failed\n");
            return 1;
        }
        bareMs.push_back(bench::milliseconds() - start);

        HttpError error;
        start = bench::milliseconds();
        if (!HttpClient::Get(url, body, error)) {
            std::fprintf(stderr, "bootstrap GET failed: %ls\n", httpErrorText(error).c_str());
            return 1;
        }
        getMs.push_back(bench::milliseconds() - start);

        start = bench::milliseconds();
        json::ValuePtr root = json::parse(body);
        parseMs.push_back(bench::milliseconds() - start);
        const json::Value* data = root ? root->find("data") : nullptr;
        if (!data) {
            std::fprintf(stderr, "bootstrap is not JSON with data\n");
            return 1;
        }

        std::vector<CategoryInfo> categories;
        std::vector<AppInfo> apps;
        start = bench::milliseconds();
        appCount = buildRecords(*data, categories, apps);
        recordsMs.push_back(bench::milliseconds() - start);
        root.reset();
        if (!timeLoadBootstrap(server, appCount, loadMs)) return 1;
    }
    std::printf("bootstrap_bytes=%zu apps=%zu runs=%d\n", body.size(), appCount, runs);
    print("bare_get", bareMs);
    print("get", getMs);
    print("parse", parseMs);
    print("records", recordsMs);
    print("load_bootstrap", loadMs);
    return 0;
}
