#include "TraceWriter.h"

#include "Exceptions.h"
#include "uLogs.h"

#include <cstddef>
#include <exception>
#include <vector>

namespace {

// Lines taken from the queue at a time (each still appended on its own).
constexpr std::size_t kBatchLines = 256;

std::wstring MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what()));
    } catch (...) {
        return L"Unknown error";
    }
}

}  // namespace

TTraceWriter::TTraceWriter(TraceFile& file, TOptions options, TFailureNotice notice)
    : FFile(file), FOptions(options), FNotice(std::move(notice)) {
    FThread = std::thread([this] { Run(); });
}

TTraceWriter::~TTraceWriter() { Stop(std::chrono::milliseconds(0)); }

std::wstring TTraceWriter::DroppedText(std::uint64_t count) {
    return L"ERROR : " + std::to_wstring(count) + L" lignes perdues (Error.log non disponible)";
}

void TTraceWriter::Add(TTraceEntry entry) {
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (FStopped) return;
        // The oldest waiting lines give way; the line that says so takes their place.
        while (FOptions.MaxWaiting > 0 && FQueue.size() >= FOptions.MaxWaiting) {
            FDroppedTime = FQueue.front().Time;
            FDroppedPath = FQueue.front().Path;
            FQueue.pop_front();
            ++FDroppedPending;
            ++FDroppedTotal;
        }
        FQueue.push_back(std::move(entry));
    }
    FChanged.notify_all();
}

bool TTraceWriter::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, timeout, [this] {
        return (FQueue.empty() && FInFlight == 0 && FDroppedPending == 0) || FStopped;
    }) && FQueue.empty() && FInFlight == 0 && FDroppedPending == 0;
}

std::size_t TTraceWriter::Stop(std::chrono::milliseconds timeout) {
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (!FStopping) {
            FStopping = true;
            FStopBy = std::chrono::steady_clock::now() + timeout;
        }
    }
    FChanged.notify_all();
    if (FThread.joinable()) FThread.join();
    std::lock_guard<std::mutex> guard(FLock);
    return FQueue.size() + (FDroppedPending > 0 ? 1 : 0);
}

std::size_t TTraceWriter::Waiting() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FQueue.size() + FInFlight;
}

std::uint64_t TTraceWriter::Dropped() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FDroppedTotal;
}

void TTraceWriter::Run() {
    std::unique_lock<std::mutex> lock(FLock);
    bool failing = false;
    bool told = false;
    for (;;) {
        const bool nothing = FQueue.empty() && FDroppedPending == 0;
        if (FStopping && (nothing || std::chrono::steady_clock::now() >= FStopBy)) break;
        if (nothing) {
            FChanged.wait(lock);
            continue;
        }
        if (failing) {
            // Tried again a moment later, or as soon as more lines come.
            auto until = std::chrono::steady_clock::now() + FOptions.RetryAfter;
            if (FStopping && FStopBy < until) until = FStopBy;
            FChanged.wait_until(lock, until);
            if (FStopping && std::chrono::steady_clock::now() >= FStopBy) break;
        }

        // One batch: the line for dropped lines first (it stands where they were), then
        // the oldest lines bound for the same file.
        std::vector<TTraceEntry> batch;
        const std::uint64_t dropped = FDroppedPending;
        const TLogTime droppedTime = FDroppedTime;
        std::wstring path = FQueue.empty() ? FDroppedPath : FQueue.front().Path;
        while (!FQueue.empty() && batch.size() < kBatchLines && FQueue.front().Path == path) {
            batch.push_back(std::move(FQueue.front()));
            FQueue.pop_front();
        }
        FDroppedPending = 0;
        FInFlight = batch.size();
        lock.unlock();

        // One append per line: a line is whole in the file or not there at all, and the
        // lines written before a failure stay written.
        std::exception_ptr error;
        std::size_t written = 0;
        bool droppedWritten = dropped == 0;
        try {
            const TLogSeparators separators = FFile.Separators();
            if (!droppedWritten) {
                FFile.Append(path, FFile.ToAnsi(FormatLogLine(droppedTime, separators, L"WriteLog",
                                                              DroppedText(dropped))));
                droppedWritten = true;
            }
            for (; written < batch.size(); ++written) {
                const TTraceEntry& e = batch[written];
                FFile.Append(path, FFile.ToAnsi(FormatLogLine(e.Time, separators, e.ProcName, e.Text)));
            }
        } catch (...) {
            error = std::current_exception();
        }
        batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(written));

        lock.lock();
        FInFlight = 0;
        std::wstring notice;
        bool tell = false;
        if (!error) {
            if (failing) tell = true;  // written again: empty notice
            failing = false;
            told = false;
        } else {
            // Back to the head of the queue, in their order, to be tried again.
            for (auto it = batch.rbegin(); it != batch.rend(); ++it) FQueue.push_front(std::move(*it));
            if (!droppedWritten) {
                FDroppedPending += dropped;
                FDroppedTime = droppedTime;
                FDroppedPath = path;
            }
            while (FOptions.MaxWaiting > 0 && FQueue.size() > FOptions.MaxWaiting) {
                FDroppedTime = FQueue.front().Time;
                FDroppedPath = FQueue.front().Path;
                FQueue.pop_front();
                ++FDroppedPending;
                ++FDroppedTotal;
            }
            failing = true;
            if (!told) {
                told = true;
                tell = true;
                notice = MessageOf(error);
            }
        }
        FChanged.notify_all();
        if (tell && FNotice) {
            lock.unlock();
            try {
                FNotice(notice);
            } catch (...) {
                // A notice that fails must not end the writer.
            }
            lock.lock();
        }
    }
    FStopped = true;
    FChanged.notify_all();
}
