#include <gtest/gtest.h>

#include <windows.h>

#include "install/running_apps.h"
#include "support/test_support.h"

namespace {

TEST(RunningApps, AnAppIsCheckedOnlyInAFolderOfItsOwn) {
    SharedFolders shared;
    shared.windows = L"C:\\Windows";
    shared.exact = {L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\Program Files\\Common Files", L"C:\\Users"};
    shared.profilesRoot = L"C:\\Users";
    const struct {
        const wchar_t* location;
        const wchar_t* icon;
        const wchar_t* folder;
        bool own;
    } cases[] = {
        {L"C:\\Program Files\\Paint\\", L"", L"C:\\Program Files\\Paint", true},
        {L"\"D:\\Apps\\Paint\"", L"", L"D:\\Apps\\Paint", true},
        {L"", L"\"C:\\Users\\me\\AppData\\Local\\Paint\\paint.exe\",0", L"C:\\Users\\me\\AppData\\Local\\Paint", true},
        {L"", L"C:\\Tools\\Paint\\paint.exe,-101", L"C:\\Tools\\Paint", true},
        {L"C:\\", L"", L"C:", false},
        {L"D:\\", L"", L"D:", false},
        {L"C:\\Program Files", L"", L"C:\\Program Files", false},
        {L"c:\\program files (x86)\\", L"", L"c:\\program files (x86)", false},
        {L"C:\\Program Files\\Common Files", L"", L"C:\\Program Files\\Common Files", false},
        {L"C:\\Windows\\System32", L"", L"C:\\Windows\\System32", false},
        {L"C:\\WINDOWS", L"", L"C:\\WINDOWS", false},
        {L"C:\\Users\\me", L"", L"C:\\Users\\me", false},
        {L"C:\\Users", L"", L"C:\\Users", false},
        {L"", L"paint.exe", L"", false},
        {L"Apps\\Paint", L"", L"Apps\\Paint", false},
    };
    for (const auto& c : cases) {
        InstalledApp app;
        app.installLocation = c.location;
        app.displayIcon = c.icon;
        EXPECT_EQ(appFolderOf(app), c.folder) << c.location << c.icon;
        EXPECT_EQ(isOwnAppFolder(appFolderOf(app), shared), c.own) << c.location << c.icon;
    }
    const std::vector<RunningProcess> all = {{1, L"C:\\Apps\\Paint\\paint.exe"}, {2, L"C:\\Apps\\Paint2\\paint.exe"},
                                             {3, L"c:\\apps\\paint\\bin\\helper.exe"}, {4, L"C:\\Apps\\Paint"}};
    const std::vector<RunningProcess> inside = processesInside(L"C:\\Apps\\Paint\\", all);
    ASSERT_EQ(inside.size(), 2u);  // by whole folder: not Paint2, not the folder's own name
    EXPECT_EQ(inside[0].id, 1u);
    EXPECT_EQ(inside[1].id, 3u);
}

// A real program in a folder of its own is found by that folder and closes when asked.
TEST(RunningApps, ARunningProgramIsFoundByItsFolderAndClosesWhenAsked) {
    const std::wstring folder = qbtest::makeScratchDir(L"running-app");
    const std::wstring program = folder + L"\\sample.exe";
    ASSERT_TRUE(::CopyFileW((qbtest::exeFolder() + L"\\installers\\sample-app.exe").c_str(), program.c_str(), FALSE));
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started));
    ::CloseHandle(started.hThread);
    InstalledApp app;
    app.installLocation = folder;
    std::vector<RunningProcess> running;
    qbtest::waitUntil([&] { return !(running = runningProcessesOf(app)).empty(); }, 10000);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].id, started.dwProcessId);
    EXPECT_TRUE(closeProcesses(running, 10000));
    EXPECT_EQ(::WaitForSingleObject(started.hProcess, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(runningProcessesOf(app).empty());
    if (::WaitForSingleObject(started.hProcess, 0) != WAIT_OBJECT_0) ::TerminateProcess(started.hProcess, 1);
    ::CloseHandle(started.hProcess);
    qbtest::removeTree(folder);
}

}  // namespace
