// Times the download engine against a bare WinHTTP read loop on the same URL, over one connection
// and over four, and the engine's verification phase, under the same Wine; then the engine over one
// and four connections on a package the service sends at a limited rate per connection. Prints
// key=value lines for bench/download. First, the engine under a speed cap of 2 000 KB/s for ten seconds,
// then a failover from a route on a closed port to a live mirror.
//   bench_download FILE_URL DOWNLOAD_URL FOLDER MD5 SHA256 RUNS THROTTLED_DOWNLOAD_URL THROTTLED_MD5 [CLOSED_URL]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bare_http.h"
#include "bench_support.h"
#include "base/text_convert.h"
#include "downloads/download_directory.h"
#include "downloads/download_manager.h"
#include "net/http_client.h"
#include "render/state_texts.h"

namespace {

using bench::seconds;

struct EngineRun {
    bool ok = false;
    int64_t bytes = 0;
    double transferSeconds = 0;
    double verifySeconds = 0;
};

EngineRun engineRun(int32_t appId, int connections, const std::string& downloadUrl, const std::string& md5,
                    const std::string& sha256) {
    DownloadManager& manager = DownloadManager::instance();
    manager.setConnectionsPerDownload(connections);
    EngineRun run;
    const double started = seconds();
    manager.startDownload(appId, {L"bench", downloadUrl, md5, sha256});
    double verifying = 0;
    for (;;) {
        const TaskSnapshot task = manager.snapshot()[appId];
        if (task.state != Downloading && verifying == 0) verifying = seconds();
        if (task.state != Downloading && task.state != Verifying) {
            run.ok = task.state == Completed && task.md5Ok;
            run.bytes = task.receivedBytes;
            if (!run.ok)
                std::fwprintf(stderr, L"engine run ended in state %u: %ls\n", task.state, downloadFaultText(task).c_str());
            break;
        }
        ::Sleep(1);
    }
    const double finished = seconds();
    manager.waitForJob(appId, INFINITE);
    run.transferSeconds = verifying - started;
    run.verifySeconds = finished - verifying;
    return run;
}

// The large package over four connections under a cap of `kbPerSecond` KB (of 1 024 bytes) a second: what
// arrived in the `window` seconds after the first, against what the cap allows. The download is
// cancelled after.
double cappedRatio(const std::string& downloadUrl, int kbPerSecond, double window) {
    DownloadManager& manager = DownloadManager::instance();
    manager.setConnectionsPerDownload(4);
    manager.setSpeedLimit(kbPerSecond);
    manager.startDownload(1, {L"bench", downloadUrl});
    const auto received = [&manager] { return manager.snapshot()[1].receivedBytes; };
    ::Sleep(1000);  // past the connections' start and the bucket's first quarter second
    const int64_t from = received();
    const double started = seconds();
    ::Sleep(static_cast<DWORD>(window * 1000));
    const int64_t to = received();
    const double elapsed = seconds() - started;
    manager.cancel(1);
    manager.waitForJob(1, INFINITE);
    manager.setSpeedLimit(0);
    manager.clearFinished();
    return static_cast<double>(to - from) / elapsed / (kbPerSecond * 1024.0);
}

// A package whose route is a closed port and whose mirror is the live file: milliseconds from the start,
// when the route refuses, to the mirror's first bytes in the file (written at least every 100 ms or
// 256 KiB); -1 when none came. The download is cancelled then.
double failoverMs(const std::string& closedUrl, const std::wstring& mirrorUrl, const std::string& md5) {
    DownloadManager& manager = DownloadManager::instance();
    manager.setConnectionsPerDownload(1);
    DownloadIdentity package{L"failover", closedUrl, md5};
    package.mirrors = {wideToUtf8(mirrorUrl)};
    const double started = seconds();
    manager.startDownload(3, package);
    double reached = -1;
    for (;;) {
        const TaskSnapshot task = manager.snapshot()[3];
        if (task.receivedBytes > 0) reached = seconds();
        if (reached >= 0 || task.state != Downloading) break;
        ::Sleep(1);
    }
    manager.cancel(3);
    manager.waitForJob(3, INFINITE);
    manager.clearFinished();
    return reached < 0 ? -1 : (reached - started) * 1000;
}

// Each run needs the plain name again (the engine never replaces an existing file).
void removeFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileW((folder + L"\\" + data.cFileName).c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 9) {
        std::fwprintf(stderr, L"usage: bench_download FILE_URL DOWNLOAD_URL FOLDER MD5 SHA256 RUNS THROTTLED_DOWNLOAD_URL "
                              L"THROTTLED_MD5\n");
        return 2;
    }
    const std::wstring fileUrl = argv[1];
    const std::string downloadUrl = wideToUtf8(argv[2]);
    const std::wstring folder = argv[3];
    const std::string md5 = wideToUtf8(argv[4]);
    const std::string sha256 = wideToUtf8(argv[5]);
    const int runs = std::max(1, _wtoi(argv[6]));
    const std::string throttledUrl = wideToUtf8(argv[7]);
    const std::string throttledMd5 = wideToUtf8(argv[8]);
    setDownloadDirOverride(folder);

    removeFiles(folder);
    std::printf("capped_ratio=%.3f\n", cappedRatio(downloadUrl, 2000, 10.0));
    std::fflush(stdout);
    if (argc > 9) {
        removeFiles(folder);
        std::printf("failover_ms=%.0f\n", failoverMs(wideToUtf8(argv[9]), fileUrl, md5));
        std::fflush(stdout);
    }

    for (int i = 0; i < runs; ++i) {
        for (DWORD chunk : {65536u, 1048576u}) {
            const double t0 = seconds();
            const int64_t bytes = bench::bareRead(fileUrl, chunk);
            const double t = seconds() - t0;
            if (bytes <= 0) {
                std::fwprintf(stderr, L"bare read failed\n");
                return 1;
            }
            std::printf("bare%s_MBps=%.1f bytes=%lld\n", chunk == 65536u ? "" : "_1MiB", static_cast<double>(bytes) / t / 1e6,
                        static_cast<long long>(bytes));
        }
        std::fflush(stdout);

        // Over four connections, verifying the MD5.
        removeFiles(folder);
        const EngineRun segmented = engineRun(1, 4, downloadUrl, md5, std::string());
        if (!segmented.ok) return 1;
        std::printf("segmented_MBps=%.1f bytes=%lld\n", static_cast<double>(segmented.bytes) / segmented.transferSeconds / 1e6,
                    static_cast<long long>(segmented.bytes));
        DownloadManager::instance().clearFinished();

        // The rate-limited package over one connection, then over four.
        for (const int connections : {1, 4}) {
            removeFiles(folder);
            const EngineRun run = engineRun(2, connections, throttledUrl, throttledMd5, std::string());
            if (!run.ok) return 1;
            std::printf("throttled%d_MBps=%.1f bytes=%lld\n", connections,
                        static_cast<double>(run.bytes) / run.transferSeconds / 1e6, static_cast<long long>(run.bytes));
            std::fflush(stdout);
            DownloadManager::instance().clearFinished();
        }

        // One connection: one engine run verifies the MD5 only, the next the SHA-256 only, each digest
        // timed on its own. The last run's file stays for the host tools.
        for (const bool withSha256 : {false, true}) {
            removeFiles(folder);
            const EngineRun run =
                engineRun(1, 1, downloadUrl, withSha256 ? std::string() : md5, withSha256 ? sha256 : std::string());
            if (!run.ok) return 1;
            std::printf("engine_MBps=%.1f %s=%.3f bytes=%lld\n",
                        static_cast<double>(run.bytes) / run.transferSeconds / 1e6,
                        withSha256 ? "verify_sha256_s" : "verify_s", run.verifySeconds, static_cast<long long>(run.bytes));
            std::fflush(stdout);
            DownloadManager::instance().clearFinished();
        }
    }
    return 0;
}
