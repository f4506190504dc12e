#pragma once
// The simulator driven as the scenarios drive it: a script in on its standard input, its
// printed lines out, under a program name of its own whose settings start empty.

#include <windows.h>

#include <string>

struct TSimulatorRun {
    std::string Output;
    DWORD ExitCode = 0;
};

// `script` given whole to the simulator at `exe` (the simulator reads it all before it
// starts); a run that does not end within `limitMs` is ended and counts as a test failure.
TSimulatorRun RunSimulator(const std::wstring& exe, const std::string& script, DWORD limitMs = 180'000);

// No settings and no logon entry for the program named `appName`: a first start.
void ForgetSettings(const std::wstring& appName);

// The text setting `name` of the program named `appName`, or "(none)".
std::wstring TextSetting(const std::wstring& appName, const wchar_t* name);
