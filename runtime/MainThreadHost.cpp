// The main-thread dispatcher of the Linux build: one queue of hand-offs guarded by a
// mutex, a condition variable that wakes the main thread when work arrives, and one that
// wakes workers whose Synchronize call has been served.

#include "MainThread.h"

#include "Application.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

namespace MainThread {
namespace {

// What a worker blocked in Synchronize waits for.
struct TCompletion {
    bool Done = false;
};

struct TEntry {
    std::uint64_t Sequence = 0;
    std::function<void()> Call;
    std::shared_ptr<TCompletion> Completion;  // null for Post
};

struct TDispatcher {
    std::mutex Lock;
    std::condition_variable WorkArrived;  // main thread: queue grew or a joined thread ended
    std::condition_variable CallServed;   // workers: a Synchronize call has run
    std::deque<TEntry> Queue;
    std::uint64_t NextSequence = 1;
    std::thread::id Main;
    bool HasMain = false;
    std::uint64_t Wakes = 0;  // counts Wake calls, so that a waiter can tell one happened
    bool QuitRequested = false;
};

TDispatcher& Dispatcher() {
    // Never destroyed: a worker left behind by a given-up call may still wake us at exit.
    static TDispatcher* dispatcher = new TDispatcher;
    return *dispatcher;
}

void Enqueue(TEntry entry) {
    TDispatcher& d = Dispatcher();
    {
        std::lock_guard<std::mutex> guard(d.Lock);
        entry.Sequence = d.NextSequence++;
        d.Queue.push_back(std::move(entry));
    }
    d.WorkArrived.notify_all();
}

// Runs one entry outside the lock and releases a waiting worker afterwards, whatever the
// call did.
void Run(TEntry& entry) {
    // The waiting worker is released before an error of the call is shown: its message
    // box waits for a click.
    std::exception_ptr error;
    try {
        entry.Call();
    } catch (...) {
        error = std::current_exception();
    }
    if (entry.Completion) {
        TDispatcher& d = Dispatcher();
        {
            std::lock_guard<std::mutex> guard(d.Lock);
            entry.Completion->Done = true;
        }
        d.CallServed.notify_all();
    }
    if (error) Application::HandleException(error);
}

// Takes the oldest entry queued no later than `limit`; false when there is none.
bool TakeUpTo(std::uint64_t limit, TEntry& out) {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    if (d.Queue.empty() || d.Queue.front().Sequence > limit) return false;
    out = std::move(d.Queue.front());
    d.Queue.pop_front();
    return true;
}

}  // namespace

void Initialize() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Main = std::this_thread::get_id();
    d.HasMain = true;
}

bool IsMainThread() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    return d.HasMain && d.Main == std::this_thread::get_id();
}

void Synchronize(const std::function<void()>& call) {
    if (IsMainThread()) {
        Application::Guarded(call);
        return;
    }
    auto completion = std::make_shared<TCompletion>();
    Enqueue(TEntry{0, call, completion});
    TDispatcher& d = Dispatcher();
    std::unique_lock<std::mutex> lock(d.Lock);
    d.CallServed.wait(lock, [&] { return completion->Done; });
}

void Post(std::function<void()> call) {
    Enqueue(TEntry{0, std::move(call), nullptr});
}

void ProcessMessages() {
    if (!IsMainThread()) return;
    // Only what was queued before this call runs: a hand-off that queues another one
    // cannot keep this call busy for ever.
    std::uint64_t limit;
    {
        TDispatcher& d = Dispatcher();
        std::lock_guard<std::mutex> guard(d.Lock);
        limit = d.NextSequence - 1;
    }
    TEntry entry;
    while (TakeUpTo(limit, entry)) Run(entry);
}

void WaitFor(std::thread& thread) {
    if (!thread.joinable()) return;
    if (!IsMainThread()) {
        thread.join();
        return;
    }
    // A helper joins the thread and wakes us, so that we can sleep on one condition
    // (work arrived or the thread ended) instead of polling.
    TDispatcher& d = Dispatcher();
    bool ended = false;
    std::thread joiner([&] {
        thread.join();
        {
            std::lock_guard<std::mutex> guard(d.Lock);
            ended = true;
        }
        d.WorkArrived.notify_all();
    });
    for (;;) {
        TEntry entry;
        {
            std::unique_lock<std::mutex> lock(d.Lock);
            d.WorkArrived.wait(lock, [&] { return ended || !d.Queue.empty(); });
            // Once the thread has ended, what is left waits for the message loop: a
            // hand-off that keeps queueing others cannot hold us here.
            if (ended) break;
            entry = std::move(d.Queue.front());
            d.Queue.pop_front();
        }
        Run(entry);
    }
    joiner.join();
}

bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const bool serving = IsMainThread();
    TDispatcher& d = Dispatcher();
    for (;;) {
        if (done()) return true;
        if (serving) ProcessMessages();
        std::unique_lock<std::mutex> lock(d.Lock);
        if (d.QuitRequested) {
            lock.unlock();
            return done();
        }
        const std::uint64_t seen = d.Wakes;
        lock.unlock();
        if (done()) return true;
        lock.lock();
        // Woken by a hand-off (served on the next turn), a Wake, or the end of the time.
        const bool woken = d.WorkArrived.wait_until(lock, deadline, [&] {
            return d.Wakes != seen || d.QuitRequested || (serving && !d.Queue.empty());
        });
        lock.unlock();
        if (!woken) return done();
    }
}

void Wake() {
    TDispatcher& d = Dispatcher();
    {
        std::lock_guard<std::mutex> guard(d.Lock);
        ++d.Wakes;
    }
    d.WorkArrived.notify_all();
}

void RequestQuit() {
    TDispatcher& d = Dispatcher();
    {
        std::lock_guard<std::mutex> guard(d.Lock);
        d.QuitRequested = true;
    }
    d.WorkArrived.notify_all();
}

bool QuitRequested() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    return d.QuitRequested;
}

void ClearQuitRequest() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.QuitRequested = false;
}

std::size_t PendingHandOffs() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    return d.Queue.size();
}

}  // namespace MainThread
