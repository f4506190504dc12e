// Fetching release files and putting them in place.
#include <fstream>
#include <vector>

#include "AnsiCodePage.h"
#include "Exceptions.h"
#include "MainThread.h"
#include "TextUtils.h"
#include "UpdateFiles.h"
#include "WUpdate.h"

namespace {

// Large enough that a fast link is not held back by the turns between reads, small enough
// that progress and cancel checks come often on a slow one.
constexpr std::size_t kChunkSize = 64 * 1024;

// Names the transfer in progress for TWebUpdate::Abandon while it is written.
struct TTransferMark {
    std::wstring& Temp;
    UpdateFiles::TOutputFile*& Out;
    TTransferMark(std::wstring& temp, UpdateFiles::TOutputFile*& out, const std::wstring& path,
                  UpdateFiles::TOutputFile& file)
        : Temp(temp), Out(out) {
        Temp = path;
        Out = &file;
    }
    ~TTransferMark() {
        Temp.clear();
        Out = nullptr;
    }
};

std::wstring UpperExtension(const std::wstring& name) {
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : AsciiUpper(name.substr(dot));
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Deletes `path`, clearing read-only and hidden attributes when a plain delete fails.
bool ForceRemove(const std::wstring& path) {
    if (UpdateFiles::RemoveFile(path)) return true;
    UpdateFiles::ClearProtection(path);
    return UpdateFiles::RemoveFile(path);
}

}  // namespace

std::wstring UpdateLogPath(const std::wstring& name, const std::wstring& documents, const std::wstring& appFolder) {
    std::wstring path = name;
    if (name.find_first_of(L"\\/:") == std::wstring::npos) path = documents + L"\\" + name;

    std::wstring app = appFolder;
    if (app.empty() || app.back() != L'\\') app.push_back(L'\\');
    for (std::size_t at = 0;;) {
        const std::size_t found = AsciiUpper(path).find(L"{APP}", at);
        if (found == std::wstring::npos) break;
        path.replace(found, 5, app);
        at = found + app.size();
    }

    // The leading pair of a network path stays; any other run of backslashes becomes one.
    const std::size_t keep = path.rfind(L"\\\\", 0) == 0 ? 2 : 0;
    std::wstring result = path.substr(0, keep);
    for (std::size_t i = keep; i < path.size(); ++i) {
        if (path[i] == L'\\' && result.size() > keep && result.back() == L'\\') continue;
        result.push_back(path[i]);
    }
    return result;
}

std::wstring TWebUpdate::LogFilePath() const {
    return UpdateLogPath(LogFileName, FFolders.Documents, FFolders.Application);
}

void TWebUpdate::WriteLogLine(const std::wstring& line) {
    const std::wstring path = LogFilePath();
    const std::wstring folder = FolderOf(path);
    if (!folder.empty()) UpdateFiles::ForceDirectories(folder);
    // A line that cannot be written is dropped: the log must never stop an update.
    UpdateFiles::AppendToFile(path, WideToAnsi(line) + "\r\n");
}

void TWebUpdate::Error(TInternetSession& session, std::uint32_t error) {
    if (error == 0) return;
    const std::wstring text = session.ErrorText(error);
    if (error == kExtendedError && text.empty()) return;
    DoStatus(976, text, scConnectionError, static_cast<int>(error));
}

bool TWebUpdate::URLGetFile(TInternetSession& session, const std::wstring& url, const std::wstring& folder) {
    struct TSessionMark {
        TInternetSession*& Held;
        TInternetSession* Before;
        TSessionMark(TInternetSession*& held, TInternetSession& session) : Held(held), Before(held) {
            Held = &session;
        }
        ~TSessionMark() { Held = Before; }
    } sessionMark(FTransferSession, session);
    const std::wstring name = URLtoFile(url);
    DoStatus(915, name, scProgressStep, 0);

    // No user name or password is configured, so no authorization header is sent.
    std::uint32_t error = 0;
    std::unique_ptr<TUrlRequest> request = session.OpenUrl(url, std::wstring(), kRequestFlags, error);
    if (!request) {
        // Given up because the program is going: nothing more to say.
        if (Abandoned()) throw EAbort();
        Error(session, error);
        DoStatus(917, url, scFileNotObtained, 1);
        return false;
    }

    const int status = request->StatusCode();
    if (status >= 300) {
        DoStatus(916, std::to_wstring(status), scHttpStatus, status);
        return false;
    }

    const std::wstring tempFile = UpdateFiles::CreateTempFile(WinTempDir(), L"WUPD");
    if (tempFile.empty()) return false;
    const std::wstring target = folder + name;
    const std::int64_t length = request->ContentLength();

    std::int64_t total = 0;
    bool failed = false;
    bool cancelled = false;
    std::uint32_t readError = 0;
    {
        UpdateFiles::TOutputFile out(tempFile);
        const TTransferMark mark(FTransferTemp, FTransferOut, tempFile, out);
        failed = !out.IsOpen();
        std::vector<std::uint8_t> buffer(kChunkSize);
        while (!failed) {
            MainThread::ProcessMessages();
            std::size_t got = 0;
            if (!request->Read(buffer.data(), buffer.size(), got)) {
                failed = true;
                readError = request->ReadError();
                break;
            }
            if (got == 0) break;
            // A file that cannot be written is as broken as one that cannot be read.
            if (!out.Write(buffer.data(), got)) {
                failed = true;
                break;
            }
            total += static_cast<std::int64_t>(got);
            if (OnFileProgress) OnFileProgress(*this, target, total, length);
            bool cancel = FCancelled;
            if (OnProgressCancel) OnProgressCancel(*this, cancel);
            if (cancel) {
                DoStatus(964, {}, scProgressStep, 0);
                cancelled = true;
                break;
            }
        }
        if (!out.Close()) failed = true;
    }
    request.reset();
    FCancelled = cancelled;
    if (Abandoned()) {
        UpdateFiles::RemoveFile(tempFile);
        throw EAbort();
    }

    bool broken = false;
    if (length > 0 && !failed && !cancelled && total != length) {
        DoStatus(908, {}, scLengthMismatch, 10);
        broken = true;
    }
    // An empty body is a failed fetch; it must not replace the file already in place.
    if (cancelled || failed || broken || total == 0) {
        if (!UpdateFiles::RemoveFile(tempFile)) WriteLogLine(L"Unable to delete file " + tempFile);
        // A transfer that ran out of time says so, as an unreachable server does.
        if (readError == kTimeoutError) Error(session, readError);
        return false;
    }

    if (UpdateFiles::FileExists(target) && !ForceRemove(target)) {
        DoStatus(972, target, scDeleteRenameFailure, 6);
        WriteLogLine(L"Unable to delete file " + target);
        UpdateFiles::RemoveFile(tempFile);
        return false;
    }
    if (!UpdateFiles::RenameFile(tempFile, target)) {
        DoStatus(973, tempFile + L" to " + target, scDeleteRenameFailure, 7);
        WriteLogLine(L"Unable to rename file " + tempFile + L" to " + target);
        UpdateFiles::RemoveFile(tempFile);
        return false;
    }
    if (OnFileDownloaded) OnFileDownloaded(*this, target);
    return true;
}

int TWebUpdate::GetFileUpdates() {
    int result = 0;
    const std::wstring temp = WinTempDir();
    const std::size_t count = FFileList.Count();
    for (std::size_t i = 0; i < count; ++i) {
        FFileList.SetActiveIndex(static_cast<int>(i));
        // A copy: handlers called on the way may touch the list.
        const TFileDescription item = FFileList[i];
        if (!item.TargetDir.empty() && !UpdateFiles::FolderExists(item.TargetDir))
            UpdateFiles::ForceDirectories(item.TargetDir);

        if (FSession == nullptr || !URLGetFile(*FSession, item.URL, temp)) {
            DoStatus(946, item.URL, scFileNotObtained, 9);
            FAppUpdate = false;
            result = -1;
            continue;
        }

        const std::wstring name = URLtoFile(item.URL);
        const std::wstring fetched = temp + name;
        const std::wstring extension = UpperExtension(name);
        if (AsciiUpper(FAppComps).find(AsciiUpper(name)) != std::wstring::npos) {
            // Only the updater may replace a file of the running program.
            FComponentsIncluded = true;
            DoStatus(962, name, scProgressDetail, 0);
            continue;
        }

        const bool cabinet = extension == L".CAB";
        if (item.Compressed && !cabinet) {
            // An LZ file is expanded where it is installed: its target folder when it has
            // one, else the current folder (the program folder during a run).
            std::wstring folder = item.TargetDir;
            if (folder.empty()) folder = FCurrentFolder.empty() ? UpdateFiles::CurrentFolder() : FCurrentFolder;
            const std::wstring placed = folder + name;
            if (AsciiUpper(placed) != AsciiUpper(fetched)) {
                if (UpdateFiles::FileExists(placed)) ForceRemove(placed);
                if (!UpdateFiles::RenameFile(fetched, placed)) continue;
            }
            ExpandLZFile(placed);
            continue;
        }

        if (!cabinet && extension != L".PAT" && extension != L".ZIP" && !item.TargetDir.empty()) {
            const std::wstring placed = item.TargetDir + name;
            if (AsciiUpper(placed) != AsciiUpper(fetched)) {
                if (UpdateFiles::FileExists(placed)) ForceRemove(placed);
                // A failed move leaves the file in the temporary folder, unreported.
                UpdateFiles::RenameFile(fetched, placed);
            }
            continue;
        }

        if (cabinet && item.Compressed) {
            if (ExtractCabinet(fetched, item.TargetDir) != 0)
                DoStatus(947, fetched, scCabError, 0);
            else
                UpdateFiles::RemoveFile(fetched);
        }
    }
    FFileList.SetActiveIndex(-1);
    return result;
}

int TWebUpdate::ExtractCabinet(const std::wstring& cabinet, const std::wstring& targetFolder) {
    return ExtractCabinetFiles(cabinet, targetFolder) ? 0 : -1;
}

bool TWebUpdate::ExpandLZFile(const std::wstring& path) {
    std::uint8_t header[14] = {};
    {
        std::ifstream in(FsPath(path), std::ios::binary);
        if (!in) return false;
        in.read(reinterpret_cast<char*>(header), sizeof header);
        if (in.gcount() != static_cast<std::streamsize>(sizeof header)) return false;
    }
    // A file that is not LZ data is left exactly as it was fetched.
    if (!IsLZHeader(header, sizeof header)) return false;

    std::wstring expanded = LZExpandedName(path);
    if (expanded.empty()) return false;
    // Expand beside it first: the compressed file goes only once its content is safe.
    const std::wstring work = UpdateFiles::CreateTempFile(FolderOf(path), L"WUPD");
    if (work.empty()) return false;
    if (!ExpandLZ(path, work)) {
        UpdateFiles::RemoveFile(work);
        return false;
    }
    if (AsciiUpper(expanded) != AsciiUpper(path) && UpdateFiles::FileExists(expanded)) ForceRemove(expanded);
    if (!UpdateFiles::RemoveFile(path) && AsciiUpper(expanded) == AsciiUpper(path)) {
        UpdateFiles::RemoveFile(work);
        return false;
    }
    if (!UpdateFiles::RenameFile(work, expanded)) {
        WriteLogLine(L"Unable to rename file " + work + L" to " + expanded);
        return false;
    }
    return true;
}
