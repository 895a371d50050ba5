#pragma once
// What the command line asks of a start: the window, the window importing a list once the catalogue
// has loaded (--import FILE), or only writing the installed apps to a list (--export FILE).
#include <string>
#include <vector>

enum class StartKind { Window, Import, Export, Bad };

// The exit code of a start whose command line could not be followed.
inline constexpr int kBadCommandLineExit = 2;

struct StartRequest {
    StartKind kind = StartKind::Window;
    std::wstring file;     // as given
    std::wstring problem;  // Bad: what is wrong, for the console
    bool background = false;  // --background: no window until asked for, the icon in the tray instead
};

// Reads the arguments after the program's name; others than these two are left alone, as before.
StartRequest readCommandLine(const std::vector<std::wstring>& arguments);
// The program's arguments after its name.
std::vector<std::wstring> commandLineArguments();
// The file's full path, a relative one resolved against the working folder; empty when it has none.
std::wstring fullPathOf(const std::wstring& file);
// One line on the console the program was started from, when there is one.
void writeConsoleLine(const std::wstring& text);
// --export: loads the catalogue as a start does, reads the installed apps and writes the list, with no
// window. 0 when written; otherwise one line on the console says why.
int runExport(const std::wstring& file);
