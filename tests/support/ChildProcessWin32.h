#pragma once
// A program the tests and benchmarks start themselves: its command line, optionally pipes
// to its standard input and output, a time limit, its exit code; and its main window.

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

class TChildProcess {
public:
    struct TOptions {
        std::wstring Folder;      // its working folder; empty: ours
        bool Pipes = false;       // standard input and output through pipes of ours
        bool InheritStd = false;  // without pipes: our own standard handles
        DWORD CreationFlags = 0;  // CreateProcessW's, e.g. CREATE_SUSPENDED

        static TOptions WithPipes() {
            TOptions options;
            options.Pipes = true;
            return options;
        }
        static TOptions WithOurStd() {
            TOptions options;
            options.InheritStd = true;
            return options;
        }
        static TOptions InFolder(const std::wstring& folder) {
            TOptions options;
            options.Folder = folder;
            return options;
        }
        static TOptions WithFlags(DWORD flags) {
            TOptions options;
            options.CreationFlags = flags;
            return options;
        }
    };

    // Starts `commandLine`; `application` empty: the command line's first word names it.
    TChildProcess(const std::wstring& application, const std::wstring& commandLine, TOptions options);
    TChildProcess(const std::wstring& application, const std::wstring& commandLine)
        : TChildProcess(application, commandLine, TOptions{}) {}
    // Still running at this point: ended with exit code 99.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Started() const { return FProcess.hProcess != nullptr; }
    // GetLastError of a start that failed.
    DWORD StartError() const { return FStartError; }
    DWORD Id() const { return FProcess.dwProcessId; }
    HANDLE Handle() const { return FProcess.hProcess; }

    // Its standard input: `text` written, then closed, so that it reads to the end.
    void Input(const std::string& text);
    // Its standard output read until `enough` says so or the output ends; what was read is
    // in Output().
    void ReadUntil(const std::function<bool(const std::string&)>& enough);
    // Its standard output read to the end on a thread of its own, so that a wait beside it
    // cannot stall on a full pipe; Wait and End join it.
    void ReadInBackground();
    const std::string& Output() const { return FOutput; }

    // Whether it ended within `limitMs`.
    bool Wait(DWORD limitMs);
    // Ended at once with exit code 99 and waited for.
    void Terminate();
    DWORD ExitCode() const;

private:
    void JoinReader();

    PROCESS_INFORMATION FProcess{};
    DWORD FStartError = 0;
    HANDLE FWriteIn = nullptr;
    HANDLE FReadOut = nullptr;
    std::string FOutput;
    std::thread FReader;
};

// The program's own command line for `exe` with `arguments`: the path in quotes.
std::wstring QuotedCommandLine(const std::wstring& exe, const std::wstring& arguments = L"");

// The top-level windows of class `windowClass` that `process` owns.
std::vector<HWND> WindowsOfProcess(DWORD process, const wchar_t* windowClass);

// The first of them, or null.
HWND WindowOfProcess(DWORD process, const wchar_t* windowClass);

// The program's main window ("TfrmMain") in `process`, once it has made it, or null.
inline HWND MainWindowOf(DWORD process) { return WindowOfProcess(process, L"TfrmMain"); }

// `commandLine` run to its end, or ended with exit code 99 at `limitMs`.
struct TChildEnd {
    bool Started = false;
    DWORD StartError = 0;  // GetLastError of a start that failed
    bool TimedOut = false;
    DWORD ExitCode = static_cast<DWORD>(-1);
};
TChildEnd RunToEnd(const std::wstring& commandLine, DWORD limitMs);
