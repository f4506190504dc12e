#include "KeyDownSender.h"

#include <thread>

// Shared with the thread, which may outlive the sender when a send on its way is left to
// end by itself at Stop.
struct TKeyDownSender::TState {
    TKeyDownPort Port;
    TReady Ready;
    std::chrono::milliseconds Limit{0};
    int Outstanding = 0;  // not answered in time, late answer still to come
    mutable std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TKeyDownJob> Queue;
    std::vector<TKeyDownDone> Done;
    bool OnItsWay = false;
    TKeyDownJob InFlight;
    bool Stopping = false;
    bool Abandoned = false;  // Stop did not wait for the send on its way
    bool Ended = false;
    std::thread Thread;
};

TKeyDownSender::TKeyDownSender(TKeyDownPort port, TReady ready, std::chrono::milliseconds limit)
    : FState(std::make_shared<TState>()) {
    FState->Port = std::move(port);
    FState->Limit = limit;
    FState->Ready = std::move(ready);
    FState->Thread = std::thread([state = FState] { Run(state); });
}

TKeyDownSender::~TKeyDownSender() { Stop(std::chrono::milliseconds(0)); }

void TKeyDownSender::Add(const TKeyDownJob& job) {
    {
        std::lock_guard<std::mutex> guard(FState->Lock);
        if (FState->Stopping) {
            FState->Done.push_back({job, false, {}, {}});
            return;
        }
        FState->Queue.push_back(job);
    }
    FState->Changed.notify_all();
    if (FState->Port.Wake) FState->Port.Wake();
}

std::vector<TKeyDownDone> TKeyDownSender::Take() {
    std::lock_guard<std::mutex> guard(FState->Lock);
    std::vector<TKeyDownDone> done;
    done.swap(FState->Done);
    return done;
}

bool TKeyDownSender::Settled() const {
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Queue.empty() && !FState->OnItsWay && FState->Done.empty();
}

void TKeyDownSender::Stop(std::chrono::milliseconds timeout) {
    if (!FState->Thread.joinable()) return;
    std::unique_lock<std::mutex> lock(FState->Lock);
    FState->Stopping = true;
    // What has not left yet never will; it comes after the one on its way.
    std::deque<TKeyDownJob> waiting;
    waiting.swap(FState->Queue);
    FState->Changed.notify_all();
    lock.unlock();
    if (FState->Port.Wake) FState->Port.Wake();
    lock.lock();
    // An idle thread ends at once; only a send on its way is given a time.
    const bool ended =
        FState->Changed.wait_for(lock, timeout, [this] { return FState->Ended || !FState->OnItsWay; });
    if (!ended) {
        // Left to its own bound; as far as anyone here will know, it was not confirmed.
        FState->Abandoned = true;
        const TKeyDownJob& job = FState->InFlight;
        FState->Done.push_back({job, true, {TKeyDownOutcome::NotAnswered, 0},
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - job.ReportTime)});
    }
    for (const TKeyDownJob& job : waiting) FState->Done.push_back({job, false, {}, {}});
    lock.unlock();
    if (ended)
        FState->Thread.join();
    else
        FState->Thread.detach();
}

void TKeyDownSender::Run(const std::shared_ptr<TState>& state) {
    std::unique_lock<std::mutex> lock(state->Lock);
    for (;;) {
        while (!state->Stopping && state->Queue.empty()) {
            if (state->Outstanding > 0 && state->Port.Await) {
                // Late answers come on this thread while it looks at its messages.
                lock.unlock();
                state->Port.Await(std::chrono::milliseconds(50));
                lock.lock();
            } else {
                state->Changed.wait(lock);
            }
        }
        if (state->Stopping) break;
        const TKeyDownJob job = state->Queue.front();
        state->Queue.pop_front();
        state->OnItsWay = true;
        state->InFlight = job;
        const std::chrono::milliseconds limit = state->Outstanding > 0 ? std::chrono::milliseconds(0) : state->Limit;
        lock.unlock();

        // The late answer may come after the sender is gone: it holds the state, not it.
        std::weak_ptr<TState> weak = state;
        auto answeredLate = [weak, job] {
            const std::shared_ptr<TState> s = weak.lock();
            if (!s) return;
            {
                std::lock_guard<std::mutex> guard(s->Lock);
                --s->Outstanding;
                if (s->Abandoned || s->Stopping) return;
                s->Done.push_back({job, true, {TKeyDownOutcome::Delivered, 0},
                                   std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - job.ReportTime),
                                   true});
            }
            s->Changed.notify_all();
            if (s->Ready) s->Ready();
        };
        TKeyDownResult result;
        try {
            result = state->Port.Send(job, limit, answeredLate);
        } catch (...) {
            result = {TKeyDownOutcome::Failed, 0};
        }
        const auto delay =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - job.ReportTime);

        lock.lock();
        state->OnItsWay = false;
        if (result.Outcome == TKeyDownOutcome::NotAnswered) ++state->Outstanding;
        const bool stopped = state->Stopping;
        if (!state->Abandoned) state->Done.push_back({job, true, result, delay});
        lock.unlock();
        if (!stopped && state->Ready) state->Ready();
        lock.lock();
    }
    state->Ended = true;
    state->Changed.notify_all();
}
