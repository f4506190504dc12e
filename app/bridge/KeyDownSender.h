#pragma once
// The key-downs' own sender: a thread that hands each key-down to the timing software's
// window in the order of the presses, waiting for each at most a bounded time, so that a
// timing software that stops answering (while it prints, exports or writes its database)
// holds neither the main thread nor the control box's read thread.
//
// A key-down whose wait ran out is never sent again: it stays on its way and the program
// handles it when it answers again, which comes back as a second, late result. Each
// result carries the time from the press's report to its answer.
// Results wait in the sender until the owner takes them (Take); the sender tells it that
// there are some with `ready`, on the sender's thread.

#include "DesktopWindows.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct TKeyDownJob {
    TWindowHandle Window = 0;
    unsigned VirtualKey = 0;
    // When the report of the press reached this program (a monotonic clock).
    std::chrono::steady_clock::time_point ReportTime;
};

struct TKeyDownDone {
    TKeyDownJob Job;
    // False for a key-down still waiting when the sender was stopped: it was never sent.
    bool Sent = true;
    TKeyDownResult Result;
    // From the report to the answer (or to the end of the wait).
    std::chrono::milliseconds Delay{0};
    // The answer of a key-down that came back NotAnswered before.
    bool Late = false;
};

// How the sender reaches the window (DesktopWindows: SendKeyDown, AwaitAnswers,
// WakeAnswers).
struct TKeyDownPort {
    std::function<TKeyDownResult(const TKeyDownJob& job, std::chrono::milliseconds limit,
                                 std::function<void()> answeredLate)>
        Send;
    std::function<void(std::chrono::milliseconds max)> Await;
    std::function<void()> Wake;
};

class TKeyDownSender {
public:
    using TReady = std::function<void()>;

    // Each key-down is waited for at most `limit`; while one not answered in time still
    // waits for its answer, the next ones are handed on without waiting (they queue at the
    // window behind it, in order, and a Quit meanwhile is not held).
    TKeyDownSender(TKeyDownPort port, TReady ready, std::chrono::milliseconds limit);
    // Stops as Stop(0) does.
    ~TKeyDownSender();
    TKeyDownSender(const TKeyDownSender&) = delete;
    TKeyDownSender& operator=(const TKeyDownSender&) = delete;

    // Queues one key-down and returns at once.
    void Add(const TKeyDownJob& job);
    // The results so far, in the order of the presses.
    std::vector<TKeyDownDone> Take();
    // Nothing queued, nothing on its way, no result waiting to be taken (late answers of
    // key-downs not answered in time may still come).
    bool Settled() const;
    // Ends the sender: key-downs not yet sent come back from Take as not sent; the one on
    // its way is waited for at most `timeout` (it ends by its own bound anyway), after
    // which the thread is left to end by itself and its result is not waited for.
    void Stop(std::chrono::milliseconds timeout);

private:
    struct TState;
    static void Run(const std::shared_ptr<TState>& state);
    std::shared_ptr<TState> FState;
};
