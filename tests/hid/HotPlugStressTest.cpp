// Plugging and pulling control boxes over and over while others keep sending reports: no
// crash, no deadlock, no leak (the sanitizers watch), and every report of a box that stays
// plugged in arrives exactly once and in order.

#include "HidTestSupport.h"

#include "uUSB.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class HotPlugStressTest : public HidTest {};

TEST_F(HotPlugStressTest, TwoThousandPlugCyclesWithReportsFlowing) {
    constexpr int kCycles = 2000;
    Bus.SetInstantSleep(true);
    std::vector<VirtualHidDevicePtr> steady{Bus.PlugControlBox(L"ST1"), Bus.PlugControlBox(L"ST2")};

    auto wrapper = std::make_unique<TqvHIDController>(Bus);
    wrapper->JvController().SetDevThreadSleepTime(10);
    std::map<std::wstring, std::vector<int>> sequences;  // steady boxes: sequence numbers seen
    int churnReports = 0, plugged = 0, unplugged = 0;
    wrapper->SetOnPlugged([&](TqvHIDDevice*) { ++plugged; });
    wrapper->SetOnUnPlugged([&](TqvHIDDevice*) { ++unplugged; });
    wrapper->SetOnDeviceData([&](TJvHidDevice* d, std::uint8_t, const void* data, std::uint16_t size) {
        const std::wstring serial = d->SerialNumber();
        if (serial.rfind(L"ST", 0) != 0) {
            ++churnReports;
            return;
        }
        ASSERT_GE(size, 3);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        sequences[serial].push_back(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16));
    });
    wrapper->CheckChanged(true);
    ASSERT_EQ(plugged, 2);

    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread feeder([&] {
        int seq = 0;
        while (!stop) {
            for (auto& box : steady)
                box->QueueInput({0x01, static_cast<std::uint8_t>(seq & 0xFF),
                                 static_cast<std::uint8_t>((seq >> 8) & 0xFF),
                                 static_cast<std::uint8_t>((seq >> 16) & 0xFF)});
            sent = ++seq;
            std::this_thread::sleep_for(1ms);
        }
    });

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        auto a = Bus.PlugControlBox(L"C" + std::to_wstring(cycle % 3));
        auto b = Bus.PlugControlBox(L"D" + std::to_wstring(cycle % 5));
        MainThread::ProcessMessages();  // node change and USB arrival: both announced
        a->QueueInput({0x01, 1});
        b->QueueInput({0x01, 2});
        MainThread::ProcessMessages();
        Bus.Unplug(a);
        if (cycle % 2) MainThread::ProcessMessages();  // sometimes one at a time, sometimes both at once
        Bus.Unplug(b);
        MainThread::ProcessMessages();
        if (::testing::Test::HasFatalFailure()) break;
    }
    stop = true;
    feeder.join();

    const int expected = sent;
    ASSERT_LT(expected, 1 << 24) << "sequence numbers would wrap";
    ASSERT_TRUE(PumpUntil([&] {
        return sequences[L"ST1"].size() >= static_cast<std::size_t>(expected) &&
               sequences[L"ST2"].size() >= static_cast<std::size_t>(expected);
    }, 60s));
    for (const auto& [serial, seen] : sequences) {
        SCOPED_TRACE(std::string(serial.begin(), serial.end()));
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(expected));
        for (int i = 0; i < expected; ++i) ASSERT_EQ(seen[i], i) << "at " << i;
    }

    wrapper->CheckChanged(true);
    wrapper->CheckChanged(true);  // the last pulled ones are destroyed now
    EXPECT_EQ(plugged, 2 + 2 * kCycles);
    EXPECT_EQ(unplugged, 2 * kCycles);
    EXPECT_LE(churnReports, 2 * kCycles);
    EXPECT_EQ(wrapper->JvController().List().size(), 2u);
    EXPECT_EQ(wrapper->Devices().size(), 2u);

    wrapper.reset();
    EXPECT_EQ(Bus.PendingReads(), 0);
    EXPECT_EQ(Bus.AcquireCount(), 0);
    for (auto& box : steady) EXPECT_EQ(box->OpenHandles(), 0);
}

}  // namespace
