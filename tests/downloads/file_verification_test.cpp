#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "downloads/download_directory.h"
#include "downloads/file_verification.h"
#include "downloads/mark_of_web.h"
#include "downloads/md5.h"
#include "base/sha256.h"
#include "support/test_support.h"

namespace {

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// An independent digest for cross-checking: the platform's CryptoAPI (CALG_MD5 or CALG_SHA_256).
std::string cryptoApiDigest(ALG_ID algorithm, const std::string& data) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        ::CryptCreateHash(provider, algorithm, 0, 0, &hash) &&
        ::CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0)) {
        BYTE digest[32];
        DWORD size = sizeof digest;
        if (::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
            char text[3];
            for (DWORD i = 0; i < size; ++i) {
                std::snprintf(text, sizeof text, "%02x", digest[i]);
                hex += text;
            }
        }
    }
    if (hash) ::CryptDestroyHash(hash);
    if (provider) ::CryptReleaseContext(provider, 0);
    return hex;
}

std::string cryptoApiMd5(const std::string& data) { return cryptoApiDigest(CALG_MD5, data); }
std::string cryptoApiSha256(const std::string& data) { return cryptoApiDigest(CALG_SHA_256, data); }

std::string pseudoRandom(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

class FileVerification : public ::testing::Test {
protected:
    void SetUp() override { dir_ = qbtest::makeScratchDir(L"verify"); }
    void TearDown() override { qbtest::removeTree(dir_); }
    std::wstring file(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = dir_ + L"\\" + name;
        EXPECT_TRUE(qbtest::writeFileBytes(path, bytes));
        return path;
    }
    std::wstring dir_;
};

TEST(Md5, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        Md5 md5;
        md5.update(c.first.data(), c.first.size());
        EXPECT_EQ(md5.finishHex(), c.second) << c.first;
    }
}

TEST(Md5, PiecewiseUpdatesMatchCryptoApiAcrossBlockBoundaries) {
    const std::string data = pseudoRandom(300000, 7);
    for (size_t size : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 4097u, 300000u}) {
        const std::string part = data.substr(0, size);
        for (size_t step : {1u, 7u, 64u, 1000u}) {
            Md5 md5;
            for (size_t at = 0; at < part.size(); at += step) md5.update(part.data() + at, std::min(step, part.size() - at));
            EXPECT_EQ(md5.finishHex(), cryptoApiMd5(part)) << size << " in steps of " << step;
        }
    }
}

std::string sha256Of(Sha256::Engine engine, const std::string& data) {
    Sha256 sha256(engine);
    sha256.update(data.data(), data.size());
    return sha256.finishHex();
}

TEST(Sha256, KnownDigestsOnBothEngines) {
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 448 bits
    const std::string threeBlocks =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {twoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {threeBlocks, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (Sha256::Engine engine : {Sha256::Engine::Fastest, Sha256::Engine::Portable}) {
        Sha256 sha256(engine);  // reset between the cases, not rebuilt
        for (const auto& c : cases) {
            sha256.update(c.first.data(), c.first.size());
            EXPECT_EQ(sha256.finishHex(), c.second) << c.first.size() << " bytes, engine " << static_cast<int>(engine);
            sha256.reset();
        }
    }
}

// Sizes around the padding boundaries (55/56 and 63/64 bytes mod 64) and odd update() pieces, both
// engines against the portable rounds in one go, which CryptoAPI cross-checks.
TEST(Sha256, PiecewiseUpdatesMatchThePortableRounds) {
    std::printf("SHA extensions in use: %s\n", Sha256::usesShaExtensions() ? "yes" : "no");
    const std::string data = pseudoRandom(300000, 7);
    for (size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 129u, 4097u, 300000u}) {
        const std::string part = data.substr(0, size);
        const std::string expected = sha256Of(Sha256::Engine::Portable, part);
        EXPECT_EQ(expected, cryptoApiSha256(part)) << size;
        for (size_t step : {1u, 3u, 7u, 63u, 64u, 65u, 1000u, 4099u}) {
            for (Sha256::Engine engine : {Sha256::Engine::Fastest, Sha256::Engine::Portable}) {
                Sha256 sha256(engine);
                for (size_t at = 0; at < part.size(); at += step) sha256.update(part.data() + at, std::min(step, part.size() - at));
                EXPECT_EQ(sha256.finishHex(), expected) << size << " in steps of " << step << ", engine " << static_cast<int>(engine);
            }
        }
    }
}

TEST_F(FileVerification, FileDigestsAcrossChunkBoundaries) {
    const std::string data = pseudoRandom((4 << 20) + 100, 11);
    for (size_t size : {size_t{0}, size_t{1}, size_t{(1 << 20) - 1}, size_t{1 << 20}, size_t{(1 << 20) + 1},
                        size_t{4 << 20}, size_t{(4 << 20) + 100}}) {
        const std::string part = data.substr(0, size);
        const std::wstring path = file(L"f" + std::to_wstring(size), part);
        std::string md5 = "prefix:", sha256 = "prefix:";
        ASSERT_TRUE(fileMd5(path, md5)) << size;
        ASSERT_TRUE(fileSha256(path, sha256)) << size;
        EXPECT_EQ(md5, "prefix:" + cryptoApiMd5(part)) << size;
        EXPECT_EQ(sha256, "prefix:" + cryptoApiSha256(part)) << size;

        qb::UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        FileDigests both;
        ASSERT_TRUE(fileDigests(handle.get(), true, true, both)) << size;
        EXPECT_EQ(both.md5, cryptoApiMd5(part)) << size;
        EXPECT_EQ(both.sha256, cryptoApiSha256(part)) << size;
    }
}

// A file of several chunks whose digests Python's hashlib computed, read through one handle whatever its
// file pointer says.
TEST_F(FileVerification, FileDigestsReadFromTheStartThroughAHandle) {
    const std::wstring path = file(L"large.bin", pseudoRandom((6 << 20) + 5, 23));
    const char* md5 = "74858db61edc949995341dbb07fd86b3";
    const char* sha256 = "b2a1230325531be51933b1ba6c458f055c2cc183ea282ab059683287b896ff33";
    qb::UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle.valid());
    const std::pair<bool, bool> wanted[] = {{true, true}, {true, false}, {false, true}, {true, true}};
    LONGLONG pointer = 3;
    for (const auto& want : wanted) {
        LARGE_INTEGER move;
        move.QuadPart = pointer;
        ASSERT_TRUE(::SetFilePointerEx(handle.get(), move, nullptr, FILE_BEGIN));
        pointer *= 1000;  // 3, 3000, 3 MB, then past the end
        FileDigests digests;
        ASSERT_TRUE(fileDigests(handle.get(), want.first, want.second, digests));
        EXPECT_EQ(digests.md5, want.first ? md5 : "") << want.first << want.second;
        EXPECT_EQ(digests.sha256, want.second ? sha256 : "") << want.first << want.second;
    }
}

TEST_F(FileVerification, DigestOfAFileThatCannotBeReadFails) {
    std::string digest = "kept";
    EXPECT_FALSE(fileMd5(dir_ + L"\\missing.bin", digest));
    EXPECT_FALSE(fileSha256(dir_ + L"\\missing.bin", digest));
    EXPECT_FALSE(fileMd5(dir_, digest));  // a folder
    EXPECT_FALSE(fileSha256(dir_, digest));
    const std::wstring path = file(L"locked.bin", pseudoRandom(3 << 20, 5));
    qb::UniqueHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_FALSE(fileMd5(path, digest));
    EXPECT_FALSE(fileSha256(path, digest));
    EXPECT_EQ(digest, "kept");

    // A handle without read access: every combination fails and leaves no digest behind.
    for (const auto& want : {std::make_pair(true, true), std::make_pair(true, false), std::make_pair(false, true)}) {
        FileDigests digests{"old", "old"};
        EXPECT_FALSE(fileDigests(writer.get(), want.first, want.second, digests)) << want.first << want.second;
        EXPECT_EQ(digests.md5, "");
        EXPECT_EQ(digests.sha256, "");
    }
}

TEST_F(FileVerification, InstallerSignatures) {
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {"M", false},
        {"MZ", true},
        {"MA" + std::string(10, 'x'), false},
        {"mz", false},
        {"ZM", false},
        {bytesOf({0xD0, 0xCF, 0x11, 0xE0}), true},
        {bytesOf({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0}), true},
        {bytesOf({0xD0, 0xCF, 0x11}), false},
        {bytesOf({0xD0, 0xCF, 0x11, 0xE1}), false},
        {bytesOf({0x50, 0x4B, 0x03, 0x04}), false},
    };
    int n = 0;
    for (const auto& c : cases) EXPECT_EQ(isInstallerFile(file(L"i" + std::to_wstring(n++), c.first)), c.second) << n;
    EXPECT_FALSE(isInstallerFile(dir_ + L"\\missing.exe"));
}

TEST_F(FileVerification, ArchiveSignatures) {
    const std::pair<std::string, std::wstring> cases[] = {
        {bytesOf({0x50, 0x4B, 0x03, 0x04}), L"zip"},
        {bytesOf({0x50, 0x4B, 0x03}), L""},
        {bytesOf({0x50, 0x4B, 0x05, 0x06, 0, 0}), L""},
        {bytesOf({0x52, 0x61, 0x72, 0x21, 0x1A}), L""},
        {bytesOf({0x52, 0x61, 0x72, 0x21, 0x1A, 0x07}), L"rar"},
        {bytesOf({0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00}), L"rar"},
        {bytesOf({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04}), L"7z"},
        {bytesOf({0x37, 0x7A, 0xBC, 0xAF, 0x27}), L""},
        {"MZ" + std::string(10, '\0'), L""},
        {"", L""},
    };
    int n = 0;
    for (const auto& c : cases) EXPECT_EQ(archiveKind(file(L"a" + std::to_wstring(n++), c.first)), c.second) << n;
    EXPECT_EQ(archiveKind(dir_ + L"\\missing.zip"), L"");
}

// Records what the attachment services are asked, in order.
class RecordingAttachments : public IAttachmentExecute {
public:
    std::vector<std::wstring> calls;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetClientTitle(LPCWSTR) override { return note(L"title"); }
    HRESULT STDMETHODCALLTYPE SetClientGuid(REFGUID) override { return note(L"guid"); }
    HRESULT STDMETHODCALLTYPE SetLocalPath(LPCWSTR path) override { return note(L"path " + std::wstring(path)); }
    HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR) override { return note(L"name"); }
    HRESULT STDMETHODCALLTYPE SetSource(LPCWSTR url) override { return note(L"source " + std::wstring(url)); }
    HRESULT STDMETHODCALLTYPE SetReferrer(LPCWSTR) override { return note(L"referrer"); }
    HRESULT STDMETHODCALLTYPE CheckPolicy() override { return note(L"policy"); }
    HRESULT STDMETHODCALLTYPE Prompt(HWND, ATTACHMENT_PROMPT, ATTACHMENT_ACTION*) override { return note(L"prompt"); }
    HRESULT STDMETHODCALLTYPE Save() override { return note(L"save"); }
    HRESULT STDMETHODCALLTYPE Execute(HWND, LPCWSTR, HANDLE*) override { return note(L"execute"); }
    HRESULT STDMETHODCALLTYPE SaveWithUI(HWND) override { return note(L"save with ui"); }
    HRESULT STDMETHODCALLTYPE ClearClientState() override { return note(L"clear"); }

private:
    HRESULT note(const std::wstring& call) {
        calls.push_back(call);
        return S_OK;
    }
};

TEST_F(FileVerification, FinishedPackagesAreMarkedTheDocumentedWayAndNoStrayFileAppears) {
    const std::wstring path = file(L"setup.exe", "MZ");
    RecordingAttachments attachments;
    EXPECT_TRUE(markDownloadedFromInternet(attachments, path, L"https://example.test/api/client/download/5"));
    EXPECT_EQ(attachments.calls, (std::vector<std::wstring>{L"guid", L"path " + path,
                                                            L"source https://example.test/api/client/download/5",
                                                            L"save"}));
    // The platform's own service, where there is one; where there is none (Wine) nothing is written.
    markDownloadedFromInternet(path, L"https://example.test/api/client/download/5");
    EXPECT_EQ(qbtest::filesIn(dir_), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_EQ(qbtest::readFileBytes(path), "MZ");
}

TEST_F(FileVerification, DownloadDirectoryOverride) {
    const std::wstring chosen = dir_ + L"\\chosen";
    setDownloadDirOverride(chosen + L"\\\\\\");
    EXPECT_EQ(downloadDirectory(), chosen);
    EXPECT_TRUE(qbtest::fileExists(chosen));
    ::RemoveDirectoryW(chosen.c_str());
    EXPECT_EQ(shownDownloadDirectory(), chosen);  // as resolved: shown without making it again
    EXPECT_FALSE(qbtest::fileExists(chosen));
    setDownloadDirOverride(chosen);
    EXPECT_EQ(shownDownloadDirectory(), chosen);  // not resolved yet: named, still not made
    EXPECT_FALSE(qbtest::fileExists(chosen));

    setDownloadDirOverride(L"");
    EXPECT_EQ(shownDownloadDirectory().substr(shownDownloadDirectory().size() - 9), L"\\Quillbox");
    const std::wstring standard = downloadDirectory();
    EXPECT_EQ(standard.substr(standard.size() - 9), L"\\Quillbox");
    EXPECT_TRUE(qbtest::fileExists(standard));
}

}  // namespace
