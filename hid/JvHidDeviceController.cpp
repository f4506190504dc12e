#include "JvHidDeviceController.h"

#include "Exceptions.h"

#include <algorithm>

TJvHidDeviceController::TJvHidDeviceController(HidPlatform& platform) : FPlatform(platform) {
    FHidAvailable = FPlatform.Acquire();
    if (!FHidAvailable) return;  // stays empty for good
    FHWnd = FPlatform.CreateNotifyWindow(
        [this](std::uint32_t event, std::uint32_t, const std::wstring&) { WindowDeviceChange(event); }, false);
    // The first pass runs once the message loop does.
    if (FHWnd) FHWnd->PostDeviceChange(DBT_DEVNODES_CHANGED_);
}

TJvHidDeviceController::~TJvHidDeviceController() {
    FDestroying = true;
    FOnDeviceData = {};
    FOnDeviceUnplug = {};
    FOnDeviceDataError = {};
    FHWnd.reset();
    // Stopping a thread lets hand-offs run: whatever they reach finds the list empty. The
    // devices no longer find us, so they leave the list alone while they go.
    std::vector<std::unique_ptr<TJvHidDevice>> list;
    list.swap(FList);
    for (auto& entry : list) {
        TJvHidDevice* device = entry.release();
        device->FMyController = nullptr;
        if (device->IsCheckedOut()) device->UnplugStep();
        TJvHidDevice::DestroyWhenIdle(device);
    }
    if (FHidAvailable) FPlatform.Release();
}

void TJvHidDeviceController::SetDevPollingDelayTime(std::uint32_t milliseconds) {
    if (milliseconds <= 10000) FDevPollingDelayTime = milliseconds;
}

void TJvHidDeviceController::SetDevThreadSleepTime(std::uint32_t milliseconds) {
    if (milliseconds >= 10 && milliseconds <= 10000) FDevThreadSleepTime = milliseconds;
}

void TJvHidDeviceController::SetOnDeviceData(TJvHidDataEvent handler) {
    FOnDeviceData = handler;
    // A device whose handler was set apart from the controller keeps it.
    for (std::size_t i = 0; i < FList.size(); ++i) {
        TJvHidDevice* device = FList[i].get();
        if (device && device->FHandlerFromController) device->AssignOnData(handler);
    }
}

bool TJvHidDeviceController::Healthy(const TJvHidDevice& device) {
    if (!device.IsPluggedIn() || device.ReadFailed()) return false;
    // Checked out and meant to read, but its sizes could not be had: try it afresh.
    return !(device.IsCheckedOut() && device.SizesUnknown());
}

std::vector<std::unique_ptr<TJvHidDevice>> TJvHidDeviceController::Enumerate() {
    std::vector<std::unique_ptr<TJvHidDevice>> found;
    if (!FHidAvailable) return found;
    std::vector<THidInterface> interfaces;
    if (!FPlatform.Enumerate(interfaces)) return found;
    try {
        for (const THidInterface& i : interfaces) {
            // A device listed and healthy under this number and path is not opened again:
            // a pass costs an open per new interface only, not one per interface present.
            const bool held = std::any_of(FList.begin(), FList.end(), [&](const auto& d) {
                return Healthy(*d) && d->PnPInfo()->DeviceID() == i.DevInst &&
                       d->PnPInfo()->DevicePath() == i.Path;
            });
            if (held) {
                found.emplace_back(nullptr);
                FHeldFound.push_back(i.DevInst);
                continue;
            }
            auto pnp = std::make_unique<TJvHidPnPInfo>(i.DevInst, i.Path);
            found.emplace_back(new TJvHidDevice(pnp, this));
        }
    } catch (...) {
        // The objects built so far are not ours to list: they leave the list alone.
        for (auto& d : found)
            if (d) d->FMyController = nullptr;
        FHeldFound.clear();
        throw;
    }
    return found;
}

void TJvHidDeviceController::DeviceChange() {
    FHeldFound.clear();
    std::vector<std::unique_ptr<TJvHidDevice>> found = Enumerate();
    std::vector<std::uint32_t> held;
    held.swap(FHeldFound);
    auto sameDevice = [](const TJvHidDevice& a, const TJvHidDevice& b) {
        return a.PnPInfo()->DeviceID() == b.PnPInfo()->DeviceID();
    };

    // Departures, from the last listed device to the first. An unplug handler may let
    // other work run, so each device is looked up again before it is removed. A device
    // whose reads failed goes too: when its interface is still there, a fresh object of
    // this pass takes its place.
    std::vector<TJvHidDevice*> listed;
    for (auto& d : FList) listed.push_back(d.get());
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        TJvHidDevice* device = *it;
        auto isListed = [&] {
            return std::find_if(FList.begin(), FList.end(), [&](const auto& d) { return d.get() == device; });
        };
        if (isListed() == FList.end()) continue;
        const bool present =
            Healthy(*device) &&
            (std::find(held.begin(), held.end(), device->PnPInfo()->DeviceID()) != held.end() ||
             std::any_of(found.rbegin(), found.rend(), [&](const auto& n) { return n && sameDevice(*n, *device); }));
        if (present) continue;
        device->UnplugStep();
        if (device->IsCheckedOut()) continue;  // its holder destroys it or checks it in
        auto entry = isListed();
        if (entry == FList.end()) continue;
        TJvHidDevice* gone = entry->release();
        FList.erase(entry);
        gone->FMyController = nullptr;  // off the list: it must not reach us if it outlives us
        TJvHidDevice::DestroyWhenIdle(gone);
    }

    // Duplicates: objects of this pass for devices that are held already.
    for (auto& n : found) {
        if (!n) continue;
        const bool dup = std::any_of(FList.begin(), FList.end(), [&](const auto& d) {
            return d->IsPluggedIn() && sameDevice(*d, *n);
        });
        if (dup) {
            n->FMyController = nullptr;
            n.reset();
        }
    }

    // Arrivals, in enumeration order, not checked out.
    for (auto& n : found)
        if (n) FList.push_back(std::move(n));
}

bool TJvHidDeviceController::CheckOut(TJvHidDevice*& HidDev) {
    HidDev = nullptr;
    for (auto& d : FList) {
        if (d->IsCheckedOut()) continue;
        d->FIsCheckedOut = true;
        d->CheckStartThread();
        HidDev = d.get();
        return true;
    }
    return false;
}

void TJvHidDeviceController::CheckIn(TJvHidDevice*& HidDev) {
    if (!HidDev) return;
    TJvHidDevice* device = HidDev;
    HidDev = nullptr;
    device->StopThread();
    device->CloseAll();
    if (device->IsPluggedIn()) {
        device->FIsCheckedOut = false;
        return;
    }
    auto entry = std::find_if(FList.begin(), FList.end(), [&](const auto& d) { return d.get() == device; });
    if (entry != FList.end()) {
        (void)entry->release();
        FList.erase(entry);
    }
    device->FMyController = nullptr;
    TJvHidDevice::DestroyWhenIdle(device);
}

void TJvHidDeviceController::WindowDeviceChange(std::uint32_t event) {
    if (event != DBT_DEVNODES_CHANGED_ || FDestroying || FInDeviceChange) return;
    FInDeviceChange = true;
    struct TClear {
        bool& Flag;
        ~TClear() { Flag = false; }
    } clear{FInDeviceChange};
    DeviceChange();  // an error goes on to the application's handler
}
