#include "Updater.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "AnsiCodePage.h"
#include "UpdaterCommandLine.h"
#include "WUpdate.h"

namespace {

class THandle {
public:
    explicit THandle(HANDLE handle) : FHandle(handle) {}
    ~THandle() {
        if (FHandle != nullptr) CloseHandle(FHandle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

std::wstring DocumentsFolder() {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

class TUpdaterLog {
public:
    void Open(const std::wstring& programFolder) {
        const std::wstring documents = DocumentsFolder();
        wchar_t name[MAX_PATH] = {};
        GetPrivateProfileStringW(L"CONFIG", L"LOGFILENAME", TWebUpdate::LogFileName, name, MAX_PATH,
                                 (documents + L"\\WUPDATE.INI").c_str());
        FPath = UpdateLogPath(name, documents, programFolder);
    }
    void Line(const std::wstring& text) {
        if (FPath.empty()) return;
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t stamp[32];
        swprintf(stamp, 32, L"%02u/%02u/%04u %02u:%02u:%02u : ", now.wDay, now.wMonth, now.wYear, now.wHour,
                 now.wMinute, now.wSecond);
        const std::string bytes = WideToAnsi(stamp + text) + "\r\n";
        HANDLE file = CreateFileW(FPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }

private:
    std::wstring FPath;
};

unsigned WaitLimit() {
    const wchar_t* text = _wgetenv(L"LUMETRA_UPDATER_WAIT_MS");
    if (text == nullptr || *text == 0) return kUpdaterWaitMs;
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    return end != nullptr && *end == 0 ? static_cast<unsigned>(value) : kUpdaterWaitMs;
}

// Waits for the process to end; true when it has (or was gone already).
bool WaitForProgram(std::uint32_t processId, TUpdaterLog& log) {
    THandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (process.Get() == nullptr) {
        log.Line(L"Process " + std::to_wstring(processId) + L" already ended");
        return true;
    }
    const DWORD waited = WaitForSingleObject(process.Get(), WaitLimit());
    if (waited == WAIT_OBJECT_0) {
        log.Line(L"Process " + std::to_wstring(processId) + L" ended");
        return true;
    }
    log.Line(L"Process " + std::to_wstring(processId) + L" still running: nothing replaced");
    return false;
}

// Swaps the new file in; the old one may stay locked for a moment after its process ended.
bool ReplaceWithRetries(const std::wstring& beside, const std::wstring& target) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(target.c_str(),
                               attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        if (MoveFileExW(beside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        Sleep(250);
    }
    return false;
}

bool MoveComponent(const std::wstring& source, const std::wstring& folder, const std::wstring& name,
                   TUpdaterLog& log) {
    const std::wstring target = folder + name;
    if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
        log.Line(L"Component not found : " + source);
        return false;
    }
    wchar_t beside[MAX_PATH + 1];
    if (GetTempFileNameW(folder.c_str(), L"UPD", 0, beside) == 0) {
        log.Line(L"Cannot write into : " + folder);
        return false;
    }
    if (!CopyFileW(source.c_str(), beside, FALSE)) {
        log.Line(L"Cannot copy " + source + L" to " + beside);
        DeleteFileW(beside);
        return false;
    }
    if (!ReplaceWithRetries(beside, target)) {
        log.Line(L"Cannot replace file : " + target);
        DeleteFileW(beside);
        return false;
    }
    DeleteFileW(source.c_str());
    log.Line(L"Replaced : " + target);
    return true;
}

}  // namespace

int RunUpdater(const std::wstring& parameters) {
    std::wstring error;
    const std::optional<TUpdaterCommand> command = ParseUpdaterCommand(parameters, error);
    if (!command) return kUpdaterBadParameters;

    TUpdaterLog log;
    std::wstring folder = command->Restart ? FolderOfProgram(command->Program) : std::wstring();
    if (folder.empty()) {
        // No program to restart: the components belong beside the program that ended.
        THandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, command->ProcessId));
        wchar_t image[MAX_PATH * 4];
        DWORD size = MAX_PATH * 4;
        if (process.Get() != nullptr && QueryFullProcessImageNameW(process.Get(), 0, image, &size))
            folder = FolderOfProgram(std::wstring(image, size));
    }
    if (command->Log) log.Open(folder);
    log.Line(L"Updater started : " + parameters);

    if (!WaitForProgram(command->ProcessId, log)) return kUpdaterGaveUp;

    int result = kUpdaterDone;
    if (folder.empty() && !command->Components.empty()) {
        log.Line(L"No program folder: nothing replaced");
        result = kUpdaterSomeFilesFailed;
    } else {
        for (const std::wstring& name : command->Components)
            if (!MoveComponent(command->TempFolder + name, folder, name, log)) result = kUpdaterSomeFilesFailed;
    }

    if (command->Restart) {
        // A single blank stands for no parameters at all.
        const bool none = command->Parameters.find_first_not_of(L' ') == std::wstring::npos;
        const HINSTANCE started =
            ShellExecuteW(nullptr, L"open", command->Program.c_str(), none ? nullptr : command->Parameters.c_str(),
                          folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
        log.Line((reinterpret_cast<INT_PTR>(started) > 32 ? L"Restarted : " : L"Cannot restart : ") +
                 command->Program);
    }
    return result;
}
