#include <gtest/gtest.h>

#include <string>

#include "downloads/file_naming.h"

namespace {

struct NameCase {
    std::wstring input;
    std::wstring expected;
};

TEST(FileNaming, SanitizeKeepsOnlyWhatWindowsCanStore) {
    const std::wstring exe130 = std::wstring(126, L'a') + L".exe";
    const std::wstring longExtension = std::wstring(115, L'b') + L"." + std::wstring(14, L'x');
    const NameCase cases[] = {
        {L"a:b?c.exe", L"abc.exe"},
        {L"\"*<>|x.exe", L"x.exe"},
        {L"   ", L"app"},
        {L"", L"app"},
        {L"/\\:", L"app"},
        {L"setup.exe. . ", L"setup.exe"},
        {L".", L"app"},
        {L"..", L"app"},
        {L"..\\..\\Windows\\evil.exe", L"....Windowsevil.exe"},
        {L"../../evil.exe", L"....evil.exe"},
        {std::wstring(L"set\0up.exe", 10), L"setup.exe"},
        {L"tab\there\r\n.exe", L"tabhere.exe"},
        {std::wstring(L"\x1f\x01", 2), L"app"},
        {L"  leading.exe", L"  leading.exe"},
        {exe130, std::wstring(116, L'a') + L".exe"},
        {longExtension, longExtension.substr(0, 120)},
        {std::wstring(121, L'c'), std::wstring(120, L'c')},
        // A cut that ends on a blank loses it as well.
        {std::wstring(119, L'f') + L" tail", std::wstring(119, L'f')},
        {std::wstring(10000, L'd') + L".exe", std::wstring(116, L'd') + L".exe"},
        // A cut that would split a surrogate pair keeps the pair out instead.
        {std::wstring(119, L'e') + L"\xD83D\xDE00" + L"tail", std::wstring(119, L'e')},
        {L"中文 名称.exe", L"中文 名称.exe"},
        // Direction overrides and invisible marks cannot make a program look like a document.
        {L"report\u202Eexe.pdf", L"reportexe.pdf"},
        {L"\u200Bset\u200Dup\uFEFF.exe", L"setup.exe"},
        {L"a\u2066b\u2067c\u2068d\u2069\u202A\u202B\u202C\u202D\u200E\u200F.exe", L"abcd.exe"},
        {L"\u202E\u200B", L"app"},
        {L"in\u061Cvoice\u2060\u2061\u2064s\u00AD.exe", L"invoices.exe"},
        {L"\u2065\u2070\u200A\u205F\u061B\u00AC.exe", L"\u2065\u2070\u200A\u205F\u061B\u00AC.exe"},  // neighbours stay
    };
    for (const NameCase& c : cases) EXPECT_EQ(sanitizeFileName(c.input), c.expected) << c.input.size();

    // A title becomes a name the journal takes back as it stands: a long one keeps its ".exe".
    EXPECT_EQ(titleFileName(L"星河笔记 2.0"), L"星河笔记 2.0.exe");
    EXPECT_EQ(titleFileName(L"nul"), L"_nul.exe");
    EXPECT_EQ(titleFileName(std::wstring(150, L'g')), std::wstring(116, L'g') + L".exe");
}

TEST(FileNaming, ReservedDeviceNamesNeverBecomeFileNames) {
    const NameCase cases[] = {
        {L"CON", L"_CON"},          {L"con.exe", L"_con.exe"},     {L"Nul.tar.gz", L"_Nul.tar.gz"},
        {L"aux", L"_aux"},          {L"PRN.zip", L"_PRN.zip"},     {L"COM1.exe", L"_COM1.exe"},
        {L"lpt9", L"_lpt9"},        {L"COM0.msi", L"_COM0.msi"},   {L"LPT\u00B9.exe", L"_LPT\u00B9.exe"},
        {L"CONIN$.exe", L"_CONIN$.exe"}, {L"nul .exe", L"_nul .exe"}, {L"CON:.exe", L"_CON.exe"},
        {L"CON. .", L"_CON"},
        // Not devices: longer names, two-digit ports, names that merely start with a device.
        {L"COM10.exe", L"COM10.exe"}, {L"CONSOLE.exe", L"CONSOLE.exe"}, {L"NULL.exe", L"NULL.exe"},
        {L"LPT.exe", L"LPT.exe"},     {L"setup-con.exe", L"setup-con.exe"},
    };
    for (const NameCase& c : cases) EXPECT_EQ(sanitizeFileName(c.input), c.expected) << c.input;
    // A device name that only the length cut uncovers.
    const std::wstring cutToDevice = sanitizeFileName(L"nul" + std::wstring(130, L' ') + L"tail");
    EXPECT_EQ(cutToDevice.substr(0, 4), L"_nul");
    EXPECT_FALSE(isReservedDeviceName(cutToDevice));
    EXPECT_LE(cutToDevice.size(), 120u);
    EXPECT_TRUE(isReservedDeviceName(L"Com3.dll"));
    EXPECT_FALSE(isReservedDeviceName(L"Com3x.dll"));
}

TEST(FileNaming, DispositionNames) {
    const NameCase cases[] = {
        {L"", L""},
        {L"attachment", L""},
        {L"attachment; filename*=UTF-8''%E5%AE%89%E8%A3%85%E5%8C%85.exe", L"安装包.exe"},
        {L"attachment; filename=\"my setup.exe\"", L"my setup.exe"},
        {L"attachment; filename=setup.exe; size=123", L"setup.exe"},
        {L"attachment; filename=  spaced.exe  ; x=1", L"spaced.exe"},
        {L"attachment; filename=\"unterminated.exe", L"unterminated.exe"},
        {L"attachment; filename=\"\"", L""},
        // The encoded name ends at the next parameter.
        {L"attachment; filename*=UTF-8''%E2%82%AC%20rates.pdf; filename=\"EURO rates.pdf\"", L"\u20AC rates.pdf"},
        {L"attachment; filename*=UTF-8''setup.exe; size=123", L"setup.exe"},
        {L"attachment; filename*=UTF-8''setup.exe   ; size=123", L"setup.exe"},
        {L"attachment; filename=\"fallback.exe\"; filename*=UTF-8''real%20name.exe", L"real name.exe"},
        // An empty encoded name, or one without its two quotes, falls back to filename=.
        {L"attachment; filename*=UTF-8''; filename=\"b.exe\"", L"b.exe"},
        {L"attachment; filename*=setup.exe; filename=\"c.exe\"", L"c.exe"},
        {L"attachment; filename*=setup.exe", L""},
        // Broken escapes stay as text; invalid UTF-8 becomes replacement characters.
        {L"attachment; filename*=UTF-8''%ZZbad%4.exe", L"%ZZbad%4.exe"},
        {L"attachment; filename*=UTF-8''100%25%.exe", L"100%%.exe"},
        // Hostile names come back as given; sanitizeFileName defuses them.
        {L"attachment; filename=\"../../evil.exe\"", L"../../evil.exe"},
        {L"attachment; filename*=UTF-8''..%2F..%5Cevil.exe", L"../..\\evil.exe"},
        {L"attachment; filename=CON.exe", L"CON.exe"},
    };
    for (const NameCase& c : cases) EXPECT_EQ(fileNameFromDisposition(c.input), c.expected) << c.input;
}

TEST(FileNaming, HostileDispositionNamesAreSafeOnceSanitised) {
    const NameCase cases[] = {
        {L"attachment; filename=\"../../evil.exe\"", L"....evil.exe"},
        {L"attachment; filename*=UTF-8''..%2F..%5Cevil.exe", L"....evil.exe"},
        {L"attachment; filename*=UTF-8''C%3A%5CWindows%5Cwin.exe", L"CWindowswin.exe"},
        // A NUL would cut the path so that the partial and the final file become one.
        {L"attachment; filename*=UTF-8''setup.exe%00.txt", L"setup.exe.txt"},
        {L"attachment; filename*=UTF-8''%0D%0Aa%07b.exe", L"ab.exe"},
        {L"attachment; filename=\"..\"", L"app"},
        {L"attachment; filename*=UTF-8''%2E%2E", L"app"},
        {L"attachment; filename=nul", L"_nul"},
        {L"attachment; filename*=UTF-8''LPT1.exe", L"_LPT1.exe"},
        {L"attachment; filename=\"" + std::wstring(10000, L'x') + L".exe\"", std::wstring(116, L'x') + L".exe"},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(sanitizeFileName(fileNameFromDisposition(c.input)), c.expected) << c.input.substr(0, 80);

    // Invalid UTF-8 after decoding turns into replacement characters, never into separators.
    for (const wchar_t* value : {L"attachment; filename*=UTF-8''%E5%AE.exe", L"attachment; filename*=UTF-8''%FF%2F%FE.exe"}) {
        const std::wstring name = sanitizeFileName(fileNameFromDisposition(value));
        EXPECT_NE(name.find(L'\uFFFD'), std::wstring::npos) << value;
        EXPECT_EQ(name.find_first_of(L"/\\"), std::wstring::npos) << value;
        EXPECT_EQ(name.substr(name.size() - 4), L".exe") << value;
    }
}

TEST(FileNaming, UrlNames) {
    const NameCase cases[] = {
        {L"http://h/files/My%20Setup.EXE?token=1/2.exe", L"My Setup.EXE"},
        {L"http://h/files/12345", L""},
        {L"http://h/files/.exe", L""},
        {L"http://h/files/a.exe", L"a.exe"},
        {L"http://h/files/安装.exe", L""},
        {L"http://h/a/b.zip#part/c.exe", L"b.zip"},
        {L"http://h/a/%E5%AE%89%E8%A3%85.exe", L"安装.exe"},
        {L"http://h/a/tool.7Z", L"tool.7Z"},
        {L"http://h/a/app.msix", L"app.msix"},
        {L"http://h/a/app.msi.txt", L""},
        {L"http://h/a/", L""},
        {L"", L""},
        {L"setup.exe", L"setup.exe"},
        {L"C:\\dir\\setup.exe", L"setup.exe"},
        // Broken escapes stay literal; invalid, overlong and surrogate UTF-8 is refused.
        {L"http://h/100%.exe", L"100%.exe"},
        {L"http://h/a%2.exe", L"a%2.exe"},
        {L"http://h/%FF%FE.exe", L""},
        {L"http://h/%C0%AF.exe", L""},
        {L"http://h/%ED%A0%80.exe", L""},
        {L"http://h/%E5%AE.exe", L""},
        {L"http://h/%F4%90%80%80.exe", L""},
        {L"http://h/%F0%9F%98%80.exe", L"\xD83D\xDE00.exe"},
        // Separators and control characters inside the segment are dropped.
        {L"http://h/x/%2e%2e%2fevil.exe", L"..evil.exe"},
        {L"http://h/x/..%5Cevil.exe", L"..evil.exe"},
        {L"http://h/x/%01%00a.exe", L"a.exe"},
        {L"http://h/x/..%2F..%2Fwin.ini", L""},
        {L"http://h/x/%2F%2F%2F", L""},
    };
    for (const NameCase& c : cases) EXPECT_EQ(fileNameFromUrl(c.input), c.expected) << c.input;
}

TEST(FileNaming, UrlNameLengthLimits) {
    // The raw segment may hold 200 characters, the decoded name 150.
    EXPECT_EQ(fileNameFromUrl(L"http://h/" + std::wstring(146, L'a') + L".exe"), std::wstring(146, L'a') + L".exe");
    EXPECT_EQ(fileNameFromUrl(L"http://h/" + std::wstring(147, L'a') + L".exe"), L"");
    const std::wstring escaped = L"%61%61%61%61%61%61%61%61%61%61";  // ten 'a' in 30 characters
    std::wstring segment;
    for (int i = 0; i < 6; ++i) segment += escaped;  // 180 characters, 60 decoded
    EXPECT_EQ(fileNameFromUrl(L"http://h/" + segment + L"1234567.exe"), std::wstring(60, L'a') + L"1234567.exe");
    EXPECT_EQ(fileNameFromUrl(L"http://h/" + segment + L"12345678901234567.exe"), L"");
    EXPECT_EQ(fileNameFromUrl(L"http://h/" + std::wstring(10000, L'z') + L".exe"), L"");
}

TEST(FileNaming, TheExtensionFollowsTheContent) {
    const struct {
        std::wstring name;
        const wchar_t* extension;
        std::wstring expected;
    } cases[] = {
        {L"version.dll", L".exe", L"version.exe"},
        {L"setup.exe", L".exe", L"setup.exe"},
        {L"product.exe", L".msi", L"product.msi"},
        {L"bundle.tar.gz", L".zip", L"bundle.tar.zip"},
        {L"README", L".exe", L"README.exe"},
        {L".hidden", L".exe", L".hidden.exe"},
        {L"con.dll", L".exe", L"_con.exe"},
        {L"x. .scr", L".exe", L"x.exe"},
        {std::wstring(125, L'n') + L".dll", L".exe", std::wstring(116, L'n') + L".exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(withExtension(c.name, c.extension), c.expected) << c.name;
}

TEST(FileNaming, NumberedNamesKeepTheExtension) {
    EXPECT_EQ(numberedFileName(L"setup.exe", 2), L"setup (2).exe");
    EXPECT_EQ(numberedFileName(L"README", 3), L"README (3)");
    EXPECT_EQ(numberedFileName(L".hidden", 2), L".hidden (2)");
    EXPECT_EQ(numberedFileName(L"a.b.tar", 10), L"a.b (10).tar");
    const std::wstring longName = std::wstring(116, L'n') + L".exe";
    const std::wstring numbered = numberedFileName(longName, 12);
    EXPECT_EQ(numbered.size(), 120u);
    EXPECT_EQ(numbered.substr(111), L" (12).exe");
}

}  // namespace
