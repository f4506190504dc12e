// The hand-over of the transfers' blocking calls to a worker: the main thread keeps
// serving hand-offs while a call blocks, a call that outlives its limit or is given up
// returns at once with the right error, and a given-up transfer leaves nothing behind.
// Run under ThreadSanitizer as well (scripts/test).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Exceptions.h"
#include "MainThread.h"
#include "TextUtils.h"
#include "TransferWorker.h"
#include "WUpdate.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A gate that scripted calls block at until it opens or their handle is aborted.
struct TGate {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = false;
    int Waiting = 0;

    void Release() {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Open = true;
        }
        Changed.notify_all();
    }
    // False when `aborted` ended the wait.
    bool Pass(const std::atomic<bool>& aborted) {
        std::unique_lock<std::mutex> lock(Lock);
        ++Waiting;
        Changed.notify_all();
        Changed.wait(lock, [&] { return Open || aborted.load(); });
        --Waiting;
        return Open;
    }
    void Wake() { Changed.notify_all(); }
};

// What the scripted transport does where.
enum class TBlockAt { Nowhere, Open, Read };

struct TScript {
    TBlockAt Block = TBlockAt::Nowhere;
    std::string Body = "release bytes";
    std::size_t Chunk = 1 << 20;      // bytes a read gives at most
    std::chrono::milliseconds ReadDelay{0};  // each read takes this long (a trickle)
    TGate Gate;
    std::atomic<bool> SessionAborted{false};
    std::atomic<bool> RequestAborted{false};
    std::atomic<bool> CalledOnMain{false};
    std::atomic<int> Reads{0};

    void Note() {
        if (MainThread::IsMainThread()) CalledOnMain = true;
    }
};

using TScriptPtr = std::shared_ptr<TScript>;

class TScriptedRequest : public TUrlRequest {
public:
    explicit TScriptedRequest(TScriptPtr script) : FHeld(script), FScript(*script) {}
    int StatusCode() override {
        FScript.Note();
        return 200;
    }
    std::int64_t ContentLength() override {
        FScript.Note();
        return static_cast<std::int64_t>(FScript.Body.size());
    }
    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        FScript.Note();
        got = 0;
        ++FScript.Reads;
        if (FScript.Block == TBlockAt::Read && !FScript.Gate.Pass(FScript.RequestAborted)) return false;
        if (FScript.ReadDelay.count() > 0) std::this_thread::sleep_for(FScript.ReadDelay);
        if (FScript.RequestAborted) return false;
        got = std::min({size, FScript.Chunk, FScript.Body.size() - FOffset});
        std::copy_n(FScript.Body.data() + FOffset, got, buffer);
        FOffset += got;
        return true;
    }
    void Abort() override {
        FScript.RequestAborted = true;
        FScript.Gate.Wake();
    }

private:
    TScriptPtr FHeld;  // a worker left behind may still be here after the test moved on
    TScript& FScript;
    std::size_t FOffset = 0;
};

class TScriptedSession : public TInternetSession {
public:
    explicit TScriptedSession(TScriptPtr script) : FHeld(script), FScript(*script) {}
    std::unique_ptr<TUrlRequest> OpenUrl(const std::wstring&, const std::wstring&, std::uint32_t,
                                         std::uint32_t& error) override {
        FScript.Note();
        if (FScript.Block == TBlockAt::Open && !FScript.Gate.Pass(FScript.SessionAborted)) {
            error = 12030;  // what WinInet says for a connection closed under it
            return nullptr;
        }
        return std::make_unique<TScriptedRequest>(FHeld);
    }
    std::wstring ErrorText(std::uint32_t error) override {
        return error == kTimeoutError ? L"The operation timed out" : L"";
    }
    void Abort() override {
        FScript.SessionAborted = true;
        FScript.Gate.Wake();
    }

private:
    TScriptPtr FHeld;
    TScript& FScript;
};

// Limits short enough for a test, long enough for a loaded machine to meet them when it
// must.
TTransferLimits ShortLimits() {
    TTransferLimits limits;
    limits.Connect = 200ms;
    limits.Send = 200ms;
    limits.Receive = 300ms;
    limits.Request = 60s;
    return limits;
}

TTransferLimits RoomyLimits() {
    TTransferLimits limits;
    limits.Connect = limits.Send = limits.Receive = 60s;
    limits.Request = 120s;
    return limits;
}

class TransferWorker : public testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        MainThread::ClearQuitRequest();
    }
    void TearDown() override {
        Script->Gate.Release();
        MainThread::ClearQuitRequest();
    }

    // A fresh script, so that a worker left behind by the last case cannot meet this one.
    void Fresh(TBlockAt at) {
        Script->Gate.Release();
        Script = std::make_shared<TScript>();
        Script->Block = at;
    }

    std::unique_ptr<TWorkerSession> Open(const TTransferLimits& limits) {
        std::uint32_t error = 0;
        auto session = TWorkerSession::Open(
            [script = Script](std::uint32_t&) { return std::make_unique<TScriptedSession>(script); }, limits, error);
        EXPECT_NE(session, nullptr);
        EXPECT_EQ(error, 0u);
        return session;
    }

    // A read thread handing a report to the main thread, as the HID read threads do, once
    // the scripted call is blocked.
    std::thread HandOffWhileBlocked(std::atomic<bool>& served) {
        return std::thread([script = Script, &served] {
            {
                std::unique_lock<std::mutex> lock(script->Gate.Lock);
                script->Gate.Changed.wait(lock, [&] { return script->Gate.Waiting > 0; });
            }
            MainThread::Synchronize([&served] { served = true; });
        });
    }

    TScriptPtr Script = std::make_shared<TScript>();
};

// While a call blocks on the worker, the main thread serves a read thread's hand-off; the
// call then completes with its result.
TEST_F(TransferWorker, MainThreadServesHandOffsWhileACallBlocks) {
    for (const TBlockAt at : {TBlockAt::Open, TBlockAt::Read}) {
        SCOPED_TRACE(at == TBlockAt::Open ? "blocked opening" : "blocked reading");
        Fresh(at);
        auto session = Open(RoomyLimits());
        ASSERT_NE(session, nullptr);
        std::atomic<bool> served{false};
        std::thread reader = HandOffWhileBlocked(served);
        std::thread releaser([&served, script = Script] {
            // Released only once the hand-off has run: it ran during the blocked call.
            while (!served) std::this_thread::sleep_for(1ms);
            script->Gate.Release();
        });

        std::uint32_t error = 0;
        std::unique_ptr<TUrlRequest> request = session->OpenUrl(L"http://h/f", L"", kRequestFlags, error);
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(request->StatusCode(), 200);
        std::uint8_t buffer[64];
        std::size_t got = 0;
        EXPECT_TRUE(request->Read(buffer, sizeof buffer, got));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), Script->Body);
        EXPECT_TRUE(request->Read(buffer, sizeof buffer, got));
        EXPECT_EQ(got, 0u);
        reader.join();
        releaser.join();
        EXPECT_TRUE(served);
        EXPECT_FALSE(Script->CalledOnMain);
    }
}

// A call that outlives its limit returns with the timeout error and aborts what it was
// blocked in; a call given up by the program's end or by Abort returns with the cancel
// error. Every later call fails the same way, without blocking.
TEST_F(TransferWorker, BlockedCallsEndByLimitQuitOrAbort) {
    enum class TEnd { Limit, Quit, Abort };
    struct TCase {
        const char* Name;
        TBlockAt At;
        TEnd End;
        std::uint32_t Error;
    };
    const TCase cases[] = {
        {"open outlives its limit", TBlockAt::Open, TEnd::Limit, kTimeoutError},
        {"read outlives its limit", TBlockAt::Read, TEnd::Limit, kTimeoutError},
        {"quit while opening", TBlockAt::Open, TEnd::Quit, kCancelledError},
        {"quit while reading", TBlockAt::Read, TEnd::Quit, kCancelledError},
        {"abort while reading", TBlockAt::Read, TEnd::Abort, kCancelledError},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Fresh(c.At);
        TScript& s = *Script;
        // Limits long enough that a quit or an abort, not the clock, must end the wait.
        auto session = Open(c.End == TEnd::Limit ? ShortLimits() : RoomyLimits());
        TWorkerSession* raw = session.get();
        std::thread ender;
        if (c.End != TEnd::Limit) {
            ender = std::thread([&s, held = Script, raw, end = c.End] {
                {
                    std::unique_lock<std::mutex> lock(s.Gate.Lock);
                    s.Gate.Changed.wait(lock, [&] { return s.Gate.Waiting > 0; });
                }
                // From a hand-off: what Quit in the tray menu, or the session's end, does.
                MainThread::Synchronize([raw, end] {
                    if (end == TEnd::Quit)
                        MainThread::RequestQuit();
                    else
                        raw->Abort();
                });
            });
        }

        const auto started = std::chrono::steady_clock::now();
        std::uint32_t error = 0;
        std::unique_ptr<TUrlRequest> request = session->OpenUrl(L"http://h/f", L"", kRequestFlags, error);
        std::uint8_t buffer[64];
        std::size_t got = 0;
        if (c.At == TBlockAt::Open) {
            EXPECT_EQ(request, nullptr);
            EXPECT_EQ(error, c.Error);
            EXPECT_TRUE(s.SessionAborted);
        } else {
            ASSERT_NE(request, nullptr);
            EXPECT_FALSE(request->Read(buffer, sizeof buffer, got));
            EXPECT_EQ(request->ReadError(), c.Error);
            EXPECT_TRUE(s.RequestAborted);
            const int reads = s.Reads;
            EXPECT_FALSE(request->Read(buffer, sizeof buffer, got));
            EXPECT_EQ(request->ReadError(), c.Error);
            EXPECT_EQ(s.Reads, reads) << "a given-up request must not reach the transport again";
        }
        // Far below the roomy limits: the wait did not run them out.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
        if (ender.joinable()) ender.join();
        MainThread::ClearQuitRequest();
        session.reset();
    }
}

// Data that keeps coming, too slowly: each read is within its limit, the request as a
// whole is not.
TEST_F(TransferWorker, TrickleEndsByTheRequestLimit) {
    Script->Body = std::string(1 << 20, 't');
    Script->Chunk = 1024;
    Script->ReadDelay = 20ms;
    TTransferLimits limits = RoomyLimits();
    limits.Request = 300ms;
    auto session = Open(limits);
    ASSERT_NE(session, nullptr);
    std::uint32_t error = 0;
    auto request = session->OpenUrl(L"http://h/f", L"", kRequestFlags, error);
    ASSERT_NE(request, nullptr);
    std::uint8_t buffer[4096];
    std::size_t got = 0;
    std::size_t total = 0;
    while (request->Read(buffer, sizeof buffer, got) && got > 0) total += got;
    EXPECT_EQ(request->ReadError(), kTimeoutError);
    EXPECT_LT(total, Script->Body.size());
}

// The engine over a worker session: a transfer that runs out of time reports the timeout
// as a connection error and leaves no temporary file; one given up by Quit or by Abandon
// ends with the silent abort, reports nothing further, and leaves nothing behind either.
TEST_F(TransferWorker, EngineTransferByLimitAndByQuit) {
    const fs::path root = fs::temp_directory_path() /
                          ("lumetra-worker-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::remove_all(root);
    fs::create_directories(root / "temp");
    const std::wstring temp = Utf8ToWide((root / "temp").string()) + (sizeof(wchar_t) == 2 ? L"\\" : L"/");
    TKnownFolders folders;
    folders.Temp = temp;
    folders.Documents = Utf8ToWide(root.string());
    folders.Application = Utf8ToWide(root.string());
    TWebUpdate engine(std::make_unique<TFileFactsTable>(), folders);
    std::vector<std::pair<std::wstring, int>> statuses;
    engine.OnStatus = [&](TWebUpdate&, const std::wstring& text, int code, int) { statuses.push_back({text, code}); };
    auto leftovers = [&] {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(root / "temp")) (void)entry, ++count;
        return count;
    };

    Fresh(TBlockAt::Read);
    {
        auto session = Open(ShortLimits());
        ASSERT_NE(session, nullptr);
        EXPECT_FALSE(engine.URLGetFile(*session, L"http://h/release.bin", temp));
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back().first, L"System error : The operation timed out");
        EXPECT_EQ(statuses.back().second, TWebUpdate::scConnectionError);
        EXPECT_EQ(leftovers(), 0u);
    }

    Fresh(TBlockAt::Read);
    statuses.clear();
    {
        auto session = Open(RoomyLimits());
        ASSERT_NE(session, nullptr);
        std::thread quitter([script = Script] {
            {
                std::unique_lock<std::mutex> lock(script->Gate.Lock);
                script->Gate.Changed.wait(lock, [&] { return script->Gate.Waiting > 0; });
            }
            MainThread::Synchronize([] { MainThread::RequestQuit(); });
        });
        EXPECT_THROW(engine.URLGetFile(*session, L"http://h/release.bin", temp), EAbort);
        quitter.join();
        MainThread::ClearQuitRequest();
        ASSERT_EQ(statuses.size(), 1u);  // "Download : release.bin" only
        EXPECT_EQ(leftovers(), 0u);
    }

    // Logging off: the session ends from inside the wait and the process with it, so
    // the transfer must be cleaned up before Abandon returns, not on the way back.
    Fresh(TBlockAt::Read);
    statuses.clear();
    {
        auto session = Open(RoomyLimits());
        ASSERT_NE(session, nullptr);
        std::size_t leftAtAbandon = 99;
        std::thread ender([script = Script, &engine, &leftAtAbandon, &leftovers] {
            {
                std::unique_lock<std::mutex> lock(script->Gate.Lock);
                script->Gate.Changed.wait(lock, [&] { return script->Gate.Waiting > 0; });
            }
            MainThread::Synchronize([&] {
                engine.Abandon();
                leftAtAbandon = leftovers();
            });
        });
        EXPECT_THROW(engine.URLGetFile(*session, L"http://h/release.bin", temp), EAbort);
        ender.join();
        EXPECT_EQ(leftAtAbandon, 0u);
        EXPECT_EQ(leftovers(), 0u);
        EXPECT_TRUE(Script->RequestAborted);
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

}  // namespace
