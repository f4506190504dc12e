#include "ChildProcessWin32.h"

TChildProcess::TChildProcess(const std::wstring& application, const std::wstring& commandLine, TOptions options) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HANDLE readIn = nullptr, writeOut = nullptr;
    if (options.Pipes) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&FReadOut, &writeOut, &inherit, 0) || !CreatePipe(&readIn, &FWriteIn, &inherit, 0)) {
            FStartError = GetLastError();
            for (HANDLE h : {FReadOut, writeOut, readIn, FWriteIn})
                if (h) CloseHandle(h);
            FReadOut = FWriteIn = nullptr;
            return;
        }
        // Our ends stay ours: a child holding them would keep its own pipes open.
        SetHandleInformation(FReadOut, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(FWriteIn, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = readIn;
        startup.hStdOutput = writeOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    } else if (options.InheritStd) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                                        nullptr, options.Pipes || options.InheritStd, options.CreationFlags, nullptr,
                                        options.Folder.empty() ? nullptr : options.Folder.c_str(), &startup, &FProcess);
    if (!started) FStartError = GetLastError();
    // The child's ends are its own now.
    if (readIn) CloseHandle(readIn);
    if (writeOut) CloseHandle(writeOut);
    if (!started) {
        FProcess = {};
        if (FReadOut) CloseHandle(FReadOut);
        if (FWriteIn) CloseHandle(FWriteIn);
        FReadOut = FWriteIn = nullptr;
    }
}

TChildProcess::~TChildProcess() {
    if (Started() && WaitForSingleObject(FProcess.hProcess, 0) != WAIT_OBJECT_0) Terminate();
    if (FWriteIn) CloseHandle(FWriteIn);
    JoinReader();
    if (FReadOut) CloseHandle(FReadOut);
    if (FProcess.hThread) CloseHandle(FProcess.hThread);
    if (FProcess.hProcess) CloseHandle(FProcess.hProcess);
}

void TChildProcess::Input(const std::string& text) {
    if (!FWriteIn) return;
    DWORD written = 0;
    WriteFile(FWriteIn, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(FWriteIn);
    FWriteIn = nullptr;
}

void TChildProcess::ReadUntil(const std::function<bool(const std::string&)>& enough) {
    if (!FReadOut) return;
    char buffer[65536];
    DWORD got = 0;
    while (!enough(FOutput) && ReadFile(FReadOut, buffer, sizeof buffer, &got, nullptr) && got > 0)
        FOutput.append(buffer, got);
}

void TChildProcess::ReadInBackground() {
    if (!FReadOut || FReader.joinable()) return;
    FReader = std::thread([this] { ReadUntil([](const std::string&) { return false; }); });
}

void TChildProcess::JoinReader() {
    if (FReader.joinable()) FReader.join();
}

bool TChildProcess::Wait(DWORD limitMs) {
    if (!Started()) return false;
    const bool ended = WaitForSingleObject(FProcess.hProcess, limitMs) == WAIT_OBJECT_0;
    if (ended) JoinReader();
    return ended;
}

void TChildProcess::Terminate() {
    if (!Started()) return;
    TerminateProcess(FProcess.hProcess, 99);
    WaitForSingleObject(FProcess.hProcess, INFINITE);
    JoinReader();
}

DWORD TChildProcess::ExitCode() const {
    DWORD code = static_cast<DWORD>(-1);
    if (Started()) GetExitCodeProcess(FProcess.hProcess, &code);
    return code;
}

std::wstring QuotedCommandLine(const std::wstring& exe, const std::wstring& arguments) {
    return L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
}

std::vector<HWND> WindowsOfProcess(DWORD process, const wchar_t* windowClass) {
    struct Search {
        DWORD Process;
        const wchar_t* Class;
        std::vector<HWND> Found;
    } search = {process, windowClass, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t className[64] = L"";
            GetClassNameW(window, className, 64);
            if (owner == s->Process && std::wstring(className) == s->Class) s->Found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND WindowOfProcess(DWORD process, const wchar_t* windowClass) {
    const std::vector<HWND> windows = WindowsOfProcess(process, windowClass);
    return windows.empty() ? nullptr : windows.front();
}

TChildEnd RunToEnd(const std::wstring& commandLine, DWORD limitMs) {
    TChildEnd end;
    TChildProcess child(L"", commandLine);
    end.Started = child.Started();
    end.StartError = child.StartError();
    if (!end.Started) return end;
    if (child.Wait(limitMs)) {
        end.ExitCode = child.ExitCode();
    } else {
        end.TimedOut = true;
        child.Terminate();
    }
    return end;
}
