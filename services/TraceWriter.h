#pragma once
// The trace's own writer: lines are handed over in the order they happen and a thread of
// the writer's own appends them to their file, so that whoever writes a line (a key
// press above all) never waits on the disk, on a log viewer holding the file or on a
// full disk.
//
// A line that cannot be written stays at the head of the queue and is tried again a
// moment later, and again whenever new lines arrive, so a file held by another program
// for a minute loses nothing. Past `MaxWaiting` lines the oldest ones give way, and one
// line in their place says how many were dropped. Lines reach the file as soon as the
// writer gets to them (each append is a complete write of its own), and Stop writes what
// waits before the writer ends, within the time it is given. Each line is one append of
// its own, as it was when callers wrote it themselves.

#include "TraceFile.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct TTraceEntry {
    std::wstring Path;
    TLogTime Time;
    std::wstring ProcName;
    std::wstring Text;
};

class TTraceWriter {
public:
    struct TOptions {
        std::size_t MaxWaiting = 10000;
        // How soon a line that could not be written is tried again.
        std::chrono::milliseconds RetryAfter{200};
    };
    // Told on the writer's thread: `message` when a line cannot be written (once, and
    // again only after a line has been written since), empty when lines are written again
    // after such a failure.
    using TFailureNotice = std::function<void(const std::wstring& message)>;

    TTraceWriter(TraceFile& file, TOptions options, TFailureNotice notice);
    // Stops as Stop(0) does.
    ~TTraceWriter();
    TTraceWriter(const TTraceWriter&) = delete;
    TTraceWriter& operator=(const TTraceWriter&) = delete;

    // Queues one line and returns at once; never raises for the file's sake.
    void Add(TTraceEntry entry);
    // Waits until every line queued so far has been written, or `timeout` has passed;
    // true when nothing waits any more.
    bool Flush(std::chrono::milliseconds timeout);
    // Writes what waits for at most `timeout`, then ends the thread. Answers how many lines
    // were left unwritten (the file could not be written in time). Lines added afterwards
    // are not written.
    std::size_t Stop(std::chrono::milliseconds timeout);
    // Lines queued and not yet written.
    std::size_t Waiting() const;
    // Lines given up to the bound so far.
    std::uint64_t Dropped() const;

private:
    void Run();
    // The text of the line that stands for `count` dropped lines.
    static std::wstring DroppedText(std::uint64_t count);

    TraceFile& FFile;
    const TOptions FOptions;
    const TFailureNotice FNotice;

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TTraceEntry> FQueue;
    std::size_t FInFlight = 0;          // taken by the thread, being written
    std::uint64_t FDroppedPending = 0;  // dropped since the last line saying so
    std::uint64_t FDroppedTotal = 0;
    TLogTime FDroppedTime;
    std::wstring FDroppedPath;
    bool FStopping = false;
    bool FStopped = false;
    std::chrono::steady_clock::time_point FStopBy;
    std::thread FThread;
};
