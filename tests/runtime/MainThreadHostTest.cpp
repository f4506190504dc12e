#include "Application.h"
#include "Exceptions.h"
#include "MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

class MainThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        MainThread::ProcessMessages();  // nothing left over from another test
        Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
    }
    void TearDown() override { Application::SetMessageShower(nullptr); }

    // Serves hand-offs until `done` holds; the host has no message loop of its own.
    template <typename Pred>
    void PumpUntil(Pred done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "hand-off never arrived";
            MainThread::ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::vector<std::wstring> Shown;
};

TEST_F(MainThreadTest, SynchronizeOnTheMainThreadRunsAtOnce) {
    EXPECT_TRUE(MainThread::IsMainThread());
    bool ran = false;
    MainThread::Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(MainThreadTest, SynchronizeFromAWorkerRunsOnTheMainThreadAndBlocksUntilDone) {
    std::atomic<bool> workerIsMain{true};
    std::atomic<bool> callIsMain{false};
    std::atomic<bool> returned{false};
    int value = 0;  // written by the hand-off, read by the worker after Synchronize returns
    std::thread worker([&] {
        workerIsMain = MainThread::IsMainThread();
        MainThread::Synchronize([&] {
            callIsMain = MainThread::IsMainThread();
            value = 42;
        });
        EXPECT_EQ(value, 42);
        returned = true;
    });
    // Once the call is queued, nothing runs it until the main thread serves.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (MainThread::PendingHandOffs() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(MainThread::PendingHandOffs(), 1u) << "the worker never queued its call";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(returned) << "Synchronize returned before the main thread ran the call";
    PumpUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_FALSE(workerIsMain);
    EXPECT_TRUE(callIsMain);
}

TEST_F(MainThreadTest, ExceptionsFromHandOffsGoToTheDefaultHandler) {
    std::atomic<bool> released{false};
    std::thread worker([&] {
        MainThread::Synchronize([] { throw EControllerError(L"from a worker"); });
        MainThread::Synchronize([] { throw EAbort(); });
        MainThread::Synchronize([] { throw std::runtime_error("plain"); });
        released = true;
    });
    PumpUntil([&] { return released.load(); });
    worker.join();
    MainThread::Post([] { throw EControllerError(L"from a post"); });
    MainThread::ProcessMessages();
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"from a worker", L"plain", L"from a post"}));
}

// The box of an error that escapes a hand-off waits for the operator's click: the worker
// that handed it over (a read thread with the next report) is released before it shows.
TEST_F(MainThreadTest, AnErrorOfAHandOffIsShownOnlyOnceItsWorkerIsReleased) {
    std::atomic<bool> released{false};
    std::vector<bool> releasedWhenShown;
    Application::SetMessageShower([&](const std::wstring& m) {
        Shown.push_back(m);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!released && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        releasedWhenShown.push_back(released.load());
    });
    std::thread worker([&] {
        MainThread::Synchronize([] { throw EControllerError(L"in a hand-off"); });
        released = true;
    });
    PumpUntil([&] { return !Shown.empty(); });
    worker.join();
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"in a hand-off"}));
    EXPECT_EQ(releasedWhenShown, (std::vector<bool>{true}));
}

TEST_F(MainThreadTest, PostRunsLaterInOrderAndOnlyWhatWasQueuedBeforeTheCall) {
    std::vector<int> order;
    std::function<void()> requeue = [&] {
        order.push_back(0);
        MainThread::Post(requeue);  // would keep ProcessMessages busy for ever if served now
    };
    MainThread::Post([&] { order.push_back(1); });
    MainThread::Post([&] { order.push_back(2); });
    MainThread::Post(requeue);
    EXPECT_TRUE(order.empty());
    MainThread::ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
    MainThread::ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0, 0}));
    requeue = [&] {};  // the last queued copy ends the chain
    MainThread::ProcessMessages();
    MainThread::ProcessMessages();
}

TEST_F(MainThreadTest, WaitForServesTheThreadsHandOffsWhileJoining) {
    // Without serving, the worker would block in Synchronize and the join would never end.
    int served = 0;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) MainThread::Synchronize([&] { ++served; });
    });
    MainThread::WaitFor(worker);
    EXPECT_FALSE(worker.joinable());
    EXPECT_EQ(served, 50);

    std::thread idle([] {});
    MainThread::WaitFor(idle);
    EXPECT_FALSE(idle.joinable());
    MainThread::WaitFor(idle);  // not joinable: returns at once
}

TEST_F(MainThreadTest, ManyWorkersAreEachServedOnce) {
    constexpr int kWorkers = 8, kCalls = 200;
    int total = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) MainThread::Synchronize([&] { ++total; });
        });
    for (auto& t : workers) MainThread::WaitFor(t);
    EXPECT_EQ(total, kWorkers * kCalls);
}

TEST_F(MainThreadTest, ProcessMessagesOffTheMainThreadServesNothing) {
    bool ran = false;
    MainThread::Post([&] { ran = true; });
    std::thread other([] { MainThread::ProcessMessages(); });
    other.join();
    EXPECT_FALSE(ran);
    MainThread::ProcessMessages();
    EXPECT_TRUE(ran);
}

// The wait a main thread makes for a worker's network call: it serves hand-offs as they
// come and ends when the worker says it is done, when its time is up, or when the program
// is asked to end, whichever comes first.
TEST_F(MainThreadTest, ServeUntilEndsByDoneTimeOrQuit) {
    enum class TEnd { Done, Time, Quit };
    const struct {
        const char* Name;
        TEnd End;
        bool Answer;
    } cases[] = {{"done", TEnd::Done, true}, {"time", TEnd::Time, false}, {"quit", TEnd::Quit, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        MainThread::ClearQuitRequest();
        std::atomic<bool> done{false};
        std::atomic<bool> served{false};
        std::thread worker([&, end = c.End] {
            // A read thread's hand-off first: it must be served during the wait.
            MainThread::Synchronize([&] { served = true; });
            if (end == TEnd::Done) {
                done = true;
                MainThread::Wake();
            } else if (end == TEnd::Quit) {
                MainThread::Synchronize([] { MainThread::RequestQuit(); });
            }
        });
        const auto limit = c.End == TEnd::Time ? std::chrono::milliseconds(200) : std::chrono::milliseconds(60'000);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(MainThread::ServeUntil([&] { return done.load(); }, limit), c.Answer);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        worker.join();
        EXPECT_TRUE(served);
        EXPECT_EQ(MainThread::QuitRequested(), c.End == TEnd::Quit);
    }
    MainThread::ClearQuitRequest();
}

// Off the main thread the wait serves nothing, but still ends when woken.
TEST_F(MainThreadTest, ServeUntilOffTheMainThreadOnlyWaits) {
    std::atomic<bool> done{false};
    std::atomic<bool> answer{false};
    bool ran = false;
    MainThread::Post([&] { ran = true; });
    std::thread waiter([&] { answer = MainThread::ServeUntil([&] { return done.load(); }, std::chrono::seconds(60)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done = true;
    MainThread::Wake();
    waiter.join();
    EXPECT_TRUE(answer);
    EXPECT_FALSE(ran);
    MainThread::ProcessMessages();
    EXPECT_TRUE(ran);
}

}  // namespace

