// Times the digests the downloads are verified with: SHA-256 and MD5 over a buffer in memory (the portable
// rounds, the SHA extensions, the platform's CNG) and over a file with fileDigests (SHA-256 alone, MD5
// alone, both in one pass). Prints key=value lines for bench/digest, each side's best of RUNS.
//   bench_digest FILE RUNS [BUFFER_MIB]
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "bench_support.h"
#include "downloads/file_verification.h"
#include "downloads/md5.h"
#include "base/sha256.h"

namespace {

using bench::seconds;

// Processor time of all this process's threads, in seconds.
double processorSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto value = [](const FILETIME& t) {
        return static_cast<double>(uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime);
    };
    return (value(kernel) + value(user)) / 1e7;
}

struct Timing {
    double wall = 1e30;  // the fastest run, in seconds
    double processor = 0;  // the processor time that run took on all threads
};

// The fastest of `runs` runs of `work`; `result` keeps the last answer.
Timing bestOf(int runs, const std::function<std::string()>& work, std::string& result) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        const double cpuStarted = processorSeconds();
        const double started = seconds();
        result = work();
        const double wall = seconds() - started;
        if (wall < best.wall) best = Timing{wall, processorSeconds() - cpuStarted};
    }
    return best;
}

std::string hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string cngSha256(const std::vector<uint8_t>& data) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    uint8_t digest[32];
    std::string text;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()), 0)) &&
        BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, sizeof digest, 0)))
        text = hex(digest, sizeof digest);
    if (hash) ::BCryptDestroyHash(hash);
    if (algorithm) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return text;
}

template <typename Hash>
std::string hashOf(Hash&& hash, const std::vector<uint8_t>& data) {
    hash.update(data.data(), data.size());
    return hash.finishHex();
}

std::string fileDigestsOf(const std::wstring& path, bool wantMd5, bool wantSha256) {
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    FileDigests digests;
    if (!file || !fileDigests(file.get(), wantMd5, wantSha256, digests)) return "failed";
    return digests.md5 + (wantMd5 && wantSha256 ? " " : "") + digests.sha256;
}

int64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: bench_digest FILE RUNS [BUFFER_MIB]\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int runs = std::max(1, _wtoi(argv[2]));
    const size_t bufferBytes = static_cast<size_t>(std::max(1, argc > 3 ? _wtoi(argv[3]) : 256)) << 20;
    const int64_t bytes = fileSize(path);
    if (bytes < 0) {
        std::fwprintf(stderr, L"cannot read %ls\n", path.c_str());
        return 1;
    }

    std::vector<uint8_t> buffer(bufferBytes);
    uint32_t seed = 1;
    for (uint8_t& byte : buffer) byte = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    std::printf("buffer_bytes=%llu\nsha_extensions=%d\n", static_cast<unsigned long long>(bufferBytes),
                Sha256::usesShaExtensions() ? 1 : 0);
    std::string portable, accelerated, cng, md5;
    const auto memory = [&](const char* key, const std::function<std::string()>& work, std::string& result) {
        const Timing t = bestOf(runs, work, result);
        std::printf("mem_%s_MBps=%.1f\n", key, static_cast<double>(bufferBytes) / t.wall / 1e6);
        std::fflush(stdout);
    };
    memory("sha256_portable", [&] { return hashOf(Sha256(Sha256::Engine::Portable), buffer); }, portable);
    memory("sha256_fastest", [&] { return hashOf(Sha256(), buffer); }, accelerated);
    memory("sha256_cng", [&] { return cngSha256(buffer); }, cng);
    memory("md5", [&] { return hashOf(Md5(), buffer); }, md5);
    std::printf("mem_agree=%d\nfile_bytes=%lld\n", portable == accelerated && accelerated == cng ? 1 : 0,
                static_cast<long long>(bytes));

    std::string sha256Only, md5Only, both;
    const auto file = [&](const char* key, bool wantMd5, bool wantSha256, std::string& result) {
        const Timing t = bestOf(runs, [&] { return fileDigestsOf(path, wantMd5, wantSha256); }, result);
        std::printf("file_%s_s=%.3f\nfile_%s_cpu_s=%.3f\n", key, t.wall, key, t.processor);
        std::fflush(stdout);
    };
    file("sha256", false, true, sha256Only);
    file("md5", true, false, md5Only);
    file("both", true, true, both);
    std::printf("sha256=%s\nmd5=%s\nboth_agree=%d\n", sha256Only.c_str(), md5Only.c_str(),
                both == md5Only + " " + sha256Only ? 1 : 0);
    return 0;
}
