#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "base/window_messages.h"
#include "install/file_signature.h"
#include "install/installed_apps.h"
#include "install/installer_monitor.h"
#include "install/uninstall_snapshot.h"
#include "install/uninstaller.h"
#include "support/message_window.h"
#include "support/registry_support.h"
#include "support/test_support.h"

namespace {

using qbtest::kUninstallPath;
using qbtest::kWow64UninstallPath;

// The packages tests/installers/CMakeLists.txt builds, with the keys and names it gives them.
constexpr wchar_t kNothingOk[] = L"qbti-nothing-ok.exe";          // registers nothing, exit 0
constexpr wchar_t kNothingCancel[] = L"qbti-nothing-cancel.exe";  // registers nothing, exit 1602
constexpr wchar_t kHkcuInstaller[] = L"qbti-hkcu.exe";
constexpr wchar_t kHkcuKey[] = L"QbTestHkcu";
constexpr wchar_t kHkcuName[] = L"Qb \x6D4B\x8BD5 \x7528\x6237\x7EA7";
constexpr wchar_t kNsisPackage[] = L"qb-nsis-setup.exe";
constexpr wchar_t kNsisKey[] = L"QbTestNsis";
constexpr wchar_t kNsisName[] = L"Qb \x661F\x6CB3\x7B14\x8BB0";
constexpr wchar_t kMsiPackage[] = L"qb-ledger.msi";
constexpr wchar_t kMsiName[] = L"Qb Test Ledger";

constexpr wchar_t kSignedProgram[] = L"qb-signed-app.exe";      // signed by the test publisher
constexpr wchar_t kTamperedProgram[] = L"qb-tampered-app.exe";  // the same, one byte changed after signing

constexpr wchar_t kListedKey[] = L"QbTestAlreadyListed";
constexpr DWORD kNever = ULONG_MAX;

std::wstring package(const wchar_t* file) { return qbtest::exeFolder() + L"\\installers\\" + file; }

// Runs a command line to its end; the exit code, or -1 when it could not start.
long runAndWait(std::wstring commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    ::WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return static_cast<long>(code);
}

// Product codes (LM32\ keys) of the test MSI still registered.
std::vector<std::wstring> registeredMsiProducts() {
    std::vector<std::wstring> codes;
    for (const std::wstring& key : takeUninstallSnapshot().keys) {
        if (key.rfind(L"LM32\\", 0) != 0) continue;
        const std::wstring code = key.substr(5);
        if (qbtest::readDisplayName(HKEY_LOCAL_MACHINE, kWow64UninstallPath, code) == kMsiName) codes.push_back(code);
    }
    return codes;
}

void uninstallMsiProducts() {
    for (const std::wstring& code : registeredMsiProducts()) runAndWait(L"msiexec.exe /x " + code + L" /qn");
}

// The waits the monitor asked for, on a clock of their own that only those waits move.
class FakeClock {
public:
    void wait(DWORD ms) {
        std::lock_guard<std::mutex> lock(mutex_);
        waits_.push_back(ms);
        now_ += ms;
    }
    DWORD now() {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    std::vector<DWORD> waits() {
        std::lock_guard<std::mutex> lock(mutex_);
        return waits_;
    }

private:
    std::mutex mutex_;
    std::vector<DWORD> waits_;
    DWORD now_ = 0;
};

class InstallerMonitorTest : public ::testing::Test {
protected:
    // The hooks hold their own references, so a monitor thread that outlives a failed test is harmless.
    InstallerMonitorHooks recordingHooks() {
        InstallerMonitorHooks hooks;
        hooks.wait = [clock = clock_](DWORD ms) { clock->wait(ms); };
        return hooks;
    }

    // Starts the monitor thread for the package and waits for its one verdict (posted to the window as
    // a refresh), closing any message box the shell shows from that thread as a user would. False when
    // no verdict came within a minute.
    bool runMonitor(const std::wstring& appName, const std::wstring& path, InstallerMonitorHooks hooks,
                    InstallVerdict& verdict, const std::wstring& pinnedPublisher = std::wstring(),
                    std::function<bool(HANDLE)> sameBytes = nullptr) {
        auto heard = std::make_shared<std::atomic<InstallVerdict>>(InstallVerdict::NotInstalled);
        InstallerRun run;
        run.appName = appName;
        run.pinnedPublisher = pinnedPublisher;
        run.sameBytes = std::move(sameBytes);
        run.packagePath = path;
        run.hooks = std::move(hooks);
        run.finished = [heard, window = window_.handle()](const InstallerResult& result) {
            heard->store(result.verdict);
            ::PostMessageW(window, WM_QB_REFRESH, 0, 0);
        };
        if (!startInstallerThread(std::move(run))) return false;
        WPARAM wParam = 1;
        LPARAM lParam = 1;
        const auto refreshed = [&] { return window_.takePosted(WM_QB_REFRESH, &wParam, &lParam); };
        if (!qbtest::waitUntil(refreshed, 60000, closeMessageBoxes)) return false;
        verdict = heard->load();
        EXPECT_EQ(wParam, 0u);
        EXPECT_EQ(lParam, 0);
        return !window_.waitFor(WM_QB_REFRESH, 200);  // and no second one
    }

    static void closeMessageBoxes() {
        ::EnumWindows(
            [](HWND w, LPARAM) -> BOOL {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(w, &pid);
                wchar_t cls[16] = {};
                ::GetClassNameW(w, cls, 16);
                if (pid == ::GetCurrentProcessId() && std::wstring(cls) == L"#32770")
                    ::PostMessageW(w, WM_COMMAND, IDOK, 0);
                return TRUE;
            },
            0);
    }

    qbtest::MessageWindow window_;
    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
};

// A real installer process; the registration appears (or not) on the monitor's own clock, so the
// re-check schedule is exact without sleeping through it.
TEST_F(InstallerMonitorTest, RechecksEveryTwoSecondsUntilTheRegistrationAppears) {
    struct Case {
        const wchar_t* installer;
        DWORD registerAtMs;  // on the monitor's clock, 0 = right after the installer exits
        InstallVerdict verdict;
        size_t waits;
    };
    const Case cases[] = {
        {kNothingOk, 5000, InstallVerdict::Installed, 3},
        {kNothingOk, 0, InstallVerdict::Installed, 0},
        {kNothingOk, 18000, InstallVerdict::Installed, 9},
        {kNothingOk, 18001, InstallVerdict::NotInstalled, 9},
        {kNothingOk, kNever, InstallVerdict::NotInstalled, 9},
        {kNothingCancel, 4000, InstallVerdict::Installed, 2},
        {kNothingCancel, 4001, InstallVerdict::Cancelled, 2},
        {kNothingCancel, kNever, InstallVerdict::Cancelled, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.installer << " registering at " << c.registerAtMs);
        clock_ = std::make_shared<FakeClock>();
        auto tree = std::make_shared<qbtest::ScratchRegistry>();
        auto snapshots = std::make_shared<int>(0);
        InstallerMonitorHooks hooks = recordingHooks();
        hooks.takeSnapshot = [tree, snapshots, clock = clock_, registerAt = c.registerAtMs] {
            // Only snapshots after the first one can see the installer's registration.
            if ((*snapshots)++ > 0 && clock->now() >= registerAt)
                qbtest::writeUninstallEntry(tree->user(), kUninstallPath, L"QbLate", L"Qb Late");
            return takeUninstallSnapshotUnder({tree->machine(), tree->user()});
        };
        InstallVerdict verdict{};
        ASSERT_TRUE(runMonitor(L"Qb Late", package(c.installer), std::move(hooks), verdict));
        EXPECT_EQ(verdict, c.verdict);
        EXPECT_EQ(clock_->waits(), std::vector<DWORD>(c.waits, 2000));
    }
}

TEST_F(InstallerMonitorTest, AlreadyListedAppIsInstalledWithoutRechecks) {
    ASSERT_TRUE(qbtest::writeUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kListedKey, L"Qb Listed App 2.0"));
    InstallVerdict verdict{};
    EXPECT_TRUE(runMonitor(L"qb listed app", package(kNothingCancel), recordingHooks(), verdict));
    EXPECT_EQ(verdict, InstallVerdict::Installed);
    EXPECT_TRUE(clock_->waits().empty());
    EXPECT_TRUE(qbtest::deleteUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kListedKey));
}

TEST(Signatures, WinVerifyTrustTellsSignedUnsignedAndChanged) {
    const SignatureCheck signedProgram = checkSignature(package(kSignedProgram));
    EXPECT_EQ(signedProgram.state, SignatureValid);
    EXPECT_EQ(signedProgram.publisher, L"Qb Test Publisher");
    EXPECT_EQ(checkSignature(package(kTamperedProgram)).state, SignatureBroken);
    EXPECT_EQ(checkSignature(package(kHkcuInstaller)).state, SignatureUnsigned);
    EXPECT_TRUE(checkSignature(package(kHkcuInstaller)).publisher.empty());
    EXPECT_EQ(checkSignature(package(L"missing.exe")).state, SignatureUnsigned);

    const std::pair<LONG, SignatureState> answers[] = {
        {ERROR_SUCCESS, SignatureValid},
        {TRUST_E_NOSIGNATURE, SignatureUnsigned},
        {TRUST_E_SUBJECT_FORM_UNKNOWN, SignatureUnsigned},
        {ERROR_INVALID_PARAMETER, SignatureUnsigned},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), SignatureUnsigned},
        {TRUST_E_BAD_DIGEST, SignatureBroken},
        {TRUST_E_EXPLICIT_DISTRUST, SignatureBroken},
        {CERT_E_UNTRUSTEDROOT, SignatureUntrusted},
        {CERT_E_EXPIRED, SignatureUntrusted},
    };
    for (const auto& a : answers) EXPECT_EQ(signatureStateFor(a.first), a.second) << std::hex << a.first;
}

TEST(Signatures, APinnedPublisherNeedsAnIntactSignatureOfThatNameFromATrustedRoot) {
    using V = PublisherVerdict;
    const wchar_t* pin = L"Qb Test Publisher";
    const struct { const wchar_t* expected; SignatureState state; DWORD chainErrors; const wchar_t* signer; V verdict; } cases[] = {
        {L"", SignatureUnsigned, kChainNotBuilt, L"", V::NotPinned}, {pin, SignatureValid, 0, pin, V::Matches},
        {pin, SignatureValid, CERT_TRUST_IS_UNTRUSTED_ROOT, pin, V::Refused},  // a self-signed copy of the name
        {pin, SignatureValid, kChainNotBuilt, pin, V::Refused}, {pin, SignatureValid, 0, L"qb test publisher", V::Refused},
        {pin, SignatureUnsigned, kChainNotBuilt, L"", V::Refused}, {pin, SignatureBroken, 0, pin, V::Refused},
        {pin, SignatureUntrusted, 0, pin, V::Refused},
    };
    for (const auto& c : cases)
        EXPECT_EQ(publisherVerdict(c.expected, c.state, c.chainErrors, c.signer), c.verdict) << c.signer << c.chainErrors;
}

// The package is checked again right before it runs: one changed since its download never starts.
TEST_F(InstallerMonitorTest, APackageWhoseSignatureBrokeIsNotStarted) {
    auto tree = std::make_shared<qbtest::ScratchRegistry>();
    InstallerMonitorHooks hooks = recordingHooks();
    auto snapshots = std::make_shared<int>(0);
    hooks.takeSnapshot = [tree, snapshots] {
        ++*snapshots;
        return takeUninstallSnapshotUnder({tree->machine(), tree->user()});
    };
    InstallVerdict verdict{};
    ASSERT_TRUE(runMonitor(L"Qb Changed", package(kTamperedProgram), hooks, verdict));
    EXPECT_EQ(verdict, InstallVerdict::SignatureBroken);
    ASSERT_TRUE(runMonitor(L"Qb Copied", package(kSignedProgram), hooks, verdict, L"Qb Test Publisher"));
    EXPECT_EQ(verdict, InstallVerdict::PublisherRefused);  // self-signed: the name alone does not pass
    // Bytes changed since their download was verified: held against writers from the first check on.
    const std::wstring swapped = package(kHkcuInstaller);
    bool writable = true;
    ASSERT_TRUE(runMonitor(L"Qb Swapped", swapped, hooks, verdict, L"", [&](HANDLE) {
        writable = qb::UniqueHandle(::CreateFileW(swapped.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)).valid();
        return false;
    }));
    EXPECT_EQ(verdict, InstallVerdict::DigestMismatch);
    EXPECT_FALSE(writable);
    EXPECT_EQ(*snapshots, 0);  // nothing was run, so nothing was compared
}

TEST_F(InstallerMonitorTest, MissingPackageLeavesTheTaskCompleted) {
    const std::wstring dir = qbtest::makeScratchDir(L"monitor");
    InstallVerdict verdict{};
    EXPECT_TRUE(runMonitor(L"Qb Gone", dir + L"\\gone-setup.exe", recordingHooks(), verdict));
    EXPECT_EQ(verdict, InstallVerdict::NotInstalled);
    EXPECT_TRUE(clock_->waits().empty());
    qbtest::removeTree(dir);
}

TEST_F(InstallerMonitorTest, UserOnlyRegistrationIsInstalled) {
    qbtest::deleteUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kHkcuKey);
    InstallVerdict verdict{};
    EXPECT_TRUE(runMonitor(L"Qb Unrelated Name", package(kHkcuInstaller), recordingHooks(), verdict));
    EXPECT_EQ(verdict, InstallVerdict::Installed);
    EXPECT_TRUE(clock_->waits().empty());
    EXPECT_EQ(qbtest::readDisplayName(HKEY_CURRENT_USER, kUninstallPath, kHkcuKey), kHkcuName);
    EXPECT_FALSE(qbtest::uninstallEntryExists(HKEY_LOCAL_MACHINE, kUninstallPath, kHkcuKey, KEY_WOW64_64KEY));
    EXPECT_FALSE(qbtest::uninstallEntryExists(HKEY_LOCAL_MACHINE, kUninstallPath, kHkcuKey, KEY_WOW64_32KEY));
    EXPECT_TRUE(qbtest::deleteUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kHkcuKey));
}

TEST_F(InstallerMonitorTest, NsisPackageInstallsForTheCurrentUser) {
    if (!qbtest::fileExists(package(kNsisPackage))) GTEST_SKIP() << "the NSIS package was not built (makensis)";
    const std::wstring installDir = qbtest::environment(L"LOCALAPPDATA") + L"\\Programs\\" + kNsisKey;
    qbtest::deleteUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kNsisKey);
    qbtest::removeTree(installDir);

    InstallVerdict verdict{};
    EXPECT_TRUE(runMonitor(kNsisName, package(kNsisPackage), recordingHooks(), verdict));
    EXPECT_EQ(verdict, InstallVerdict::Installed);
    EXPECT_TRUE(clock_->waits().empty());
    EXPECT_EQ(qbtest::readDisplayName(HKEY_CURRENT_USER, kUninstallPath, kNsisKey), kNsisName);
    EXPECT_TRUE(qbtest::fileExists(installDir + L"\\" + kNsisKey + L".exe"));

    EXPECT_TRUE(qbtest::deleteUninstallEntry(HKEY_CURRENT_USER, kUninstallPath, kNsisKey));
    qbtest::removeTree(installDir);
}

TEST_F(InstallerMonitorTest, MsiPackageRegistersInThe32BitView) {
    if (!qbtest::fileExists(package(kMsiPackage))) GTEST_SKIP() << "the MSI package was not built (wixl)";
    uninstallMsiProducts();
    ASSERT_TRUE(registeredMsiProducts().empty());
    const UninstallSnapshot before = takeUninstallSnapshot();

    InstallVerdict verdict{};
    EXPECT_TRUE(runMonitor(kMsiName, package(kMsiPackage), recordingHooks(), verdict));
    EXPECT_EQ(verdict, InstallVerdict::Installed);
    EXPECT_TRUE(clock_->waits().empty());
    std::vector<std::wstring> added;
    for (const std::wstring& key : takeUninstallSnapshot().keys) {
        if (!before.keys.count(key)) added.push_back(key);
    }
    const std::vector<std::wstring> products = registeredMsiProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(added, std::vector<std::wstring>{L"LM32\\" + products[0]});

    // Removed as the Windows list of apps removes it: through msiexec, which returns once the product is
    // gone. (The package asks for no repair dialog, so Windows Installer registers /X{code} itself.)
    std::vector<InstalledApp> installed = readInstalledApps();
    const InstalledApp* ledger = findInstalledApp(kMsiName, installed);
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(ledger->uninstallString.rfind(L"MsiExec.exe /X{", 0), 0u) << ledger->uninstallString;
    UninstallerHooks hooks;
    hooks.wait = [clock = clock_](DWORD ms) { clock->wait(ms); };
    ASSERT_TRUE(startUninstall(window_.handle(), 77, *ledger, hooks));
    WPARAM wParam = 0;
    ASSERT_TRUE(window_.waitFor(WM_QB_UNINSTALL_FINISHED, 60000, &wParam));
    EXPECT_EQ(unpackIdAndGeneration(wParam).id, 77);
    EXPECT_EQ(takeUninstallOutcome(77), UninstallOutcome::Removed);
    EXPECT_TRUE(clock_->waits().empty());
    EXPECT_TRUE(registeredMsiProducts().empty());
    uninstallMsiProducts();
}

// After the uninstaller's process: asked at once, then every 2 s, for a minute after a clean exit
// (an uninstaller that hands over to a copy of itself ends at once) and 4 s after a failed one.
TEST(UninstallRechecks, AskAtOnceThenEveryTwoSecondsForAsLongAsTheExitAllows) {
    constexpr int kNeverGone = INT_MAX;
    struct Case {
        DWORD exitCode;
        int stillThereFor;  // answers "still registered" before the first "gone"
        bool removed;
        size_t waits;
    };
    const Case cases[] = {
        {0, 0, true, 0},    {0, 2, true, 2},  // the copy finished 3 to 4 s after the first process
        {0, 30, true, 30},  {0, 31, false, 30}, {0, kNeverGone, false, 30},
        {1602, 2, true, 2}, {1602, 3, false, 2}, {1, kNeverGone, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "exit " << c.exitCode << ", still there for " << c.stillThereFor);
        FakeClock clock;
        int asked = 0;
        UninstallerHooks hooks;
        hooks.wait = [&clock](DWORD ms) { clock.wait(ms); };
        hooks.stillRegistered = [&asked, &c] { return asked++ < c.stillThereFor; };
        EXPECT_EQ(awaitUnregistration(c.exitCode, hooks), c.removed);
        EXPECT_EQ(clock.waits(), std::vector<DWORD>(c.waits, 2000));
        EXPECT_EQ(asked, static_cast<int>(c.waits) + 1);
    }
}

TEST(UninstallCommands, TheUninstallStringThenTheQuietOneWithWindowsInstallerRemoving) {
    struct Case {
        const wchar_t* uninstall;
        const wchar_t* quiet;
        std::optional<UninstallCommand> expected;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Qb\\uninstall.exe\"", L"\"C:\\Qb\\uninstall.exe\" /S",
         UninstallCommand{L"C:\\Program Files\\Qb\\uninstall.exe", L""}},
        {L"", L"\"C:\\Qb\\uninstall.exe\" /S", UninstallCommand{L"C:\\Qb\\uninstall.exe", L"/S"}},
        {L"MsiExec.exe /I{1B2C}", L"", UninstallCommand{L"MsiExec.exe", L"/X{1B2C}"}},
        {L"\"unterminated", L"", std::nullopt},
        {L"", L"", std::nullopt},
    };
    for (const Case& c : cases) {
        InstalledApp registration;
        registration.uninstallString = c.uninstall;
        registration.quietUninstallString = c.quiet;
        const std::optional<UninstallCommand> command = uninstallCommandOf(registration);
        ASSERT_EQ(command.has_value(), c.expected.has_value()) << c.uninstall;
        if (!command) continue;
        EXPECT_EQ(command->program, c.expected->program);
        EXPECT_EQ(command->parameters, c.expected->parameters);
    }
}

// A real uninstaller process: its exit code chooses the patience; a command the shell cannot open is
// over at once, and a registration without any command never starts anything.
TEST_F(InstallerMonitorTest, UninstallersAreWaitedForAndTheirRegistrationAskedAbout) {
    struct Case {
        std::wstring uninstallString;
        int stillThereFor;
        UninstallOutcome outcome;
        size_t waits;
    };
    const Case cases[] = {
        {L"\"" + package(kNothingOk) + L"\"", 1, UninstallOutcome::Removed, 1},
        {L"\"" + package(kNothingCancel) + L"\" /x", INT_MAX, UninstallOutcome::StillRegistered, 2},
        {L"\"" + qbtest::exeFolder() + L"\\no-such-uninstaller.exe\"", INT_MAX, UninstallOutcome::NotStarted, 0},
        {L"", INT_MAX, UninstallOutcome::NotStarted, 0},
    };
    int32_t appId = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.uninstallString);
        clock_ = std::make_shared<FakeClock>();
        auto asked = std::make_shared<std::atomic<int>>(0);
        UninstallerHooks hooks;
        hooks.wait = [clock = clock_](DWORD ms) { clock->wait(ms); };
        hooks.stillRegistered = [asked, n = c.stillThereFor] { return (*asked)++ < n; };
        InstalledApp registration;
        registration.uninstallString = c.uninstallString;
        ASSERT_TRUE(startUninstall(window_.handle(), ++appId, registration, hooks));
        WPARAM wParam = 0;
        ASSERT_TRUE(window_.waitFor(WM_QB_UNINSTALL_FINISHED, 60000, &wParam));
        EXPECT_EQ(unpackIdAndGeneration(wParam).id, appId);
        EXPECT_EQ(takeUninstallOutcome(appId), c.outcome);
        EXPECT_EQ(takeUninstallOutcome(appId), std::nullopt) << "an outcome is taken once";
        EXPECT_EQ(clock_->waits(), std::vector<DWORD>(c.waits, 2000));
    }
}

}  // namespace
