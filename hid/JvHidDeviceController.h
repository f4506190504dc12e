#pragma once
// The list of HID interfaces present on the system, rebuilt on demand and whenever device
// nodes change, reconciled with the previous list by device-instance number; devices are
// handed out to clients (check-out) and taken back (check-in).

#include "HidPlatform.h"
#include "JvHidDevice.h"

#include <cstdint>
#include <memory>
#include <vector>

class TJvHidDeviceController {
public:
    // `platform` outlives the controller and every device it made.
    explicit TJvHidDeviceController(HidPlatform& platform);
    ~TJvHidDeviceController();
    TJvHidDeviceController(const TJvHidDeviceController&) = delete;
    TJvHidDeviceController& operator=(const TJvHidDeviceController&) = delete;

    // One enumeration pass. An EControllerError from a device that cannot be built ends the
    // pass before anything changes and reaches the caller.
    void DeviceChange();
    // The first listed device not checked out, now checked out; false when there is none.
    bool CheckOut(TJvHidDevice*& HidDev);
    void CheckIn(TJvHidDevice*& HidDev);

    const TJvHidDataEvent& OnDeviceData() const { return FOnDeviceData; }
    void SetOnDeviceData(TJvHidDataEvent handler);
    const TJvHidPlugEvent& OnDeviceUnplug() const { return FOnDeviceUnplug; }
    void SetOnDeviceUnplug(TJvHidPlugEvent handler) { FOnDeviceUnplug = std::move(handler); }
    const TJvHidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
    void SetOnDeviceDataError(TJvHidDataErrorEvent handler) { FOnDeviceDataError = std::move(handler); }

    // Defaults for devices built from now on, in the ranges the devices accept.
    std::uint32_t DevPollingDelayTime() const { return FDevPollingDelayTime; }
    void SetDevPollingDelayTime(std::uint32_t milliseconds);
    std::uint32_t DevThreadSleepTime() const { return FDevThreadSleepTime; }
    void SetDevThreadSleepTime(std::uint32_t milliseconds);

    // The devices, in the order they were added.
    const std::vector<std::unique_ptr<TJvHidDevice>>& List() const { return FList; }
    // Whether the HID services were loaded (without them nothing is ever listed).
    bool HidAvailable() const { return FHidAvailable; }
    bool InDeviceChange() const { return FInDeviceChange; }
    HidPlatform& Platform() const { return FPlatform; }

private:
    friend class TJvHidDevice;

    // Objects for the present interfaces not held yet (null where a healthy device is
    // listed already; their numbers go to FHeldFound).
    std::vector<std::unique_ptr<TJvHidDevice>> Enumerate();
    static bool Healthy(const TJvHidDevice& device);
    void WindowDeviceChange(std::uint32_t event);

    HidPlatform& FPlatform;
    TJvHidDataEvent FOnDeviceData;
    TJvHidPlugEvent FOnDeviceUnplug;
    TJvHidDataErrorEvent FOnDeviceDataError;
    std::uint32_t FDevPollingDelayTime = 0;
    std::uint32_t FDevThreadSleepTime = 100;
    std::vector<std::unique_ptr<TJvHidDevice>> FList;
    bool FInDeviceChange = false;
    std::vector<std::uint32_t> FHeldFound;
    std::unique_ptr<HidNotifyWindow> FHWnd;
    bool FHidAvailable = false;
    bool FDestroying = false;
};
