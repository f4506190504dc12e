#pragma once
// One HID interface found by the device controller: its identity, report sizes, feature
// reports, blocking output reports and the read thread that delivers its input reports.
//
// Devices are built only by their controller and used on the main thread, except for the
// few calls the read thread makes (ReadFileEx, HidOverlappedReadResult, CancelIO, the
// input report length and the two timing values). The read handle is the one thing both
// threads touch: it is a shared pointer, so the main thread can close it while the thread
// is using it and the thread keeps a handle that is still open (its read then just ends
// without data) instead of a closed or reused one. Copying and replacing that pointer is
// guarded by a lock held for a few instructions only, never across platform I/O or the
// closing of a handle. (std::atomic<std::shared_ptr> would be the lock-free spelling, but
// the standard library at hand implements it with a lock bit of its own whose unlock after
// a read is relaxed, which ThreadSanitizer rightly reports as a race.)

#include "HidPlatform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class TJvHidDevice;
class TJvHidDeviceController;
class TJvHidDeviceReadThread;

enum TJvHidOpenExMode { omhRead, omhWrite };

// Input report handler: `Data` points at the bytes after the report id and is valid during
// the call only; `Size` is their number.
using TJvHidDataEvent = std::function<void(TJvHidDevice* HidDev, std::uint8_t ReportID,
                                           const void* Data, std::uint16_t Size)>;
// A read that failed to start; `Error` is the platform's error code.
using TJvHidDataErrorEvent = std::function<void(TJvHidDevice* HidDev, std::uint32_t Error)>;
using TJvHidPlugEvent = std::function<void(TJvHidDevice* HidDev)>;

// Where a device was found.
class TJvHidPnPInfo {
public:
    TJvHidPnPInfo(std::uint32_t deviceID, std::wstring devicePath)
        : FDeviceID(deviceID), FDevicePath(std::move(devicePath)) {}
    // Device-instance number: the same for the same device while it is present.
    std::uint32_t DeviceID() const { return FDeviceID; }
    const std::wstring& DevicePath() const { return FDevicePath; }

private:
    std::uint32_t FDeviceID;
    std::wstring FDevicePath;
};

class TJvHidDevice {
public:
    // Devices come from their controller only; this one refuses.
    TJvHidDevice();
    ~TJvHidDevice();
    TJvHidDevice(const TJvHidDevice&) = delete;
    TJvHidDevice& operator=(const TJvHidDevice&) = delete;

    // Destroys `device` now or, when one of its own hand-offs (a data or error handler) is
    // running on the main thread further up the stack, right after that hand-off has
    // returned: stopping its thread there would wait for a thread that waits for us.
    // Every owner destroys devices through this.
    static void DestroyWhenIdle(TJvHidDevice* device);

    // Identity. The attributes are read once, at creation.
    const THIDDAttributes& Attributes() const { return FAttributes; }
    std::wstring VendorName();
    std::wstring ProductName();
    std::wstring SerialNumber();
    // All zero when the report descriptor cannot be had.
    THIDPCaps Caps();
    const TJvHidPnPInfo* PnPInfo() const { return FPnPInfo.get(); }

    TJvHidDeviceController* MyController() const { return FMyController; }
    bool IsPluggedIn() const { return FIsPluggedIn; }
    bool IsCheckedOut() const { return FIsCheckedOut; }
    bool HasReadWriteAccess() const { return FHasReadWriteAccess; }
    // Plugged in and checked out: the condition of every operation that opens a handle.
    bool IsAccessible() const { return FIsPluggedIn && FIsCheckedOut; }

    // The synchronous handle.
    bool OpenFile();
    void CloseFile();
    bool IsFileOpen() const { return FHidFileHandle != nullptr; }

    bool SetFeature(void* Report, std::uint32_t Size);
    bool GetFeature(void* Report, std::uint32_t Size);
    bool WriteFile(const void* Report, std::uint32_t ToWrite, std::uint32_t& BytesWritten);

    // The asynchronous handles and the one outstanding read.
    bool OpenFileEx(TJvHidOpenExMode Mode);
    void CloseFileEx(TJvHidOpenExMode Mode);
    bool ReadFileEx(void* Report, std::uint32_t ToRead);
    std::uint32_t HidOverlappedReadResult();
    bool CancelIO(TJvHidOpenExMode Mode);

    const TJvHidDataEvent& OnData() const { return FOnData; }
    void SetOnData(TJvHidDataEvent handler);
    const TJvHidDataErrorEvent& OnDataError() const { return FOnDataError; }
    void SetOnDataError(TJvHidDataErrorEvent handler) { FOnDataError = std::move(handler); }
    const TJvHidPlugEvent& OnUnplug() const { return FOnUnplug; }
    void SetOnUnplug(TJvHidPlugEvent handler) { FOnUnplug = std::move(handler); }

    // Pause of the read thread after each read: 0 to 10000 ms, other values are ignored.
    std::int32_t PollingDelayTime() const { return FPollingDelayTime; }
    void SetPollingDelayTime(std::int32_t milliseconds);
    // Length of each wait of the read thread: 10 to 10000 ms, other values are ignored.
    std::int32_t ThreadSleepTime() const { return FThreadSleepTime; }
    void SetThreadSleepTime(std::int32_t milliseconds);

    bool HasReadThread() const { return FDataThread != nullptr; }

    // Health as the read thread and the start of reading found it. A device whose reads
    // failed while it was plugged in counts as gone at the next pass, which builds a fresh
    // object if its interface is still there (the box was pulled and plugged in again, or
    // its handles died): a listed box never sits over a dead device.
    bool ReadFailed() const { return FReadFailed; }
    // Failed reads in a row (0 after a read that delivered data).
    int ConsecutiveReadFailures() const { return FReadFailures; }
    // The driver refused to keep 512 input reports for the read handle.
    bool InputBuffersRefused() const { return FInputBuffersRefused; }
    // Its report sizes could not be read: no read thread; the next pass tries again.
    bool SizesUnknown() const { return FSizesUnknown; }
    // Whether one of this device's hand-offs is running on the main thread.
    bool InHandOff() const { return FHandOffDepth > 0; }

private:
    friend class TJvHidDeviceController;
    friend class TJvHidDeviceReadThread;

    // What the controller uses. Takes `pnpInfo` only once the device is built; when
    // building fails it stays with the caller.
    TJvHidDevice(std::unique_ptr<TJvHidPnPInfo>& pnpInfo, TJvHidDeviceController* controller);

    // Both openings of the creation: read+write, else without access rights.
    bool OpenSynchronous();
    // The handle goes away whatever happens to the caller's error path.
    void CloseAll();
    // Runs `query` with the synchronous handle and closes it afterwards.
    std::wstring QueryString(THidStringKind kind, std::wstring& cache);
    void ReadSerialNumber();

    // The controller's side.
    void UnplugStep();
    void AssignOnData(TJvHidDataEvent handler);
    void CheckStartThread();
    void StopThread();
    void JoinRetiringThread();

    // The read handle, shared by both threads. A handle taken out is released by the
    // caller, outside the lock.
    HidFilePtr ReadHandle() const;
    HidFilePtr TakeReadHandle();
    // Stores `file` unless a handle is there already; whether it was stored.
    bool PutReadHandle(const HidFilePtr& file);
    // Takes `file` out again if it is still the one stored.
    HidFilePtr TakeReadHandleIf(const HidFilePtr& file);

    // The read thread's side.
    class THandOff;
    THIDPCaps ReaderCaps() const;
    void DeliverData(std::uint8_t reportId, const void* data, std::uint16_t size);
    void DeliverError(std::uint32_t error);
    // A read failed on a device still plugged in: remember it and let go of the read
    // handle, so that the next read opens a fresh one instead of failing on a dead handle.
    void ReadFailedNow();
    void ReadSucceeded() { FReadFailures = 0; }
    // The byte count of the read that just ended; false when it failed with the handle
    // still ours (a handle closed by the main thread is a read without data, no failure).
    bool FinishRead(std::uint32_t& bytes);
    void HandOffEnded();
    void FinishDeferred();

    TJvHidDeviceController* FMyController = nullptr;
    HidPlatform* FPlatform = nullptr;
    std::atomic<bool> FIsPluggedIn{true};
    std::atomic<bool> FIsCheckedOut{false};
    HidFilePtr FHidFileHandle;
    HidFilePtr FHidOverlappedRead;  // through the three functions below only
    mutable std::mutex FReadHandleLock;
    HidFilePtr FHidOverlappedWrite;
    // Behind a pointer so that a read the platform never ends can keep its record.
    std::unique_ptr<THidOverlapped> FOvlRead = std::make_unique<THidOverlapped>();
    THIDDAttributes FAttributes;
    std::unique_ptr<TJvHidPnPInfo> FPnPInfo;
    std::wstring FVendorName;
    std::wstring FProductName;
    std::wstring FSerialNumber;
    // Published once by the main thread; the read thread only reads it.
    std::atomic<HidPreparsedData*> FPreparsedData{nullptr};
    std::atomic<std::int32_t> FPollingDelayTime{0};
    std::atomic<std::int32_t> FThreadSleepTime{100};
    TJvHidDataEvent FOnData;
    TJvHidDataErrorEvent FOnDataError;
    TJvHidPlugEvent FOnUnplug;
    bool FHasReadWriteAccess = false;
    std::unique_ptr<TJvHidDeviceReadThread> FDataThread;
    std::atomic<bool> FReadFailed{false};
    std::atomic<int> FReadFailures{0};
    std::atomic<bool> FInputBuffersRefused{false};
    bool FSizesUnknown = false;

    // Main thread only.
    bool FHandlerFromController = false;  // FOnData is still the controller's handler
    int FHandOffDepth = 0;
    bool FDestroyPending = false;
    bool FFinishPosted = false;
    bool FJoining = false;
    bool FHoldsPlatform = false;  // orphaned while pending: keeps the HID services loaded
    // A thread told to stop during one of its own hand-offs, joined once that has returned.
    std::unique_ptr<TJvHidDeviceReadThread> FRetiringThread;
    std::shared_ptr<char> FAlive = std::make_shared<char>();
};
