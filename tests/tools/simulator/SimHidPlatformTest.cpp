// The simulator's `press` and `input` return once the program has handled the report: the
// read counts of TSimHidPlatform must say "handled" neither too early nor never, whether
// the device had a read outstanding when the report was queued or not.
#include "SimHidPlatform.h"

#include "Application.h"
#include "JvHidDevice.h"
#include "JvHidDeviceController.h"
#include "MainThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

class SimHidPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        MainThread::ProcessMessages();
        Bus.SetInstantSleep(true);
        Box = Bus.PlugControlBox(L"SIM0001");
        Controller = std::make_unique<TJvHidDeviceController>(Hid);
        Controller->SetDevThreadSleepTime(10);
        Controller->DeviceChange();
        ASSERT_TRUE(Controller->CheckOut(Device));
    }
    void TearDown() override {
        Controller.reset();
        MainThread::ProcessMessages();
    }

    void Listen() {
        Device->SetOnData([this](TJvHidDevice*, std::uint8_t, const void* data, std::uint16_t size) {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            Handled.emplace_back(bytes, bytes + size);
        });
    }

    // What the simulator does between commands: serve the main thread until `done`.
    template <typename Pred>
    bool PumpUntil(Pred done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MainThread::ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Queues one report and serves the main thread until the platform says it was handled.
    bool SendAndWait(std::vector<std::uint8_t> report) {
        const std::uint64_t target = Hid.QueueReport(*Box, std::move(report));
        return PumpUntil([&] { return Hid.ReadsStarted(Box->Path()) >= target; });
    }

    VirtualHidBus Bus;
    TSimHidPlatform Hid{Bus};
    VirtualHidDevicePtr Box;
    std::unique_ptr<TJvHidDeviceController> Controller;
    TJvHidDevice* Device = nullptr;
    std::vector<std::vector<std::uint8_t>> Handled;
};

TEST_F(SimHidPlatformTest, AReportTakenByTheOutstandingReadCountsOnceItsHandlerRan) {
    Listen();
    ASSERT_TRUE(PumpUntil([&] { return Bus.PendingReads() == 1; }));
    for (std::uint8_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(SendAndWait({0x01, i}));
        // Handled by now, and nothing more than this one.
        ASSERT_EQ(Handled.size(), i + 1u);
        EXPECT_EQ(Handled.back(), std::vector<std::uint8_t>{i});
    }
}

TEST_F(SimHidPlatformTest, AReportQueuedBeforeAnyReadCountsOnceItsHandlerRan) {
    // No handler yet, so no read thread and no read outstanding: the report waits in the
    // device for the first read.
    ASSERT_EQ(Bus.PendingReads(), 0);
    const std::uint64_t target = Hid.QueueReport(*Box, {0x01, 7});
    Listen();
    ASSERT_TRUE(PumpUntil([&] { return Hid.ReadsStarted(Box->Path()) >= target; }));
    ASSERT_EQ(Handled.size(), 1u);
    EXPECT_EQ(Handled[0], std::vector<std::uint8_t>{7});
}

TEST_F(SimHidPlatformTest, ReadsAreCountedPerDevicePath) {
    auto other = Bus.PlugControlBox(L"SIM0002");
    Listen();
    ASSERT_TRUE(PumpUntil([&] { return Bus.PendingReads() == 1; }));
    const std::uint64_t before = Hid.ReadsStarted(Box->Path());
    ASSERT_TRUE(SendAndWait({0x01, 1}));
    EXPECT_EQ(Hid.ReadsStarted(Box->Path()), before + 1);
    EXPECT_EQ(Hid.ReadsStarted(other->Path()), 0u);
}

}  // namespace
