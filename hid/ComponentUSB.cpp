#include "ComponentUSB.h"

#include "Application.h"

TComponentUSB::TComponentUSB(HidPlatform& platform) {
    FWindowHandle = platform.CreateNotifyWindow(
        [this](std::uint32_t event, std::uint32_t deviceType, const std::wstring& name) {
            // An error of a handler is shown and the window carries on.
            Application::Guarded([&] { DeviceChanged(event, deviceType, name); });
        },
        true);
}

TComponentUSB::~TComponentUSB() { FWindowHandle.reset(); }

bool TComponentUSB::NamesOurHidInterface(const std::wstring& name) {
    static const std::wstring prefix = L"\\\\?\\HID#VID_0FD9&";
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        wchar_t c = name[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

void TComponentUSB::DeviceChanged(std::uint32_t event, std::uint32_t deviceType, const std::wstring& name) {
    if (deviceType != DBT_DEVTYP_DEVICEINTERFACE_) return;
    // A notice without a name may be anyone's: it still runs a pass.
    if (!name.empty() && !NamesOurHidInterface(name)) return;
    if (event == DBT_DEVICEARRIVAL_) {
        if (FOnUSBArrival) FOnUSBArrival(this);
    } else if (event == DBT_DEVICEREMOVECOMPLETE_) {
        if (FOnUSBRemove) FOnUSBRemove(this);
    }
}
