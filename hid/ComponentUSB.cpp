#include "ComponentUSB.h"

#include "Application.h"

TComponentUSB::TComponentUSB(HidPlatform& platform) {
    FWindowHandle = platform.CreateNotifyWindow(
        [this](std::uint32_t event, std::uint32_t deviceType) {
            // An error of a handler is shown and the window carries on.
            Application::Guarded([&] { DeviceChanged(event, deviceType); });
        },
        true);
}

TComponentUSB::~TComponentUSB() { FWindowHandle.reset(); }

void TComponentUSB::DeviceChanged(std::uint32_t event, std::uint32_t deviceType) {
    if (deviceType != DBT_DEVTYP_DEVICEINTERFACE_) return;
    if (event == DBT_DEVICEARRIVAL_) {
        if (FOnUSBArrival) FOnUSBArrival(this);
    } else if (event == DBT_DEVICEREMOVECOMPLETE_) {
        if (FOnUSBRemove) FOnUSBRemove(this);
    }
}
