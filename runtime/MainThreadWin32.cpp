// The main-thread dispatcher on Windows.
//
// Hand-offs wait in one queue. A message-only window owned by the main thread is woken with
// PostMessageW so that the GUI message loop (or ProcessMessages) runs them; an event is set
// as well, so that WaitFor can serve them without dispatching unrelated window messages.

#include "MainThread.h"

#include "Application.h"
#include "HiddenWindowWin32.h"

#include <windows.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace MainThread {
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x4C4D;  // private to the dispatcher's own window
constexpr wchar_t kWindowClass[] = L"LumetraMainThreadDispatcher";

struct THandOff {
    std::uint64_t Sequence = 0;
    std::function<void()> Call;
    bool* Done = nullptr;  // set when a waiting worker must be released; lives on its stack
};

struct TDispatcher {
    std::mutex Lock;
    std::condition_variable Finished;  // a synchronous hand-off has run
    std::deque<THandOff> Queue;
    std::uint64_t NextSequence = 1;
    // A wake message is in the window's queue. Guarded by Lock. While the queue is not
    // empty a wake is always on its way, so the message loop never leaves work behind.
    bool WakePosted = false;
    std::atomic<DWORD> MainThreadId{0};
    std::atomic<HWND> Window{nullptr};
    HANDLE QueueEvent = nullptr;  // auto-reset, set on every queued hand-off
};

TDispatcher& Dispatcher() {
    static TDispatcher* dispatcher = [] {
        auto* d = new TDispatcher;  // never destroyed: workers may still reach it at exit
        d->QueueEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        return d;
    }();
    return *dispatcher;
}

// Posts one wake message unless one is already on its way. Called with d.Lock held.
void WakeLocked(TDispatcher& d) {
    if (d.WakePosted)
        return;
    HWND window = d.Window.load();
    if (window && PostMessageW(window, kWakeMessage, 0, 0))
        d.WakePosted = true;
}

std::uint64_t LastQueued() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    return d.NextSequence - 1;
}

// Runs, one at a time, the hand-offs queued no later than `limit`. What they queue in turn
// waits for the next serving, so a hand-off that queues another cannot keep us here for
// ever. A hand-off may itself process messages; the nested run takes the next items.
void RunPending(std::uint64_t limit) {
    TDispatcher& d = Dispatcher();
    for (;;) {
        THandOff item;
        {
            std::lock_guard<std::mutex> guard(d.Lock);
            if (d.Queue.empty() || d.Queue.front().Sequence > limit)
                break;
            item = std::move(d.Queue.front());
            d.Queue.pop_front();
        }
        // A worker waiting for this hand-off (a read thread with its report) is released
        // before an error of the call is shown: its message box waits for a click.
        std::exception_ptr error;
        try {
            item.Call();
        } catch (...) {
            error = std::current_exception();
        }
        if (item.Done) {
            std::lock_guard<std::mutex> guard(d.Lock);
            *item.Done = true;
            d.Finished.notify_all();
        }
        if (error) Application::HandleException(error);
    }
    std::lock_guard<std::mutex> guard(d.Lock);
    if (!d.Queue.empty())
        WakeLocked(d);
}

// A wake message has been taken off the thread's queue.
void WakeConsumed() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.WakePosted = false;
}

void Enqueue(THandOff item) {
    TDispatcher& d = Dispatcher();
    item.Sequence = d.NextSequence++;
    d.Queue.push_back(std::move(item));
    SetEvent(d.QueueEvent);
    WakeLocked(d);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage) {
        WakeConsumed();
        RunPending(LastQueued());  // never throws: every hand-off is guarded
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateDispatcherWindow() { return CreateHiddenWindow(kWindowClass, WindowProc, 0, HWND_MESSAGE); }

}  // namespace

void Initialize() {
    TDispatcher& d = Dispatcher();
    const DWORD self = GetCurrentThreadId();
    HWND window = d.Window.load();
    if (window && GetWindowThreadProcessId(window, nullptr) == self) {
        d.MainThreadId = self;
        return;
    }
    // A window belongs to the thread that made it, so a new main thread needs its own.
    window = CreateDispatcherWindow();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.MainThreadId = self;
    d.Window = window;
    d.WakePosted = false;
    if (!d.Queue.empty())
        WakeLocked(d);
}

bool IsMainThread() {
    return Dispatcher().MainThreadId.load() == GetCurrentThreadId();
}

void Synchronize(const std::function<void()>& call) {
    if (IsMainThread()) {
        Application::Guarded(call);
        return;
    }
    TDispatcher& d = Dispatcher();
    bool done = false;
    std::unique_lock<std::mutex> guard(d.Lock);
    Enqueue(THandOff{0, call, &done});
    d.Finished.wait(guard, [&] { return done; });
}

void Post(std::function<void()> call) {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    Enqueue(THandOff{0, std::move(call), nullptr});
}

namespace {

std::atomic<bool> gQuitRequested{false};

// What Wake releases when ServeUntil runs off the main thread.
std::mutex gWakeLock;
std::condition_variable gWoken;
std::uint64_t gWakes = 0;

// ProcessMessages; true when a WM_QUIT was met (it is put back for the message loop).
bool ProcessPending() {
    // Only what is waiting now runs: window messages that handlers post meanwhile and
    // hand-offs queued meanwhile wait for the next call or the message loop.
    const std::uint64_t limit = LastQueued();
    HWND dispatcherWindow = Dispatcher().Window.load();
    MSG msg;
    bool quit = false;
    WPARAM quitCode = 0;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The application's own loop must still see it; stop here and put it back.
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (msg.message == kWakeMessage && msg.hwnd == dispatcherWindow) {
            WakeConsumed();  // the hand-offs run below, once
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    RunPending(limit);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return quit;
}

}  // namespace

void ProcessMessages() {
    if (!IsMainThread())
        return;
    ProcessPending();
}

bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!IsMainThread()) {
        std::unique_lock<std::mutex> lock(gWakeLock);
        for (;;) {
            const std::uint64_t seen = gWakes;
            lock.unlock();
            if (done()) return true;
            lock.lock();
            if (!gWoken.wait_until(lock, deadline, [&] { return gWakes != seen; })) {
                lock.unlock();
                return done();
            }
        }
    }
    TDispatcher& d = Dispatcher();
    for (;;) {
        if (done()) return true;
        // A WM_QUIT put back for the message loop would wake every wait at once: leave, and
        // let later waits know the program is ending.
        if (ProcessPending()) RequestQuit();
        if (QuitRequested()) return done();
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return done();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        MsgWaitForMultipleObjectsEx(1, &d.QueueEvent, static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFE)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void Wake() {
    {
        std::lock_guard<std::mutex> guard(gWakeLock);
        ++gWakes;
    }
    gWoken.notify_all();
    SetEvent(Dispatcher().QueueEvent);
}

void RequestQuit() {
    gQuitRequested = true;
    Wake();
}

bool QuitRequested() { return gQuitRequested.load(); }

void ClearQuitRequest() { gQuitRequested = false; }

void WaitFor(std::thread& thread) {
    if (!thread.joinable())
        return;
    if (!IsMainThread() || thread.get_id() == std::this_thread::get_id()) {
        thread.join();
        return;
    }
    TDispatcher& d = Dispatcher();
    HANDLE handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    if (handle) {
        // The thread's end comes first in the list: once it has ended, what is left waits
        // for the message loop, even if hand-offs keep queueing others. Messages that other
        // threads send to our windows are served too (a sender waits for its answer, so
        // leaving them would hold up whoever sent them, the joined thread included); posted
        // messages wait for the message loop.
        const HANDLE handles[2] = {handle, d.QueueEvent};
        // Hand-offs queued before this wait may have had their event taken by an earlier
        // wait that ended for another reason (ServeUntil's condition met): run them now, or
        // a thread waiting on one of them would never end, nor this wait with it.
        RunPending(LastQueued());
        for (;;) {
            const DWORD r = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0 + 1) {
                RunPending(LastQueued());
            } else if (r == WAIT_OBJECT_0 + 2) {
                MSG msg;
                PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            } else {
                break;  // ended (or the wait failed: the join below still tells)
            }
        }
    }
    thread.join();
}

std::size_t PendingHandOffs() {
    TDispatcher& d = Dispatcher();
    std::lock_guard<std::mutex> guard(d.Lock);
    return d.Queue.size();
}

}  // namespace MainThread
