#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "TextUtils.h"
#include "UpdateFileSystem.h"
#include "UpdateFiles.h"

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

std::string Narrow(const std::wstring& path) { return WideToUtf8(path); }

class THostFileSystem : public TUpdateFileSystem {
public:
    bool FileExists(const std::wstring& path) override { return UpdateFiles::FileExists(path); }
    bool FolderExists(const std::wstring& path) override { return UpdateFiles::FolderExists(path); }
    std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
        return UpdateFiles::CreateTempFile(folder, prefix);
    }
    bool CreateFolder(const std::wstring& path) override { return mkdir(Narrow(path).c_str(), 0700) == 0; }
    bool ForceDirectories(const std::wstring& path) override { return UpdateFiles::ForceDirectories(path); }
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
    bool MoveFile(const std::wstring& from, const std::wstring& to) override {
        return UpdateFiles::RenameFile(from, to);
    }
    bool ReplaceFile(const std::wstring& from, const std::wstring& to) override {
        struct stat info;
        if (stat(Narrow(from).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        return std::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0;
    }
    bool RemoveFile(const std::wstring& path) override {
        if (UpdateFiles::RemoveFile(path)) return true;
        UpdateFiles::ClearProtection(path);
        return UpdateFiles::RemoveFile(path);
    }
    bool RemoveFolder(const std::wstring& path) override { return rmdir(Narrow(path).c_str()) == 0; }
};

}  // namespace

TUpdateFileSystem& SystemFileSystem() {
    static THostFileSystem system;
    return system;
}
