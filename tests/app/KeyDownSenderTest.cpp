// The key-downs' own sender: every key-down leaves once, in the order of the presses; one
// the timing software does not answer in time is never sent again and holds nobody who
// adds presses meanwhile; stopping gives back, as not sent, what had not left.

#include "KeyDownSender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kLimit{500};

// Holds the sends that reach it closed until opened; shared, so that a send left to end
// by itself after the test never reaches a gone gate.
struct Gate {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = true;
    int Waiting = 0;
    void Pass() {
        std::unique_lock<std::mutex> lock(Lock);
        ++Waiting;
        Changed.notify_all();
        Changed.wait(lock, [&] { return Open; });
        --Waiting;
    }
    void Set(bool open) {
        std::lock_guard<std::mutex> guard(Lock);
        Open = open;
        Changed.notify_all();
    }
    bool WaitForOne() {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, 30s, [&] { return Waiting > 0; });
    }
};

// What the window was sent, in order, and how each send answers.
struct Window {
    Window() = default;
    std::mutex Lock;
    std::vector<unsigned> Sent;
    std::shared_ptr<Gate> Hold = std::make_shared<Gate>();
    // Key-downs the program leaves unanswered.
    std::vector<unsigned> Unanswered;

    // The wait each key-down was given, in the order sent (under Lock once sent).
    std::vector<std::chrono::milliseconds> Limits;
    // Late answers still to come, in the order sent.
    std::vector<std::function<void()>> Late;

    // Shared with the sender's thread, which a stop may leave to end by itself.
    static TKeyDownPort SendTo(std::shared_ptr<Window> self) {
        TKeyDownPort port;
        port.Send = [self](const TKeyDownJob& job, std::chrono::milliseconds limit,
                           std::function<void()> answeredLate) {
            self->Limits.push_back(limit);
            self->Hold->Pass();
            std::lock_guard<std::mutex> guard(self->Lock);
            self->Sent.push_back(job.VirtualKey);
            for (unsigned k : self->Unanswered)
                if (k == job.VirtualKey) {
                    self->Late.push_back(std::move(answeredLate));
                    return TKeyDownResult{TKeyDownOutcome::NotAnswered, 1460};
                }
            return TKeyDownResult{};
        };
        port.Await = [](std::chrono::milliseconds) { std::this_thread::yield(); };
        return port;
    }
    // The program answers again: the key-downs it had not answered, in order.
    void AnswerLate() {
        std::vector<std::function<void()>> late;
        {
            std::lock_guard<std::mutex> guard(Lock);
            late.swap(Late);
        }
        for (auto& answered : late) answered();
    }
    std::vector<unsigned> SentSoFar() {
        std::lock_guard<std::mutex> guard(Lock);
        return Sent;
    }
};

// Collects results as the owner would: woken by `ready`, taking them in order.
struct Owner {
    std::mutex Lock;
    std::condition_variable Changed;
    int Ready = 0;
    TKeyDownSender::TReady Sink() {
        return [this] {
            std::lock_guard<std::mutex> guard(Lock);
            ++Ready;
            Changed.notify_all();
        };
    }
    std::vector<TKeyDownDone> TakeAll(TKeyDownSender& sender, std::size_t count) {
        std::vector<TKeyDownDone> all;
        while (all.size() < count) {
            {
                std::unique_lock<std::mutex> lock(Lock);
                if (!Changed.wait_for(lock, 30s, [&] { return Ready > 0; })) break;
                Ready = 0;
            }
            for (TKeyDownDone& d : sender.Take()) all.push_back(d);
        }
        return all;
    }
};

TKeyDownJob Job(unsigned key) { return {900, key, std::chrono::steady_clock::now()}; }

TEST(KeyDownSender, EveryKeyDownLeavesOnceInTheOrderOfThePresses) {
    auto shared = std::make_shared<Window>();
    Window& window = *shared;
    Owner owner;
    TKeyDownSender sender(Window::SendTo(shared), owner.Sink(), kLimit);
    std::vector<unsigned> pressed;
    for (unsigned i = 0; i < 300; ++i) {
        pressed.push_back(116 + i % 6);
        sender.Add(Job(pressed.back()));
    }
    const std::vector<TKeyDownDone> done = owner.TakeAll(sender, pressed.size());
    ASSERT_EQ(done.size(), pressed.size());
    for (std::size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].Job.VirtualKey, pressed[i]) << i;
        EXPECT_TRUE(done[i].Sent);
        EXPECT_EQ(done[i].Result.Outcome, TKeyDownOutcome::Delivered);
        EXPECT_GE(done[i].Delay.count(), 0);
    }
    EXPECT_EQ(window.SentSoFar(), pressed);
    EXPECT_TRUE(sender.Settled());
}

TEST(KeyDownSender, AKeyDownNotAnsweredInTimeIsNeverSentAgainAndTheNextOnesFollow) {
    auto shared = std::make_shared<Window>();
    Window& window = *shared;
    window.Unanswered = {117};
    Owner owner;
    TKeyDownSender sender(Window::SendTo(shared), owner.Sink(), kLimit);
    for (unsigned k : {116u, 117u, 118u}) sender.Add(Job(k));
    std::vector<TKeyDownDone> done = owner.TakeAll(sender, 3);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0].Result.Outcome, TKeyDownOutcome::Delivered);
    EXPECT_EQ(done[1].Result.Outcome, TKeyDownOutcome::NotAnswered);
    EXPECT_EQ(done[2].Result.Outcome, TKeyDownOutcome::Delivered);
    // Behind a key-down still not answered, the next one is handed on without a wait.
    EXPECT_EQ(window.Limits, (std::vector<std::chrono::milliseconds>{kLimit, kLimit, 0ms}));
    // The program answers again: the key-down it had left comes back late, once.
    window.AnswerLate();
    done = owner.TakeAll(sender, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Job.VirtualKey, 117u);
    EXPECT_EQ(done[0].Result.Outcome, TKeyDownOutcome::Delivered);
    EXPECT_TRUE(done[0].Late);
    EXPECT_EQ(window.SentSoFar(), (std::vector<unsigned>{116, 117, 118})) << "sent once each";
}

TEST(KeyDownSender, PressesAddedWhileTheProgramHangsDoNotWaitAndKeepTheirOrder) {
    auto shared = std::make_shared<Window>();
    Window& window = *shared;
    Owner owner;
    TKeyDownSender sender(Window::SendTo(shared), owner.Sink(), kLimit);
    window.Hold->Set(false);
    sender.Add(Job(116));
    ASSERT_TRUE(window.Hold->WaitForOne());
    // The first is on its way and not answered: adding more returns at once.
    for (unsigned k : {117u, 118u, 123u}) sender.Add(Job(k));
    EXPECT_TRUE(window.SentSoFar().empty());
    EXPECT_FALSE(sender.Settled());
    window.Hold->Set(true);
    const std::vector<TKeyDownDone> done = owner.TakeAll(sender, 4);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(window.SentSoFar(), (std::vector<unsigned>{116, 117, 118, 123}));
}

TEST(KeyDownSender, StoppingGivesBackWhatHadNotLeftAndDoesNotWaitForAHang) {
    struct Case {
        const char* name;
        bool hang;  // the send on its way does not end
    } cases[] = {{"a send on its way ends", false}, {"a send on its way hangs", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto shared = std::make_shared<Window>();
        Window& window = *shared;
        TKeyDownPort port = Window::SendTo(shared);
        // The stop wakes the sender once it has taken back what had not left: a send on
        // its way that ends is let through then, and comes back answered.
        auto stopping = std::make_shared<std::atomic<bool>>(false);
        if (!c.hang)
            port.Wake = [gate = window.Hold, stopping] {
                if (*stopping) gate->Set(true);
            };
        auto sender = std::make_unique<TKeyDownSender>(port, nullptr, kLimit);
        window.Hold->Set(false);
        sender->Add(Job(116));
        ASSERT_TRUE(window.Hold->WaitForOne());
        sender->Add(Job(117));
        sender->Add(Job(118));
        *stopping = true;
        sender->Stop(c.hang ? 1ms : 30s);
        const std::vector<TKeyDownDone> done = sender->Take();
        ASSERT_EQ(done.size(), 3u);
        // In the order of the presses: the one on its way, then the two that waited and
        // were never sent.
        EXPECT_EQ(done[0].Job.VirtualKey, 116u);
        EXPECT_TRUE(done[0].Sent);
        EXPECT_EQ(done[0].Result.Outcome, c.hang ? TKeyDownOutcome::NotAnswered : TKeyDownOutcome::Delivered);
        EXPECT_EQ(done[1].Job.VirtualKey, 117u);
        EXPECT_EQ(done[2].Job.VirtualKey, 118u);
        EXPECT_FALSE(done[1].Sent);
        EXPECT_FALSE(done[2].Sent);
        sender->Add(Job(119));
        const std::vector<TKeyDownDone> after = sender->Take();
        ASSERT_EQ(after.size(), 1u);
        EXPECT_FALSE(after[0].Sent) << "nothing leaves after the stop";
        sender.reset();
        window.Hold->Set(true);  // a send left to end by itself ends now
    }
}

}  // namespace
