// The virtual HID bus: devices with attributes, strings, capabilities and reports, the
// virtual six-key box, plug and unplug notices, and the failures tests inject. One file on
// purpose: the platform calls, the devices they reach and their faults share one lock and
// one set of records, and read best together.

#include "VirtualHidBus.h"

#include "MainThread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

thread_local std::uint32_t tlsLastError = 0;

// What the bus keeps in an overlapped record while a read is outstanding and after it ended.
struct TOverlappedState {
    std::uint64_t ReadId;
    std::uint32_t State;  // kNone, kPending, kDone, kFailed
    std::uint32_t Value;  // byte count when done, error code when failed
};
static_assert(sizeof(TOverlappedState) <= sizeof(THidOverlapped::Storage));
constexpr std::uint32_t kNone = 0, kPending = 1, kDone = 2, kFailed = 3;
constexpr std::uint32_t kErrorIoIncomplete = 996;  // ERROR_IO_INCOMPLETE

TOverlappedState LoadState(const THidOverlapped& overlapped) {
    TOverlappedState state;
    std::memcpy(&state, overlapped.Storage, sizeof state);
    return state;
}

void StoreState(THidOverlapped& overlapped, const TOverlappedState& state) {
    std::memcpy(overlapped.Storage, &state, sizeof state);
}

class VirtualPreparsedData : public HidPreparsedData {
public:
    explicit VirtualPreparsedData(const THIDPCaps& caps) : Caps(caps) {}
    THIDPCaps Caps;
};

}  // namespace

TVirtualHidDescription VirtualControlBoxDescription(const std::wstring& serialNumber) {
    TVirtualHidDescription description;
    description.Attributes = THIDDAttributes{12, 0x0FD9, 0x0063, 0x0100};
    description.Manufacturer = L"Elgato Systems";
    description.Product = L"Stream Deck Mini";
    description.SerialNumber = serialNumber;
    description.Languages = {0x0409};
    description.Caps.Usage = 0x0001;
    description.Caps.UsagePage = 0x000C;
    description.Caps.InputReportByteLength = 17;
    description.Caps.OutputReportByteLength = 1024;
    description.Caps.FeatureReportByteLength = 17;
    return description;
}

// ---------------------------------------------------------------------------------------
// Handles and notify windows

class VirtualHidBus::File : public HidFile {
public:
    File(VirtualHidBus& bus, VirtualHidDevicePtr device, THidOpenKind kind)
        : Bus(bus), Device(std::move(device)), Kind(kind) {}
    ~File() override { Bus.FileClosed(this); }

    VirtualHidBus& Bus;
    const VirtualHidDevicePtr Device;
    const THidOpenKind Kind;
};

struct VirtualHidBus::TWindowState {
    THidDeviceChangeHandler Handler;
    bool UsbInterfaces = false;
    std::atomic<bool> Alive{true};
};

class VirtualHidBus::NotifyWindow : public HidNotifyWindow {
public:
    NotifyWindow(VirtualHidBus& bus, std::shared_ptr<TWindowState> state)
        : FBus(bus), FState(std::move(state)) {}
    ~NotifyWindow() override {
        // Notices already posted find the window gone and do nothing.
        FState->Alive = false;
        std::lock_guard<std::mutex> guard(FBus.FLock);
        std::erase_if(FBus.FWindows, [&](const std::weak_ptr<TWindowState>& w) {
            auto s = w.lock();
            return !s || s == FState;
        });
    }
    void PostDeviceChange(std::uint32_t event) override { Deliver(FState, event, kNoDeviceHeader, {}); }

    static void Deliver(const std::shared_ptr<TWindowState>& state, std::uint32_t event,
                        std::uint32_t deviceType, const std::wstring& name) {
        MainThread::Post([state, event, deviceType, name] {
            if (state->Alive && state->Handler) state->Handler(event, deviceType, name);
        });
    }

private:
    VirtualHidBus& FBus;
    std::shared_ptr<TWindowState> FState;
};

// ---------------------------------------------------------------------------------------
// VirtualHidDevice

std::vector<TVirtualReport> VirtualHidDevice::Reports() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FReports;
}

std::vector<std::vector<std::uint8_t>> VirtualHidDevice::FeatureReports() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    std::vector<std::vector<std::uint8_t>> result;
    for (const auto& r : FReports)
        if (r.Kind == TVirtualReportKind::Feature) result.push_back(r.Bytes);
    return result;
}

std::vector<std::vector<std::uint8_t>> VirtualHidDevice::OutputReports() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    std::vector<std::vector<std::uint8_t>> result;
    for (const auto& r : FReports)
        if (r.Kind == TVirtualReportKind::Output) result.push_back(r.Bytes);
    return result;
}

void VirtualHidDevice::ClearReports() {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FReports.clear();
}

void VirtualHidDevice::QueueInput(std::vector<std::uint8_t> report) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    if (!FPresent) return;  // a pulled device sends nothing
    FInput.push_back(std::move(report));
    FBus.FeedLocked(*this);
}

std::size_t VirtualHidDevice::QueuedInputCount() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FInput.size();
}

void VirtualHidDevice::SetReadFails(bool fails) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FReadFails = fails;
    // As on a handle whose device died: the outstanding read ends with an error too.
    if (fails) FBus.EndReadsLocked(this, nullptr, kErrorGenFailure);
}

void VirtualHidDevice::SetCapsFail(bool fails) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FDescription.CapsFail = fails;
}

std::uint32_t VirtualHidDevice::InputBuffers() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FInputBuffers;
}

void VirtualHidDevice::SetCannotOpen(bool fails) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FDescription.CannotOpen = fails;
}

void VirtualHidDevice::SetLanguageListFails(bool fails) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FDescription.LanguageListFails = fails;
}

void VirtualHidDevice::SetFeatureReply(std::vector<std::uint8_t> reply) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FFeatureReply = std::move(reply);
}

void VirtualHidDevice::FailReports(TVirtualReportKind kind, TVirtualReportFault fault) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    (kind == TVirtualReportKind::Feature ? FFeatureFault : FOutputFault) = {fault, 0};
}

void VirtualHidDevice::SetShortReads(std::uint32_t bytes) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FShortReads = bytes;
}

void VirtualHidDevice::FailSerialReads(int count) {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    FSerialReadsFailing = std::max(count, 0);
}

bool VirtualHidDevice::IsPresent() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FPresent;
}

int VirtualHidDevice::OpenHandles() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FOpenHandles;
}

int VirtualHidDevice::OpensSucceeded() const {
    std::lock_guard<std::mutex> guard(FBus.FLock);
    return FOpensSucceeded;
}

// ---------------------------------------------------------------------------------------
// The bus: test controls

VirtualHidBus::VirtualHidBus() = default;
VirtualHidBus::~VirtualHidBus() = default;

VirtualHidDevicePtr VirtualHidBus::Insert(const TVirtualHidDescription& description, std::wstring path,
                                          std::uint32_t devInst) {
    VirtualHidDevicePtr device;
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (devInst == 0) devInst = FNextDevInst++;
        if (path.empty()) {
            wchar_t text[160];
            std::swprintf(text, 160,
                          L"\\\\?\\hid#vid_%04x&pid_%04x#%u&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                          description.Attributes.VendorID, description.Attributes.ProductID, devInst);
            path = text;
        }
        device.reset(new VirtualHidDevice(*this, std::move(path), devInst, description));
        FDevices.push_back(device);
    }
    PostNotices(true, device->Path());
    return device;
}

VirtualHidDevicePtr VirtualHidBus::Plug(const TVirtualHidDescription& description, std::wstring path) {
    return Insert(description, std::move(path), 0);
}

VirtualHidDevicePtr VirtualHidBus::PlugAgain(const VirtualHidDevicePtr& pulled) {
    TVirtualHidDescription description;
    {
        std::lock_guard<std::mutex> guard(FLock);
        description = pulled->FDescription;
    }
    return Insert(description, pulled->FPath, pulled->FDevInst);
}

VirtualHidDevicePtr VirtualHidBus::PlugControlBox(const std::wstring& serialNumber) {
    return Plug(VirtualControlBoxDescription(serialNumber));
}

void VirtualHidBus::Unplug(const VirtualHidDevicePtr& device) {
    if (!device) return;
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (!device->FPresent) return;
        device->FPresent = false;
        device->FInput.clear();
        std::erase(FDevices, device);
        EndReadsLocked(device.get(), nullptr, kErrorDeviceNotConnected);
    }
    PostNotices(false, device->Path());
}

void VirtualHidBus::PostUsbNotices(bool arrival) {
    PostNotices(arrival, L"\\\\?\\USB#VID_0781&PID_5581#4C530001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

void VirtualHidBus::PostNamedNotices(bool arrival, const std::wstring& name) { PostNotices(arrival, name); }

void VirtualHidBus::PostNotices(bool arrival, const std::wstring& name) {
    std::vector<std::shared_ptr<TWindowState>> windows;
    {
        std::lock_guard<std::mutex> guard(FLock);
        for (const auto& w : FWindows)
            if (auto s = w.lock()) windows.push_back(std::move(s));
    }
    // As Windows does: the broadcast that device nodes changed to every top-level window,
    // and the interface arrival or removal to the windows registered for USB interfaces.
    for (const auto& s : windows) NotifyWindow::Deliver(s, DBT_DEVNODES_CHANGED_, kNoDeviceHeader, {});
    for (const auto& s : windows)
        if (s->UsbInterfaces)
            NotifyWindow::Deliver(s, arrival ? DBT_DEVICEARRIVAL_ : DBT_DEVICEREMOVECOMPLETE_,
                                  DBT_DEVTYP_DEVICEINTERFACE_, name);
}

void VirtualHidBus::SetAvailable(bool available) {
    std::lock_guard<std::mutex> guard(FLock);
    FAvailable = available;
}

void VirtualHidBus::SetEnumerateFails(bool fails) {
    std::lock_guard<std::mutex> guard(FLock);
    FEnumerateFails = fails;
}

void VirtualHidBus::SetInstantSleep(bool instant) { FInstantSleep = instant; }

int VirtualHidBus::AcquireCount() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FAcquired;
}

std::uint64_t VirtualHidBus::DeviceCalls() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FDeviceCalls;
}

int VirtualHidBus::PendingReads() const {
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<int>(FPending.size());
}

int VirtualHidBus::NotifyWindows() const {
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<int>(std::count_if(FWindows.begin(), FWindows.end(),
                                          [](const auto& w) { return !w.expired(); }));
}

std::vector<VirtualHidDevicePtr> VirtualHidBus::Devices() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FDevices;
}

std::vector<std::wstring> VirtualHidBus::ThreadNames() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FThreadNames;
}

// ---------------------------------------------------------------------------------------
// The bus: HidPlatform

bool VirtualHidBus::Acquire() {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FAvailable) return false;
    ++FAcquired;
    return true;
}

void VirtualHidBus::Release() {
    std::lock_guard<std::mutex> guard(FLock);
    if (FAcquired > 0) --FAcquired;
}

bool VirtualHidBus::Enumerate(std::vector<THidInterface>& interfaces) {
    std::lock_guard<std::mutex> guard(FLock);
    interfaces.clear();
    if (!FAvailable || FEnumerateFails) return false;
    for (const auto& d : FDevices) interfaces.push_back({d->FPath, d->FDevInst});
    return true;
}

HidFilePtr VirtualHidBus::Open(const std::wstring& path, THidOpenKind kind) {
    std::lock_guard<std::mutex> guard(FLock);
    ++FDeviceCalls;
    auto it = std::find_if(FDevices.begin(), FDevices.end(),
                           [&](const VirtualHidDevicePtr& d) { return d->FPath == path; });
    if (it == FDevices.end()) {
        tlsLastError = kErrorFileNotFound;
        return nullptr;
    }
    VirtualHidDevice& device = **it;
    if (device.FDescription.CannotOpen || (device.FDescription.NoAccessOnly && kind != THidOpenKind::NoAccess)) {
        tlsLastError = kErrorAccessDenied;
        return nullptr;
    }
    ++device.FOpenHandles;
    ++device.FOpensSucceeded;
    return std::make_shared<File>(*this, *it, kind);
}

VirtualHidBus::File* VirtualHidBus::Usable(HidFile& file, bool needsAccess) {
    ++FDeviceCalls;
    auto* f = dynamic_cast<File*>(&file);
    if (!f) {
        tlsLastError = kErrorGenFailure;
        return nullptr;
    }
    if (!f->Device->FPresent) {
        tlsLastError = kErrorDeviceNotConnected;
        return nullptr;
    }
    if (needsAccess && f->Kind == THidOpenKind::NoAccess) {
        tlsLastError = kErrorAccessDenied;
        return nullptr;
    }
    return f;
}

bool VirtualHidBus::GetAttributes(HidFile& file, THIDDAttributes& attributes) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, false);
    if (!f) return false;
    if (f->Device->FDescription.AttributesFail) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    const THIDDAttributes& a = f->Device->FDescription.Attributes;
    attributes.VendorID = a.VendorID;
    attributes.ProductID = a.ProductID;
    attributes.VersionNumber = a.VersionNumber;
    return true;
}

bool VirtualHidBus::GetString(HidFile& file, THidStringKind kind, std::uint16_t* buffer,
                              std::uint32_t bytes) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, false);
    if (!f) return false;
    const TVirtualHidDescription& description = f->Device->FDescription;
    std::vector<std::uint16_t> units;
    auto fromText = [&](const std::wstring& text) {
        for (wchar_t c : text) {
            const auto cp = static_cast<std::uint32_t>(c);
            if (cp > 0xFFFF) {  // 32-bit wchar_t: a surrogate pair on the wire
                units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<std::uint16_t>(cp));
            }
        }
    };
    switch (kind) {
    case THidStringKind::Manufacturer: fromText(description.Manufacturer); break;
    case THidStringKind::Product: fromText(description.Product); break;
    case THidStringKind::SerialNumber:
        if (!description.HasSerialNumber) {
            tlsLastError = kErrorGenFailure;
            return false;
        }
        if (f->Device->FSerialReadsFailing > 0) {
            --f->Device->FSerialReadsFailing;
            tlsLastError = kErrorGenFailure;
            return false;
        }
        fromText(description.SerialNumber);
        break;
    case THidStringKind::LanguageList:
        if (description.LanguageListFails) {
            tlsLastError = kErrorGenFailure;
            return false;
        }
        units = description.Languages;
        break;
    }
    const std::size_t room = bytes / 2;
    const std::size_t n = std::min(room, units.size());
    std::copy_n(units.begin(), n, buffer);
    if (n < room) buffer[n] = 0;
    return true;
}

HidPreparsedDataPtr VirtualHidBus::GetPreparsedData(HidFile& file) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, false);
    if (!f) return nullptr;
    if (f->Device->FDescription.CapsFail) {
        tlsLastError = kErrorGenFailure;
        return nullptr;
    }
    return std::make_unique<VirtualPreparsedData>(f->Device->FDescription.Caps);
}

bool VirtualHidBus::GetCaps(const HidPreparsedData& data, THIDPCaps& caps) {
    auto* d = dynamic_cast<const VirtualPreparsedData*>(&data);
    if (!d) return false;
    caps = d->Caps;
    return true;
}

bool VirtualHidBus::SetFeature(HidFile& file, const void* report, std::uint32_t size) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, true);
    if (!f) return false;
    if (f->Kind != THidOpenKind::ReadWrite || size == 0) {
        tlsLastError = kErrorAccessDenied;
        return false;
    }
    if (RefusedLocked(f->Device->FFeatureFault)) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(report);
    f->Device->FReports.push_back({TVirtualReportKind::Feature, {bytes, bytes + size}});
    return true;
}

bool VirtualHidBus::GetFeature(HidFile& file, void* report, std::uint32_t size) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, true);
    if (!f) return false;
    if (f->Kind != THidOpenKind::ReadWrite || size == 0) {
        tlsLastError = kErrorAccessDenied;
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(report);
    const std::uint8_t id = bytes[0];
    std::fill_n(bytes, size, std::uint8_t{0});
    const auto& reply = f->Device->FFeatureReply;
    std::copy_n(reply.begin(), std::min<std::size_t>(size, reply.size()), bytes);
    if (reply.empty()) bytes[0] = id;
    return true;
}

bool VirtualHidBus::Write(HidFile& file, const void* report, std::uint32_t size,
                          std::uint32_t& written) {
    std::lock_guard<std::mutex> guard(FLock);
    written = 0;
    File* f = Usable(file, true);
    if (!f) return false;
    if (f->Kind == THidOpenKind::OverlappedRead) {
        tlsLastError = kErrorAccessDenied;
        return false;
    }
    if (RefusedLocked(f->Device->FOutputFault)) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(report);
    f->Device->FReports.push_back({TVirtualReportKind::Output, {bytes, bytes + size}});
    written = size;
    return true;
}

bool VirtualHidBus::ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer,
                           std::uint32_t size) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, false);
    if (!f) return false;
    if (f->Kind == THidOpenKind::NoAccess || f->Kind == THidOpenKind::OverlappedWrite) {
        tlsLastError = kErrorAccessDenied;
        return false;
    }
    if (f->Device->FReadFails) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    TPendingRead read{FNextReadId++, f, &overlapped, static_cast<std::uint8_t*>(buffer), size,
                      std::this_thread::get_id()};
    StoreState(overlapped, {read.Id, kPending, 0});
    FPending.push_back(read);
    FeedLocked(*f->Device);
    return true;
}

bool VirtualHidBus::OverlappedResult(HidFile& file, THidOverlapped& overlapped,
                                     std::uint32_t& bytes) {
    std::lock_guard<std::mutex> guard(FLock);
    ++FDeviceCalls;
    bytes = 0;
    if (!dynamic_cast<File*>(&file)) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    const TOverlappedState state = LoadState(overlapped);
    switch (state.State) {
    case kDone: bytes = state.Value; return true;
    case kFailed: tlsLastError = state.Value; return false;
    case kPending: tlsLastError = kErrorIoIncomplete; return false;
    default: tlsLastError = kErrorGenFailure; return false;
    }
}

bool VirtualHidBus::SetNumInputBuffers(HidFile& file, std::uint32_t count) {
    std::lock_guard<std::mutex> guard(FLock);
    File* f = Usable(file, false);
    if (!f) return false;
    if (f->Device->FDescription.InputBuffersRefused || count < 2 || count > 512) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    f->Device->FInputBuffers = count;
    return true;
}

bool VirtualHidBus::CancelIo(HidFile& file) {
    std::lock_guard<std::mutex> guard(FLock);
    ++FDeviceCalls;
    auto* f = dynamic_cast<File*>(&file);
    if (!f) {
        tlsLastError = kErrorGenFailure;
        return false;
    }
    EndReadsLocked(nullptr, f, kErrorOperationAborted);
    return true;
}

bool VirtualHidBus::RefusedLocked(VirtualHidDevice::TFaultCount& count) {
    if (count.Fault.Nth == 0) return false;
    if (count.Fault.Nth == TVirtualReportFault::Every) return true;
    return ++count.Seen == count.Fault.Nth;
}

void VirtualHidBus::CompleteLocked(const TPendingRead& read, bool ok, std::uint32_t value) {
    StoreState(*read.Overlapped, {read.Id, ok ? kDone : kFailed, value});
    ++FAlerts[read.Reader];
    FAlerted.notify_all();
}

void VirtualHidBus::EndReadsLocked(const VirtualHidDevice* device, const File* file,
                                   std::uint32_t error) {
    for (auto it = FPending.begin(); it != FPending.end();) {
        if ((device && it->Owner->Device.get() == device) || (file && it->Owner == file)) {
            CompleteLocked(*it, false, error);
            it = FPending.erase(it);
        } else {
            ++it;
        }
    }
}

void VirtualHidBus::FeedLocked(VirtualHidDevice& device) {
    while (!device.FInput.empty()) {
        auto it = std::find_if(FPending.begin(), FPending.end(),
                               [&](const TPendingRead& r) { return r.Owner->Device.get() == &device; });
        if (it == FPending.end()) return;
        const auto& report = device.FInput.front();
        std::size_t length = std::min<std::size_t>(it->Size, report.size());
        if (device.FShortReads > 0) length = std::min<std::size_t>(length, device.FShortReads);
        const auto n = static_cast<std::uint32_t>(length);
        std::copy_n(report.begin(), n, it->Buffer);
        CompleteLocked(*it, true, n);
        FPending.erase(it);
        device.FInput.pop_front();
    }
}

void VirtualHidBus::FileClosed(File* file) {
    std::lock_guard<std::mutex> guard(FLock);
    // Closing a handle ends the reads outstanding on it.
    EndReadsLocked(nullptr, file, kErrorOperationAborted);
    --file->Device->FOpenHandles;
}

THidWaitResult VirtualHidBus::SleepAlertable(std::uint32_t milliseconds) {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(FLock);
    const bool alerted = FAlerted.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        auto it = FAlerts.find(self);
        return it != FAlerts.end() && it->second > 0;
    });
    if (!alerted) return THidWaitResult::Timeout;
    FAlerts.erase(self);  // one alertable wait sees every completion queued so far
    return THidWaitResult::IoCompletion;
}

std::unique_ptr<HidNotifyWindow> VirtualHidBus::CreateNotifyWindow(THidDeviceChangeHandler handler,
                                                                   bool usbInterfaces) {
    auto state = std::make_shared<TWindowState>();
    state->Handler = std::move(handler);
    state->UsbInterfaces = usbInterfaces;
    {
        std::lock_guard<std::mutex> guard(FLock);
        FWindows.push_back(state);
    }
    return std::make_unique<NotifyWindow>(*this, std::move(state));
}

std::uint32_t VirtualHidBus::LastError() { return tlsLastError; }

void VirtualHidBus::Sleep(std::uint32_t milliseconds) {
    if (FInstantSleep) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void VirtualHidBus::SetCurrentThreadName(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(FLock);
    FThreadNames.push_back(name);
}
