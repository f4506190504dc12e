#pragma once
// Putting installed files in place whole or not at all, over the installation's file
// system: files are staged beside their targets and swapped in; a set of files swapped
// together is put back as it was when one of them cannot be swapped.

#include <functional>
#include <string>
#include <vector>

#include "UpdateFileSystem.h"

// Ceilings of what an update may make us read or write.
// A body sent without a length, when its entry names no size.
inline constexpr std::int64_t kMaxBodyBytes = 256ll << 20;
// Everything one cabinet unpacks to.
inline constexpr std::int64_t kMaxCabinetOutputBytes = 512ll << 20;
// The control file, downloaded and read.
inline constexpr std::int64_t kMaxControlFileBytes = 1ll << 20;
// The release notes and the agreement, downloaded and read.
inline constexpr std::int64_t kMaxDocumentBytes = 4ll << 20;

// The update log's name, read by the program and written by the updater.
inline constexpr const wchar_t* kUpdateLogFileName = L"WUPDATE.LOG";

// The update log's path: a name without "\\", "/" or ":" is placed in `documents`; then
// "{APP}" (any case) becomes `appFolder` with a trailing backslash, and every doubled
// backslash becomes one, except the leading pair of a network path.
std::wstring UpdateLogPath(const std::wstring& name, const std::wstring& documents, const std::wstring& appFolder);

// False for a name a file cannot carry on Windows: empty, a device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with or without an extension, any case), a character below 32 or
// one of < > : " / \ | ? *, or a trailing dot or blank (which Windows drops).
bool IsUsableFileName(const std::wstring& name);

// The folder part of a path, with its trailing separator; "" when there is none.
std::wstring FolderOfPath(const std::wstring& path);

struct TSwapItem {
    std::wstring Staged;  // the new file, beside its target
    std::wstring Target;
};

struct TSwapResult {
    bool Ok = false;
    // What failed, for the log ("" on success).
    std::wstring Failure;
    // The move that failed: from the file, to the file or folder ("" on success).
    std::wstring FailedFrom;
    std::wstring FailedTo;
    // Files that could not be deleted afterwards, for the caller to try again. A backup
    // that could not be put back is never one of them: it is kept, and the failure names it.
    std::vector<std::wstring> Leftovers;
};

// Asked before another try of a move that failed (1 for the first retry); false gives up.
using TRetryPolicy = std::function<bool(int attempt)>;

// Swaps every staged file onto its target. Each existing target is first moved aside to a
// backup beside it (named from `backupPrefix`), then the staged file moved in. When any
// step fails, the files already swapped get their old content back (targets that did not
// exist are deleted again) and every target is as it was. The backups are deleted at the
// end; the staged files are left to the caller.
TSwapResult SwapInFiles(TUpdateFileSystem& fs, const std::vector<TSwapItem>& items,
                        const std::wstring& backupPrefix, const TRetryPolicy& retry = {});
