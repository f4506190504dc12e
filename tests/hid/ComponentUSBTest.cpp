#include "HidTestSupport.h"

#include "ComponentUSB.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ComponentUSBTest : public HidTest {};

TEST_F(ComponentUSBTest, OnlyInterfaceArrivalsAndRemovalsRaiseEvents) {
    TComponentUSB usb(Bus);
    std::wstring seen;
    usb.SetOnUSBArrival([&](void* sender) {
        EXPECT_EQ(sender, &usb);
        seen += L"A";
    });
    usb.SetOnUSBRemove([&](void*) { seen += L"R"; });
    struct Case {
        std::uint32_t event;
        std::uint32_t deviceType;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"A"},
        {DBT_DEVICEREMOVECOMPLETE_, DBT_DEVTYP_DEVICEINTERFACE_, L"R"},
        {DBT_DEVICEARRIVAL_, 2 /* a volume */, L""},
        {DBT_DEVICEARRIVAL_, kNoDeviceHeader, L""},
        {DBT_DEVNODES_CHANGED_, kNoDeviceHeader, L""},
        {0x8003 /* remove pending */, DBT_DEVTYP_DEVICEINTERFACE_, L""},
    };
    for (const Case& c : cases) {
        seen.clear();
        usb.DeviceChanged(c.event, c.deviceType);
        EXPECT_EQ(seen, c.expected) << std::hex << c.event << " " << c.deviceType;
    }
}

TEST_F(ComponentUSBTest, AnErrorOfAHandlerIsShownAndTheWindowCarriesOn) {
    TComponentUSB usb(Bus);
    int arrivals = 0;
    usb.SetOnUSBArrival([&](void*) {
        ++arrivals;
        throw EControllerError(L"from a handler");
    });
    Bus.PostUsbNotices(true);
    Bus.PostUsbNotices(true);
    MainThread::ProcessMessages();
    EXPECT_EQ(arrivals, 2);
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"from a handler", L"from a handler"}));
}

}  // namespace
