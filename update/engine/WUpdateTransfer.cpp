// Fetching release files and putting them in place.
#include <vector>

#include "AnsiCodePage.h"
#include "Exceptions.h"
#include "MainThread.h"
#include "TextUtils.h"
#include "WUpdate.h"

namespace {

// Large enough that a fast link is not held back by the turns between reads, small enough
// that progress and cancel checks come often on a slow one.
constexpr std::size_t kChunkSize = 64 * 1024;

// Names the transfer in progress for TWebUpdate::Abandon while it is written.
struct TTransferMark {
    std::wstring& Temp;
    TWritableFile*& Out;
    TTransferMark(std::wstring& temp, TWritableFile*& out, const std::wstring& path, TWritableFile* file)
        : Temp(temp), Out(out) {
        Temp = path;
        Out = file;
    }
    ~TTransferMark() {
        Temp.clear();
        Out = nullptr;
    }
};

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

std::wstring TWebUpdate::LogFilePath() const {
    return UpdateLogPath(LogFileName, FFolders.Documents, FFolders.Application);
}

void TWebUpdate::WriteLogLine(const std::wstring& line) {
    const std::wstring path = LogFilePath();
    const std::wstring folder = FolderOf(path);
    if (!folder.empty()) SystemFileSystem().ForceDirectories(folder);
    // A line that cannot be written is dropped: the log must never stop an update.
    SystemFileSystem().AppendToFile(path, WideToAnsi(line) + "\r\n");
}

void TWebUpdate::Error(TInternetSession& session, std::uint32_t error) {
    if (error == 0) return;
    const std::wstring text = session.ErrorText(error);
    if (error == kExtendedError && text.empty()) return;
    DoStatus(976, text, scConnectionError, static_cast<int>(error));
}

std::unique_ptr<TUrlRequest> TWebUpdate::OpenTransfer(TInternetSession& session, const std::wstring& url) {
    // No user name or password is configured, so no authorization header is sent.
    std::uint32_t error = 0;
    std::unique_ptr<TUrlRequest> request = session.OpenUrl(url, std::wstring(), kRequestFlags, error);
    if (!request) {
        // Given up because the program is going: nothing more to say.
        if (Abandoned()) throw EAbort();
        Error(session, error);
        DoStatus(917, url, scFileNotObtained, 1);
        return nullptr;
    }
    const int status = request->StatusCode();
    if (status >= 300) {
        DoStatus(916, std::to_wstring(status), scHttpStatus, status);
        return nullptr;
    }
    return request;
}

TWebUpdate::TStreamOutcome TWebUpdate::StreamToFile(TUrlRequest& request, const std::wstring& tempFile,
                                                    const std::wstring& target, std::int64_t length, std::int64_t limit,
                                                    bool hashing) {
    TStreamOutcome outcome;
    // Signed releases: hashed as it streams, so that a large file is read only once.
    std::unique_ptr<TSha256> hash = hashing ? Crypto().NewSha256() : nullptr;
    // Flushed to disk when closed: the file may replace an installed one.
    const std::unique_ptr<TWritableFile> out = SystemFileSystem().OpenWrite(tempFile);
    const TTransferMark mark(FTransferTemp, FTransferOut, tempFile, out.get());
    outcome.Failed = !out || (hashing && !hash);
    std::vector<std::uint8_t> buffer(kChunkSize);
    while (!outcome.Failed) {
        MainThread::ProcessMessages();
        std::size_t got = 0;
        if (!request.Read(buffer.data(), buffer.size(), got)) {
            outcome.Failed = true;
            outcome.ReadError = request.ReadError();
            break;
        }
        if (got == 0) break;
        // Whatever the server announced, reading stops at the limit, and at the announced
        // length: a body that goes on past either must not fill the disk.
        const std::int64_t after = outcome.Total + static_cast<std::int64_t>(got);
        if (after > limit || (length > 0 && after > length)) {
            outcome.OverLimit = true;
            break;
        }
        // A file that cannot be written is as broken as one that cannot be read.
        if (!out->Write(buffer.data(), got)) {
            outcome.Failed = true;
            break;
        }
        if (hash) hash->Add(buffer.data(), got);
        outcome.Total += static_cast<std::int64_t>(got);
        if (OnFileProgress) OnFileProgress(*this, target, outcome.Total, length);
        bool cancel = FCancelled;
        if (OnProgressCancel) OnProgressCancel(*this, cancel);
        if (cancel) {
            DoStatus(964, {}, scProgressStep, 0);
            outcome.Cancelled = true;
            break;
        }
    }
    if (!out || !out->Close()) outcome.Failed = true;
    if (hash && !outcome.Failed && !outcome.Cancelled) outcome.Digest = hash->Finish();
    return outcome;
}

bool TWebUpdate::CommitFetchedFile(const std::wstring& tempFile, const std::wstring& target) {
    TUpdateFileSystem& files = SystemFileSystem();
    if (files.FileExists(target) && !files.RemoveFile(target)) {
        DoStatus(972, target, scDeleteRenameFailure, 6);
        WriteLogLine(L"Unable to delete file " + target);
        files.RemoveFile(tempFile);
        return false;
    }
    if (!files.MoveFile(tempFile, target)) {
        DoStatus(973, tempFile + L" to " + target, scDeleteRenameFailure, 7);
        WriteLogLine(L"Unable to rename file " + tempFile + L" to " + target);
        files.RemoveFile(tempFile);
        return false;
    }
    if (OnFileDownloaded) OnFileDownloaded(*this, target);
    return true;
}

bool TWebUpdate::URLGetFile(TInternetSession& session, const std::wstring& url, const std::wstring& folder,
                            std::int64_t limit, const TSha256Digest* pin, bool* pinMismatchOut) {
    bool pinMismatch = false;
    if (pinMismatchOut != nullptr) *pinMismatchOut = false;
    FOverLimit = false;
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

    std::unique_ptr<TUrlRequest> request = OpenTransfer(session, url);
    if (!request) return false;

    // An announced length past the limit is refused before anything is read or written.
    const std::int64_t length = request->ContentLength();
    if (length > limit) {
        request.reset();
        FOverLimit = true;
        DoStatus(908, {}, scLengthMismatch, 10);
        return false;
    }
    TUpdateFileSystem& files = SystemFileSystem();
    const std::wstring tempFile = files.CreateTempFile(WinTempDir(), L"WUPD");
    if (tempFile.empty()) return false;
    const std::wstring target = folder + name;

    const TStreamOutcome outcome = StreamToFile(*request, tempFile, target, length, limit, pin != nullptr);
    request.reset();
    FCancelled = outcome.Cancelled;
    FOverLimit = outcome.OverLimit;
    if (Abandoned()) {
        files.RemoveFile(tempFile);
        throw EAbort();
    }

    bool broken = false;
    if ((length > 0 && !outcome.Failed && !outcome.Cancelled && outcome.Total != length) || outcome.OverLimit) {
        DoStatus(908, {}, scLengthMismatch, 10);
        broken = true;
    }
    // Signed releases: a file that is not the one pinned never leaves the temporary file.
    if (pin != nullptr && !outcome.Cancelled && !outcome.Failed && !broken && outcome.Total > 0)
        pinMismatch = !outcome.Digest || *outcome.Digest != *pin;
    if (pinMismatchOut != nullptr) *pinMismatchOut = pinMismatch;
    // An empty body is a failed fetch; it must not replace the file already in place.
    if (outcome.Cancelled || outcome.Failed || broken || pinMismatch || outcome.Total == 0) {
        if (!files.RemoveFile(tempFile)) WriteLogLine(L"Unable to delete file " + tempFile);
        // A transfer that ran out of time says so, as an unreachable server does.
        if (outcome.ReadError == kTimeoutError) Error(session, outcome.ReadError);
        return false;
    }
    return CommitFetchedFile(tempFile, target);
}
