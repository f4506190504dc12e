#include "SimulatorRunWin32.h"

#include <gtest/gtest.h>

#include "ChildProcessWin32.h"

TSimulatorRun RunSimulator(const std::wstring& exe, const std::string& script, DWORD limitMs) {
    TSimulatorRun run;
    TChildProcess child(exe, QuotedCommandLine(exe), TChildProcess::TOptions::WithPipes());
    EXPECT_TRUE(child.Started()) << child.StartError();
    if (!child.Started()) return run;
    child.Input(script);
    // Read beside the wait, so that a simulator that hangs is ended and reported instead
    // of stalling the suite.
    child.ReadInBackground();
    if (!child.Wait(limitMs)) {
        ADD_FAILURE() << "the simulator did not end within " << limitMs / 1000 << " s";
        child.Terminate();
    }
    run.Output = child.Output();
    run.ExitCode = child.ExitCode();
    return run;
}

void ForgetSettings(const std::wstring& appName) {
    const std::wstring key = L"Software\\Lumetra\\" + appName;
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    HKEY run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_WRITE, &run) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(run, appName.c_str());
        RegCloseKey(run);
    }
}

std::wstring TextSetting(const std::wstring& appName, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value;
    const std::wstring key = L"Software\\Lumetra\\" + appName;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}
