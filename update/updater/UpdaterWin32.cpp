#include "Updater.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "UpdaterCommandLine.h"
#include "UpdaterInstall.h"
#include "HandleHolderWin32.h"

namespace {

// A line of the log in the ANSI code page, as the program writes it.
std::string Ansi(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                            nullptr);
    return bytes;
}

// SHA-256 by CNG, from bcrypt.dll of the system folder, loaded only when needed: the
// updater imports nothing at load time that its own folder could stand in for.
std::wstring Sha256OfFile(TReadableFile& file) {
    HMODULE library = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) return {};
    const auto open = reinterpret_cast<decltype(&BCryptOpenAlgorithmProvider)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptOpenAlgorithmProvider")));
    const auto create = reinterpret_cast<decltype(&BCryptCreateHash)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptCreateHash")));
    const auto add = reinterpret_cast<decltype(&BCryptHashData)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptHashData")));
    const auto finish = reinterpret_cast<decltype(&BCryptFinishHash)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptFinishHash")));
    const auto destroy = reinterpret_cast<decltype(&BCryptDestroyHash)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptDestroyHash")));
    const auto close = reinterpret_cast<decltype(&BCryptCloseAlgorithmProvider)>(
        reinterpret_cast<void*>(GetProcAddress(library, "BCryptCloseAlgorithmProvider")));
    std::wstring result;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (open && create && add && finish && destroy && close &&
        BCRYPT_SUCCESS(open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (BCRYPT_SUCCESS(create(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
            static std::uint8_t buffer[65536];
            bool ok = true;
            for (std::size_t got = 0;;) {
                if (!file.Read(buffer, sizeof buffer, got)) ok = false;
                if (!ok || got == 0) break;
                if (!BCRYPT_SUCCESS(add(hash, buffer, static_cast<ULONG>(got), 0))) ok = false;
            }
            UCHAR digest[32];
            if (ok && BCRYPT_SUCCESS(finish(hash, digest, sizeof digest, 0))) {
                static const wchar_t kHex[] = L"0123456789abcdef";
                for (UCHAR byte : digest) {
                    result.push_back(kHex[byte >> 4]);
                    result.push_back(kHex[byte & 15]);
                }
            }
            destroy(hash);
        }
        close(algorithm, 0);
    }
    FreeLibrary(library);
    return result;
}

std::wstring DocumentsFolder() {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

// The update log, where the next start of the program finds what happened. Outcomes are
// always written; with "L" every step too.
class TUpdaterLog {
public:
    bool Verbose = false;
    void Step(const std::wstring& text) {
        if (Verbose) Line(text);
    }
    void Open(const std::wstring& programFolder) {
        const std::wstring documents = DocumentsFolder();
        wchar_t name[MAX_PATH] = {};
        GetPrivateProfileStringW(L"CONFIG", L"LOGFILENAME", kUpdateLogFileName, name, MAX_PATH,
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
        const std::string bytes = Ansi(stamp + text) + "\r\n";
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
bool WaitForProgram(HANDLE process, std::uint32_t processId, TUpdaterLog& log) {
    if (process == nullptr) {
        log.Step(L"Process " + std::to_wstring(processId) + L" already ended");
        return true;
    }
    const DWORD waited = WaitForSingleObject(process, WaitLimit());
    if (waited == WAIT_OBJECT_0) {
        log.Step(L"Process " + std::to_wstring(processId) + L" ended");
        return true;
    }
    log.Line(L"Process " + std::to_wstring(processId) + L" still running: nothing replaced");
    return false;
}

}  // namespace

int RunUpdater(const std::wstring& parameters) {
    std::wstring error;
    const std::optional<TUpdaterCommand> command = ParseUpdaterCommand(parameters, error);
    if (!command) return kUpdaterBadParameters;

    // The components go where the program we wait for was started from, read now, while
    // it still runs: never where the parameter line (which a control file fills) says.
    TKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, command->ProcessId));
    std::wstring folder;
    if (process.Get() != nullptr) {
        std::vector<wchar_t> image(32768);
        DWORD size = static_cast<DWORD>(image.size());
        if (QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size))
            folder = FolderOfProgram(std::wstring(image.data(), size));
    }

    TUpdaterLog log;
    log.Verbose = command->Log;
    log.Open(folder);
    log.Step(L"Updater started : " + parameters);

    if (!WaitForProgram(process.Get(), command->ProcessId, log)) return kUpdaterGaveUp;

    int result = kUpdaterDone;
    if (folder.empty() && !command->Components.empty()) {
        log.Line(L"Cannot tell the folder of process " + std::to_wstring(command->ProcessId) +
                 L": nothing replaced");
        result = kUpdaterSomeFilesFailed;
    } else if (!command->Components.empty()) {
        // The old program may hold its files for a moment after it ended.
        const auto retry = [](int attempt) {
            if (attempt > 20) return false;
            Sleep(250);
            return true;
        };
        std::vector<TUpdaterComponent> components;
        for (std::size_t i = 0; i < command->Components.size(); ++i)
            components.push_back({command->Components[i], command->Hashes[i]});
        if (!InstallComponents(SystemFileSystem(), command->TempFolder, folder, components, Sha256OfFile,
                               [&](const std::wstring& line) { log.Line(line); }, retry))
            result = kUpdaterSomeFilesFailed;
    }

    // Started again in either case: the new version, or the old one after a roll-back.
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
