#pragma once
// The outside service of the transfers: an Internet session with its requests. Windows:
// WinInet. Host builds have none (tests of the transfer logic bring their own session).

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
