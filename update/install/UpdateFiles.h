#pragma once
// File operations of the transfers and installation. Windows: the Win32 file API (paths
// of any length, read-only and hidden attributes, temporary names from GetTempFileNameW).
// Host builds: POSIX files, for the tests of the transfer logic.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "TextUtils.h"

// The std::filesystem path of a wide path on this platform.
inline std::filesystem::path FsPath(const std::wstring& path) {
    if constexpr (sizeof(wchar_t) == 2)
        return std::filesystem::path(path);
    else
        return std::filesystem::path(WideToUtf8(path));
}

namespace UpdateFiles {

// Creates a fresh empty file in `folder` whose name the system makes unique from `prefix`;
// its path, or "" on failure.
std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
// Clears the read-only and hidden attributes (host: makes the file writable).
bool ClearProtection(const std::wstring& path);
// Renames or moves a file; fails when the target exists.
bool RenameFile(const std::wstring& from, const std::wstring& to);
// Creates the folder with all missing parents; true when it exists afterwards.
bool ForceDirectories(const std::wstring& path);
// The current folder, with a trailing separator.
std::wstring CurrentFolder();

// Appends bytes to a file, creating it when missing. False when it cannot be written.
bool AppendToFile(const std::wstring& path, const std::string& bytes);

// A file open for writing from its start; closes on destruction.
class TOutputFile {
public:
    explicit TOutputFile(const std::wstring& path);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;
    bool IsOpen() const;
    bool Write(const std::uint8_t* data, std::size_t size);
    // Closes the file; false when the last writes did not reach it.
    bool Close();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace UpdateFiles
