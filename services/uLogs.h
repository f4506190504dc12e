#pragma once
// The trace: one line per event appended to "Error.log" in the per-user data folder
// "<roaming application data>\Lumetra\<application name>\".
//
// A line is the local date ("dd/mm/yyyy"), a tab, the local time ("hh:nn:ss"), a tab, the
// procedure name, a tab, the text and a carriage return with no line feed, where "/" and
// ":" are the user's regional separators; names and texts are written unchanged. The
// file is in the ANSI code page and only grows.
//
// Every line lets pending window messages and hand-offs run before the call returns, so
// a caller must read shared state afresh after logging. A line that cannot be written
// raises EInOutError with the platform's text, and then nothing else runs.

#include "TraceFile.h"

#include <string>

inline constexpr const wchar_t* LogFileName = L"Error.log";

// The log folder with its trailing delimiter. Computed on first use and then held for
// the life of the process.
std::wstring LogFolder();

// Appends one line to the log file in LogFolder().
void WriteLog(const std::wstring& _ProcName, const std::wstring& _ErrorStr);

// The one line writer, for any holder of a log file path (the main window holds its own):
// formats the line from the clock, converts it, appends it, then processes messages.
void AppendLogLine(const std::wstring& logFile, const std::wstring& _ProcName, const std::wstring& _ErrorStr);

// The log folder for `appName` under `roamingFolder`, with its trailing delimiter.
std::wstring LogFolderFor(const std::wstring& roamingFolder, const std::wstring& appName);

// The log folder of the running executable, computed afresh.
std::wstring ComputeLogFolder();

// Creates `folder` with any missing parents (the main window does it before the first line).
void CreateLogFolder(const std::wstring& folder);

// One line as written, before conversion to the ANSI code page.
std::wstring FormatLogLine(const TLogTime& time, const TLogSeparators& separators,
                           const std::wstring& _ProcName, const std::wstring& _ErrorStr);
