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
        const wchar_t* name = L"";
    };
    const Case cases[] = {
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"A"},
        // Named notices: only a HID interface of vendor 0x0FD9 (any letter case) runs a pass.
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"A", L"\\\\?\\HID#VID_0FD9&PID_0063#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {DBT_DEVICEREMOVECOMPLETE_, DBT_DEVTYP_DEVICEINTERFACE_, L"R", L"\\\\?\\hid#vid_0fd9&pid_0090#1#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"", L"\\\\?\\USB#VID_0781&PID_5581#4C530001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"", L"\\\\?\\HID#VID_046D&PID_C31C&MI_00#7&1#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {DBT_DEVICEREMOVECOMPLETE_, DBT_DEVTYP_DEVICEINTERFACE_, L"", L"\\\\?\\USB#VID_0FD9&PID_0063#AL12#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
        {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_, L"", L"\\\\?\\HID#VID_0FD"},
        {DBT_DEVICEREMOVECOMPLETE_, DBT_DEVTYP_DEVICEINTERFACE_, L"R"},
        {DBT_DEVICEARRIVAL_, 2 /* a volume */, L""},
        {DBT_DEVICEARRIVAL_, kNoDeviceHeader, L""},
        {DBT_DEVNODES_CHANGED_, kNoDeviceHeader, L""},
        {0x8003 /* remove pending */, DBT_DEVTYP_DEVICEINTERFACE_, L""},
    };
    for (const Case& c : cases) {
        seen.clear();
        usb.DeviceChanged(c.event, c.deviceType, c.name);
        EXPECT_EQ(seen, c.expected) << std::hex << c.event << " " << c.deviceType << " " << testing::PrintToString(std::wstring(c.name));
    }
}

TEST_F(ComponentUSBTest, AnErrorOfAHandlerIsShownAndTheWindowCarriesOn) {
    TComponentUSB usb(Bus);
    int arrivals = 0;
    usb.SetOnUSBArrival([&](void*) {
        ++arrivals;
        throw EControllerError(L"from a handler");
    });
    const std::wstring box = L"\\\\?\\HID#VID_0FD9&PID_0063#1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    Bus.PostNamedNotices(true, box);
    Bus.PostNamedNotices(true, box);
    MainThread::ProcessMessages();
    EXPECT_EQ(arrivals, 2);
    EXPECT_EQ(Shown, (std::vector<std::wstring>{L"from a handler", L"from a handler"}));
}

}  // namespace
