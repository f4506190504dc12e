#include "UpdateFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace UpdateFiles {

std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) {
    std::string pattern = WideToUtf8(folder);
    if (!pattern.empty() && pattern.back() != '/') pattern.push_back('/');
    pattern += WideToUtf8(prefix) + "XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return {};
    close(fd);
    return Utf8ToWide(pattern);
}

bool FileExists(const std::wstring& path) {
    std::error_code error;
    return fs::is_regular_file(FsPath(path), error);
}

bool FolderExists(const std::wstring& path) {
    std::error_code error;
    return fs::is_directory(FsPath(path), error);
}

bool RemoveFile(const std::wstring& path) {
    // Like Windows, a read-only file cannot be deleted until its protection is cleared.
    struct stat info;
    const std::string name = WideToUtf8(path);
    if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & S_IWUSR) == 0) return false;
    return unlink(name.c_str()) == 0;
}

bool ClearProtection(const std::wstring& path) {
    std::error_code error;
    fs::permissions(FsPath(path), fs::perms::owner_write, fs::perm_options::add, error);
    return !error;
}

bool RenameFile(const std::wstring& from, const std::wstring& to) {
    std::error_code error;
    if (fs::exists(FsPath(to), error)) return false;
    fs::rename(FsPath(from), FsPath(to), error);
    return !error;
}

bool ForceDirectories(const std::wstring& path) {
    std::error_code error;
    fs::create_directories(FsPath(path), error);
    return fs::is_directory(FsPath(path), error);
}

std::wstring CurrentFolder() {
    std::error_code error;
    std::wstring folder = Utf8ToWide(fs::current_path(error).string());
    if (!folder.empty() && folder.back() != L'/') folder.push_back(L'/');
    return folder;
}

}  // namespace UpdateFiles
