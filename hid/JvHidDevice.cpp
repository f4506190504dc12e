#include "JvHidDevice.h"

#include "Exceptions.h"
#include "JvHidDeviceController.h"
#include "JvHidDeviceReadThread.h"
#include "MainThread.h"
#include "TextUtils.h"

#include <algorithm>
#include <array>

namespace {

// Input reports the driver keeps for the read handle while the main thread is busy: its
// default of 32 loses reports (a lost release hides the next press of that key).
constexpr std::uint32_t kInputBuffers = 512;

// Identity strings are fetched into 254 UTF-16 units (508 bytes).
constexpr std::size_t kStringUnits = 254;
constexpr std::uint32_t kStringBytes = kStringUnits * 2;

}  // namespace

TJvHidDevice::TJvHidDevice() {
    throw EControllerError(L"Direct creation of a TJvHidDevice object is not allowed");
}

TJvHidDevice::TJvHidDevice(std::unique_ptr<TJvHidPnPInfo>& pnpInfo,
                           TJvHidDeviceController* controller)
    : FMyController(controller), FPlatform(&controller->Platform()) {
    FPollingDelayTime = static_cast<std::int32_t>(controller->FDevPollingDelayTime);
    FThreadSleepTime = static_cast<std::int32_t>(controller->FDevThreadSleepTime);
    // Not checked out yet, so no thread starts here.
    FOnData = controller->FOnDeviceData;
    FHandlerFromController = true;
    FOnUnplug = controller->FOnDeviceUnplug;
    FOnDataError = controller->FOnDeviceDataError;

    const std::wstring& path = pnpInfo->DevicePath();
    FHidFileHandle = FPlatform->Open(path, THidOpenKind::ReadWrite);
    FHasReadWriteAccess = FHidFileHandle != nullptr;
    if (!FHidFileHandle) FHidFileHandle = FPlatform->Open(path, THidOpenKind::NoAccess);
    if (!FHidFileHandle) throw EControllerError(L"Device cannot be opened");

    FAttributes.Size = 12;
    if (!FPlatform->GetAttributes(*FHidFileHandle, FAttributes))
        throw EControllerError(L"Device cannot be identified");  // the handle closes with us

    FPnPInfo = std::move(pnpInfo);
    CloseFile();
}

TJvHidDevice::~TJvHidDevice() {
    // 1. Stop the thread; keep the handlers for a device that goes back to the list.
    TJvHidDataEvent data = FOnData;
    TJvHidPlugEvent unplug = FOnUnplug;
    const bool dataFromController = FHandlerFromController;
    AssignOnData({});
    JoinRetiringThread();
    FOnUnplug = {};

    // 2. Handles and the report descriptor.
    CloseAll();
    delete FPreparsedData.exchange(nullptr);

    // 3. A device still plugged in goes back to its controller's list as a fresh object.
    if (FMyController) {
        auto& list = FMyController->FList;
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const std::unique_ptr<TJvHidDevice>& d) { return d.get() == this; });
        if (it != list.end()) {
            (void)it->release();  // we are that object, being destroyed already
            if (!FIsPluggedIn || !FPnPInfo) {
                list.erase(it);
            } else {
                const std::size_t index = static_cast<std::size_t>(it - list.begin());
                try {
                    std::unique_ptr<TJvHidDevice> fresh(new TJvHidDevice(FPnPInfo, FMyController));
                    fresh->FOnData = std::move(data);
                    fresh->FHandlerFromController = dataFromController;
                    fresh->FOnUnplug = std::move(unplug);
                    fresh->FPollingDelayTime = FPollingDelayTime.load();
                    fresh->FThreadSleepTime = FThreadSleepTime.load();
                    list[index] = std::move(fresh);
                } catch (...) {
                    // Not buildable again (a destructor must not throw): the entry goes.
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
                }
            }
        }
    }

    // 4. The PnP info goes with the unique_ptr if we still own it.
    if (FHoldsPlatform) FPlatform->Release();
}

void TJvHidDevice::DestroyWhenIdle(TJvHidDevice* device) {
    if (!device) return;
    if (device->FHandOffDepth == 0) {
        delete device;
        return;
    }
    // Called from inside the device's own handler: stop the thread from reading on, and
    // finish the job once the hand-off has returned (HandOffEnded).
    device->FDestroyPending = true;
    if (device->FDataThread) device->FDataThread->Terminate();
    if (!device->FMyController) {
        // Nobody holds it any more: nothing of its owner may be reached from here on, and
        // the HID services must stay loaded until it is gone.
        device->FOnData = {};
        device->FOnDataError = {};
        device->FOnUnplug = {};
        if (!device->FHoldsPlatform) device->FHoldsPlatform = device->FPlatform->Acquire();
    }
}

// ---------------------------------------------------------------------------------------
// Handles

bool TJvHidDevice::OpenSynchronous() {
    const std::wstring& path = FPnPInfo->DevicePath();
    FHidFileHandle = FPlatform->Open(path, THidOpenKind::ReadWrite);
    FHasReadWriteAccess = FHidFileHandle != nullptr;
    if (!FHidFileHandle) FHidFileHandle = FPlatform->Open(path, THidOpenKind::NoAccess);
    return FHidFileHandle != nullptr;
}

bool TJvHidDevice::OpenFile() {
    if (!IsAccessible()) return false;
    if (!FHidFileHandle) OpenSynchronous();
    return FHidFileHandle != nullptr;
}

void TJvHidDevice::CloseFile() { FHidFileHandle.reset(); }

void TJvHidDevice::CloseAll() {
    CloseFile();
    CloseFileEx(omhRead);
    CloseFileEx(omhWrite);
}

bool TJvHidDevice::OpenFileEx(TJvHidOpenExMode Mode) {
    if (!IsAccessible()) return false;
    if (Mode == omhWrite) {
        if (!FHidOverlappedWrite)
            FHidOverlappedWrite = FPlatform->Open(FPnPInfo->DevicePath(), THidOpenKind::OverlappedWrite);
        return FHidOverlappedWrite != nullptr;
    }
    if (ReadHandle()) return true;
    HidFilePtr opened = FPlatform->Open(FPnPInfo->DevicePath(), THidOpenKind::OverlappedRead);
    if (!opened) return false;
    if (!FPlatform->SetNumInputBuffers(*opened, kInputBuffers)) FInputBuffersRefused = true;
    if (!PutReadHandle(opened)) return true;  // opened meanwhile by the other side; ours closes
    // The main thread may have unplugged the device while we were opening: it closed
    // nothing then, so take our handle out again unless it has been replaced already.
    if (!IsAccessible()) {
        TakeReadHandleIf(opened);
        return false;
    }
    return true;
}

void TJvHidDevice::CloseFileEx(TJvHidOpenExMode Mode) {
    if (Mode == omhWrite)
        FHidOverlappedWrite.reset();
    else
        TakeReadHandle();  // a thread still using it keeps it open until it is done
}

HidFilePtr TJvHidDevice::ReadHandle() const {
    std::lock_guard<std::mutex> guard(FReadHandleLock);
    return FHidOverlappedRead;
}

HidFilePtr TJvHidDevice::TakeReadHandle() {
    std::lock_guard<std::mutex> guard(FReadHandleLock);
    return std::move(FHidOverlappedRead);
}

bool TJvHidDevice::PutReadHandle(const HidFilePtr& file) {
    std::lock_guard<std::mutex> guard(FReadHandleLock);
    if (FHidOverlappedRead) return false;
    FHidOverlappedRead = file;
    return true;
}

HidFilePtr TJvHidDevice::TakeReadHandleIf(const HidFilePtr& file) {
    std::lock_guard<std::mutex> guard(FReadHandleLock);
    if (FHidOverlappedRead != file) return nullptr;
    return std::move(FHidOverlappedRead);
}

// ---------------------------------------------------------------------------------------
// Identity

std::wstring TJvHidDevice::QueryString(THidStringKind kind, std::wstring& cache) {
    if (cache.empty() && OpenFile()) {
        std::array<std::uint16_t, kStringUnits> buffer{};
        if (FPlatform->GetString(*FHidFileHandle, kind, buffer.data(), kStringBytes))
            cache = Utf16BufferToWide(buffer.data(), kStringUnits);
        CloseFile();
    }
    return cache;
}

std::wstring TJvHidDevice::VendorName() { return QueryString(THidStringKind::Manufacturer, FVendorName); }

std::wstring TJvHidDevice::ProductName() { return QueryString(THidStringKind::Product, FProductName); }

std::wstring TJvHidDevice::SerialNumber() {
    if (FSerialNumber.empty() && OpenFile()) {
        ReadSerialNumber();
        CloseFile();
    }
    return FSerialNumber;
}

// Some devices answer the serial-number request with their language list: a serial
// number that starts with the language ids read from string descriptor 0 is no serial.
void TJvHidDevice::ReadSerialNumber() {
    std::array<std::uint16_t, kStringUnits> serial{};
    if (!FPlatform->GetString(*FHidFileHandle, THidStringKind::SerialNumber, serial.data(), kStringBytes))
        return;
    std::array<std::uint16_t, kStringUnits> languages;
    languages.fill(0xFFFF);
    (void)FPlatform->GetString(*FHidFileHandle, THidStringKind::LanguageList, languages.data(), kStringBytes);

    std::size_t n = 0;
    for (std::size_t i = kStringUnits; i-- > 0;) {
        if (languages[i] != 0xFFFF) {
            n = languages[i] == 0 ? i : i + 1;
            break;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (serial[i] != languages[i]) {
            FSerialNumber = Utf16BufferToWide(serial.data(), kStringUnits);
            return;
        }
    }
}

THIDPCaps TJvHidDevice::Caps() {
    THIDPCaps caps{};
    if (!FPreparsedData.load() && OpenFile()) {
        HidPreparsedDataPtr data = FPlatform->GetPreparsedData(*FHidFileHandle);
        CloseFile();
        if (data) FPreparsedData.store(data.release());
    }
    if (HidPreparsedData* data = FPreparsedData.load())
        if (!FPlatform->GetCaps(*data, caps)) caps = THIDPCaps{};
    return caps;
}

THIDPCaps TJvHidDevice::ReaderCaps() const {
    // Never fetches: opening the synchronous handle is the main thread's business.
    THIDPCaps caps{};
    if (HidPreparsedData* data = FPreparsedData.load())
        if (!FPlatform->GetCaps(*data, caps)) caps = THIDPCaps{};
    return caps;
}

// ---------------------------------------------------------------------------------------
// Reports

bool TJvHidDevice::SetFeature(void* Report, std::uint32_t Size) {
    return OpenFile() && FPlatform->SetFeature(*FHidFileHandle, Report, Size);
}

bool TJvHidDevice::GetFeature(void* Report, std::uint32_t Size) {
    return OpenFile() && FPlatform->GetFeature(*FHidFileHandle, Report, Size);
}

bool TJvHidDevice::WriteFile(const void* Report, std::uint32_t ToWrite, std::uint32_t& BytesWritten) {
    BytesWritten = 0;
    return OpenFile() && FPlatform->Write(*FHidFileHandle, Report, ToWrite, BytesWritten);
}

bool TJvHidDevice::ReadFileEx(void* Report, std::uint32_t ToRead) {
    if (!OpenFileEx(omhRead)) return false;
    HidFilePtr file = ReadHandle();
    if (!file) return false;  // closed by the main thread just now
    *FOvlRead = THidOverlapped{};
    return FPlatform->ReadEx(*file, *FOvlRead, Report, ToRead);
}

void TJvHidDevice::ReadFailedNow() {
    if (!FIsPluggedIn) return;  // unplugged: the read ended because we closed it
    FReadFailed = true;
    ++FReadFailures;
    HidFilePtr dead = TakeReadHandle();  // closes outside the lock
}

bool TJvHidDevice::FinishRead(std::uint32_t& bytes) {
    bytes = 0;
    HidFilePtr file = ReadHandle();
    if (!file) return true;
    return FPlatform->OverlappedResult(*file, *FOvlRead, bytes);
}

std::uint32_t TJvHidDevice::HidOverlappedReadResult() {
    HidFilePtr file = ReadHandle();
    std::uint32_t bytes = 0;
    if (!file || !FPlatform->OverlappedResult(*file, *FOvlRead, bytes)) return 0;
    return bytes;
}

bool TJvHidDevice::CancelIO(TJvHidOpenExMode Mode) {
    HidFilePtr file = Mode == omhRead ? ReadHandle() : FHidOverlappedWrite;
    return file && FPlatform->CancelIo(*file);
}

// ---------------------------------------------------------------------------------------
// Timing values

void TJvHidDevice::SetPollingDelayTime(std::int32_t milliseconds) {
    if (milliseconds >= 0 && milliseconds <= 10000) FPollingDelayTime = milliseconds;
}

void TJvHidDevice::SetThreadSleepTime(std::int32_t milliseconds) {
    if (milliseconds >= 10 && milliseconds <= 10000) FThreadSleepTime = milliseconds;
}

// ---------------------------------------------------------------------------------------
// Read thread

void TJvHidDevice::SetOnData(TJvHidDataEvent handler) {
    FHandlerFromController = false;
    AssignOnData(std::move(handler));
}

void TJvHidDevice::AssignOnData(TJvHidDataEvent handler) {
    if (!handler) StopThread();
    FOnData = std::move(handler);
    CheckStartThread();
}

void TJvHidDevice::CheckStartThread() {
    if (!(FOnData && IsAccessible() && FHasReadWriteAccess && !FDataThread && !FRetiringThread &&
          !FJoining && !FDestroyPending))
        return;
    // The read buffer is as long as the device's input report: without that length there
    // is nothing to read into. The next pass builds the device again and tries once more.
    FSizesUnknown = Caps().InputReportByteLength == 0;
    if (FSizesUnknown) return;
    // The read handle is opened here, so that a refused input buffer count is known as the
    // device is announced; after a failed read the thread opens a fresh one itself.
    (void)OpenFileEx(omhRead);
    FDataThread.reset(new TJvHidDeviceReadThread(this));
}

void TJvHidDevice::StopThread() {
    if (!FDataThread) return;
    FDataThread->Terminate();
    FRetiringThread = std::move(FDataThread);
    // Inside one of its hand-offs the thread waits for the handler we are running: join
    // it once that has returned.
    if (FHandOffDepth == 0) JoinRetiringThread();
}

void TJvHidDevice::JoinRetiringThread() {
    if (!FRetiringThread || FJoining) return;
    FJoining = true;  // no new thread while the old one may still read
    FRetiringThread->WaitFor();
    FRetiringThread.reset();
    FJoining = false;
}

void TJvHidDevice::UnplugStep() {
    // Gone first, closed after: the read thread checks the flag before it opens its read
    // handle again, and between a close and a later flag it would reopen a closed device.
    FIsPluggedIn = false;
    CloseFile();
    CloseFileEx(omhRead);
    CloseFileEx(omhWrite);
    if (FOnUnplug) {
        TJvHidPlugEvent handler = FOnUnplug;
        handler(this);
        FOnUnplug = {};
    }
}

// Counts a running hand-off of a device. The end of the outermost one, however the
// handler left, may finish work that had to wait for it.
class TJvHidDevice::THandOff {
public:
    explicit THandOff(TJvHidDevice& device) : FDevice(device) { ++FDevice.FHandOffDepth; }
    ~THandOff() {
        --FDevice.FHandOffDepth;
        FDevice.HandOffEnded();
    }
    THandOff(const THandOff&) = delete;
    THandOff& operator=(const THandOff&) = delete;

private:
    TJvHidDevice& FDevice;
};

void TJvHidDevice::DeliverData(std::uint8_t reportId, const void* data, std::uint16_t size) {
    THandOff handOff(*this);
    if (FOnData && !FDestroyPending) {
        TJvHidDataEvent handler = FOnData;  // the handler may replace itself
        handler(this, reportId, data, size);
    }
}

void TJvHidDevice::DeliverError(std::uint32_t error) {
    THandOff handOff(*this);
    if (FOnDataError && !FDestroyPending) {
        TJvHidDataErrorEvent handler = FOnDataError;
        handler(this, error);
    }
}

void TJvHidDevice::HandOffEnded() {
    if (FHandOffDepth > 0 || FFinishPosted || !(FDestroyPending || FRetiringThread)) return;
    // Still inside the hand-off as far as the read thread knows: finish from the queue,
    // once it has been released.
    FFinishPosted = true;
    std::weak_ptr<char> alive = FAlive;
    MainThread::Post([alive, this] {
        if (alive.expired()) return;
        FFinishPosted = false;
        FinishDeferred();
    });
}

void TJvHidDevice::FinishDeferred() {
    if (FHandOffDepth > 0) return;  // a new hand-off runs; its end posts us again
    if (FDestroyPending) {
        delete this;
        return;
    }
    if (FRetiringThread) {
        JoinRetiringThread();
        CheckStartThread();
    }
}
