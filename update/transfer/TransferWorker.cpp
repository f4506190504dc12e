#include "TransferWorker.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "MainThread.h"

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One thread that runs one job at a time. Released, it ends after the job it may still be
// running; a worker stuck in a call is detached rather than waited for.
class TWorker {
public:
    TWorker() : FState(std::make_shared<TState>()), FThread([state = FState] { Loop(*state); }) {}

    ~TWorker() { Release(true); }

    void Start(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> guard(FState->Lock);
            FState->Job = std::move(job);
        }
        FState->Ready.notify_one();
    }

    // `wait`: the worker is idle (its last job has returned), so joining is quick.
    void Release(bool wait) {
        if (!FThread.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(FState->Lock);
            FState->Stop = true;
        }
        FState->Ready.notify_one();
        if (wait)
            FThread.join();
        else
            FThread.detach();
    }

private:
    struct TState {
        std::mutex Lock;
        std::condition_variable Ready;
        std::function<void()> Job;
        bool Stop = false;
    };

    static void Loop(TState& state) {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(state.Lock);
                state.Ready.wait(lock, [&] { return state.Stop || static_cast<bool>(state.Job); });
                if (!state.Job) return;
                job = std::move(state.Job);
                state.Job = nullptr;
            }
            job();
        }
    }

    std::shared_ptr<TState> FState;  // shared with the thread, which may outlive us
    std::thread FThread;
};

enum class TOutcome { Done, TimedOut, GivenUp };

}  // namespace

struct TWorkerSession::TCore {
    std::shared_ptr<TInternetSession> Inner;
    TTransferLimits Limits;
    std::unique_ptr<TWorker> Worker;
    bool Busy = false;
    bool Aborted = false;
    std::uint32_t DeadError = 0;  // set once the session itself was given up
    // The inner request of the request being used, for Abort.
    std::shared_ptr<TUrlRequest> Current;

    bool GivingUp() const { return Aborted || MainThread::QuitRequested(); }

    // Runs `work` on the worker, for at most `limit`. `work` must hold what it uses: a
    // given-up call goes on without us.
    TOutcome Call(std::function<void()> work, milliseconds limit) {
        if (GivingUp()) return TOutcome::GivenUp;
        if (limit <= milliseconds::zero()) return TOutcome::TimedOut;
        if (!Worker) Worker = std::make_unique<TWorker>();
        auto done = std::make_shared<std::atomic<bool>>(false);
        Busy = true;
        Worker->Start([work = std::move(work), done] {
            work();
            done->store(true);
            MainThread::Wake();
        });
        MainThread::ServeUntil([&] { return done->load() || GivingUp(); }, limit);
        Busy = false;
        // Given up wins over an answer that came meanwhile: the program is going, or the
        // call failed only because Abort closed what it used.
        const bool givenUp = GivingUp();
        if (done->load() && !givenUp) return TOutcome::Done;
        if (!done->load()) {
            Worker->Release(false);
            Worker.reset();
        }
        return givenUp ? TOutcome::GivenUp : TOutcome::TimedOut;
    }
};

namespace {

std::uint32_t ErrorOf(TOutcome outcome) { return outcome == TOutcome::TimedOut ? kTimeoutError : kCancelledError; }

class TWorkerRequest : public TUrlRequest {
public:
    TWorkerRequest(std::shared_ptr<TWorkerSession::TCore> core, std::shared_ptr<TUrlRequest> inner,
                   TClock::time_point deadline)
        : FCore(std::move(core)), FInner(std::move(inner)), FDeadline(deadline) {
        FCore->Current = FInner;
    }

    ~TWorkerRequest() override {
        if (FCore->Current == FInner) FCore->Current.reset();
    }

    int StatusCode() override {
        auto result = std::make_shared<int>(0);
        if (!Run([inner = FInner, result] { *result = inner->StatusCode(); })) return 0;
        return *result;
    }

    std::int64_t ContentLength() override {
        auto result = std::make_shared<std::int64_t>(0);
        if (!Run([inner = FInner, result] { *result = inner->ContentLength(); })) return 0;
        return *result;
    }

    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        struct TResult {
            std::vector<std::uint8_t> Bytes;
            std::size_t Got = 0;
            bool Ok = false;
            std::uint32_t Error = 0;
        };
        // The worker reads into memory of its own: a read given up may still complete.
        auto result = std::make_shared<TResult>();
        result->Bytes.resize(size);
        if (!Run([inner = FInner, result] {
                result->Ok = inner->Read(result->Bytes.data(), result->Bytes.size(), result->Got);
                if (!result->Ok) result->Error = inner->ReadError();
            }))
            return false;
        if (!result->Ok) {
            FReadError = result->Error;
            return false;
        }
        got = std::min(result->Got, size);
        std::copy_n(result->Bytes.data(), got, buffer);
        return true;
    }

    std::uint32_t ReadError() const override { return FReadError; }

    void Abort() override {
        if (FDeadError == 0) FDeadError = kCancelledError;
        FInner->Abort();
    }

private:
    // False when the call failed for want of time or was given up; ReadError tells which.
    bool Run(std::function<void()> work) {
        if (FDeadError != 0) {
            FReadError = FDeadError;
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(FDeadline - TClock::now());
        const TOutcome outcome = FCore->Call(std::move(work), std::min(FCore->Limits.Receive, left));
        if (outcome == TOutcome::Done) return true;
        FDeadError = FReadError = ErrorOf(outcome);
        FInner->Abort();
        return false;
    }

    std::shared_ptr<TWorkerSession::TCore> FCore;
    std::shared_ptr<TUrlRequest> FInner;
    TClock::time_point FDeadline;
    std::uint32_t FReadError = 0;
    std::uint32_t FDeadError = 0;
};

}  // namespace

TWorkerSession::TWorkerSession(std::shared_ptr<TCore> core) : FCore(std::move(core)) {}

TWorkerSession::~TWorkerSession() {
    // No call is in progress (they all return before we can be destroyed), so an existing
    // worker is idle.
    FCore->Worker.reset();
}

std::unique_ptr<TWorkerSession> TWorkerSession::Open(const TOpener& open, const TTransferLimits& limits,
                                                     std::uint32_t& error) {
    error = 0;
    auto core = std::make_shared<TCore>();
    core->Limits = limits;
    struct TResult {
        std::unique_ptr<TInternetSession> Session;
        std::uint32_t Error = 0;
    };
    auto result = std::make_shared<TResult>();
    const TOutcome outcome = core->Call(
        [open, limits, result] {
            result->Session = open(result->Error);
            if (result->Session) result->Session->SetLimits(limits);
        },
        limits.Connect);
    if (outcome != TOutcome::Done) {
        error = ErrorOf(outcome);
        return nullptr;
    }
    if (!result->Session) {
        error = result->Error;
        return nullptr;
    }
    core->Inner = std::move(result->Session);
    return std::unique_ptr<TWorkerSession>(new TWorkerSession(std::move(core)));
}

std::unique_ptr<TUrlRequest> TWorkerSession::OpenUrl(const std::wstring& url, const std::wstring& headers,
                                                     std::uint32_t flags, std::uint32_t& error) {
    error = 0;
    if (FCore->DeadError != 0 || FCore->Busy) {
        error = FCore->Busy ? kCancelledError : FCore->DeadError;
        return nullptr;
    }
    const TTransferLimits& limits = FCore->Limits;
    const auto deadline = TClock::now() + limits.Request;
    struct TResult {
        std::unique_ptr<TUrlRequest> Request;
        std::uint32_t Error = 0;
    };
    auto result = std::make_shared<TResult>();
    const TOutcome outcome = FCore->Call(
        [inner = FCore->Inner, url, headers, flags, result] {
            result->Request = inner->OpenUrl(url, headers, flags, result->Error);
        },
        std::min(limits.Connect + limits.Send + limits.Receive, limits.Request));
    if (outcome != TOutcome::Done) {
        // The request being opened has no handle of ours yet: only closing the session
        // reaches it.
        error = FCore->DeadError = ErrorOf(outcome);
        FCore->Inner->Abort();
        return nullptr;
    }
    if (!result->Request) {
        error = result->Error;
        return nullptr;
    }
    return std::make_unique<TWorkerRequest>(FCore, std::shared_ptr<TUrlRequest>(std::move(result->Request)),
                                            deadline);
}

std::wstring TWorkerSession::ErrorText(std::uint32_t error) {
    // The server's last response is kept per thread: ask the thread that talked to it.
    if (error != kExtendedError || FCore->DeadError != 0 || FCore->Busy) return FCore->Inner->ErrorText(error);
    auto text = std::make_shared<std::wstring>();
    if (FCore->Call([inner = FCore->Inner, error, text] { *text = inner->ErrorText(error); },
                    FCore->Limits.Receive) != TOutcome::Done)
        return {};
    return *text;
}

void TWorkerSession::SetLimits(const TTransferLimits& limits) {
    FCore->Limits = limits;
    if (!FCore->Busy && FCore->DeadError == 0)
        FCore->Call([inner = FCore->Inner, limits] { inner->SetLimits(limits); }, limits.Receive);
}

void TWorkerSession::Abort() {
    FCore->Aborted = true;
    if (FCore->DeadError == 0) FCore->DeadError = kCancelledError;
    if (FCore->Current) FCore->Current->Abort();
    FCore->Inner->Abort();
    // A wait in progress asks again and gives up.
    MainThread::Wake();
}
