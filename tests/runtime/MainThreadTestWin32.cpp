// The Windows dispatcher under Wine: hand-offs from workers run on the main thread, from
// ProcessMessages, from a plain message loop, and while the main thread waits for a worker.
#ifdef _WIN32

#include "Application.h"
#include "Exceptions.h"
#include "MainThread.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

class MainThreadWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
        MainThread::ProcessMessages();  // leave nothing behind from an earlier case
    }
    void TearDown() override { Application::SetMessageShower(nullptr); }

    // Serves the main thread until `done` holds, for at most a few seconds.
    template <typename Pred>
    bool ServeUntil(Pred done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            MainThread::ProcessMessages();
            ::Sleep(1);
        }
        return true;
    }

    std::vector<std::wstring> Shown;
};

TEST_F(MainThreadWin32, SynchronizeFromWorkerRunsOnMainThreadAndBlocksUntilRun) {
    const DWORD mainId = GetCurrentThreadId();
    DWORD ranOn = 0;
    std::atomic<bool> returned{false};
    // Counted from what was already queued, so that a hand-off of the set-up is not taken
    // for the worker's.
    const std::size_t before = MainThread::PendingHandOffs();
    std::thread worker([&] {
        MainThread::Synchronize([&] { ranOn = GetCurrentThreadId(); });
        returned = true;
    });
    // Nothing runs the hand-off until the main thread serves its messages.
    const ULONGLONG deadline = GetTickCount64() + 20000;
    while (MainThread::PendingHandOffs() <= before && GetTickCount64() < deadline)
        ::Sleep(1);
    EXPECT_EQ(MainThread::PendingHandOffs(), before + 1) << "the worker never queued its call";
    ::Sleep(1);
    EXPECT_FALSE(returned);
    EXPECT_EQ(ranOn, 0u);
    EXPECT_TRUE(ServeUntil([&] { return returned.load(); }));
    // Whatever failed above, the worker is never left blocked in its hand-off: a thread
    // still joinable at the end of the test would end the whole test program.
    while (!returned) {
        MainThread::ProcessMessages();
        ::Sleep(1);
    }
    worker.join();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(MainThread::IsMainThread());
}

// The box of an error that escapes a hand-off waits for the operator's click: the worker
// that handed it over (a read thread with the next report) is released before it shows.
TEST_F(MainThreadWin32, AnErrorOfAHandOffIsShownOnlyOnceItsWorkerIsReleased) {
    std::atomic<bool> released{false};
    std::vector<bool> releasedWhenShown;
    Application::SetMessageShower([&](const std::wstring& m) {
        Shown.push_back(m);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!released && std::chrono::steady_clock::now() < deadline) ::Sleep(1);
        releasedWhenShown.push_back(released.load());
    });
    std::thread worker([&] {
        MainThread::Synchronize([] { throw EControllerError(L"in a hand-off"); });
        released = true;
    });
    EXPECT_TRUE(ServeUntil([&] { return !Shown.empty(); }));
    worker.join();
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"in a hand-off"}));
    EXPECT_EQ(releasedWhenShown, (std::vector<bool>{true}));
}

TEST_F(MainThreadWin32, PlainMessageLoopServesHandOffs) {
    // The application's own GetMessage loop must run hand-offs without knowing about them.
    std::vector<int> order;
    std::thread worker([&] {
        MainThread::Synchronize([&] { order.push_back(1); });
        MainThread::Post([&] { order.push_back(2); });
        MainThread::Post([] { PostQuitMessage(0); });
    });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(MainThreadWin32, HandOffThatQueuesItselfDoesNotHoldUpTheMessageLoop) {
    // Each wake runs only what was waiting, so other messages still get their turn.
    constexpr UINT kStop = WM_APP + 7;
    bool stop = false;
    int runs = 0;
    std::function<void()> requeue = [&] {
        ++runs;
        if (!stop)
            MainThread::Post(requeue);
    };
    MainThread::Post(requeue);
    PostThreadMessageW(GetCurrentThreadId(), kStop, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kStop) {
            stop = true;
            PostQuitMessage(0);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EXPECT_TRUE(stop);
    EXPECT_GE(runs, 1);
    MainThread::ProcessMessages();
}

TEST_F(MainThreadWin32, SynchronizeOnMainThreadRunsAtOnce) {
    bool ran = false;
    MainThread::Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(MainThreadWin32, PostsRunInOrderAndOnlyWhenServed) {
    std::vector<int> order;
    for (int i = 0; i < 500; ++i)
        MainThread::Post([&order, i] { order.push_back(i); });
    EXPECT_TRUE(order.empty());
    MainThread::ProcessMessages();
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(order[i], i);
}

TEST_F(MainThreadWin32, ThrowingHandOffGoesToDefaultHandlerAndReleasesWorker) {
    std::atomic<bool> returned{false};
    bool laterRan = false;
    std::thread worker([&] {
        MainThread::Synchronize([] { throw ERangeError(L"Hors limites"); });
        MainThread::Synchronize([] { throw EAbort(); });
        MainThread::Synchronize([&] { laterRan = true; });
        returned = true;
    });
    EXPECT_TRUE(ServeUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(laterRan);
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"Hors limites"}));  // the abort shows nothing
}

TEST_F(MainThreadWin32, WaitForServesHandOffsOfTheThreadItJoins) {
    // The worker is still delivering when the main thread starts waiting for it.
    std::vector<int> delivered;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            MainThread::Synchronize([&delivered, i] { delivered.push_back(i); });
    });
    MainThread::WaitFor(worker);
    EXPECT_FALSE(worker.joinable());
    ASSERT_EQ(delivered.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(delivered[i], i);

    std::thread idle([] { ::Sleep(20); });
    MainThread::WaitFor(idle);
    EXPECT_FALSE(idle.joinable());
    std::thread none;
    MainThread::WaitFor(none);  // not joinable: nothing to do
}

TEST_F(MainThreadWin32, WaitForAnswersMessagesThatTheThreadSendsToOurWindows) {
    // A thread that sends to a window of the main thread waits for the answer; joining it
    // without answering would wait for ever.
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    wchar_t title[32] = {};
    std::thread sender([&] {
        SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"answered"));
        MainThread::Synchronize([] {});
    });
    MainThread::WaitFor(sender);
    EXPECT_FALSE(sender.joinable());
    GetWindowTextW(window, title, 32);
    EXPECT_STREQ(title, L"answered");
    DestroyWindow(window);
}

TEST_F(MainThreadWin32, ManyWorkersEachDeliverEveryHandOffOnceInOrder) {
    constexpr int kWorkers = 4, kCalls = 200;
    std::vector<std::vector<int>> seen(kWorkers);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&seen, w] {
            for (int i = 0; i < kCalls; ++i)
                MainThread::Synchronize([&seen, w, i] {
                    // A handler that lets pending work run must not lose or repeat any of it.
                    if (i % 7 == 0)
                        MainThread::ProcessMessages();
                    seen[w].push_back(i);
                });
        });
    for (auto& t : workers)
        MainThread::WaitFor(t);
    for (int w = 0; w < kWorkers; ++w) {
        ASSERT_EQ(seen[w].size(), static_cast<size_t>(kCalls)) << w;
        for (int i = 0; i < kCalls; ++i)
            EXPECT_EQ(seen[w][i], i) << w;
    }
}

TEST_F(MainThreadWin32, ProcessMessagesLeavesQuitForTheMessageLoop) {
    bool ran = false;
    PostQuitMessage(7);
    MainThread::Post([&] { ran = true; });
    MainThread::ProcessMessages();
    EXPECT_TRUE(ran);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

// The wait for a worker's network call serves what the message loop would: posted window
// messages (the timer, the tray) as well as hand-offs. A WM_QUIT ends it and stays for the
// message loop.
TEST_F(MainThreadWin32, ServeUntilDispatchesWindowMessagesAndStopsAtQuit) {
    MainThread::ClearQuitRequest();
    static std::atomic<int> received{0};
    received = 0;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP + 7) ++received;
        return DefWindowProcW(w, m, wp, lp);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ServeUntilTestWindow";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"ServeUntilTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        PostMessageW(window, WM_APP + 7, 0, 0);
        while (received == 0) ::Sleep(1);
        done = true;
        MainThread::Wake();
    });
    EXPECT_TRUE(MainThread::ServeUntil([&] { return done.load(); }, std::chrono::seconds(60)));
    worker.join();
    EXPECT_EQ(received, 1);

    PostQuitMessage(3);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(MainThread::ServeUntil([] { return false; }, std::chrono::seconds(60)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_TRUE(MainThread::QuitRequested());
    MainThread::ClearQuitRequest();
    DestroyWindow(window);
}

}  // namespace

#endif  // _WIN32
