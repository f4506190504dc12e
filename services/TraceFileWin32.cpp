#include "TraceFile.h"

#include "Exceptions.h"
#include "SystemErrorWin32.h"
#include "HandleHolderWin32.h"

#include <windows.h>

namespace {

std::wstring LocaleText(LCTYPE type, const wchar_t* fallback) {
    wchar_t buffer[16] = {};
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16);
    if (length <= 1) return fallback;  // the count includes the terminating zero
    return std::wstring(buffer);
}

[[noreturn]] void FailWrite(const std::wstring& path, DWORD code) {
    throw EInOutError(L"Cannot write to \"" + path + L"\": " + SystemErrorText(code));
}

class Win32TraceFile : public TraceFile {
public:
    TLogTime Now() override {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    }

    TLogSeparators Separators() override {
        return {LocaleText(LOCALE_SDATE, L"/"), LocaleText(LOCALE_STIME, L":")};
    }

    std::vector<std::uint8_t> ToAnsi(const std::wstring& text) override {
        if (text.empty()) return {};
        const int units = static_cast<int>(text.size());
        const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            throw EInOutError(L"Cannot convert a log line to the ANSI code page: " + SystemErrorText(GetLastError()));
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        if (WideCharToMultiByte(CP_ACP, 0, text.data(), units, reinterpret_cast<char*>(bytes.data()), size, nullptr,
                                nullptr) != size)
            throw EInOutError(L"Cannot convert a log line to the ANSI code page: " + SystemErrorText(GetLastError()));
        return bytes;
    }

    void Append(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override {
        // Readers may look at the file meanwhile; other writers are kept out.
        TKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) FailWrite(path, GetLastError());
        LARGE_INTEGER end{};
        if (!SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &end, FILE_END)) FailWrite(path, GetLastError());
        DWORD written = 0;
        const BOOL ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        if (!ok || written != bytes.size()) {
            const DWORD code = ok ? ERROR_HANDLE_DISK_FULL : GetLastError();
            // Leave no piece of a line behind.
            if (SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file.Get());
            FailWrite(path, code);
        }
    }

    void CreateFolder(const std::wstring& folder) override {
        // Each leading part is tried in turn; parts that exist (the drive, the user's
        // folders) simply fail to be created again.
        DWORD lastError = ERROR_SUCCESS;
        for (std::size_t at = 0; at <= folder.size(); ++at) {
            if (at < folder.size() && folder[at] != L'\\' && folder[at] != L'/') continue;
            const std::wstring part = folder.substr(0, at);
            if (part.empty() || part.back() == L':') continue;
            if (CreateDirectoryW(part.c_str(), nullptr))
                lastError = ERROR_SUCCESS;
            else
                lastError = GetLastError();
        }
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            if (lastError == ERROR_SUCCESS || lastError == ERROR_ALREADY_EXISTS) lastError = ERROR_PATH_NOT_FOUND;
            throw EInOutError(L"Cannot create the folder \"" + folder + L"\": " + SystemErrorText(lastError));
        }
    }
};

}  // namespace

TraceFile& PlatformTraceFile() {
    static Win32TraceFile file;
    return file;
}
