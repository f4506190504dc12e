#pragma once
// The hot-plug wrapper that the control box list owns: on every USB arrival or removal,
// and whenever asked, it re-enumerates, checks out every device not yet held, wraps each
// in a TqvHIDDevice with its serial number and announces it; wrappers whose device has
// gone are announced and dropped. Input reports of every device arrive through one event.

#include "ComponentUSB.h"
#include "HidPlatform.h"
#include "JvHidDevice.h"
#include "JvHidDeviceController.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TqvHIDDevice {
public:
    // Reads the serial number, which opens and closes the device.
    explicit TqvHIDDevice(TJvHidDevice* _dev);

    std::wstring Serial;   // empty when the device has none
    TJvHidDevice* Device;  // not owned
};

using TqvHidPlugEvent = std::function<void(TqvHIDDevice* HidDev)>;

class TqvHIDController {
public:
    // `platform` outlives the wrapper. Nothing is enumerated until CheckChanged.
    explicit TqvHIDController(HidPlatform& platform);
    ~TqvHIDController();
    TqvHIDController(const TqvHIDController&) = delete;
    TqvHIDController& operator=(const TqvHIDController&) = delete;

    // One wrapper pass; never reports an error. A pass asked for while one runs (from a
    // handler that lets pending work run) runs right after it.
    void CheckChanged(bool _ForceChange);
    bool CheckOut(TJvHidDevice*& HidDev) { return FJvController->CheckOut(HidDev); }

    const TJvHidDataEvent& OnDeviceData() const { return FOnDeviceData; }
    void SetOnDeviceData(TJvHidDataEvent handler) { FOnDeviceData = std::move(handler); }
    const TqvHidPlugEvent& OnPlugged() const { return FOnPlugged; }
    void SetOnPlugged(TqvHidPlugEvent handler) { FOnPlugged = std::move(handler); }
    // A read of a device failed to start or ended with an error (read thread's hand-off).
    const TJvHidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
    void SetOnDeviceDataError(TJvHidDataErrorEvent handler) { FOnDeviceDataError = std::move(handler); }
    const TqvHidPlugEvent& OnUnPlugged() const { return FOnUnPlugged; }
    void SetOnUnPlugged(TqvHidPlugEvent handler) { FOnUnPlugged = std::move(handler); }

    // The announced devices, in announcement order.
    const std::vector<std::unique_ptr<TqvHIDDevice>>& Devices() const { return FDevices; }
    TJvHidDeviceController& JvController() const { return *FJvController; }
    TComponentUSB& USB() const { return *FUSB; }

private:
    // CheckChanged, and the take-up of a dropped device (which needs no settle wait).
    void RunPasses(bool forceChange, bool settle);
    void RunPass(bool forceChange, bool settle);
    // The 100 ms that let a device finish arriving before the pass looks, spent serving the
    // main thread's hand-offs: a press that comes meanwhile goes through at once.
    void SettleWait();
    void Forward(TJvHidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size);
    // The HID controller dropped a device of ours by itself (its own pass, run for any
    // device notice of the machine, replaces a device whose reads failed): a pass of ours
    // takes up the fresh object, or no notice of the box would ever come to do so.
    void DeviceDropped();
    void CheckDropped();
    bool HoldsADroppedDevice() const;

    std::unique_ptr<TJvHidDeviceController> FJvController;
    std::unique_ptr<TComponentUSB> FUSB;
    std::vector<std::unique_ptr<TqvHIDDevice>> FDevices;
    TJvHidDataEvent FOnDeviceData;
    TqvHidPlugEvent FOnPlugged;
    TJvHidDevice* dev = nullptr;
    TqvHIDDevice* qvdev = nullptr;
    TqvHidPlugEvent FOnUnPlugged;
    TJvHidDataErrorEvent FOnDeviceDataError;
    // Devices whose wrappers the last pass dropped; destroyed at the start of the next.
    std::vector<TJvHidDevice*> FToDestroy;
    bool FInPass = false;
    bool FPassRequested = false;
    bool FRequestedForce = false;
    // A drop seen while a pass ran: looked at again once the pass is over.
    bool FDropSeenInPass = false;
    // Checks posted by DeviceDropped find a destroyed wrapper gone.
    std::shared_ptr<char> FAlive = std::make_shared<char>();
};
