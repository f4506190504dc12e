#include "UpdateFiles.h"

#include <windows.h>

#include <vector>

namespace UpdateFiles {

std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) {
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name) == 0) return {};
    return name;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

bool ClearProtection(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesW(path.c_str(),
                              attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0;
}

bool RenameFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

bool ForceDirectories(const std::wstring& path) {
    std::error_code error;
    std::filesystem::create_directories(FsPath(path), error);
    return FolderExists(path);
}

std::wstring CurrentFolder() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetCurrentDirectoryW(size, buffer.data());
    std::wstring folder(buffer.data(), length);
    if (!folder.empty() && folder.back() != L'\\') folder.push_back(L'\\');
    return folder;
}

}  // namespace UpdateFiles
