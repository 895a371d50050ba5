#pragma once
// The current user's Run entry, which starts the program in the background at sign-in (开机启动).
#include <string>

inline constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValueName[] = L"Quillbox";

// The entry's command for the program at exePath: the path quoted, then --background.
std::wstring signInCommand(const std::wstring& exePath);
// True when the entry is there and starts this program as signInCommand words it.
bool startsAtSignIn();
// Writes the entry for this program, or removes it; true when the registry holds what was asked.
bool setStartAtSignIn(bool on);
