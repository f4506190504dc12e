#pragma once
// The one place where the HID layer reaches the operating system.
//
// Win32: HidPlatformWin32 (setupapi.dll and hid.dll loaded at run time, CreateFileW,
// ReadFileEx, SleepEx, CancelIo). Tests and the simulator: the virtual bus (VirtualHidBus).
// A back end does what each call promises and nothing more; the logic of the device,
// the controller and the read thread lives above this seam and is tested in both builds.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// HIDD_ATTRIBUTES, same layout as the platform's.
struct THIDDAttributes {
    std::uint32_t Size = 0;
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// HIDP_CAPS, same layout as the platform's. The report lengths include the report-id byte.
struct THIDPCaps {
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
    std::uint16_t FeatureReportByteLength = 0;
    std::uint16_t Reserved[17] = {};
    std::uint16_t NumberLinkCollectionNodes = 0;
    std::uint16_t NumberInputButtonCaps = 0;
    std::uint16_t NumberInputValueCaps = 0;
    std::uint16_t NumberInputDataIndices = 0;
    std::uint16_t NumberOutputButtonCaps = 0;
    std::uint16_t NumberOutputValueCaps = 0;
    std::uint16_t NumberOutputDataIndices = 0;
    std::uint16_t NumberFeatureButtonCaps = 0;
    std::uint16_t NumberFeatureValueCaps = 0;
    std::uint16_t NumberFeatureDataIndices = 0;
};

// How a device path is opened. Share mode is always read+write, open existing only.
enum class THidOpenKind {
    ReadWrite,        // synchronous, read and write access
    NoAccess,         // synchronous, no access rights: queries only
    OverlappedRead,   // asynchronous, read-only (the read thread's handle)
    OverlappedWrite,  // asynchronous, write-only
};

// The strings a device can be asked for. LanguageList is string descriptor 0.
enum class THidStringKind { Manufacturer, Product, SerialNumber, LanguageList };

// An open handle on a HID interface path. Destroying the object closes the handle;
// any outstanding asynchronous read on it ends.
class HidFile {
public:
    virtual ~HidFile() = default;
};
using HidFilePtr = std::shared_ptr<HidFile>;

// A parsed report descriptor; destroying it releases it.
class HidPreparsedData {
public:
    virtual ~HidPreparsedData() = default;
};
using HidPreparsedDataPtr = std::unique_ptr<HidPreparsedData>;

// Bookkeeping of one outstanding asynchronous read (the platform's overlapped record).
// Owned by the reader; the back end keeps what it needs in Storage between the start
// of a read and its completion.
struct THidOverlapped {
    alignas(16) std::uint8_t Storage[64] = {};
};

// One present HID interface: the path to open and the device-instance number, which
// stays the same for the same device while it is present.
struct THidInterface {
    std::wstring Path;
    std::uint32_t DevInst = 0;
};

// A hidden window that receives device-change notices on the main thread. Destroying it
// stops the notices and undoes the registration it made.
class HidNotifyWindow {
public:
    virtual ~HidNotifyWindow() = default;
    // Posts a device-change notice with `event` (and no header) to this window; it is
    // handled later on the main thread, like the platform's own.
    virtual void PostDeviceChange(std::uint32_t event) = 0;
};

// Device-change notice: `event` is the notice's code (DBT_DEVNODES_CHANGED 0x0007,
// DBT_DEVICEARRIVAL 0x8000, DBT_DEVICEREMOVECOMPLETE 0x8004, ...); `deviceType` is the
// dbch_devicetype of its header (DBT_DEVTYP_DEVICEINTERFACE 5), or kNoDeviceHeader.
constexpr std::uint32_t kNoDeviceHeader = 0xFFFFFFFFu;
constexpr std::uint32_t DBT_DEVNODES_CHANGED_ = 0x0007;
constexpr std::uint32_t DBT_DEVICEARRIVAL_ = 0x8000;
constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE_ = 0x8004;
constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE_ = 5;
// `name` is the dbcc_name of a device-interface notice ("\\?\HID#VID_0FD9&PID_0063#..."),
// empty when the notice names nothing.
using THidDeviceChangeHandler =
    std::function<void(std::uint32_t event, std::uint32_t deviceType, const std::wstring& name)>;

// Result of an alertable wait.
enum class THidWaitResult { Timeout, IoCompletion };

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Loads the HID services, counted: every successful Acquire is matched by one Release,
    // and the last Release unloads them. False when they are unavailable.
    virtual bool Acquire() = 0;
    virtual void Release() = 0;

    // The present HID interfaces, in the platform's order. False when the interface set
    // cannot be obtained (the list is then empty).
    virtual bool Enumerate(std::vector<THidInterface>& interfaces) = 0;

    // Opens a path; null on failure.
    virtual HidFilePtr Open(const std::wstring& path, THidOpenKind kind) = 0;

    // attributes.Size is set by the caller. False on failure.
    virtual bool GetAttributes(HidFile& file, THIDDAttributes& attributes) = 0;

    // Copies the string (UTF-16 units, NUL-terminated when shorter) into buffer of
    // `bytes` bytes. False on failure.
    virtual bool GetString(HidFile& file, THidStringKind kind, std::uint16_t* buffer,
                           std::uint32_t bytes) = 0;

    virtual HidPreparsedDataPtr GetPreparsedData(HidFile& file) = 0;
    // Leaves caps untouched on failure.
    virtual bool GetCaps(const HidPreparsedData& data, THIDPCaps& caps) = 0;

    // One feature report, report id in the first byte.
    virtual bool SetFeature(HidFile& file, const void* report, std::uint32_t size) = 0;
    virtual bool GetFeature(HidFile& file, void* report, std::uint32_t size) = 0;

    // Blocking write of one output report on a synchronous handle.
    virtual bool Write(HidFile& file, const void* report, std::uint32_t size,
                       std::uint32_t& written) = 0;

    // Starts an asynchronous read whose completion is signalled to the calling thread:
    // that thread's next alertable wait returns IoCompletion once the read has ended
    // (completed, failed, cancelled, or its handle closed). The buffer and the
    // overlapped record must stay valid until then.
    virtual bool ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer,
                        std::uint32_t size) = 0;
    // Byte count of the read started with `overlapped`, without waiting. False when the
    // read failed or has not completed.
    virtual bool OverlappedResult(HidFile& file, THidOverlapped& overlapped,
                                  std::uint32_t& bytes) = 0;
    // Asks the driver to keep up to `count` input reports for the handle
    // (HidD_SetNumInputBuffers). False when it refuses.
    virtual bool SetNumInputBuffers(HidFile& file, std::uint32_t count) = 0;
    // Cancels outstanding I/O on the handle.
    virtual bool CancelIo(HidFile& file) = 0;
    // Waits at most `milliseconds`, returning early with IoCompletion when a read that this
    // thread started has ended.
    virtual THidWaitResult SleepAlertable(std::uint32_t milliseconds) = 0;

    // A hidden top-level window whose device-change notices (the platform's broadcasts, and
    // when `usbInterfaces` is set, arrivals and removals of USB device interfaces it
    // registers for, and arrivals and removals of HID interfaces) go to `handler` on the
    // main thread.
    virtual std::unique_ptr<HidNotifyWindow> CreateNotifyWindow(THidDeviceChangeHandler handler,
                                                                bool usbInterfaces) = 0;

    // The calling thread's last platform error code.
    virtual std::uint32_t LastError() = 0;
    // Blocks the calling thread.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // Names the calling thread for debuggers (SetThreadDescription); a back end that
    // cannot do it ignores the call.
    virtual void SetCurrentThreadName(const std::wstring& name) { (void)name; }
    // Puts the calling thread ahead of CPU-bound work of normal priority: a read thread
    // carries key presses and otherwise sleeps in its waits.
    virtual void RaiseCurrentThreadPriority() {}
};
