#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "install/installer_type.h"
#include "support/test_support.h"

namespace {

using T = InstallerType;

std::wstring package(const wchar_t* file) { return qbtest::exeFolder() + L"\\installers\\" + file; }

void put32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

struct SectionSpec {
    const char* name;
    std::string data;
};

// A minimal 64-bit program image: DOS header, PE header, section table, each section's data at a
// 512-byte boundary, then the appended data.
std::string peImage(const std::vector<SectionSpec>& sections, const std::string& overlay) {
    constexpr size_t kPe = 0x40, kOptional = 0xF0;
    std::string image(1024, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, kPe);
    std::memcpy(&image[kPe], "PE\0\0", 4);
    image[kPe + 4] = static_cast<char>(0x64);
    image[kPe + 5] = static_cast<char>(0x86);
    image[kPe + 6] = static_cast<char>(sections.size());
    image[kPe + 20] = static_cast<char>(kOptional);
    size_t entry = kPe + 24 + kOptional;
    for (const SectionSpec& section : sections) {
        const size_t start = image.size();
        std::string data = section.data;
        data.resize((data.size() + 511) / 512 * 512, '\0');
        std::strncpy(&image[entry], section.name, 8);
        put32(image, entry + 16, static_cast<uint32_t>(data.size()));
        put32(image, entry + 20, static_cast<uint32_t>(start));
        image += data;
        entry += 40;
    }
    return image + overlay;
}

InstallerType typeOf(const std::string& bytes) {
    return detectInstallerType([&bytes](uint64_t offset, size_t length) {
        return offset >= bytes.size() ? std::string() : bytes.substr(static_cast<size_t>(offset), length);
    });
}

const std::string kNsisHeader = std::string("\0\0\0\0\xEF\xBE\xAD\xDE" "NullsoftInst", 20);
const std::string kText = std::string(512, 'c');

TEST(InstallerType, TellsTheKindFromTheBytesAlone) {
    const struct {
        const wchar_t* file;
        InstallerType type;
    } files[] = {
        {L"qb-dawn-1.0-setup.exe", T::Nsis},   // makensis, with wizard pages
        {L"qb-nsis-setup.exe", T::Nsis},       // makensis, silent
        {L"qb-spruce-1.0.msi", T::Msi},        // wixl
        {L"qbti-hkcu.exe", T::Unknown},        // a plain program with data appended
        {L"qb-signed-app.exe", T::Unknown},    // a plain program with a signature appended
        {L"missing-setup.exe", T::Unknown},
    };
    for (const auto& f : files) EXPECT_EQ(detectInstallerTypeOfFile(package(f.file)), f.type) << f.file;

    const std::string innoTable = std::string("rDlPtS\xCD\xE6\xD7\x7B\x0B\x2A", 12);
    const struct {
        const char* what;
        std::string bytes;
        InstallerType type;
    } images[] = {
        {"Inno setup data appended", peImage({{".text", kText}}, "Inno Setup Setup Data (6.2.2)"), T::Inno},
        {"Inno offset table in the resources", peImage({{".text", kText}, {".rsrc", "xx" + innoTable}}, ""), T::Inno},
        {"Inno offset table outside the resources", peImage({{".data", innoTable}}, ""), T::Unknown},
        {"Burn bundle", peImage({{".text", kText}, {".wixburn", "bundle"}}, "cab"), T::Burn},
        {"NSIS header at the appended data", peImage({{".text", kText}}, kNsisHeader), T::Nsis},
        {"NSIS header one boundary later", peImage({{".text", kText}}, std::string(512, 'x') + kNsisHeader), T::Nsis},
        {"NSIS signature off a boundary", peImage({{".text", kText}}, std::string(100, 'x') + kNsisHeader), T::Unknown},
        {"NSIS signature inside a section", peImage({{".text", kNsisHeader}}, ""), T::Unknown},
        {"compound document", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + "rest", T::Msi},
        {"compound document cut short", std::string("\xD0\xCF\x11\xE0", 4), T::Unknown},
        {"empty", "", T::Unknown},
        {"MZ alone", "MZ", T::Unknown},
        {"zip", "PK\x03\x04" + kNsisHeader, T::Unknown},
    };
    for (const auto& image : images) EXPECT_EQ(typeOf(image.bytes), image.type) << image.what;

    std::string farHeader = peImage({{".text", kText}}, "");
    put32(farHeader, 0x3C, 0x7FFFFFF0);  // a PE header offset past the file
    EXPECT_EQ(typeOf(farHeader), T::Unknown);
    std::string cutShort = "MZ" + std::string(1022, '\0');
    put32(cutShort, 0x3C, 0x800);  // a header offset past the end of a short file
    EXPECT_EQ(typeOf(cutShort), T::Unknown);
}

TEST(InstallerType, SilentLaunchRunsOnlyTheVerifiedFile) {
    const std::wstring file = L"C:\\Down\\a b.msi";
    const std::wstring system = L"C:\\windows\\system32";
    const struct {
        InstallerType type;
        std::optional<std::wstring> args;
        const wchar_t* program;  // null: no silent launch
        const wchar_t* parameters;
    } cases[] = {
        {T::Nsis, std::nullopt, L"C:\\Down\\a b.msi", L"/S"},
        {T::Inno, std::nullopt, L"C:\\Down\\a b.msi", L"/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP-"},
        {T::Burn, std::nullopt, L"C:\\Down\\a b.msi", L"/quiet /norestart"},
        {T::Msi, std::nullopt, L"C:\\windows\\system32\\msiexec.exe", L"/i \"C:\\Down\\a b.msi\" /qn /norestart"},
        {T::Msi, L"/qn ALLUSERS=2", L"C:\\windows\\system32\\msiexec.exe", L"/i \"C:\\Down\\a b.msi\" /qn ALLUSERS=2"},
        {T::Unknown, L"--silent", L"C:\\Down\\a b.msi", L"--silent"},
        {T::Nsis, L"/S /D=C:\\Apps", L"C:\\Down\\a b.msi", L"/S /D=C:\\Apps"},
        {T::Unknown, std::nullopt, nullptr, nullptr},
        {T::Nsis, L"", nullptr, nullptr},  // the catalogue says it cannot install silently
        {T::Msi, L"/qn /i other.msi", nullptr, nullptr},
        {T::Nsis, L"/S\r\ncalc.exe", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<SilentLaunch> launch = silentLaunchFor(c.type, file, c.args, system);
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.type) << " " << (c.args ? "args" : "none"));
        ASSERT_EQ(launch.has_value(), c.program != nullptr);
        if (!launch) continue;
        EXPECT_EQ(launch->program, c.program);
        EXPECT_EQ(launch->parameters, c.parameters);
        EXPECT_EQ(runsSilently(true, c.type, c.args, false, false), true);
    }
    EXPECT_EQ(silentLaunchFor(T::Nsis, file, std::nullopt, system)->commandLine(), L"\"C:\\Down\\a b.msi\" /S");
    // The setting, a package nothing vouches for and a wizard asked for all keep the wizard.
    EXPECT_FALSE(runsSilently(false, T::Nsis, std::nullopt, false, false));
    EXPECT_FALSE(runsSilently(true, T::Nsis, std::nullopt, true, false));
    EXPECT_FALSE(runsSilently(true, T::Nsis, std::nullopt, false, true));
}

TEST(InstallerType, MsiArgumentsNeverNameAnotherPackage) {
    const struct {
        const wchar_t* args;
        bool msi;
        bool acceptable;
    } cases[] = {
        {L"/qn /norestart", true, true},
        {L"/passive /promptrestart INSTALLDIR=\"C:\\Program Files\\X\"", true, true},
        {L"/qb! /l*v \"C:\\log.txt\" /forcerestart", true, true},
        {L"/i other.msi", true, false},
        {L"/I{12345678-1234-1234-1234-123456789012}", true, false},
        {L"-x {code}", true, false},
        {L"/a admin.msi", true, false},
        {L"/p fix.msp", true, false},
        {L"/jm x.msi", true, false},
        {L"/fa x.msi", true, false},
        {L"/package x.msi", true, false},
        {L"/update fix.msp", true, false},
        {L"/qn TRANSFORMS=evil.mst", true, false},
        {L"/qn patch=fix.msp", true, false},
        {L"/qn MYPATCH=1", true, true},
        {L"/qn \"/i\" x.msi", true, false},  // quotes hide no switch
        {L"/qn \"TRANSFORMS=evil.mst\"", true, false},
        {L"A=\"v\"/i x.msi", true, false},  // a word after a closing quote stands on its own
        {L"/i /a /x", false, true},  // another type's switches are its own business
        {L"/S\tquiet", false, false},
        {L"/S\x85", false, false},
    };
    for (const auto& c : cases) EXPECT_EQ(silentArgsAcceptable(c.args, c.msi), c.acceptable) << c.args;
}

TEST(InstallerType, RegistrationsDecideFirstThenTheExitCode) {
    using O = InstallOutcome;
    const struct {
        InstallerType type;
        DWORD exit;
        bool wasListed, registered, versionMoved;
        InstallOutcome outcome;
        bool restartNeeded, restartStarted;
    } cases[] = {
        {T::Nsis, 0, false, true, false, O::Installed, false, false},
        {T::Nsis, 2, false, true, false, O::Installed, false, false},  // registered: success whatever the code
        {T::Msi, 3010, false, true, false, O::Installed, true, false},
        {T::Msi, 1641, true, false, true, O::Installed, true, true},
        {T::Msi, 1603, true, false, true, O::Installed, false, false},  // the version moved
        {T::Msi, 0, true, false, false, O::Installed, false, false},
        {T::Msi, 1602, true, true, false, O::Cancelled, false, false},  // a new key, but the version stayed
        {T::Msi, 1223, false, false, false, O::Cancelled, false, false},
        {T::Msi, 1603, false, false, false, O::Failed, false, false},
        {T::Burn, 1602, false, false, false, O::Cancelled, false, false},
        {T::Nsis, 1, false, false, false, O::Cancelled, false, false},
        {T::Nsis, 2, true, false, false, O::Failed, false, false},
        {T::Inno, 2, false, false, false, O::Cancelled, false, false},
        {T::Inno, 5, false, false, false, O::Cancelled, false, false},
        {T::Inno, 1, false, false, false, O::Failed, false, false},
        {T::Inno, 0, false, false, false, O::NotInstalled, false, false},
        {T::Msi, 3010, false, false, false, O::NotInstalled, false, false},
        {T::Unknown, 1602, true, false, false, O::Installed, false, false},  // listed before: as it always was
        {T::Unknown, 7, false, false, false, O::Cancelled, false, false},
        {T::Unknown, 0, false, false, false, O::NotInstalled, false, false},
    };
    for (const auto& c : cases) {
        InstallFacts facts;
        facts.type = c.type;
        facts.exitCode = c.exit;
        facts.wasListed = c.wasListed;
        facts.registered = c.registered;
        facts.versionMoved = c.versionMoved;
        const InstallJudgement judgement = judgeInstall(facts);
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.type) << " exit " << c.exit);
        EXPECT_EQ(judgement.outcome, c.outcome);
        EXPECT_EQ(judgement.restartNeeded, c.restartNeeded);
        EXPECT_EQ(judgement.restartStarted, c.restartStarted);
        EXPECT_EQ(registrationsSettle(facts), c.outcome == O::Installed);
    }
}

}  // namespace
