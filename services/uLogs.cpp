#include "uLogs.h"

#include "MainThread.h"
#include "ProcessInfo.h"

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

}  // namespace

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
    TraceFile& file = CurrentTraceFile();
    const std::wstring line = FormatLogLine(file.Now(), file.Separators(), _ProcName, _ErrorStr);
    file.Append(logFile, file.ToAnsi(line));
    MainThread::ProcessMessages();
}

void WriteLog(const std::wstring& _ProcName, const std::wstring& _ErrorStr) {
    AppendLogLine(LogFolder() + LogFileName, _ProcName, _ErrorStr);
}
