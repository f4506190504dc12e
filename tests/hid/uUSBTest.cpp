#include "HidTestSupport.h"

#include "uUSB.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Events as "+serial" (plugged) and "-serial" (unplugged), in order.
class WrapperTest : public HidTest {
protected:
    void SetUp() override {
        HidTest::SetUp();
        Bus.SetInstantSleep(true);
    }
    void TearDown() override {
        Wrapper.reset();
        EXPECT_EQ(Bus.AcquireCount(), 0);
        EXPECT_EQ(Bus.PendingReads(), 0);
        for (const auto& d : Bus.Devices()) EXPECT_EQ(d->OpenHandles(), 0);
        HidTest::TearDown();
    }
    void Create() {
        Wrapper = std::make_unique<TqvHIDController>(Bus);
        Wrapper->JvController().SetDevThreadSleepTime(10);
        Wrapper->SetOnPlugged([this](TqvHIDDevice* d) { Events.push_back(L"+" + d->Serial); });
        Wrapper->SetOnUnPlugged([this](TqvHIDDevice* d) { Events.push_back(L"-" + d->Serial); });
    }
    std::size_t Listed() const { return Wrapper->JvController().List().size(); }

    std::unique_ptr<TqvHIDController> Wrapper;
    std::vector<std::wstring> Events;
};

using Strings = std::vector<std::wstring>;

TEST_F(WrapperTest, StartUpWithNothingAnnouncesNothing) {
    Create();
    Wrapper->CheckChanged(true);
    MainThread::ProcessMessages();
    EXPECT_TRUE(Events.empty());
    EXPECT_TRUE(Wrapper->Devices().empty());
    EXPECT_EQ(Listed(), 0u);
}

TEST_F(WrapperTest, StartUpAnnouncesEveryInterfaceInEnumerationOrder) {
    Bus.PlugControlBox(L"S1");
    TVirtualHidDescription keyboard;
    keyboard.Attributes = THIDDAttributes{12, 0x845E, 0x0002, 1};
    keyboard.SerialNumber = L"KB";
    keyboard.NoAccessOnly = true;
    Bus.Plug(keyboard);
    Bus.PlugControlBox(L"S2");
    Create();
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events, (Strings{L"+S1", L"+KB", L"+S2"}));
    ASSERT_EQ(Wrapper->Devices().size(), 3u);
    EXPECT_TRUE(Wrapper->Devices()[0]->Device->HasReadThread());
    EXPECT_FALSE(Wrapper->Devices()[1]->Device->HasReadThread());
    EXPECT_TRUE(Wrapper->Devices()[2]->Device->HasReadThread());

    // The controller's own first pass, and a pass with nothing new, announce nothing.
    MainThread::ProcessMessages();
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events.size(), 3u);
}

TEST_F(WrapperTest, ReportsOfEveryDeviceReachTheOneEvent) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    Create();
    Strings seen;
    Wrapper->SetOnDeviceData([&](TJvHidDevice* d, std::uint8_t id, const void* data, std::uint16_t size) {
        seen.push_back(d->SerialNumber() + L":" + std::to_wstring(id) + L":" +
                       std::to_wstring(static_cast<const std::uint8_t*>(data)[0]) + L"/" + std::to_wstring(size));
    });
    Wrapper->CheckChanged(true);
    a->QueueInput({0x01, 7, 0});
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    b->QueueInput({0x01, 8});
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (Strings{L"S1:1:7/2", L"S2:1:8/1"}));
}

TEST_F(WrapperTest, NoticesOfTheBusDrivePasses) {
    Create();
    Wrapper->CheckChanged(true);
    auto a = Bus.PlugControlBox(L"S1");
    MainThread::ProcessMessages();
    EXPECT_EQ(Events, Strings{L"+S1"});

    Bus.PostUsbNotices(true);  // a memory stick: nothing new
    MainThread::ProcessMessages();
    EXPECT_EQ(Events, Strings{L"+S1"});

    Bus.Unplug(a);
    MainThread::ProcessMessages();
    EXPECT_EQ(Events, (Strings{L"+S1", L"-S1"}));
    EXPECT_EQ(Listed(), 1u) << "destroyed at the start of the next pass";
    Bus.PostUsbNotices(false);  // another device's notices start no pass
    MainThread::ProcessMessages();
    EXPECT_EQ(Listed(), 1u);
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Listed(), 0u);
}

TEST_F(WrapperTest, TwoPulledAtOnceGoInOnePassAndAreDestroyedInTheNext) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    auto c = Bus.PlugControlBox(L"S3");
    Create();
    Wrapper->CheckChanged(true);
    Bus.Unplug(a);
    Bus.Unplug(c);
    Events.clear();
    // The settle wait serves the removal notices: the passes they ask for run right after.
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events, (Strings{L"-S1", L"-S3"}));
    EXPECT_EQ(Wrapper->Devices().size(), 1u);
    EXPECT_EQ(Listed(), 1u);
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events.size(), 2u);
}

TEST_F(WrapperTest, PulledAndPluggedAgainWithinOnePass) {
    auto a = Bus.PlugControlBox(L"S1");
    Create();
    Wrapper->CheckChanged(true);
    // Pulled: the node-change notice reaches the controller's window first.
    Bus.Unplug(a);
    Wrapper->JvController().DeviceChange();
    auto again = Bus.PlugAgain(a);  // same device-instance number
    Events.clear();
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events, (Strings{L"+S1", L"-S1"}));
    ASSERT_EQ(Wrapper->Devices().size(), 1u);
    EXPECT_TRUE(Wrapper->Devices()[0]->Device->IsPluggedIn());

    // Pulled and plugged into another port (a new number) between two passes.
    Bus.Unplug(again);
    Bus.PlugControlBox(L"S1");
    Events.clear();
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events, (Strings{L"+S1", L"-S1"}));
    MainThread::ProcessMessages();
    EXPECT_EQ(Events.size(), 2u);
    EXPECT_EQ(Listed(), 1u);
}

TEST_F(WrapperTest, AnInterfaceThatCannotBeOpenedStopsEveryPassWhilePresent) {
    auto a = Bus.PlugControlBox(L"S1");
    Create();
    Wrapper->CheckChanged(true);
    TVirtualHidDescription broken = VirtualControlBoxDescription(L"X");
    broken.CannotOpen = true;
    auto x = Bus.Plug(broken);
    Bus.Unplug(a);
    Bus.PlugControlBox(L"S2");
    MainThread::ProcessMessages();  // the controller's window passes show their error
    Shown.clear();
    Events.clear();
    Wrapper->CheckChanged(true);
    Wrapper->CheckChanged(true);
    EXPECT_TRUE(Events.empty());
    EXPECT_TRUE(Shown.empty()) << "a wrapper pass reports nothing";
    Bus.Unplug(x);
    MainThread::ProcessMessages();  // the controller's window pass may show its error
    Wrapper->CheckChanged(true);
    EXPECT_EQ(Events, (Strings{L"+S2", L"-S1"}));
}

TEST_F(WrapperTest, APassAskedForDuringAPassRunsRightAfterIt) {
    Bus.PlugControlBox(L"S1");
    Bus.PlugControlBox(L"S2");
    Create();
    int nested = 0;
    Wrapper->SetOnPlugged([&](TqvHIDDevice* d) {
        Events.push_back(L"+" + d->Serial);
        if (d->Serial == L"S1") {
            // What a USB arrival processed inside this handler does.
            Bus.PlugControlBox(L"S3");
            Wrapper->CheckChanged(true);
            ++nested;
            Events.push_back(L"(back)");
        }
    });
    Wrapper->CheckChanged(true);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(Events, (Strings{L"+S1", L"(back)", L"+S2", L"+S3"}));
    EXPECT_EQ(Wrapper->Devices().size(), 3u);
}

TEST_F(WrapperTest, PassesInsideADevicesOwnHandlerThatDestroyItNeitherDeadlockNorLeak) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    Create();
    int handled = 0;
    Wrapper->SetOnDeviceData([&](TJvHidDevice* d, std::uint8_t, const void*, std::uint16_t) {
        ++handled;
        if (d->PnPInfo()->DeviceID() != a->DevInst()) return;
        // The box is pulled while its report is handled; trace lines let both passes run.
        Bus.Unplug(a);
        Wrapper->CheckChanged(true);  // finds it gone, announces it
        Wrapper->CheckChanged(true);  // destroys it: must wait until this handler returns
        MainThread::ProcessMessages();
    });
    Wrapper->CheckChanged(true);
    a->QueueInput({0x01, 1});
    ASSERT_TRUE(PumpUntil([&] { return Listed() == 1; }, 5s)) << "the deferred destruction was lost";
    EXPECT_EQ(Events, (Strings{L"+S1", L"+S2", L"-S1"}));
    b->QueueInput({0x01, 2});
    ASSERT_TRUE(PumpUntil([&] { return handled == 2; }));
}

TEST_F(WrapperTest, DestroyingTheWrapperStopsEverything) {
    auto a = Bus.PlugControlBox(L"S1");
    Create();
    Wrapper->SetOnDeviceData([](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) {});
    Wrapper->CheckChanged(true);
    ASSERT_TRUE(PumpUntil([&] { return Bus.PendingReads() == 1; }));
    Bus.Unplug(a);
    Wrapper->CheckChanged(true);  // the device waits for destruction in the next pass
    a->QueueInput({0x01, 1});
    Wrapper.reset();
    EXPECT_EQ(Bus.NotifyWindows(), 0);
    MainThread::ProcessMessages();
}

}  // namespace
