#include "HidTestSupport.h"

#include "Exceptions.h"
#include "JvHidDevice.h"
#include "JvHidDeviceController.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class ControllerTest : public HidTest {
protected:
    std::vector<std::uint32_t> Ids(const TJvHidDeviceController& c) {
        std::vector<std::uint32_t> ids;
        for (const auto& d : c.List()) ids.push_back(d->PnPInfo()->DeviceID());
        return ids;
    }
};

TEST_F(ControllerTest, WithoutHidServicesNothingIsEverListed) {
    Bus.SetAvailable(false);
    Bus.PlugControlBox(L"S1");
    TJvHidDeviceController controller(Bus);
    EXPECT_FALSE(controller.HidAvailable());
    EXPECT_EQ(Bus.NotifyWindows(), 0);
    controller.DeviceChange();
    MainThread::ProcessMessages();
    EXPECT_TRUE(controller.List().empty());
    EXPECT_EQ(Bus.AcquireCount(), 0);
}

TEST_F(ControllerTest, TheWindowRunsAFirstPassAndOneOnEveryNodeChange) {
    auto a = Bus.PlugControlBox(L"S1");
    {
        TJvHidDeviceController controller(Bus);
        EXPECT_EQ(Bus.AcquireCount(), 1);
        EXPECT_TRUE(controller.List().empty()) << "creation enumerates nothing";
        MainThread::ProcessMessages();
        EXPECT_EQ(Ids(controller), std::vector<std::uint32_t>{a->DevInst()});

        auto b = Bus.PlugControlBox(L"S2");
        MainThread::ProcessMessages();
        EXPECT_EQ(Ids(controller), (std::vector<std::uint32_t>{a->DevInst(), b->DevInst()}));
        EXPECT_FALSE(controller.List()[1]->IsCheckedOut()) << "listed, not handed out";

        // A pass that fails reaches the application's handler; the list stays.
        TVirtualHidDescription broken = VirtualControlBoxDescription(L"X");
        broken.CannotOpen = true;
        auto c = Bus.Plug(broken);
        MainThread::ProcessMessages();
        EXPECT_EQ(Shown, std::vector<std::wstring>{L"Device cannot be opened"});
        EXPECT_FALSE(controller.InDeviceChange());
        EXPECT_EQ(controller.List().size(), 2u);
        Bus.Unplug(c);
        MainThread::ProcessMessages();
        EXPECT_EQ(controller.List().size(), 2u);
    }
    EXPECT_EQ(Bus.AcquireCount(), 0);
    EXPECT_EQ(Bus.NotifyWindows(), 0);
    Bus.PlugControlBox(L"S3");
    MainThread::ProcessMessages();  // notices posted to the dead window do nothing
}

TEST_F(ControllerTest, PassesReconcileByDeviceInstance) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    auto c = Bus.PlugControlBox(L"S3");
    TJvHidDeviceController controller(Bus);
    controller.DeviceChange();
    TJvHidDevice* objectOfB = controller.List()[1].get();

    // Nothing changed: the same objects stay.
    controller.DeviceChange();
    EXPECT_EQ(controller.List()[1].get(), objectOfB);
    EXPECT_EQ(controller.List().size(), 3u);

    // Two gone, not checked out: removed; one new: appended.
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(controller.CheckOut(held));  // a
    Bus.Unplug(a);
    Bus.Unplug(c);
    auto d = Bus.PlugControlBox(L"S4");
    controller.DeviceChange();
    EXPECT_EQ(Ids(controller), (std::vector<std::uint32_t>{a->DevInst(), b->DevInst(), d->DevInst()}));
    EXPECT_FALSE(controller.List()[0]->IsPluggedIn()) << "checked out: stays, unplugged";
    EXPECT_EQ(controller.List()[1].get(), objectOfB);

    // Plugged in again with the same device-instance number: the held object stays
    // unplugged and a new object comes beside it.
    auto a2 = Bus.PlugAgain(a);
    controller.DeviceChange();
    ASSERT_EQ(Ids(controller), (std::vector<std::uint32_t>{a->DevInst(), b->DevInst(), d->DevInst(), a->DevInst()}));
    EXPECT_FALSE(controller.List()[0]->IsPluggedIn());
    EXPECT_TRUE(controller.List()[3]->IsPluggedIn());

    // The holder destroys the unplugged one: it leaves the list.
    TJvHidDevice::DestroyWhenIdle(held);
    EXPECT_EQ(Ids(controller), (std::vector<std::uint32_t>{b->DevInst(), d->DevInst(), a2->DevInst()}));
}

TEST_F(ControllerTest, CheckOutInListOrderAndCheckIn) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    TJvHidDeviceController controller(Bus);
    controller.DeviceChange();
    TJvHidDevice *first = nullptr, *second = nullptr, *none = reinterpret_cast<TJvHidDevice*>(1);
    ASSERT_TRUE(controller.CheckOut(first));
    ASSERT_TRUE(controller.CheckOut(second));
    EXPECT_FALSE(controller.CheckOut(none));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(first->PnPInfo()->DeviceID(), a->DevInst());
    EXPECT_EQ(second->PnPInfo()->DeviceID(), b->DevInst());

    std::uint8_t report[17] = {0x05, 50};
    ASSERT_TRUE(first->SetFeature(report, sizeof report));
    TJvHidDevice* keep = first;
    controller.CheckIn(first);
    EXPECT_EQ(first, nullptr);
    EXPECT_FALSE(keep->IsCheckedOut());
    EXPECT_EQ(a->OpenHandles(), 0);
    TJvHidDevice* nothing = nullptr;
    controller.CheckIn(nothing);  // nothing to do

    Bus.Unplug(b);
    controller.DeviceChange();
    controller.CheckIn(second);  // unplugged: destroyed
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(Ids(controller), std::vector<std::uint32_t>{a->DevInst()});
}

TEST_F(ControllerTest, NewDataHandlerReachesDevicesThatStillUseTheOldOne) {
    auto a = Bus.PlugControlBox(L"S1");
    auto b = Bus.PlugControlBox(L"S2");
    TJvHidDeviceController controller(Bus);
    controller.SetDevThreadSleepTime(10);
    controller.DeviceChange();
    TJvHidDevice *da = nullptr, *db = nullptr;
    ASSERT_TRUE(controller.CheckOut(da));
    ASSERT_TRUE(controller.CheckOut(db));
    EXPECT_FALSE(da->HasReadThread()) << "no handler, no thread";

    std::vector<std::wstring> seen;
    db->SetOnData([&](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) { seen.push_back(L"own"); });
    controller.SetOnDeviceData(
        [&](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) { seen.push_back(L"controller"); });
    EXPECT_TRUE(da->HasReadThread());
    a->QueueInput({0x01, 1});
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    b->QueueInput({0x01, 1});
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"controller", L"own"}));

    controller.SetOnDeviceData({});
    EXPECT_FALSE(da->HasReadThread());
    EXPECT_TRUE(db->HasReadThread());
}

TEST_F(ControllerTest, DestructionUnplugsHeldDevicesAndStopsTheirThreads) {
    auto a = Bus.PlugControlBox(L"S1");
    int unplugs = 0;
    {
        TJvHidDeviceController controller(Bus);
        controller.SetDevThreadSleepTime(10);
        controller.SetOnDeviceUnplug([&](TJvHidDevice*) { ++unplugs; });
        controller.SetOnDeviceData([](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) {});
        controller.DeviceChange();
        TJvHidDevice* d = nullptr;
        ASSERT_TRUE(controller.CheckOut(d));
        ASSERT_TRUE(d->HasReadThread());
        ASSERT_TRUE(PumpUntil([&] { return Bus.PendingReads() == 1; }));
    }
    EXPECT_EQ(unplugs, 1);
    EXPECT_EQ(Bus.PendingReads(), 0);
    EXPECT_EQ(a->OpenHandles(), 0);
    EXPECT_EQ(Bus.AcquireCount(), 0);
}

}  // namespace
