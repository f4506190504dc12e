#pragma once
// A HID bus in memory: the stand-in back end of the tests and the simulator.
//
// Virtual devices are plugged and pulled from any thread. Each has attributes, the three
// strings, string descriptor 0 (its language list) and capabilities; it records every
// feature and output report it receives, in order, and reads return the input reports
// queued for it. Failures can be injected per device. Plugging and pulling post the
// device-change notices Windows would send to the bus's notify windows, on the main thread.
//
// Everything here is thread-safe: the bus guards its state with one lock, and hands
// completions of asynchronous reads to the reading thread as Windows does (the reader's
// next alertable wait returns IoCompletion).
//
// The bus outlives every handle, notify window and controller made over it; the device
// objects it hands out may be kept longer only if nothing is asked of them after it goes.

#include "HidPlatform.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Platform error codes the bus reports through LastError.
constexpr std::uint32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
constexpr std::uint32_t kErrorGenFailure = 31;            // ERROR_GEN_FAILURE
constexpr std::uint32_t kErrorOperationAborted = 995;     // ERROR_OPERATION_ABORTED
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr std::uint32_t kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND

// What a virtual device is, and how it misbehaves.
struct TVirtualHidDescription {
    THIDDAttributes Attributes{12, 0, 0, 0};
    std::wstring Manufacturer;
    std::wstring Product;
    std::wstring SerialNumber;
    bool HasSerialNumber = true;
    std::vector<std::uint16_t> Languages{0x0409};  // string descriptor 0
    THIDPCaps Caps{};

    bool CannotOpen = false;        // every open fails
    bool NoAccessOnly = false;      // only an open without access rights works
    bool AttributesFail = false;    // HidD_GetAttributes fails
    bool LanguageListFails = false; // string descriptor 0 cannot be read
    bool CapsFail = false;          // the report descriptor cannot be had (no sizes)
    bool InputBuffersRefused = false;  // HidD_SetNumInputBuffers fails
};

// The six-key control box: vendor 0x0FD9, product 0x0063, input 17 / output 1024 / feature 17.
TVirtualHidDescription VirtualControlBoxDescription(const std::wstring& serialNumber);

enum class TVirtualReportKind { Feature, Output };

// Which reports of one kind a device refuses, counted from when the fault is set: none,
// only the n-th (1 is the next one), or every one. A refused report is not recorded and
// its call fails with ERROR_GEN_FAILURE.
struct TVirtualReportFault {
    static constexpr std::uint32_t Every = 0xFFFFFFFFu;
    std::uint32_t Nth = 0;  // 0: none; Every: all of them
};

struct TVirtualReport {
    TVirtualReportKind Kind;
    std::vector<std::uint8_t> Bytes;
};

class VirtualHidBus;

// One virtual device. Handles on it are thread-safe; the bus owns the state.
class VirtualHidDevice {
public:
    const std::wstring& Path() const { return FPath; }
    std::uint32_t DevInst() const { return FDevInst; }

    // Every feature and output report received, in order.
    std::vector<TVirtualReport> Reports() const;
    std::vector<std::vector<std::uint8_t>> FeatureReports() const;
    std::vector<std::vector<std::uint8_t>> OutputReports() const;
    void ClearReports();

    // Queues one input report (report id first); the oldest outstanding read takes it.
    void QueueInput(std::vector<std::uint8_t> report);
    std::size_t QueuedInputCount() const;

    // Failure injection that can change while the device is present. Failing reads end the
    // outstanding one with an error as well.
    void SetReadFails(bool fails);
    void SetCannotOpen(bool fails);
    void SetLanguageListFails(bool fails);
    void SetCapsFail(bool fails);
    // The last input buffer count a handle on this device was given (0: never).
    std::uint32_t InputBuffers() const;
    // Reply of GetFeature (the first bytes of the caller's buffer; the rest is zeroed).
    void SetFeatureReply(std::vector<std::uint8_t> reply);
    // Refused feature or output reports (SetFeature / Write), counted from now on.
    void FailReports(TVirtualReportKind kind, TVirtualReportFault fault);
    // Every read returns at most `bytes` bytes of its report (0: whole reports again).
    void SetShortReads(std::uint32_t bytes);
    // The next `count` serial-number reads fail, as a device that is slow to answer just
    // after its arrival does.
    void FailSerialReads(int count);

    bool IsPresent() const;
    // Handles on this device that are open now, and how many opens succeeded in all.
    int OpenHandles() const;
    int OpensSucceeded() const;

private:
    friend class VirtualHidBus;
    VirtualHidDevice(VirtualHidBus& bus, std::wstring path, std::uint32_t devInst,
                     TVirtualHidDescription description)
        : FBus(bus), FPath(std::move(path)), FDevInst(devInst), FDescription(std::move(description)) {}

    VirtualHidBus& FBus;
    const std::wstring FPath;
    const std::uint32_t FDevInst;
    // Everything below is guarded by the bus lock.
    TVirtualHidDescription FDescription;
    bool FPresent = true;
    bool FReadFails = false;
    struct TFaultCount {
        TVirtualReportFault Fault;
        std::uint32_t Seen = 0;  // reports of the kind since the fault was set
    };
    TFaultCount FFeatureFault;
    TFaultCount FOutputFault;
    std::uint32_t FShortReads = 0;
    std::uint32_t FInputBuffers = 0;
    int FSerialReadsFailing = 0;
    std::vector<TVirtualReport> FReports;
    std::deque<std::vector<std::uint8_t>> FInput;
    std::vector<std::uint8_t> FFeatureReply;
    int FOpenHandles = 0;
    int FOpensSucceeded = 0;
};
using VirtualHidDevicePtr = std::shared_ptr<VirtualHidDevice>;

class VirtualHidBus : public HidPlatform {
public:
    VirtualHidBus();
    ~VirtualHidBus() override;
    VirtualHidBus(const VirtualHidBus&) = delete;
    VirtualHidBus& operator=(const VirtualHidBus&) = delete;

    // Plugs a device in (path and device-instance number are made up unless given) and
    // posts the notices of a USB arrival.
    VirtualHidDevicePtr Plug(const TVirtualHidDescription& description, std::wstring path = {});
    VirtualHidDevicePtr PlugControlBox(const std::wstring& serialNumber);
    // The same device plugged in again after being pulled: same path, same device-instance
    // number, as Windows gives it; a new virtual device object all the same.
    VirtualHidDevicePtr PlugAgain(const VirtualHidDevicePtr& pulled);
    // Pulls a device out: its open handles fail from now on, its outstanding reads end,
    // and the notices of a USB removal are posted.
    void Unplug(const VirtualHidDevicePtr& device);
    // The notices of a USB device that is not HID (a memory stick) being plugged or pulled:
    // the broadcast, and an interface notice that names the stick.
    void PostUsbNotices(bool arrival);
    // The notices of one device-interface arrival or removal naming `name`, with the
    // broadcast before it, as Windows sends them.
    void PostNamedNotices(bool arrival, const std::wstring& name);

    // Whether the HID services are there at all (Acquire fails when not).
    void SetAvailable(bool available);
    // Whether Enumerate fails (no interface set).
    void SetEnumerateFails(bool fails);
    // When set, Sleep returns at once (the 100 ms of every hot-plug pass in fast tests).
    void SetInstantSleep(bool instant);

    int AcquireCount() const;
    // Platform calls that reach a device (open, queries, reports, reads); tests use it to
    // check that an operation did not touch the platform.
    std::uint64_t DeviceCalls() const;
    // Reads started and not yet ended.
    int PendingReads() const;
    int NotifyWindows() const;
    std::vector<VirtualHidDevicePtr> Devices() const;
    // Names given to threads through SetCurrentThreadName, in order.
    std::vector<std::wstring> ThreadNames() const;

    // HidPlatform
    bool Acquire() override;
    void Release() override;
    bool Enumerate(std::vector<THidInterface>& interfaces) override;
    HidFilePtr Open(const std::wstring& path, THidOpenKind kind) override;
    bool GetAttributes(HidFile& file, THIDDAttributes& attributes) override;
    bool GetString(HidFile& file, THidStringKind kind, std::uint16_t* buffer,
                   std::uint32_t bytes) override;
    HidPreparsedDataPtr GetPreparsedData(HidFile& file) override;
    bool GetCaps(const HidPreparsedData& data, THIDPCaps& caps) override;
    bool SetFeature(HidFile& file, const void* report, std::uint32_t size) override;
    bool GetFeature(HidFile& file, void* report, std::uint32_t size) override;
    bool Write(HidFile& file, const void* report, std::uint32_t size,
               std::uint32_t& written) override;
    bool ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer,
                std::uint32_t size) override;
    bool OverlappedResult(HidFile& file, THidOverlapped& overlapped,
                          std::uint32_t& bytes) override;
    bool CancelIo(HidFile& file) override;
    bool SetNumInputBuffers(HidFile& file, std::uint32_t count) override;
    THidWaitResult SleepAlertable(std::uint32_t milliseconds) override;
    std::unique_ptr<HidNotifyWindow> CreateNotifyWindow(THidDeviceChangeHandler handler,
                                                        bool usbInterfaces) override;
    std::uint32_t LastError() override;
    void Sleep(std::uint32_t milliseconds) override;
    void SetCurrentThreadName(const std::wstring& name) override;

private:
    friend class VirtualHidDevice;
    class File;
    class NotifyWindow;
    struct TWindowState;
    struct TPendingRead {
        std::uint64_t Id;
        File* Owner;
        THidOverlapped* Overlapped;
        std::uint8_t* Buffer;
        std::uint32_t Size;
        std::thread::id Reader;
    };

    // All with FLock held.
    File* Usable(HidFile& file, bool needsAccess);
    // Counts one report against `count`; true when this one is refused.
    static bool RefusedLocked(VirtualHidDevice::TFaultCount& count);
    void CompleteLocked(const TPendingRead& read, bool ok, std::uint32_t bytes);
    void EndReadsLocked(const VirtualHidDevice* device, const File* file, std::uint32_t error);
    void FeedLocked(VirtualHidDevice& device);
    void FileClosed(File* file);
    void PostNotices(bool arrival, const std::wstring& name);
    VirtualHidDevicePtr Insert(const TVirtualHidDescription& description, std::wstring path, std::uint32_t devInst);

    mutable std::mutex FLock;
    std::condition_variable FAlerted;
    std::vector<VirtualHidDevicePtr> FDevices;  // present ones, in plug order
    std::vector<TPendingRead> FPending;
    std::map<std::thread::id, int> FAlerts;     // completions not yet seen by each reader
    std::vector<std::weak_ptr<TWindowState>> FWindows;
    std::vector<std::wstring> FThreadNames;
    std::uint32_t FNextDevInst = 1;
    std::uint64_t FNextReadId = 1;
    std::uint64_t FDeviceCalls = 0;
    int FAcquired = 0;
    bool FAvailable = true;
    bool FEnumerateFails = false;
    std::atomic<bool> FInstantSleep{false};
};
