#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "app/command_line.h"
#include "app/placement.h"
#include "app/sign_in_start.h"
#include "app/single_instance.h"
#include "base/window_messages.h"
#include "support/test_support.h"

namespace {

TEST(Placement, CentresOnLargeScreensAndKeepsAMarginOnSmallOnes) {
    struct Case {
        int cx, cy;
        WindowPlacement expected;
        int dpi = 96;  // sizes and margins scale with it
    };
    const Case cases[] = {
        {1920, 1080, {370, 150, 1180, 780}}, {1024, 768, {30, 30, 964, 708}}, {1366, 768, {93, 30, 1180, 708}},
        {1200, 820, {10, 20, 1180, 780}},    {1199, 819, {30, 30, 1139, 759}}, {1400, 900, {110, 60, 1180, 780}},
        {1201, 821, {10, 20, 1180, 780}},
        {2400, 1600, {315, 215, 1770, 1170}, 144}, {2600, 1800, {120, 120, 2360, 1560}, 192},
        {1920, 1080, {60, 60, 1800, 960}, 192},  // too small at 200 %: the margins, scaled
        {2400, 1640, {20, 40, 2360, 1560}, 192}, {2399, 1639, {60, 60, 2279, 1519}, 192},
    };
    for (const Case& c : cases) {
        const WindowPlacement p = computeMainWindowPlacement(c.cx, c.cy, c.dpi);
        EXPECT_EQ(p.x, c.expected.x) << c.cx << "x" << c.cy;
        EXPECT_EQ(p.y, c.expected.y) << c.cx << "x" << c.cy;
        EXPECT_EQ(p.width, c.expected.width) << c.cx << "x" << c.cy;
        EXPECT_EQ(p.height, c.expected.height) << c.cx << "x" << c.cy;
    }
}

TEST(CommandLine, ImportAndExportTakeTheFileAfterThem) {
    struct Case {
        std::vector<std::wstring> arguments;
        StartKind kind;
        std::wstring file;
        bool background = false;
    };
    const Case cases[] = {
        {{}, StartKind::Window, L""},
        {{L"/minimised"}, StartKind::Window, L""},
        {{L"--import", L"D:\\清单 1.json"}, StartKind::Import, L"D:\\清单 1.json"},
        {{L"-x", L"--export", L"out.json", L"more"}, StartKind::Export, L"out.json"},
        {{L"--export"}, StartKind::Bad, L""},
        {{L"--import", L""}, StartKind::Bad, L""},
        {{L"--import", L"a.json", L"--export", L"b.json"}, StartKind::Bad, L""},
        {{L"--background"}, StartKind::Window, L"", true},
        {{L"--import", L"a.json", L"--background"}, StartKind::Import, L"a.json", true},
        {{L"--import", L"--background"}, StartKind::Import, L"--background", false},
    };
    for (const Case& c : cases) {
        const StartRequest request = readCommandLine(c.arguments);
        EXPECT_EQ(request.kind, c.kind) << c.arguments.size();
        EXPECT_EQ(request.file, c.file) << c.arguments.size();
        EXPECT_EQ(request.background, c.background) << c.arguments.size();
        EXPECT_EQ(request.problem.empty(), c.kind != StartKind::Bad) << c.arguments.size();
    }
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring separator = folder[wcslen(folder) - 1] == L'\\' ? L"" : L"\\";
    EXPECT_EQ(fullPathOf(L"out.json"), folder + separator + L"out.json");
}

TEST(SingleInstance, ALaterStartHandsItsRequestToTheFirstThroughThePipe) {
    const struct { std::wstring message; bool valid; } messages[] = {
        {L"window", true}, {L"import\nC:\\lists\\a.json", true}, {L"import\n\\\\host\\share\\a.json", true},
        {L"import\na.json", false}, {L"import\nC:\\a\nb", false}, {L"export\nC:\\a.json", false},
        {L"Window", false}, {L"", false}, {std::wstring(L"import\nC:\\a\0b", 13), false},
    };
    for (const auto& m : messages) {
        const std::optional<HandOver> decoded = decodeHandOver(m.message);
        EXPECT_EQ(decoded.has_value(), m.valid) << m.message;
        if (decoded) {
            EXPECT_EQ(encodeHandOver(*decoded), m.message);
        }
    }
    EXPECT_EQ(instanceNames(L"S-1-5-21-7", 1).pipe, L"\\\\.\\pipe\\Quillbox-S-1-5-21-7-1");

    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SingleInstance first, later;
    ASSERT_EQ(first.claim({}), InstanceRole::First);
    EXPECT_EQ(later.claim({}, 300), InstanceRole::NoAnswer);  // the first does not answer yet
    ASSERT_TRUE(first.serve(window));
    EXPECT_EQ(later.claim({StartKind::Import, L"C:\\lists\\a.json"}), InstanceRole::HandedOver);
    MSG posted{};
    EXPECT_TRUE(qbtest::waitUntil([&] { return ::PeekMessageW(&posted, window, WM_QB_HAND_OVER, WM_QB_HAND_OVER, PM_REMOVE); }, 5000));
    const std::optional<HandOver> taken = first.take();
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->kind, StartKind::Import);
    EXPECT_EQ(taken->file, L"C:\\lists\\a.json");
    first.stopServing();
    ::DestroyWindow(window);
}

TEST(SignInStart, TheRunEntryIsWrittenForThisProgramAndRemoved) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_TRUE(setStartAtSignIn(true));
    wchar_t value[MAX_PATH + 32] = {};
    DWORD bytes = sizeof value;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillbox",
                             RRF_RT_REG_SZ, nullptr, value, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), L"\"" + std::wstring(path) + L"\" --background");
    EXPECT_TRUE(startsAtSignIn());
    ASSERT_TRUE(setStartAtSignIn(false));
    EXPECT_FALSE(startsAtSignIn());
    EXPECT_TRUE(setStartAtSignIn(false));  // removing what is not there is no failure
}

TEST(AppStateTest, StartsWithTheDocumentedValues) {
    AppState fresh;
    EXPECT_EQ(fresh.mousePos.x, -1);
    EXPECT_EQ(fresh.mousePos.y, -1);
    EXPECT_TRUE(fresh.noticeVerified);
    EXPECT_EQ(fresh.page, Page::Catalogue);
    EXPECT_TRUE(fresh.selectedCategoryId.empty());
    EXPECT_EQ(fresh.config.channel, L"default");
}

TEST(AppStateTest, ShowToastStampsTextKindAndTime) {
    const DWORD before = ::GetTickCount();
    showToast(L"下载目录已保存", ToastSuccess);
    const AppState& app = appState();
    EXPECT_EQ(app.toastText, L"下载目录已保存");
    EXPECT_EQ(app.toastKind, ToastSuccess);
    EXPECT_LE(static_cast<DWORD>(app.toastTick - before), 1000u);
}

TEST(UiFonts, CreatesAllThirteenFontsWithTheirHeights) {
    HFONT fonts[kUiFontCount] = {};
    ASSERT_TRUE(createUiFonts(fonts));
    const int heights[kUiFontCount] = {-22, -19, -13, -16, -14, -13, -14, -20, -18, -14, -14, -32, -15};
    const int weights[kUiFontCount] = {700, 700, 400, 700, 400, 400, 400, 700, 400, 400, 400, 700, 400};
    for (int i = 0; i < kUiFontCount; ++i) {
        LOGFONTW lf{};
        ASSERT_EQ(::GetObjectW(fonts[i], sizeof lf, &lf), static_cast<int>(sizeof lf)) << i;
        EXPECT_EQ(lf.lfHeight, heights[i]) << i;
        EXPECT_EQ(lf.lfWeight, weights[i]) << i;
        EXPECT_STREQ(lf.lfFaceName, L"Microsoft YaHei") << i;
        ::DeleteObject(fonts[i]);
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the log is written in text mode
        out.push_back(line);
    }
    return out;
}

DWORD runAndWait(const std::wstring& program) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + program + L"\"";
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    ::WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return code;
}

TEST(CrashLog, EachCrashAppendsOneWellFormedLine) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"qb_crash.log";
    const std::wstring probe = qbtest::exeFolder() + L"\\crash_probe.exe";
    ASSERT_TRUE(qbtest::fileExists(probe));

    const size_t before = lines(qbtest::readFileBytes(log)).size();
    EXPECT_EQ(runAndWait(probe), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(runAndWait(probe), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    const std::vector<std::string> after = lines(qbtest::readFileBytes(log));
    ASSERT_EQ(after.size(), before + 2);

    const std::regex wellFormed("^code=C0000005 rva=[0-9A-Fa-fx]+ frames:( [0-9A-Fa-fx]+){1,16}$");
    for (size_t i = before; i < after.size(); ++i) EXPECT_TRUE(std::regex_match(after[i], wellFormed)) << after[i];
}

}  // namespace
