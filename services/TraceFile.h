#pragma once
// What the trace needs from the platform: the local clock, the user's date and time
// separators, the ANSI code page, and appending bytes to a file that other writers are
// kept out of meanwhile.
//
// Win32: GetLocalTime, GetLocaleInfoEx, WideCharToMultiByte(CP_ACP), CreateFileW
// (TraceFileWin32.cpp). Host: the C library's clock, "/" and ":", Windows-1252 and POSIX
// appends (TraceFileHost.cpp). The line format and the order of the steps live in uLogs.

#include <cstdint>
#include <string>
#include <vector>

// A local date and time, as the clock gives it.
struct TLogTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

// The user's regional separators between day, month and year, and between hours,
// minutes and seconds.
struct TLogSeparators {
    std::wstring Date = L"/";
    std::wstring Time = L":";
};

class TraceFile {
public:
    virtual ~TraceFile() = default;

    virtual TLogTime Now() = 0;
    // The user's separators; "/" and ":" for any the platform cannot give.
    virtual TLogSeparators Separators() = 0;
    // `text` in the ANSI code page, characters it cannot hold replaced by the platform's
    // default character; no byte-order mark, no terminating zero.
    virtual std::vector<std::uint8_t> ToAnsi(const std::wstring& text) = 0;
    // Appends `bytes` to the file at `path`, creating it when missing, while no other
    // writer may have it open. Raises EInOutError with the platform's text when the file
    // cannot be opened or written; the file then keeps its former content.
    virtual void Append(const std::wstring& path, const std::vector<std::uint8_t>& bytes) = 0;
    // Creates `folder` and any missing parents; an existing folder is fine. Raises
    // EInOutError with the platform's text when it cannot.
    virtual void CreateFolder(const std::wstring& folder) = 0;
};

// The trace platform in use: the one installed with SetTraceFile, else the platform's own.
TraceFile& CurrentTraceFile();
// Installs `file` (not owned; must outlive its use); null goes back to the platform's own.
void SetTraceFile(TraceFile* file);
// The platform's own (TraceFileWin32.cpp, TraceFileHost.cpp).
TraceFile& PlatformTraceFile();
