#pragma once
// A hidden window registered for arrivals and removals of USB device interfaces, turned
// into two events.

#include "HidPlatform.h"

#include <functional>
#include <memory>
#include <string>

class TComponentUSB;

// Called with the component as sender.
using TNotifyEvent = std::function<void(void* Sender)>;

class TComponentUSB {
public:
    // `platform` outlives the component.
    explicit TComponentUSB(HidPlatform& platform);
    ~TComponentUSB();
    TComponentUSB(const TComponentUSB&) = delete;
    TComponentUSB& operator=(const TComponentUSB&) = delete;

    const TNotifyEvent& OnUSBArrival() const { return FOnUSBArrival; }
    void SetOnUSBArrival(TNotifyEvent handler) { FOnUSBArrival = std::move(handler); }
    const TNotifyEvent& OnUSBRemove() const { return FOnUSBRemove; }
    void SetOnUSBRemove(TNotifyEvent handler) { FOnUSBRemove = std::move(handler); }

    // What the window does with one device-change notice (public so that a back end
    // without windows can feed it directly). A notice that names a device other than a
    // HID interface of our vendor raises nothing: a memory stick or a phone put on charge
    // must not cost a hot-plug pass, which holds the presses waiting behind it.
    void DeviceChanged(std::uint32_t event, std::uint32_t deviceType, const std::wstring& name = {});

    // Whether `name` ("\\?\HID#VID_0FD9&PID_0063#...", any letter case) is a HID interface
    // of vendor 0x0FD9.
    static bool NamesOurHidInterface(const std::wstring& name);

private:
    std::unique_ptr<HidNotifyWindow> FWindowHandle;
    TNotifyEvent FOnUSBArrival;
    TNotifyEvent FOnUSBRemove;
};
