#include "HidTestSupport.h"

#include "JvHidDevice.h"
#include "JvHidDeviceController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct TReceived {
    TJvHidDevice* Device;
    std::uint8_t ReportID;
    std::vector<std::uint8_t> Data;
    bool OnMainThread;
};

class ReadThreadTest : public HidTest {
protected:
    void SetUp() override {
        HidTest::SetUp();
        Box = Bus.PlugControlBox(L"AL12K1C01234");
        Controller = std::make_unique<TJvHidDeviceController>(Bus);
        Controller->SetDevThreadSleepTime(10);
        // The controller's own first pass, served now: left queued, it would run at some
        // moment of the test, and after a failed read it drops the device the test holds
        // (a fresh object takes its place, which nobody here checks out).
        MainThread::ProcessMessages();
        ASSERT_EQ(MainThread::PendingHandOffs(), 0u);
        ASSERT_TRUE(Controller->CheckOut(Device));
        Device->SetOnDataError([this](TJvHidDevice* d, std::uint32_t error) {
            EXPECT_EQ(d, Device);
            Errors.push_back(error);
        });
    }
    void TearDown() override {
        Controller.reset();
        EXPECT_EQ(Bus.PendingReads(), 0);
        HidTest::TearDown();
    }

    void Listen() {
        Device->SetOnData([this](TJvHidDevice* d, std::uint8_t id, const void* data, std::uint16_t size) {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            Received.push_back({d, id, {bytes, bytes + size}, MainThread::IsMainThread()});
        });
        ASSERT_TRUE(Device->HasReadThread());
    }
    bool ReadOutstanding() {
        return PumpUntil([&] { return Bus.PendingReads() == 1; });
    }

    VirtualHidDevicePtr Box;
    std::unique_ptr<TJvHidDeviceController> Controller;
    TJvHidDevice* Device = nullptr;
    std::vector<TReceived> Received;
    std::vector<std::uint32_t> Errors;
};

TEST_F(ReadThreadTest, ReportsReachTheHandlerOnTheMainThreadInOrder) {
    Listen();
    std::vector<std::uint8_t> first(17, 0);
    first[0] = 0x01;
    first[3] = 1;  // key 2 down
    Box->QueueInput(first);
    for (std::uint8_t i = 0; i < 40; ++i) Box->QueueInput({0x01, i});
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 41; }));

    EXPECT_EQ(Received[0].Device, Device);
    EXPECT_EQ(Received[0].ReportID, 0x01);
    EXPECT_EQ(Received[0].Data, std::vector<std::uint8_t>(first.begin() + 1, first.end()));
    for (std::uint8_t i = 0; i < 40; ++i) EXPECT_EQ(Received[1 + i].Data, std::vector<std::uint8_t>{i});
    for (const auto& r : Received) EXPECT_TRUE(r.OnMainThread);
    EXPECT_TRUE(Errors.empty());
    const auto names = Bus.ThreadNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), L"TJvHidDeviceReadThread");
}

TEST_F(ReadThreadTest, AReportIdAloneIsDeliveredEmptyAndAnEmptyReadIsNot) {
    Listen();
    Box->QueueInput({0x01});
    Box->QueueInput({});
    Box->QueueInput({0x02, 7});
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 2; }));
    PumpFor(30ms);
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[0].ReportID, 0x01);
    EXPECT_TRUE(Received[0].Data.empty());
    EXPECT_EQ(Received[1].ReportID, 0x02);
    EXPECT_EQ(Received[1].Data, std::vector<std::uint8_t>{7});
}

TEST_F(ReadThreadTest, LongerReportsAreCutToTheInputReportLength) {
    Listen();
    Box->QueueInput(std::vector<std::uint8_t>(40, 0x01));
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 1; }));
    EXPECT_EQ(Received[0].Data.size(), 16u);
}

TEST_F(ReadThreadTest, StopWithAReadOutstandingCancelsIt) {
    Listen();
    ASSERT_TRUE(ReadOutstanding());
    Device->SetOnData({});
    EXPECT_FALSE(Device->HasReadThread());
    EXPECT_EQ(Bus.PendingReads(), 0) << "the read still outstanding would write into a freed buffer";
    Box->QueueInput({0x01, 1});
    PumpFor(30ms);
    EXPECT_TRUE(Received.empty());
    EXPECT_EQ(Box->QueuedInputCount(), 1u) << "nobody reads any more";
}

TEST_F(ReadThreadTest, AfterAnUnplugOnlyErrorsArriveAtTheSleepTimeRhythm) {
    Listen();
    ASSERT_TRUE(ReadOutstanding());
    Bus.Unplug(Box);
    Controller->DeviceChange();  // the unplug step closes the read handle under the thread
    ASSERT_TRUE(PumpUntil([&] { return Errors.size() >= 3; }));
    const auto start = std::chrono::steady_clock::now();
    const std::size_t before = Errors.size();
    PumpFor(100ms);
    const auto spanMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start).count();
    // One error per wait of 10 ms at most: a thread that retried without waiting would
    // flood the main thread.
    EXPECT_LE(Errors.size() - before, static_cast<std::size_t>(spanMs / 10 + 2));
    EXPECT_TRUE(Received.empty());
    EXPECT_TRUE(Device->HasReadThread()) << "the thread runs on until the device stops it";
    EXPECT_EQ(Box->OpenHandles(), 0);
}

TEST_F(ReadThreadTest, AReadThatFailsToStartReportsThePlatformErrorAndRetries) {
    Box->SetReadFails(true);
    Listen();
    ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
    EXPECT_EQ(Errors[0], kErrorGenFailure);
    Box->SetReadFails(false);
    Box->QueueInput({0x01, 5});
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 1; }));
}

TEST_F(ReadThreadTest, ClosingTheReadHandleUnderTheThreadIsAReadWithoutData) {
    Listen();
    ASSERT_TRUE(ReadOutstanding());
    for (int i = 0; i < 20; ++i) {
        Device->CloseFileEx(omhRead);
        PumpFor(2ms);
    }
    // Still accessible: the thread opens the handle again and reads on.
    Box->QueueInput({0x01, 9});
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 1; }));
    EXPECT_EQ(Received[0].Data, std::vector<std::uint8_t>{9});
    EXPECT_TRUE(Errors.empty());
}

TEST_F(ReadThreadTest, StoppingAThreadThatWaitsForItsHandlerCompletes) {
    Listen();
    // What the controller queued for itself stays queued too.
    const std::size_t queued = MainThread::PendingHandOffs();
    Box->QueueInput({0x01, 3});
    // Without pumping, the thread comes to wait for the main thread to run its hand-off.
    ASSERT_TRUE(WaitUnserved([&] { return MainThread::PendingHandOffs() == queued + 1; }))
        << "the read thread never handed its report over";
    EXPECT_TRUE(Received.empty());
    Device->SetOnData({});  // joins while serving the hand-off
    EXPECT_FALSE(Device->HasReadThread());
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0].Data, std::vector<std::uint8_t>{3});
}

TEST_F(ReadThreadTest, AHandlerMayStopItsOwnThread) {
    Device->SetOnData([this](TJvHidDevice* d, std::uint8_t, const void*, std::uint16_t) {
        Received.push_back({d, 0, {}, true});
        d->SetOnData({});  // waiting for the thread here would wait for ourselves
    });
    Box->QueueInput({0x01, 1});
    Box->QueueInput({0x01, 2});
    ASSERT_TRUE(PumpUntil([&] { return !Device->HasReadThread(); }));
    PumpFor(30ms);
    EXPECT_EQ(Received.size(), 1u);

    // A new handler starts a new thread, which reads the report still queued.
    Listen();
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 2; }));
}

TEST_F(ReadThreadTest, ADeviceDestroyedInsideItsOwnHandlerGoesOnceTheHandlerReturns) {
    bool destroyed = false;
    Device->SetOnData([&](TJvHidDevice* d, std::uint8_t, const void*, std::uint16_t) {
        TJvHidDevice::DestroyWhenIdle(d);
        EXPECT_EQ(Controller->List()[0].get(), d) << "destroyed while its hand-off runs";
        MainThread::ProcessMessages();  // what a trace line does
        destroyed = Controller->List()[0].get() != d;
    });
    Box->QueueInput({0x01, 1});
    ASSERT_TRUE(PumpUntil([&] { return Controller->List()[0].get() != Device; }));
    EXPECT_FALSE(destroyed);
    // Plugged in still: a fresh object took its place, not checked out, without a thread.
    EXPECT_FALSE(Controller->List()[0]->IsCheckedOut());
    EXPECT_FALSE(Controller->List()[0]->HasReadThread());
    EXPECT_EQ(Box->OpenHandles(), 0);
}

TEST_F(ReadThreadTest, TheControllerDestroyedInsideADevicesHandlerLeavesTheDeviceToFinishAfterIt) {
    int calls = 0;
    Device->SetOnData([&](TJvHidDevice* d, std::uint8_t, const void*, std::uint16_t) {
        ++calls;
        Controller.reset();  // e.g. the program quits while a report is handled
        EXPECT_TRUE(d->IsCheckedOut()) << "the device itself is still there";
        EXPECT_EQ(Bus.AcquireCount(), 1) << "HID services released under a device that still runs";
    });
    Box->QueueInput({0x01, 1});
    Box->QueueInput({0x01, 2});
    ASSERT_TRUE(PumpUntil([&] { return Bus.AcquireCount() == 0; }));
    PumpFor(30ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Box->OpenHandles(), 0);
    EXPECT_EQ(Bus.PendingReads(), 0);
}

TEST_F(ReadThreadTest, CheckInStopsTheThreadAndClosesTheHandles) {
    Listen();
    ASSERT_TRUE(ReadOutstanding());
    TJvHidDevice* held = Device;
    Controller->CheckIn(held);
    EXPECT_EQ(held, nullptr);
    EXPECT_FALSE(Device->HasReadThread());
    EXPECT_FALSE(Device->IsCheckedOut());
    EXPECT_EQ(Box->OpenHandles(), 0);
    EXPECT_EQ(Bus.PendingReads(), 0);

    // Checked out again, the kept handler gets a new thread.
    TJvHidDevice* again = nullptr;
    ASSERT_TRUE(Controller->CheckOut(again));
    EXPECT_EQ(again, Device);
    EXPECT_TRUE(Device->HasReadThread());
}

}  // namespace
