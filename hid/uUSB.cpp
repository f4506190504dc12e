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
    // Before the first pass: every device object takes this handler when it is built.
    FJvController->SetOnDeviceUnplug([this](TJvHidDevice*) { DeviceDropped(); });
    FUSB = std::make_unique<TComponentUSB>(platform);
    FUSB->SetOnUSBArrival([this](void*) { CheckChanged(true); });
    FUSB->SetOnUSBRemove([this](void*) { CheckChanged(true); });
}

TqvHIDController::~TqvHIDController() {
    // Stopping the read threads lets their last hand-offs run: they reach nobody now, and
    // no check for dropped devices runs any more.
    FAlive.reset();
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

void TqvHIDController::CheckChanged(bool _ForceChange) { RunPasses(_ForceChange, true); }

void TqvHIDController::RunPasses(bool forceChange, bool settle) {
    if (FInPass) {
        // Asked from inside a running pass: running it now would destroy, drop or announce
        // again what the running pass still handles. It runs right after instead.
        FPassRequested = true;
        FRequestedForce = FRequestedForce || forceChange;
        return;
    }
    FInPass = true;
    struct TLeave {
        bool& Flag;
        ~TLeave() { Flag = false; }
    } leave{FInPass};
    bool force = forceChange;
    for (;;) {
        RunPass(force, settle);
        settle = true;
        if (!FPassRequested) break;
        force = FRequestedForce;
        FPassRequested = false;
        FRequestedForce = false;
    }
    if (FDropSeenInPass) {
        FDropSeenInPass = false;
        // Dropped after the passes' departures had looked (from a handler they ran).
        if (HoldsADroppedDevice()) DeviceDropped();
    }
}

void TqvHIDController::DeviceDropped() {
    // Called from inside the HID controller's pass: run ours once that is over.
    std::weak_ptr<char> alive = FAlive;
    MainThread::Post([alive, this] {
        if (!alive.expired()) CheckDropped();
    });
}

void TqvHIDController::CheckDropped() {
    if (FInPass) {
        // The running pass takes the fresh object up and lets the wrapper go, unless the
        // drop came after its departures: that is looked at when it ends.
        FDropSeenInPass = true;
        return;
    }
    // A pulled box's own notices have run a pass already: nothing is left to do then.
    // Otherwise the HID controller has just listed the fresh object: nothing to settle and
    // nothing to enumerate again, the press waits for no more than the check-out.
    if (HoldsADroppedDevice()) RunPasses(false, false);
}

bool TqvHIDController::HoldsADroppedDevice() const {
    return std::any_of(FDevices.begin(), FDevices.end(),
                       [](const std::unique_ptr<TqvHIDDevice>& d) { return !d->Device->IsPluggedIn(); });
}

void TqvHIDController::SettleWait() {
    for (int i = 0; i < kSettleSlices; ++i) {
        MainThread::ProcessMessages();
        FJvController->Platform().Sleep(kSettleSliceMs);
    }
    MainThread::ProcessMessages();
}

void TqvHIDController::RunPass(bool forceChange, bool settle) {
    try {
        if (settle) SettleWait();
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
