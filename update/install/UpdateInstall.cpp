#include "UpdateInstall.h"

#include "TextUtils.h"

bool IsUsableFileName(const std::wstring& name) {
    if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
    for (wchar_t c : name)
        if (c < 32 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) return false;
    // Windows opens the device for its name whatever extension follows, and ignores
    // blanks before the extension.
    std::wstring base = AsciiUpper(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (base == device) return false;
    if (base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) && base[3] >= L'1' &&
        base[3] <= L'9')
        return false;
    return true;
}

std::wstring FolderOfPath(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

TSwapResult SwapInFiles(TUpdateFileSystem& fs, const std::vector<TSwapItem>& items,
                        const std::wstring& backupPrefix, const TRetryPolicy& retry) {
    struct TDone {
        const TSwapItem* Item;
        std::wstring Backup;  // "" when the target did not exist
    };
    std::vector<TDone> done;
    TSwapResult result;

    auto withRetries = [&](const std::function<bool()>& step) {
        for (int attempt = 1;; ++attempt) {
            if (step()) return true;
            if (!retry || !retry(attempt)) return false;
        }
    };

    for (const TSwapItem& item : items) {
        std::wstring backup;
        if (fs.FileExists(item.Target)) {
            backup = fs.CreateTempFile(FolderOfPath(item.Target), backupPrefix);
            if (backup.empty()) {
                result.Failure = L"Cannot write into " + FolderOfPath(item.Target);
                result.FailedFrom = item.Staged;
                result.FailedTo = FolderOfPath(item.Target);
                break;
            }
            // The old file goes aside in one move; while it is held open it cannot go.
            if (!withRetries([&] { return fs.ReplaceFile(item.Target, backup); })) {
                result.Failure = L"Cannot replace file " + item.Target;
                result.FailedFrom = item.Target;
                result.FailedTo = backup;
                if (!fs.RemoveFile(backup)) result.Leftovers.push_back(backup);
                break;
            }
        }
        if (!fs.MoveFile(item.Staged, item.Target)) {
            result.Failure = L"Cannot rename file " + item.Staged + L" to " + item.Target;
            result.FailedFrom = item.Staged;
            result.FailedTo = item.Target;
            if (!backup.empty() && !fs.MoveFile(backup, item.Target)) {
                result.Failure += L"; cannot restore " + item.Target + L", its old file is kept as " + backup;
                backup.clear();
            }
            break;
        }
        done.push_back({&item, backup});
    }

    result.Ok = result.Failure.empty();
    if (!result.Ok) {
        // Back to the old files, newest first.
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            const bool restored = it->Backup.empty() ? fs.RemoveFile(it->Item->Target)
                                                     : fs.ReplaceFile(it->Backup, it->Item->Target);
            // A backup that could not be put back is the only copy of the old file: it
            // stays, named in the failure, never among the files to delete.
            if (!restored) {
                result.Failure += L"; cannot restore " + it->Item->Target;
                if (!it->Backup.empty()) result.Failure += L", its old file is kept as " + it->Backup;
            }
        }
        return result;
    }
    for (const TDone& d : done)
        if (!d.Backup.empty() && !fs.DiscardFile(d.Backup)) result.Leftovers.push_back(d.Backup);
    return result;
}

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
