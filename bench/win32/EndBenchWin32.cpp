// How long the program takes to end, in a child process: the simulator runs the real
// program with one virtual control box, made the default and painted, then either takes
// "Quit" from the tray menu or is told that the session ends (WM_QUERYENDSESSION, then
// WM_ENDSESSION to its main window, as the platform does at log-off). Timed from the
// moment the program is told to the end of its process; after a log-off, the settings
// must have been saved.
//
//   end_bench.exe SIMULATOR [RUNS]
// prints, per way of ending: quit|logoff best=MS median=MS worst=MS runs=N saved=yes|no
//
//   end_bench.exe --app PROGRAM [RUNS]
// starts LumetraControlBox.exe itself (no control box: its window is shown), and times
// the tray menu's Quit (the main window's command) to the end of its process:
// prints app-quit best=MS median=MS worst=MS runs=N saved=yes|no

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ChildProcessWin32.h"
#include "SimulatorRunWin32.h"

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t kAppName[] = L"LumetraEndBench";

std::wstring Folder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

void Forget() { ForgetSettings(kAppName); }

bool SettingsSaved() {
    const std::wstring key = std::wstring(L"Software\\Lumetra\\") + kAppName;
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"DEMARRAGE_AUTO", RRF_RT_REG_DWORD, nullptr, &value,
                        &size) == ERROR_SUCCESS &&
           value == 1;
}

// One run: milliseconds from the order to end to the end of the process, or -1.
double RunOnce(const std::wstring& exe, bool logoff) {
    Forget();
    const std::string script = std::string("plug EB0001\nstart\nselect 1\naction actSetAsDefault\nshow tray\n") +
                               (logoff ? "wait 60000\n" : "action actQuitter\n");
    TChildProcess child(exe, QuotedCommandLine(exe), TChildProcess::TOptions::WithPipes());
    if (!child.Started()) return -1;
    child.Input(script);

    // The tray line is printed just before the program is told to end.
    child.ReadUntil([](const std::string& output) { return output.find("tray ") != std::string::npos; });
    const auto told = Clock::now();
    if (logoff) {
        HWND window = nullptr;
        for (int i = 0; i < 200 && !window; ++i) {
            window = MainWindowOf(child.Id());
            if (!window) Sleep(10);
        }
        DWORD_PTR answer = 0;
        if (window) {
            SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer);
            // The program ends inside this message: the call returns when it is gone.
            SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer);
        }
    }
    const bool ended = child.Wait(60000);
    const auto gone = Clock::now();
    child.ReadUntil([](const std::string&) { return false; });
    if (!ended) child.Terminate();
    return ended ? std::chrono::duration<double, std::milli>(gone - told).count() : -1;
}

// The menu command of "Quit": the main window's commands carry the index of their action
// from 100 on (Settings, Launch at Startup, Always Check Updates, Check for Update, Quit).
constexpr WPARAM kQuitCommand = 104;

double RunProgramOnce(const std::wstring& exe) {
    Forget();
    TChildProcess child(exe, QuotedCommandLine(exe));
    if (!child.Started()) return -1;
    HWND window = nullptr;
    for (int i = 0; i < 600 && !(window && IsWindowVisible(window)); ++i) {
        Sleep(50);
        window = MainWindowOf(child.Id());
    }
    Sleep(500);  // the creation steps have run once the window is shown
    const auto told = Clock::now();
    if (window) PostMessageW(window, WM_COMMAND, MAKEWPARAM(kQuitCommand, 0), 0);
    const bool ended = window && child.Wait(60000);
    const auto gone = Clock::now();
    if (!ended) child.Terminate();
    return ended ? std::chrono::duration<double, std::milli>(gone - told).count() : -1;
}

void Report(const char* what, std::vector<double> times, bool saved) {
    std::sort(times.begin(), times.end());
    if (times.empty()) {
        std::printf("%s failed\n", what);
        return;
    }
    std::printf("%s best=%.0fms median=%.0fms worst=%.0fms runs=%zu saved=%s\n", what, times.front(),
                times[times.size() / 2], times.back(), times.size(), saved ? "yes" : "no");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool app = argc >= 2 && std::wstring(argv[1]) == L"--app";
    if (app) {
        ++argv;
        --argc;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: end_bench [--app] PROGRAM [RUNS]\n");
        return 2;
    }
    const int runs = argc == 3 ? std::max(1, _wtoi(argv[2])) : 3;
    // A copy under a name of its own: its settings, logon entry, trace and single-instance
    // mutex are its own.
    const std::wstring exe = Folder() + kAppName + L".exe";
    if (!CopyFileW(argv[1], exe.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy the simulator (error %lu)\n", GetLastError());
        return 2;
    }
    int status = 0;
    if (app) {
        std::vector<double> times;
        bool saved = true;
        for (int i = 0; i < runs; ++i) {
            const double ms = RunProgramOnce(exe);
            if (ms < 0) {
                status = 1;
                continue;
            }
            times.push_back(ms);
            saved = saved && SettingsSaved();
        }
        Report("app-quit", times, saved);
        Forget();
        DeleteFileW(exe.c_str());
        return status;
    }
    for (const bool logoff : {false, true}) {
        std::vector<double> times;
        bool saved = true;
        for (int i = 0; i < runs; ++i) {
            const double ms = RunOnce(exe, logoff);
            if (ms < 0) {
                status = 1;
                continue;
            }
            times.push_back(ms);
            saved = saved && SettingsSaved();
        }
        Report(logoff ? "logoff" : "quit", times, saved);
    }
    Forget();
    DeleteFileW(exe.c_str());
    return status;
}
