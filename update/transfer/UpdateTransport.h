#pragma once
// The outside services of the transfers: an Internet session with its requests, cabinet
// extraction and LZ expansion. Windows: WinInet, the FDI of cabinet.dll and lz32.dll.
// Host builds have none of them (tests of the transfer logic bring their own session).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One request opened on a session.
class TUrlRequest {
public:
    virtual ~TUrlRequest() = default;
    // The numeric HTTP status; 0 when there is none.
    virtual int StatusCode() = 0;
    // The announced content length; 0 when absent.
    virtual std::int64_t ContentLength() = 0;
    // Reads up to `size` bytes into `buffer`; `got` is 0 at the end. False on a read failure.
    virtual bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) = 0;
    // The system error number of the last failed Read; 0 when it gave none.
    virtual std::uint32_t ReadError() const { return 0; }
    // From any thread: closes the request, so that a call blocked in it returns with a
    // failure. Later calls fail.
    virtual void Abort() {}
};

// How long the parts of one request may take. The program's own are kTransferLimits;
// tests set shorter ones.
struct TTransferLimits {
    std::chrono::milliseconds Connect{20'000};  // to reach the server
    std::chrono::milliseconds Send{20'000};     // to send the request
    std::chrono::milliseconds Receive{30'000};  // for each answer: the headers, every read
    std::chrono::milliseconds Request{600'000};  // the whole request, opening to last byte
};
inline constexpr TTransferLimits kTransferLimits{};

class TInternetSession {
public:
    virtual ~TInternetSession() = default;
    // Opens `url` with extra request `headers` and the request `flags`; nullptr on failure,
    // with the system error number (0 when the system gave none) in `error`.
    virtual std::unique_ptr<TUrlRequest> OpenUrl(const std::wstring& url, const std::wstring& headers,
                                                 std::uint32_t flags, std::uint32_t& error) = 0;
    // The text of an error number from the Internet library's own message table ("" when it
    // does not know the number); for an extended error, the server's last response text.
    virtual std::wstring ErrorText(std::uint32_t error) = 0;
    // The connection, send and receive limits of every request opened from now on.
    virtual void SetLimits(const TTransferLimits& limits) { (void)limits; }
    // From any thread: closes the session and its requests, so that calls blocked in them
    // return with a failure. Later calls fail.
    virtual void Abort() {}
};

// Request flags: reload from the server, do not write to the cache, send a no-cache
// pragma, keep the connection alive.
inline constexpr std::uint32_t kRequestFlags = 0x84000100u | 0x00400000u;
// The extended error whose text is the server's response.
inline constexpr std::uint32_t kExtendedError = 12003;
// A request that ran out of time, and one given up by the program.
inline constexpr std::uint32_t kTimeoutError = 12002;
inline constexpr std::uint32_t kCancelledError = 12017;

// A session with the system's preconfigured access; nullptr on failure with `error` set.
std::unique_ptr<TInternetSession> OpenInternetSession(const std::wstring& agent, std::uint32_t& error);

class TUpdateFileSystem;
class TWritableFile;

// Unpacks every file of the cabinet into `targetFolder` (with its trailing separator),
// recreating sub-folders, writing through `fs`. Entry paths that would leave the folder or
// name no usable file are refused and fail the extraction, and so does an output of more
// than `maxOutput` bytes in all. `written` receives the paths, relative to the folder, of
// the files it created or began to create, whatever the outcome. False on any failure.
bool ExtractCabinetFiles(const std::wstring& cabinet, const std::wstring& targetFolder, TUpdateFileSystem& fs,
                         std::int64_t maxOutput, std::vector<std::wstring>& written);

// Where a cabinet entry goes: target folder + entry path, or nullopt when the entry path is
// absolute, names a drive, climbs above the target folder with "..", or has a part that
// names no usable file (a device name, a character a file name cannot hold).
std::optional<std::wstring> CabinetEntryTarget(const std::wstring& targetFolder, const std::wstring& entryPath);

// True when the bytes start with the header of the Windows LZ compression format.
bool IsLZHeader(const std::uint8_t* data, std::size_t size);

// Expands the LZ file `path` into `out` (not closed), refusing more than `maxOutput` bytes.
// False on failure.
bool ExpandLZ(const std::wstring& path, TWritableFile& out, std::int64_t maxOutput);
// The expanded name stored in the LZ file's header ("" when it cannot be read).
std::wstring LZExpandedName(const std::wstring& path);
