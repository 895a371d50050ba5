#pragma once
// A hidden Quillbox main window with stand-ins for downloads, reports, Explorer and dialogs.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/app_state.h"
#include "app/shell_services.h"

namespace wintest {

// What the stand-ins were asked to do, one line per call ("install 7", "report 7 <server> <channel>").
struct Calls {
    std::vector<std::wstring> log;
    std::map<int32_t, TaskSnapshot> tasks;
    bool installResult = true;
    bool installQueues = false;  // an accepted install waits for another installer (InstallQueued)
    std::wstring directory = L"C:\\qb-downloads";
    std::wstring pickedFolder;
    std::wstring pickedListFile;  // what the Open and Save dialogs answer
    struct Box {
        HWND owner;
        std::wstring text, caption;
        UINT flags;
    };
    std::vector<Box> boxes;
    int boxAnswer = IDOK;
    int installedReads = 0;  // reads of the uninstall registrations started
    bool uninstallStarts = true;
    std::optional<UninstallOutcome> uninstallOutcome;  // what the finished uninstall says, taken once
    std::vector<RunningProcess> running;  // what every installed app has running
};

TaskSnapshot task(int32_t id, const std::wstring& name, uint32_t state, bool md5Ok = true, bool isArchive = false);
AppInfo app(int32_t id, const std::wstring& name);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main window (hidden unless asked) at (110, 60), 1180 x 780.
    HWND createMainWindow(bool visible = false);
    LRESULT send(UINT msg, WPARAM wp = 0, LPARAM lp = 0);
    LRESULT click(int x, int y);
    LRESULT wheel(int clientX, int clientY, int delta);
    // Runs what is queued through the program's own loop filter, without waiting.
    void pump();

    HWND main_ = nullptr;
    Calls calls_;

private:
    ShellServices saved_;
};

}  // namespace wintest
