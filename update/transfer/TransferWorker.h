#pragma once
// The blocking calls of the update transfers, off the main thread.
//
// The main thread carries every key press, so it must never sit in a network call: a
// server that accepts the connection and never answers would hold the presses for as long
// as it likes. TWorkerSession runs each call of the session it wraps (opening it, opening
// a request, the status and length queries, every read, the server's error text) on a
// worker thread; meanwhile the calling thread, when it is the main thread, goes on
// processing its window messages and hand-offs (MainThread::ServeUntil).
//
// Every call is bounded: opening a request by the connect + send + receive limits, every
// other call by the receive limit, and all the calls of one request together by the
// request limit. A call that runs out of time fails with kTimeoutError. A call is given up
// at once, failing with kCancelledError, when the program is asked to end
// (MainThread::QuitRequested) or Abort is called. Either way what the call was blocked in
// is aborted (the inner request, or the inner session while a request is being opened),
// the worker is left to finish on its own with whatever it was using, and the next call
// gets a fresh worker. A session or request whose call ran out of time or was given up
// fails every later call the same way.
//
// A call made while another is in progress (from a handler run during the wait) fails
// with kCancelledError: one session serves one run.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "UpdateTransport.h"

class TWorkerSession : public TInternetSession {
public:
    using TOpener = std::function<std::unique_ptr<TInternetSession>(std::uint32_t& error)>;

    // Runs `open` on a worker (bounded by the connect limit) and gives the session it made
    // `limits`; nullptr with `error` set when it made none.
    static std::unique_ptr<TWorkerSession> Open(const TOpener& open, const TTransferLimits& limits,
                                                std::uint32_t& error);
    ~TWorkerSession() override;
    TWorkerSession(const TWorkerSession&) = delete;
    TWorkerSession& operator=(const TWorkerSession&) = delete;

    std::unique_ptr<TUrlRequest> OpenUrl(const std::wstring& url, const std::wstring& headers, std::uint32_t flags,
                                         std::uint32_t& error) override;
    std::wstring ErrorText(std::uint32_t error) override;
    void SetLimits(const TTransferLimits& limits) override;
    // On the main thread, also from a handler run while a call waits: gives up the call in
    // progress and aborts the inner session and its request.
    void Abort() override;

    struct TCore;

private:
    explicit TWorkerSession(std::shared_ptr<TCore> core);
    std::shared_ptr<TCore> FCore;
};
