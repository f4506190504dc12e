#include "uUSB.h"

#include "MainThread.h"

#include <algorithm>

namespace {

// The settle wait in slices, with the hand-offs served between them.
constexpr int kSettleSlices = 20;
constexpr std::uint32_t kSettleSliceMs = 5;

}  // namespace

TqvHIDDevice::TqvHIDDevice(TJvHidDevice* _dev) : Serial(_dev->SerialNumber()), Device(_dev) {}

TqvHIDController::TqvHIDController(HidPlatform& platform) {
    FJvController = std::make_unique<TJvHidDeviceController>(platform);
    FJvController->SetOnDeviceData(
        [this](TJvHidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size) {
            Forward(HidDev, ReportID, Data, Size);
        });
    FJvController->SetOnDeviceDataError([this](TJvHidDevice* HidDev, std::uint32_t Error) {
        if (FOnDeviceDataError) FOnDeviceDataError(HidDev, Error);
    });
    FUSB = std::make_unique<TComponentUSB>(platform);
    FUSB->SetOnUSBArrival([this](void*) { CheckChanged(true); });
    FUSB->SetOnUSBRemove([this](void*) { CheckChanged(true); });
}

TqvHIDController::~TqvHIDController() {
    // Stopping the read threads lets their last hand-offs run: they reach nobody now.
    FOnDeviceData = {};
    FOnPlugged = {};
    FOnUnPlugged = {};
    FOnDeviceDataError = {};
    FUSB.reset();          // no more USB events
    FJvController.reset(); // unplugs and destroys every device, stopping the threads
    FDevices.clear();
}

void TqvHIDController::Forward(TJvHidDevice* HidDev, std::uint8_t ReportID, const void* Data,
                               std::uint16_t Size) {
    if (FOnDeviceData) FOnDeviceData(HidDev, ReportID, Data, Size);
}

void TqvHIDController::CheckChanged(bool _ForceChange) {
    if (FInPass) {
        // Asked from inside a running pass: running it now would destroy, drop or announce
        // again what the running pass still handles. It runs right after instead.
        FPassRequested = true;
        FRequestedForce = FRequestedForce || _ForceChange;
        return;
    }
    FInPass = true;
    struct TLeave {
        bool& Flag;
        ~TLeave() { Flag = false; }
    } leave{FInPass};
    bool force = _ForceChange;
    for (;;) {
        RunPass(force);
        if (!FPassRequested) break;
        force = FRequestedForce;
        FPassRequested = false;
        FRequestedForce = false;
    }
}

void TqvHIDController::SettleWait() {
    for (int i = 0; i < kSettleSlices; ++i) {
        MainThread::ProcessMessages();
        FJvController->Platform().Sleep(kSettleSliceMs);
    }
    MainThread::ProcessMessages();
}

void TqvHIDController::RunPass(bool forceChange) {
    try {
        SettleWait();
        if (forceChange) FJvController->DeviceChange();

        // Devices dropped by the previous pass; being unplugged, they leave the list.
        std::vector<TJvHidDevice*> toDestroy;
        toDestroy.swap(FToDestroy);
        for (TJvHidDevice* d : toDestroy) TJvHidDevice::DestroyWhenIdle(d);

        // Arrivals: check out and announce every device not held yet.
        TJvHidDevice* checkedOut = nullptr;
        while (FJvController->CheckOut(checkedOut)) {
            dev = checkedOut;
            FDevices.push_back(std::make_unique<TqvHIDDevice>(dev));
            qvdev = FDevices.back().get();
            if (FOnPlugged) FOnPlugged(qvdev);
        }

        // Departures: announce and drop wrappers whose device has gone.
        for (std::size_t i = 0; i < FDevices.size();) {
            qvdev = FDevices[i].get();
            if (qvdev->Device->IsPluggedIn()) {
                ++i;
                continue;
            }
            if (FOnUnPlugged) FOnUnPlugged(qvdev);
            dev = qvdev->Device;
            FToDestroy.push_back(dev);
            FDevices.erase(FDevices.begin() + static_cast<std::ptrdiff_t>(i));
        }
    } catch (...) {
        // A pass reports nothing: what it could not do, the next one does.
    }
    dev = nullptr;
    qvdev = nullptr;
}
