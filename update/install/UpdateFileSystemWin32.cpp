#include <windows.h>

#include <filesystem>
#include <vector>

#include "UpdateFileSystem.h"

namespace {

class TWin32WritableFile : public TWritableFile {
public:
    explicit TWin32WritableFile(HANDLE file) : FFile(file) {}
    ~TWin32WritableFile() override {
        if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
    }
    bool Write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD done = 0;
            if (!WriteFile(FFile, data, chunk, &done, nullptr) || done != chunk) {
                FBroken = true;
                return false;
            }
            data += chunk;
            size -= chunk;
        }
        return true;
    }
    void SetStamp(std::uint64_t fileTime) override {
        FILETIME stamp;
        stamp.dwLowDateTime = static_cast<DWORD>(fileTime);
        stamp.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
        SetFileTime(FFile, nullptr, nullptr, &stamp);
    }
    bool Close() override {
        if (FFile == INVALID_HANDLE_VALUE) return false;
        const bool flushed = FlushFileBuffers(FFile) != 0;
        const bool closed = CloseHandle(FFile) != 0;
        FFile = INVALID_HANDLE_VALUE;
        return flushed && closed && !FBroken;
    }

private:
    HANDLE FFile;
    bool FBroken = false;
};

class TWin32ReadableFile : public TReadableFile {
public:
    explicit TWin32ReadableFile(HANDLE file) : FFile(file) {}
    ~TWin32ReadableFile() override { CloseHandle(FFile); }
    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD done = 0;
        got = 0;
        if (!ReadFile(FFile, buffer, chunk, &done, nullptr)) return false;
        got = done;
        return true;
    }
    bool Rewind() override {
        LARGE_INTEGER start{};
        return SetFilePointerEx(FFile, start, nullptr, FILE_BEGIN) != 0;
    }

private:
    HANDLE FFile;
};

DWORD ClearedAttributes(DWORD attributes) {
    return attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

class TWin32FileSystem : public TUpdateFileSystem {
public:
    bool FileExists(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    bool FolderExists(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    bool IsLink(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    std::wstring CurrentFolder() override {
        const DWORD size = GetCurrentDirectoryW(0, nullptr);
        if (size == 0) return {};
        std::vector<wchar_t> buffer(size);
        const DWORD length = GetCurrentDirectoryW(size, buffer.data());
        std::wstring folder(buffer.data(), length);
        if (!folder.empty() && folder.back() != L'\\') folder.push_back(L'\\');
        return folder;
    }
    std::unique_ptr<TReadableFile> OpenReadHeld(const std::wstring& path) override {
        // Shared for reading only: nobody writes, renames or deletes it while we hold it.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<TWin32ReadableFile>(file);
    }
    std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
        wchar_t name[MAX_PATH + 1];
        if (GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name) == 0) return {};
        return name;
    }
    bool CreateFolder(const std::wstring& path) override { return CreateDirectoryW(path.c_str(), nullptr) != 0; }
    bool ForceDirectories(const std::wstring& path) override {
        std::error_code error;
        std::filesystem::create_directories(FsPath(path), error);
        return FolderExists(path);
    }
    std::unique_ptr<TWritableFile> OpenWrite(const std::wstring& path) override {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<TWin32WritableFile>(file);
    }
    bool CopyFlushed(const std::wstring& from, const std::wstring& to) override {
        HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (in == INVALID_HANDLE_VALUE) return false;
        std::unique_ptr<TWritableFile> out = OpenWrite(to);
        bool ok = out != nullptr;
        static thread_local std::uint8_t buffer[65536];
        while (ok) {
            DWORD got = 0;
            if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) ok = false;
            if (!ok || got == 0) break;
            ok = out->Write(buffer, got);
        }
        CloseHandle(in);
        if (out && !out->Close()) ok = false;
        return ok;
    }
    bool AppendToFile(const std::wstring& path, const std::string& bytes) override {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size();
        return CloseHandle(file) != 0 && ok;
    }
    bool MoveFile(const std::wstring& from, const std::wstring& to) override {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
    }
    bool ReplaceFile(const std::wstring& from, const std::wstring& to) override {
        // A read-only target refuses to be replaced: clear it for the move, and give it
        // back its attributes when the move fails.
        const DWORD attributes = GetFileAttributesW(to.c_str());
        const bool cleared = attributes != INVALID_FILE_ATTRIBUTES && ClearedAttributes(attributes) != attributes &&
                             SetFileAttributesW(to.c_str(), ClearedAttributes(attributes)) != 0;
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
            return true;
        if (cleared) SetFileAttributesW(to.c_str(), attributes);
        return false;
    }
    bool RemoveFile(const std::wstring& path) override {
        if (DeleteFileW(path.c_str())) return true;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
        if (ClearedAttributes(attributes) == attributes) return false;
        SetFileAttributesW(path.c_str(), ClearedAttributes(attributes));
        if (DeleteFileW(path.c_str())) return true;
        SetFileAttributesW(path.c_str(), attributes);
        return false;
    }
    bool DiscardFile(const std::wstring& path) override {
        // Deleted as its handle closes, after one read through it: under Wine that read
        // leaves this process holding the file too, so the server's deletion only takes the
        // name away and the blocks are freed here, as this thread lets the file go.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char byte = 0;
            DWORD got = 0;
            ReadFile(file, &byte, 1, &got, nullptr);
            CloseHandle(file);
            if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        }
        return RemoveFile(path);
    }
    // On a junction or a link to a folder this removes the link alone.
    bool RemoveFolder(const std::wstring& path) override { return RemoveDirectoryW(path.c_str()) != 0; }
};

}  // namespace

TUpdateFileSystem& SystemFileSystem() {
    static TWin32FileSystem system;
    return system;
}
