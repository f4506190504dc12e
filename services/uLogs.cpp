#include "uLogs.h"

#include "Application.h"
#include "ProcessInfo.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

namespace {

void AppendTwoDigits(std::wstring& out, int value) {
    if (value < 0) value = 0;
    if (value < 10) out += L'0';
    out += std::to_wstring(value);
}

void AppendFourDigits(std::wstring& out, int value) {
    if (value < 0) value = 0;
    const std::wstring digits = std::to_wstring(value);
    if (digits.size() < 4) out.append(4 - digits.size(), L'0');
    out += digits;
}

// Set once a line could not be written and told; cleared by the next line written.
std::atomic<bool>& TraceFailureTold() {
    static std::atomic<bool> told{false};
    return told;
}

// The running writer, if any. Lines are added under the lock so that a writer being
// stopped never loses one to a race with its end.
std::mutex& WriterLock() {
    static std::mutex lock;
    return lock;
}

std::unique_ptr<TTraceWriter>& Writer() {
    static std::unique_ptr<TTraceWriter> writer;
    return writer;
}

thread_local TTraceCapture* tCapture = nullptr;

// One line to the writer, or appended at once without one.
void WriteEntry(TraceFile& file, const TTraceEntry& entry) {
    try {
        {
            std::lock_guard<std::mutex> guard(WriterLock());
            if (Writer()) {
                Writer()->Add(entry);
                return;
            }
        }
        const std::wstring line = FormatLogLine(entry.Time, file.Separators(), entry.ProcName, entry.Text);
        file.Append(entry.Path, file.ToAnsi(line));
        TraceFailureTold().store(false);
    } catch (...) {
        // Told once, and not again for every line until one has been written again.
        // Marked before the message is shown: showing it may let other lines be tried.
        if (!TraceFailureTold().exchange(true)) Application::HandleException(std::current_exception());
    }
}

}  // namespace

TTraceCapture::TTraceCapture() : FOuter(tCapture), FAttached(true) { tCapture = this; }

TTraceCapture::~TTraceCapture() { WriteLogLines(Take()); }

void TTraceCapture::Detach() {
    if (!FAttached) return;
    FAttached = false;
    if (tCapture == this) tCapture = FOuter;
}

std::vector<TTraceEntry> TTraceCapture::Take() {
    Detach();
    std::vector<TTraceEntry> lines;
    lines.swap(FLines);
    return lines;
}

void WriteLogLines(const std::vector<TTraceEntry>& lines) {
    for (const TTraceEntry& entry : lines) {
        if (tCapture) {
            tCapture->FLines.push_back(entry);  // an outer capture keeps them in turn
            continue;
        }
        WriteEntry(CurrentTraceFile(), entry);
    }
}

std::wstring FormatLogLine(const TLogTime& time, const TLogSeparators& separators,
                           const std::wstring& _ProcName, const std::wstring& _ErrorStr) {
    std::wstring line;
    line.reserve(24 + _ProcName.size() + _ErrorStr.size());
    AppendTwoDigits(line, time.Day);
    line += separators.Date;
    AppendTwoDigits(line, time.Month);
    line += separators.Date;
    AppendFourDigits(line, time.Year);
    line += L'\t';
    AppendTwoDigits(line, time.Hour);
    line += separators.Time;
    AppendTwoDigits(line, time.Minute);
    line += separators.Time;
    AppendTwoDigits(line, time.Second);
    line += L'\t';
    line += _ProcName;
    line += L'\t';
    line += _ErrorStr;
    line += L'\r';
    return line;
}

std::wstring LogFolderFor(const std::wstring& roamingFolder, const std::wstring& appName) {
    const wchar_t delim = ProcessInfo::PathDelim;
    return roamingFolder + delim + L"Lumetra" + delim + appName + delim;
}

std::wstring ComputeLogFolder() {
    return LogFolderFor(ProcessInfo::RoamingAppDataFolder(), CurrentApplicationName());
}

std::wstring LogFolder() {
    static std::optional<std::wstring> folder;
    if (!folder) folder = ComputeLogFolder();
    return *folder;
}

void CreateLogFolder(const std::wstring& folder) { CurrentTraceFile().CreateFolder(folder); }

void AppendLogLine(const std::wstring& logFile, const std::wstring& _ProcName, const std::wstring& _ErrorStr) {
    // A line that cannot be written (a log viewer or a virus scanner holding the file, a
    // full disk) must never stop the work it records: a key press is worth more than its
    // trace.
    try {
        TraceFile& file = CurrentTraceFile();
        TTraceEntry entry{logFile, file.Now(), _ProcName, _ErrorStr};
        if (tCapture) {
            tCapture->FLines.push_back(std::move(entry));
            return;
        }
        WriteEntry(file, entry);
    } catch (...) {
        if (!TraceFailureTold().exchange(true)) Application::HandleException(std::current_exception());
    }
}

void StartTraceWriter(TTraceWriter::TFailureNotice notice, TTraceWriter::TOptions options) {
    std::lock_guard<std::mutex> guard(WriterLock());
    if (!Writer()) Writer() = std::make_unique<TTraceWriter>(CurrentTraceFile(), options, std::move(notice));
}

std::size_t StopTraceWriter(std::chrono::milliseconds timeout) {
    std::unique_ptr<TTraceWriter> writer;
    {
        std::lock_guard<std::mutex> guard(WriterLock());
        writer = std::move(Writer());
    }
    return writer ? writer->Stop(timeout) : 0;
}

bool FlushTrace(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> guard(WriterLock());
    return !Writer() || Writer()->Flush(timeout);
}

void WriteLog(const std::wstring& _ProcName, const std::wstring& _ErrorStr) {
    AppendLogLine(LogFolder() + LogFileName, _ProcName, _ErrorStr);
}
