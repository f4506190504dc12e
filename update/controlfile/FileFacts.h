#pragma once
// What the update engine learns about installed files: existence, last-write time in local
// time, size, the version of the version resource, and the bytes (for the checksum).
// Windows reads the real files (GetFileVersionInfoW for versions); host builds read real
// files without version resources; tests describe files in a table.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ControlFileText.h"

class TFileFacts {
public:
    using TChunkSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

    virtual ~TFileFacts() = default;
    virtual bool FileExists(const std::wstring& path) = 0;
    // Last-write time in local time; nullopt when the file is not there.
    virtual std::optional<TDateStamp> LastWriteTime(const std::wstring& path) = 0;
    // Last-write time in UTC; nullopt when the file is not there. (A table of files
    // answers its local time: it has no time zone.)
    virtual std::optional<TDateStamp> LastWriteTimeUtc(const std::wstring& path) { return LastWriteTime(path); }
    // Size in bytes; -1 when the file cannot be opened.
    virtual std::int64_t FileSize(const std::wstring& path) = 0;
    // File version of the fixed version information; nullopt without a version resource.
    virtual std::optional<TVersionWords> FileVersion(const std::wstring& path) = 0;
    // Hands the file's bytes to `sink` in order, in chunks; false when it cannot be read.
    virtual bool ReadFile(const std::wstring& path, const TChunkSink& sink) = 0;
};

// The real file system of this build.
std::unique_ptr<TFileFacts> MakeSystemFileFacts();

// The additive checksum of a file; -1 when it cannot be read.
std::int32_t FileChecksum(TFileFacts& facts, const std::wstring& path);

// The whole content of a file, or nullopt (also when it holds more than `maxBytes`).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(TFileFacts& facts, const std::wstring& path,
                                                       std::int64_t maxBytes = INT64_MAX);

// Files described in memory. Paths match without regard to ASCII case, as on Windows.
class TFileFactsTable : public TFileFacts {
public:
    struct TEntry {
        std::vector<std::uint8_t> Content;
        TDateStamp LastWrite = kNoDate;
        std::optional<TVersionWords> Version;
        bool Unreadable = false;  // present, but opening it fails
    };

    TEntry& Add(const std::wstring& path, TEntry entry);
    TEntry& Add(const std::wstring& path, const std::string& content);
    void Remove(const std::wstring& path);

    bool FileExists(const std::wstring& path) override;
    std::optional<TDateStamp> LastWriteTime(const std::wstring& path) override;
    std::int64_t FileSize(const std::wstring& path) override;
    std::optional<TVersionWords> FileVersion(const std::wstring& path) override;
    bool ReadFile(const std::wstring& path, const TChunkSink& sink) override;

private:
    TEntry* Find(const std::wstring& path);
    std::map<std::wstring, TEntry> FEntries;
};
