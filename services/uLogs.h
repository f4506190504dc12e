#pragma once
// The trace: one line per event appended to "Error.log" in the per-user data folder
// "<roaming application data>\Lumetra\<application name>\".
//
// A line is the local date ("dd/mm/yyyy"), a tab, the local time ("hh:nn:ss"), a tab, the
// procedure name, a tab, the text and a carriage return with no line feed, where "/" and
// ":" are the user's regional separators; names and texts are written unchanged. The
// file is in the ANSI code page and only grows.
//
// A line never holds its caller: once the program has started the trace's writer
// (StartTraceWriter), a line is queued and the writer's own thread appends it, in order,
// keeping it until the file can be written (TraceWriter.h). Nothing else runs inside a
// call: no window message, no hand-off. A line that cannot be written never stops the
// work it records: the writers do not raise. The failure is told once, and again only
// after a line has been written since: to the writer's notice while it runs, else (before
// the writer starts, in tests) to the default error handler.

#include "TraceFile.h"
#include "TraceWriter.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

inline constexpr const wchar_t* LogFileName = L"Error.log";

// The log folder with its trailing delimiter. Computed on first use and then held for
// the life of the process.
std::wstring LogFolder();

// Appends one line to the log file in LogFolder().
void WriteLog(const std::wstring& _ProcName, const std::wstring& _ErrorStr);

// The one line writer, for any holder of a log file path (the main window holds its own):
// takes the time from the clock and hands the line to the writer; without a writer
// running, formats, converts and appends it at once (or tells the failure, once).
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

// Starts the trace's writer; from then on lines are queued. `notice` is told on the
// writer's thread as TTraceWriter says (a failure's message, empty once lines are written
// again). A writer already running is kept.
void StartTraceWriter(TTraceWriter::TFailureNotice notice, TTraceWriter::TOptions options = {});
// Lines written on this thread while a capture lives are kept in it, in order, instead of
// being written; Take hands them over, to be written later with WriteLogLines. So a key
// press sends its key-down before its trace, and the file still reads in the order things
// happened. Captures nest: the innermost one takes the lines.
class TTraceCapture {
public:
    TTraceCapture();
    ~TTraceCapture();  // lines not taken are written now
    TTraceCapture(const TTraceCapture&) = delete;
    TTraceCapture& operator=(const TTraceCapture&) = delete;
    // Stops capturing and hands over the lines kept.
    std::vector<TTraceEntry> Take();

private:
    friend void AppendLogLine(const std::wstring&, const std::wstring&, const std::wstring&);
    friend void WriteLogLines(const std::vector<TTraceEntry>& lines);
    void Detach();
    std::vector<TTraceEntry> FLines;
    TTraceCapture* FOuter = nullptr;
    bool FAttached = false;
};

// Writes lines kept by a capture, in their order (to the capture around this call, if any).
void WriteLogLines(const std::vector<TTraceEntry>& lines);

// How long the way out lets the writer try a file that is held.
inline constexpr std::chrono::milliseconds TraceStopLimit{300};
// Writes what waits for at most `timeout`, then ends the writer; lines are appended by
// their callers again afterwards. Answers how many lines were left unwritten.
std::size_t StopTraceWriter(std::chrono::milliseconds timeout);
// Waits until the lines queued so far are written, for at most `timeout`; true when
// nothing waits (also when no writer runs).
bool FlushTrace(std::chrono::milliseconds timeout);
