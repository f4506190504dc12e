#pragma once
// What the uninstaller asks of the launch-at-logon value before it removes it.

#include <string>

// The value name under HKCU\Software\Microsoft\Windows\CurrentVersion\Run that the
// installed program writes: its application name.
inline constexpr const wchar_t* kInstalledProgramRunValue = L"LumetraControlBox";
inline constexpr const wchar_t* kInstalledProgramFile = L"LumetraControlBox.exe";

// True when `command`, a launch-at-logon value as the program writes it (its path, in
// double quotes when the path has a blank), starts `program` in `folder`: the folder the
// installer is removing, with or without its final backslash. Paths are compared ignoring
// ASCII letter case, as the file system does for them; anything else (another copy of the
// program elsewhere, a command with arguments, an empty folder) is left alone.
bool StartsProgramIn(const std::wstring& command, const std::wstring& folder, const std::wstring& program);
