#pragma once
// The file operations of the update engine (transfers, installation, the update log, the
// updater), behind one interface so that every write, move and delete of an installation
// can be made to fail in tests. Windows: the Win32 file API (paths of any length, temporary
// names from GetTempFileNameW, replacing moves that clear read-only and hidden targets,
// writes flushed to disk); host builds: POSIX files.
//
// Operations fall in three kinds, counted by TFaultyFileSystem: writes (creating a file or
// folder, writing or flushing data, copying), moves (renames, replacing or not) and deletes.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "TextUtils.h"

// The std::filesystem path of a wide path on this platform.
inline std::filesystem::path FsPath(const std::wstring& path) {
    if constexpr (sizeof(wchar_t) == 2)
        return std::filesystem::path(path);
    else
        return std::filesystem::path(WideToUtf8(path));
}

// A file open for writing from its start.
class TWritableFile {
public:
    virtual ~TWritableFile() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    // Sets the last-write time (Windows FILETIME units, UTC); host builds ignore it.
    virtual void SetStamp(std::uint64_t fileTime) = 0;
    // Flushes the data to disk and closes the file; false when any of it did not get there.
    virtual bool Close() = 0;
};

// A file open for reading that nobody may write, rename or delete while it is open
// (Windows: no write or delete sharing; host builds cannot forbid it).
class TReadableFile {
public:
    virtual ~TReadableFile() = default;
    // Reads up to `size` bytes; `got` is 0 at the end. False on a read failure.
    virtual bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) = 0;
    // Back to the first byte.
    virtual bool Rewind() = 0;
};

class TUpdateFileSystem {
public:
    virtual ~TUpdateFileSystem() = default;

    virtual bool FileExists(const std::wstring& path) = 0;
    virtual bool FolderExists(const std::wstring& path) = 0;
    // True for a link (a junction, a symbolic link: any reparse point on Windows).
    virtual bool IsLink(const std::wstring& path) = 0;
    // The current folder, with a trailing separator.
    virtual std::wstring CurrentFolder() = 0;
    // Opens a file for reading, held against writers; nullptr when it cannot be opened.
    virtual std::unique_ptr<TReadableFile> OpenReadHeld(const std::wstring& path) = 0;

    // Writes.
    // A fresh empty file in `folder` whose name the system makes unique from `prefix`; its
    // path, or "" on failure.
    virtual std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) = 0;
    // Creates one folder; false when it already exists or cannot be made.
    virtual bool CreateFolder(const std::wstring& path) = 0;
    // Creates the folder with its missing parents; true when it exists afterwards.
    virtual bool ForceDirectories(const std::wstring& path) = 0;
    // Creates or truncates `path`; nullptr when it cannot be opened.
    virtual std::unique_ptr<TWritableFile> OpenWrite(const std::wstring& path) = 0;
    // Copies `from` over the existing or new file `to`, flushed to disk.
    virtual bool CopyFlushed(const std::wstring& from, const std::wstring& to) = 0;
    // Appends bytes to a file, creating it when missing (the update log). False when it
    // cannot be written.
    virtual bool AppendToFile(const std::wstring& path, const std::string& bytes) = 0;

    // Moves.
    // Renames or moves a file; fails when `to` exists.
    virtual bool MoveFile(const std::wstring& from, const std::wstring& to) = 0;
    // One move that replaces `to` when it exists, read-only or hidden included; on failure
    // `to` is left as it was.
    virtual bool ReplaceFile(const std::wstring& from, const std::wstring& to) = 0;

    // Deletes.
    // Deletes a file, read-only or hidden included.
    virtual bool RemoveFile(const std::wstring& path) = 0;
    // Deletes a file whose content nobody needs any more (a backup once the new file is in
    // place, what was staged or fetched once installed). The Windows layer deletes it
    // through a handle of the calling thread, so that its blocks are freed there: under Wine
    // a deletion by name is carried out by the one server every thread of every program
    // waits on, and freeing a large file's blocks there held presses up for tens of
    // milliseconds.
    virtual bool DiscardFile(const std::wstring& path) { return RemoveFile(path); }
    // Deletes an empty folder, or a link to a folder (never what it points to).
    virtual bool RemoveFolder(const std::wstring& path) = 0;
};

// The real file system of this build.
TUpdateFileSystem& SystemFileSystem();

// Passes every operation to another file system, except the n-th of a kind, which fails
// without doing anything. Counts the operations of each kind it has seen.
class TFaultyFileSystem : public TUpdateFileSystem {
public:
    enum class TKind { Write, Move, Delete };

    explicit TFaultyFileSystem(TUpdateFileSystem& inner) : FInner(inner) {}

    // Makes the `n`-th operation (1-based) of `kind` fail; 0 fails none.
    void FailAt(TKind kind, int n);
    int Count(TKind kind) const { return FCount[static_cast<int>(kind)]; }
    // True once the planned failure has happened.
    bool Failed() const { return FFailed; }

    bool FileExists(const std::wstring& path) override { return FInner.FileExists(path); }
    bool FolderExists(const std::wstring& path) override { return FInner.FolderExists(path); }
    bool IsLink(const std::wstring& path) override { return FInner.IsLink(path); }
    std::wstring CurrentFolder() override { return FInner.CurrentFolder(); }
    std::unique_ptr<TReadableFile> OpenReadHeld(const std::wstring& path) override {
        return FInner.OpenReadHeld(path);
    }
    // The log is no part of an installation: never made to fail, not counted.
    bool AppendToFile(const std::wstring& path, const std::string& bytes) override {
        return FInner.AppendToFile(path, bytes);
    }
    std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override;
    bool CreateFolder(const std::wstring& path) override;
    bool ForceDirectories(const std::wstring& path) override;
    std::unique_ptr<TWritableFile> OpenWrite(const std::wstring& path) override;
    bool CopyFlushed(const std::wstring& from, const std::wstring& to) override;
    bool MoveFile(const std::wstring& from, const std::wstring& to) override;
    bool ReplaceFile(const std::wstring& from, const std::wstring& to) override;
    bool RemoveFile(const std::wstring& path) override;
    bool DiscardFile(const std::wstring& path) override;
    bool RemoveFolder(const std::wstring& path) override;

    // True when this operation of `kind` is to go ahead (counts it).
    bool Allow(TKind kind);

private:
    TUpdateFileSystem& FInner;
    int FCount[3] = {0, 0, 0};
    TKind FFailKind = TKind::Write;
    int FFailAt = 0;
    bool FFailed = false;
};
