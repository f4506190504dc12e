#include "HidTestSupport.h"

#include "Exceptions.h"
#include "JvHidDevice.h"
#include "JvHidDeviceController.h"
#include "JvHidDeviceReadThread.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename T>
std::wstring RefusalOf() {
    try {
        T object;
        (void)object;
    } catch (const EControllerError& e) {
        return e.Message();
    }
    return L"(built)";
}

class JvHidDeviceTest : public HidTest {
protected:
    // Lists whatever is plugged in and checks the first device out.
    TJvHidDevice* ListAndCheckOut(TJvHidDeviceController& controller) {
        controller.DeviceChange();
        TJvHidDevice* device = nullptr;
        EXPECT_TRUE(controller.CheckOut(device));
        return device;
    }
};

TEST_F(JvHidDeviceTest, DirectCreationIsRefused) {
    EXPECT_EQ(RefusalOf<TJvHidDevice>(), L"Direct creation of a TJvHidDevice object is not allowed");
    EXPECT_EQ(RefusalOf<TJvHidDeviceReadThread>(),
              L"Direct creation of a TJvDeviceReadThread object is not allowed");
}

TEST_F(JvHidDeviceTest, CreationReadsAttributesAndLeavesNoHandleOpen) {
    auto box = Bus.PlugControlBox(L"AL12K1C01234");
    TJvHidDeviceController controller(Bus);
    controller.DeviceChange();
    ASSERT_EQ(controller.List().size(), 1u);
    TJvHidDevice& device = *controller.List()[0];
    EXPECT_EQ(device.Attributes().Size, 12u);
    EXPECT_EQ(device.Attributes().VendorID, 0x0FD9);
    EXPECT_EQ(device.Attributes().ProductID, 0x0063);
    EXPECT_EQ(device.PnPInfo()->DevicePath(), box->Path());
    EXPECT_EQ(device.PnPInfo()->DeviceID(), box->DevInst());
    EXPECT_TRUE(device.IsPluggedIn());
    EXPECT_FALSE(device.IsCheckedOut());
    EXPECT_TRUE(device.HasReadWriteAccess());
    EXPECT_EQ(device.MyController(), &controller);
    EXPECT_EQ(box->OpenHandles(), 0);
}

TEST_F(JvHidDeviceTest, DevicesThatCannotBeBuiltEndThePassWithTheirReason) {
    struct Case {
        const char* name;
        void (*spoil)(TVirtualHidDescription&);
        const wchar_t* message;
    };
    const Case cases[] = {
        {"cannot open", [](TVirtualHidDescription& s) { s.CannotOpen = true; }, L"Device cannot be opened"},
        {"attributes fail", [](TVirtualHidDescription& s) { s.AttributesFail = true; }, L"Device cannot be identified"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualHidBus bus;
        auto good = bus.PlugControlBox(L"A");
        TVirtualHidDescription description = VirtualControlBoxDescription(L"B");
        c.spoil(description);
        auto bad = bus.Plug(description);
        TJvHidDeviceController controller(bus);
        try {
            controller.DeviceChange();
            ADD_FAILURE() << "no error";
        } catch (const EControllerError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_TRUE(controller.List().empty());
        EXPECT_EQ(good->OpenHandles(), 0);
        EXPECT_EQ(bad->OpenHandles(), 0);
    }
}

TEST_F(JvHidDeviceTest, SerialNumberRule) {
    const std::wstring longText(300, L'7');
    struct Case {
        const char* name;
        std::wstring serial;
        bool hasSerial;
        std::vector<std::uint16_t> languages;
        bool languagesFail;
        std::wstring expected;
    };
    const Case cases[] = {
        {"ordinary serial", L"AL12K1C01234", true, {0x0409}, false, L"AL12K1C01234"},
        {"serial starts with the language list", std::wstring(1, wchar_t(0x0409)) + L"X", true, {0x0409}, false, L""},
        {"two languages, only the first matches", std::wstring(1, wchar_t(0x0409)) + L"X", true,
         {0x0409, 0x0407}, false, std::wstring(1, wchar_t(0x0409)) + L"X"},
        {"string 0 unreadable", L"AL12K1C01234", true, {0x0409}, true, L""},
        {"empty serial", L"", true, {0x0409}, false, L""},
        {"no serial at all", L"", false, {0x0409}, false, L""},
        {"longer than 254 units", longText, true, {0x0409}, false, longText.substr(0, 254)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualHidBus bus;
        TVirtualHidDescription description = VirtualControlBoxDescription(c.serial);
        description.HasSerialNumber = c.hasSerial;
        description.Languages = c.languages;
        description.LanguageListFails = c.languagesFail;
        auto box = bus.Plug(description);
        TJvHidDeviceController controller(bus);
        TJvHidDevice* device = ListAndCheckOut(controller);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->SerialNumber(), c.expected);
        EXPECT_EQ(box->OpenHandles(), 0);
    }
}

TEST_F(JvHidDeviceTest, IdentityStringsAreCutCachedAndRetriedWhenEmpty) {
    TVirtualHidDescription description = VirtualControlBoxDescription(L"S1");
    description.Manufacturer = std::wstring(300, L'm');
    description.Product = L"";
    auto box = Bus.Plug(description);
    TJvHidDeviceController controller(Bus);
    TJvHidDevice* device = ListAndCheckOut(controller);
    ASSERT_NE(device, nullptr);

    EXPECT_EQ(device->VendorName(), std::wstring(254, L'm'));
    const auto calls = Bus.DeviceCalls();
    EXPECT_EQ(device->VendorName(), std::wstring(254, L'm'));
    EXPECT_EQ(Bus.DeviceCalls(), calls) << "a cached name asks the device again";

    EXPECT_EQ(device->ProductName(), L"");
    const auto opens = box->OpensSucceeded();
    EXPECT_EQ(device->ProductName(), L"");
    EXPECT_EQ(box->OpensSucceeded(), opens + 1) << "an empty name must not be cached";

    const THIDPCaps caps = device->Caps();
    EXPECT_EQ(caps.InputReportByteLength, 17);
    EXPECT_EQ(caps.OutputReportByteLength, 1024);
    EXPECT_EQ(caps.FeatureReportByteLength, 17);
    const auto afterCaps = Bus.DeviceCalls();
    EXPECT_EQ(device->Caps().FeatureReportByteLength, 17);
    EXPECT_EQ(Bus.DeviceCalls(), afterCaps) << "the descriptor is held";
    EXPECT_EQ(box->OpenHandles(), 0);
}

TEST_F(JvHidDeviceTest, InaccessibleDevicesFailWithoutTouchingThePlatform) {
    auto box = Bus.PlugControlBox(L"S1");
    TJvHidDeviceController controller(Bus);
    controller.DeviceChange();
    TJvHidDevice* listed = controller.List()[0].get();  // not checked out

    auto expectInert = [&](TJvHidDevice& d) {
        const auto calls = Bus.DeviceCalls();
        std::uint8_t report[17] = {0x05, 50};
        std::uint32_t written = 99;
        EXPECT_FALSE(d.OpenFile());
        EXPECT_FALSE(d.OpenFileEx(omhRead));
        EXPECT_FALSE(d.OpenFileEx(omhWrite));
        EXPECT_FALSE(d.SetFeature(report, sizeof report));
        EXPECT_FALSE(d.GetFeature(report, sizeof report));
        EXPECT_FALSE(d.WriteFile(report, sizeof report, written));
        EXPECT_EQ(written, 0u);
        EXPECT_FALSE(d.ReadFileEx(report, sizeof report));
        EXPECT_EQ(d.HidOverlappedReadResult(), 0u);
        EXPECT_FALSE(d.CancelIO(omhRead));
        EXPECT_EQ(d.VendorName(), L"");
        EXPECT_EQ(d.ProductName(), L"");
        EXPECT_EQ(d.SerialNumber(), L"");
        EXPECT_EQ(d.Caps().InputReportByteLength, 0);
        EXPECT_EQ(Bus.DeviceCalls(), calls);
    };
    {
        SCOPED_TRACE("listed, not checked out");
        expectInert(*listed);
    }
    TJvHidDevice* device = nullptr;
    ASSERT_TRUE(controller.CheckOut(device));
    std::uint8_t reset[17] = {0x0B, 0x63};
    EXPECT_TRUE(device->SetFeature(reset, sizeof reset));
    EXPECT_EQ(box->OpenHandles(), 1);

    bool unplugRaised = false;
    device->SetOnUnplug([&](TJvHidDevice* d) {
        EXPECT_EQ(d, device);
        unplugRaised = true;
    });
    Bus.Unplug(box);
    controller.DeviceChange();
    EXPECT_TRUE(unplugRaised);
    EXPECT_FALSE(device->IsPluggedIn());
    EXPECT_FALSE(device->OnUnplug()) << "raised once, then cleared";
    EXPECT_EQ(box->OpenHandles(), 0) << "the unplug step closes every handle";
    ASSERT_EQ(controller.List().size(), 1u) << "a checked-out device stays listed";
    {
        SCOPED_TRACE("unplugged");
        expectInert(*device);
    }
    EXPECT_EQ(box->FeatureReports().size(), 1u);
}

TEST_F(JvHidDeviceTest, NoAccessDeviceIsListedButGetsNoThreadAndNoReports) {
    TVirtualHidDescription description;
    description.Attributes = THIDDAttributes{12, 0x045E, 0x0750, 1};
    description.Product = L"Keyboard";
    description.NoAccessOnly = true;
    description.Caps.InputReportByteLength = 9;
    auto keyboard = Bus.Plug(description);
    TJvHidDeviceController controller(Bus);
    TJvHidDevice* device = ListAndCheckOut(controller);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Attributes().VendorID, 0x045E);
    EXPECT_FALSE(device->HasReadWriteAccess());
    EXPECT_EQ(device->ProductName(), L"Keyboard");
    EXPECT_EQ(device->Caps().InputReportByteLength, 9);

    device->SetOnData([](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) {});
    EXPECT_FALSE(device->HasReadThread());
    std::uint8_t report[9] = {0};
    std::uint32_t written = 0;
    EXPECT_FALSE(device->SetFeature(report, sizeof report));
    EXPECT_FALSE(device->WriteFile(report, sizeof report, written));
    EXPECT_TRUE(keyboard->Reports().empty());
}

TEST_F(JvHidDeviceTest, IdentityQueryClosesTheHandleAWriteLeftOpen) {
    auto box = Bus.PlugControlBox(L"S1");
    TJvHidDeviceController controller(Bus);
    TJvHidDevice* device = ListAndCheckOut(controller);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> page(1024, 0);
    page[0] = 0x02;
    std::uint32_t written = 0;
    const int opens = box->OpensSucceeded();

    ASSERT_TRUE(device->WriteFile(page.data(), 1024, written));
    EXPECT_EQ(written, 1024u);
    EXPECT_TRUE(device->IsFileOpen());
    ASSERT_TRUE(device->WriteFile(page.data(), 1024, written));
    EXPECT_EQ(box->OpensSucceeded(), opens + 1) << "writes reuse the open handle";

    EXPECT_EQ(device->VendorName(), L"Elgato Systems");
    EXPECT_FALSE(device->IsFileOpen());
    EXPECT_EQ(box->OpenHandles(), 0);

    ASSERT_TRUE(device->WriteFile(page.data(), 1024, written));
    EXPECT_TRUE(device->IsFileOpen());
    EXPECT_EQ(box->OpensSucceeded(), opens + 2);
    EXPECT_EQ(box->OutputReports().size(), 3u);
}

TEST_F(JvHidDeviceTest, TimingValuesKeepTheirRanges) {
    auto box = Bus.PlugControlBox(L"S1");
    TJvHidDeviceController controller(Bus);
    TJvHidDevice* device = ListAndCheckOut(controller);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->ThreadSleepTime(), 100);
    EXPECT_EQ(device->PollingDelayTime(), 0);

    struct Case {
        std::int32_t value;
        std::int32_t sleepAfter;
        std::int32_t pollingAfter;
    };
    // Each row starts from the previous row's values.
    const Case cases[] = {
        {5, 100, 5},        {20000, 100, 5},  {10, 10, 10},       {10000, 10000, 10000},
        {9, 10000, 9},      {10001, 10000, 9}, {-1, 10000, 9},    {0, 10000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        device->SetThreadSleepTime(c.value);
        device->SetPollingDelayTime(c.value);
        EXPECT_EQ(device->ThreadSleepTime(), c.sleepAfter);
        EXPECT_EQ(device->PollingDelayTime(), c.pollingAfter);
    }
}

TEST_F(JvHidDeviceTest, DestroyingAPluggedInDeviceReturnsItToTheList) {
    auto first = Bus.PlugControlBox(L"S1");
    auto second = Bus.PlugControlBox(L"S2");
    TJvHidDeviceController controller(Bus);
    controller.DeviceChange();
    TJvHidDevice* device = nullptr;
    ASSERT_TRUE(controller.CheckOut(device));
    int reports = 0;
    device->SetOnData([&](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) { ++reports; });
    device->SetThreadSleepTime(20);
    ASSERT_TRUE(device->HasReadThread());

    TJvHidDevice::DestroyWhenIdle(device);
    ASSERT_EQ(controller.List().size(), 2u);
    TJvHidDevice* fresh = controller.List()[0].get();
    EXPECT_EQ(fresh->PnPInfo()->DeviceID(), first->DevInst());
    EXPECT_FALSE(fresh->IsCheckedOut());
    EXPECT_FALSE(fresh->HasReadThread());
    EXPECT_TRUE(static_cast<bool>(fresh->OnData())) << "keeps the data handler";
    EXPECT_EQ(fresh->ThreadSleepTime(), 20);
    EXPECT_EQ(first->OpenHandles(), 0);

    // Checked out again, it reads with the handler it kept.
    TJvHidDevice* again = nullptr;
    ASSERT_TRUE(controller.CheckOut(again));
    EXPECT_EQ(again, fresh);
    first->QueueInput({0x01, 1, 0, 0});
    EXPECT_TRUE(PumpUntil([&] { return reports == 1; }));

    // An unplugged one leaves the list.
    Bus.Unplug(second);
    controller.DeviceChange();  // second was not checked out: gone at once
    ASSERT_EQ(controller.List().size(), 1u);
    Bus.Unplug(first);
    controller.DeviceChange();
    ASSERT_EQ(controller.List().size(), 1u);
    TJvHidDevice::DestroyWhenIdle(again);
    EXPECT_TRUE(controller.List().empty());
}

}  // namespace
