#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "TextUtils.h"
#include "UpdateFileSystem.h"

namespace fs = std::filesystem;

namespace {

class THostWritableFile : public TWritableFile {
public:
    explicit THostWritableFile(int fd) : FFd(fd) {}
    ~THostWritableFile() override {
        if (FFd >= 0) close(FFd);
    }
    bool Write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t done = write(FFd, data, size);
            if (done <= 0) {
                FBroken = true;
                return false;
            }
            data += done;
            size -= static_cast<std::size_t>(done);
        }
        return true;
    }
    void SetStamp(std::uint64_t) override {}
    bool Close() override {
        if (FFd < 0) return false;
        const bool flushed = fsync(FFd) == 0;
        const bool closed = close(FFd) == 0;
        FFd = -1;
        return flushed && closed && !FBroken;
    }

private:
    int FFd;
    bool FBroken = false;
};

class THostReadableFile : public TReadableFile {
public:
    explicit THostReadableFile(int fd) : FFd(fd) {}
    ~THostReadableFile() override { close(FFd); }
    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        const ssize_t done = read(FFd, buffer, size);
        got = done > 0 ? static_cast<std::size_t>(done) : 0;
        return done >= 0;
    }
    bool Rewind() override { return lseek(FFd, 0, SEEK_SET) == 0; }

private:
    int FFd;
};

std::string Narrow(const std::wstring& path) { return WideToUtf8(path); }

class THostFileSystem : public TUpdateFileSystem {
public:
    bool FileExists(const std::wstring& path) override {
        std::error_code error;
        return fs::is_regular_file(FsPath(path), error);
    }
    bool FolderExists(const std::wstring& path) override {
        std::error_code error;
        return fs::is_directory(FsPath(path), error);
    }
    bool IsLink(const std::wstring& path) override {
        std::error_code error;
        return fs::is_symlink(FsPath(path), error);
    }
    std::wstring CurrentFolder() override {
        std::error_code error;
        std::wstring folder = Utf8ToWide(fs::current_path(error).string());
        if (!folder.empty() && folder.back() != L'/') folder.push_back(L'/');
        return folder;
    }
    std::unique_ptr<TReadableFile> OpenReadHeld(const std::wstring& path) override {
        // POSIX cannot keep writers out; the Windows build does.
        const int fd = open(Narrow(path).c_str(), O_RDONLY);
        if (fd < 0) return nullptr;
        return std::make_unique<THostReadableFile>(fd);
    }
    std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
        std::string pattern = Narrow(folder);
        if (!pattern.empty() && pattern.back() != '/') pattern.push_back('/');
        pattern += Narrow(prefix) + "XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) return {};
        close(fd);
        return Utf8ToWide(pattern);
    }
    bool CreateFolder(const std::wstring& path) override { return mkdir(Narrow(path).c_str(), 0700) == 0; }
    bool ForceDirectories(const std::wstring& path) override {
        std::error_code error;
        fs::create_directories(FsPath(path), error);
        return fs::is_directory(FsPath(path), error);
    }
    std::unique_ptr<TWritableFile> OpenWrite(const std::wstring& path) override {
        const int fd = open(Narrow(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return nullptr;
        return std::make_unique<THostWritableFile>(fd);
    }
    bool CopyFlushed(const std::wstring& from, const std::wstring& to) override {
        const int in = open(Narrow(from).c_str(), O_RDONLY);
        if (in < 0) return false;
        std::unique_ptr<TWritableFile> out = OpenWrite(to);
        bool ok = out != nullptr;
        std::uint8_t buffer[65536];
        while (ok) {
            const ssize_t got = read(in, buffer, sizeof buffer);
            if (got < 0) ok = false;
            if (got <= 0) break;
            ok = out->Write(buffer, static_cast<std::size_t>(got));
        }
        close(in);
        if (out && !out->Close()) ok = false;
        return ok;
    }
    bool AppendToFile(const std::wstring& path, const std::string& bytes) override {
        std::ofstream out(FsPath(path), std::ios::binary | std::ios::app);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        return !out.fail();
    }
    bool MoveFile(const std::wstring& from, const std::wstring& to) override {
        std::error_code error;
        if (fs::exists(FsPath(to), error)) return false;
        fs::rename(FsPath(from), FsPath(to), error);
        return !error;
    }
    bool ReplaceFile(const std::wstring& from, const std::wstring& to) override {
        struct stat info;
        if (stat(Narrow(from).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        return std::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0;
    }
    bool RemoveFile(const std::wstring& path) override {
        // Like Windows, a read-only file is deleted only once its protection is cleared.
        struct stat info;
        const std::string name = Narrow(path);
        if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        if ((info.st_mode & S_IWUSR) == 0 && chmod(name.c_str(), info.st_mode | S_IWUSR) != 0) return false;
        return unlink(name.c_str()) == 0;
    }
    bool RemoveFolder(const std::wstring& path) override {
        if (IsLink(path)) return unlink(Narrow(path).c_str()) == 0;
        return rmdir(Narrow(path).c_str()) == 0;
    }
};

}  // namespace

TUpdateFileSystem& SystemFileSystem() {
    static THostFileSystem system;
    return system;
}
