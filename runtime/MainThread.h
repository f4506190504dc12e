#pragma once
// The main thread and the hand-offs that worker threads make to it.
//
// Beside the main thread run the HID read threads and short-lived workers for blocking
// calls (the update transfers). The read threads reach it through
// Synchronize, which blocks until the main thread has run the call. The main thread
// runs pending hand-offs from its message loop, from ProcessMessages, and while it waits
// for a thread to finish (so that a thread delivering a report when it is stopped can
// finish its delivery).
//
// Win32: a message-only window woken with PostMessageW, served by the GUI message loop.
// Host: a queue and a condition variable.

#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>

namespace MainThread {

// Marks the calling thread as the main thread (done once at program start; tests call it
// in their fixture). Also creates the Win32 message-only window.
void Initialize();

bool IsMainThread();

// From a worker: queue `call` for the main thread and block until it has run. An exception
// thrown by `call` is passed to the application's default handler on the main thread; it
// does not travel back to the worker. Called on the main thread: runs `call` at once.
void Synchronize(const std::function<void()>& call);

// Queues `call` for the main thread and returns at once (from any thread). It runs from
// the message loop or ProcessMessages; what it throws goes to the default handler.
void Post(std::function<void()> call);

// Runs pending window messages (Win32) and pending hand-offs, then returns.
void ProcessMessages();

// Joins `thread` while serving the hand-offs queued meanwhile.
void WaitFor(std::thread& thread);

// On the main thread: processes window messages and hand-offs as they arrive, as the
// message loop would, until `done` answers true, `timeout` has passed or the program has
// been asked to end (RequestQuit). `done` is asked after every batch; a worker that changes
// its answer calls Wake. Answers what `done` answers last. Off the main thread it only
// waits (asking `done` at each Wake), serving nothing.
bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// From any thread: makes a ServeUntil of the main thread ask its `done` again.
void Wake();

// The program has been asked to end (Quit, the main window closed): waits that serve the
// main thread stop waiting, so that work in progress can be given up at once. Cleared when
// a program starts again in the same process (tests, the simulator).
void RequestQuit();
bool QuitRequested();
void ClearQuitRequest();

// Hand-offs queued and not yet taken by the main thread. Lets a test wait until a worker
// has reached its hand-off instead of sleeping for a while and hoping it has.
std::size_t PendingHandOffs();

}  // namespace MainThread
