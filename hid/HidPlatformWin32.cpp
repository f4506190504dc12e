// The HID seam on Windows. Thin on purpose: every call maps onto one platform service and
// keeps its result; what the results mean is decided above the seam.

#include "HidPlatformWin32.h"

#include "Application.h"
#include "HiddenWindowWin32.h"

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

static_assert(sizeof(THIDPCaps) == sizeof(HIDP_CAPS), "THIDPCaps must match HIDP_CAPS");
static_assert(offsetof(THIDPCaps, FeatureReportByteLength) ==
              offsetof(HIDP_CAPS, FeatureReportByteLength));
static_assert(offsetof(THIDPCaps, NumberFeatureDataIndices) ==
              offsetof(HIDP_CAPS, NumberFeatureDataIndices));
static_assert(sizeof(OVERLAPPED) <= sizeof(THidOverlapped::Storage));

// ---------------------------------------------------------------------------------------
// setupapi.dll and hid.dll, loaded at run time and shared by every user in the process.

struct THidApi {
    GUID HidGuid{};
    decltype(&::SetupDiGetClassDevsW) GetClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) GetDeviceInterfaceDetail = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
    decltype(&::HidD_GetHidGuid) GetHidGuid = nullptr;
    decltype(&::HidD_GetAttributes) GetAttributes = nullptr;
    decltype(&::HidD_GetManufacturerString) GetManufacturerString = nullptr;
    decltype(&::HidD_GetProductString) GetProductString = nullptr;
    decltype(&::HidD_GetSerialNumberString) GetSerialNumberString = nullptr;
    decltype(&::HidD_GetIndexedString) GetIndexedString = nullptr;
    decltype(&::HidD_GetPreparsedData) GetPreparsedData = nullptr;
    decltype(&::HidD_FreePreparsedData) FreePreparsedData = nullptr;
    decltype(&::HidP_GetCaps) GetCaps = nullptr;
    decltype(&::HidD_SetFeature) SetFeature = nullptr;
    decltype(&::HidD_GetFeature) GetFeature = nullptr;
    decltype(&::HidD_SetNumInputBuffers) SetNumInputBuffers = nullptr;
};

struct TLibraries {
    std::mutex Lock;
    int Users = 0;  // guarded by Lock
    HMODULE SetupApi = nullptr;
    HMODULE Hid = nullptr;
    THidApi Api;
    // Published only while the libraries are loaded; read without the lock by calls made
    // between an Acquire and its Release.
    std::atomic<const THidApi*> Current{nullptr};
};

TLibraries& Libraries() {
    static TLibraries* libraries = new TLibraries;  // outlives every static user
    return *libraries;
}

template <typename T>
bool Resolve(HMODULE module, const char* name, T& target) {
    target = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return target != nullptr;
}

// Only from the system folder: a DLL of the same name beside the program is not ours.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void UnloadLocked(TLibraries& l) {
    l.Current = nullptr;
    if (l.Hid)
        FreeLibrary(l.Hid);
    if (l.SetupApi)
        FreeLibrary(l.SetupApi);
    l.Hid = l.SetupApi = nullptr;
    l.Api = THidApi{};
}

bool LoadLocked(TLibraries& l) {
    l.SetupApi = LoadSystemLibrary(L"setupapi.dll");
    if (!l.SetupApi)
        return false;
    l.Hid = LoadSystemLibrary(L"hid.dll");
    THidApi& a = l.Api;
    const bool ok =
        l.Hid && Resolve(l.SetupApi, "SetupDiGetClassDevsW", a.GetClassDevs) &&
        Resolve(l.SetupApi, "SetupDiEnumDeviceInterfaces", a.EnumDeviceInterfaces) &&
        Resolve(l.SetupApi, "SetupDiGetDeviceInterfaceDetailW", a.GetDeviceInterfaceDetail) &&
        Resolve(l.SetupApi, "SetupDiDestroyDeviceInfoList", a.DestroyDeviceInfoList) &&
        Resolve(l.Hid, "HidD_GetHidGuid", a.GetHidGuid) &&
        Resolve(l.Hid, "HidD_GetAttributes", a.GetAttributes) &&
        Resolve(l.Hid, "HidD_GetManufacturerString", a.GetManufacturerString) &&
        Resolve(l.Hid, "HidD_GetProductString", a.GetProductString) &&
        Resolve(l.Hid, "HidD_GetSerialNumberString", a.GetSerialNumberString) &&
        Resolve(l.Hid, "HidD_GetIndexedString", a.GetIndexedString) &&
        Resolve(l.Hid, "HidD_GetPreparsedData", a.GetPreparsedData) &&
        Resolve(l.Hid, "HidD_FreePreparsedData", a.FreePreparsedData) &&
        Resolve(l.Hid, "HidP_GetCaps", a.GetCaps) && Resolve(l.Hid, "HidD_SetFeature", a.SetFeature) &&
        Resolve(l.Hid, "HidD_GetFeature", a.GetFeature) &&
        Resolve(l.Hid, "HidD_SetNumInputBuffers", a.SetNumInputBuffers);
    if (!ok) {
        UnloadLocked(l);
        return false;
    }
    a.GetHidGuid(&a.HidGuid);
    l.Current = &l.Api;
    return true;
}

bool AddUser(bool loadIfNeeded) {
    TLibraries& l = Libraries();
    std::lock_guard<std::mutex> guard(l.Lock);
    if (l.Users == 0 && (!loadIfNeeded || !LoadLocked(l)))
        return false;
    ++l.Users;
    return true;
}

void DropUser() {
    TLibraries& l = Libraries();
    std::lock_guard<std::mutex> guard(l.Lock);
    if (l.Users == 0)
        return;  // an unmatched release changes nothing
    if (--l.Users == 0)
        UnloadLocked(l);
}

// The loaded functions, or null (with a last error set) when nobody holds the libraries.
const THidApi* Api() {
    const THidApi* api = Libraries().Current.load();
    if (!api)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return api;
}

// ---------------------------------------------------------------------------------------
// Open device paths.

// Longest we wait for a cancelled read to be completed by its driver before we let its
// bookkeeping go. Cancellation normally completes at once.
constexpr ULONGLONG kCancelWaitMs = 5000;

void CALLBACK ReadCompleted(DWORD, DWORD, LPOVERLAPPED) {
    // Nothing to do: the reader's alertable wait returning is the whole point.
}

class Win32HidFile final : public HidFile {
public:
    Win32HidFile(HANDLE handle, THidOpenKind kind) : FHandle(handle), FKind(kind) {}

    ~Win32HidFile() override {
        // The platform writes the outcome of a read into its overlapped record when the
        // read ends, which may be after the handle is closed. Make sure the read has ended
        // before the record goes; if a driver never finishes it, keep the record alive.
        if (ReadOutstanding()) {
            CancelIoEx(FHandle, &FRead->Overlapped);
            if (!WaitForReadEnd())
                (void)FRead.release();
        }
        CloseHandle(FHandle);
    }

    HANDLE Handle() const { return FHandle; }
    bool Overlapped() const {
        return FKind == THidOpenKind::OverlappedRead || FKind == THidOpenKind::OverlappedWrite;
    }

    bool StartRead(void* buffer, DWORD size) {
        if (!Overlapped()) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        if (ReadOutstanding()) {
            SetLastError(ERROR_BUSY);  // one read at a time per handle
            return false;
        }
        if (!FRead)
            FRead = std::make_unique<TRead>();
        FRead->Overlapped = OVERLAPPED{};
        FRead->Started = ReadFileEx(FHandle, buffer, size, &FRead->Overlapped, ReadCompleted) != 0;
        return FRead->Started;
    }

    bool ReadResult(DWORD& bytes) {
        bytes = 0;
        if (!FRead || !FRead->Started) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return GetOverlappedResult(FHandle, &FRead->Overlapped, &bytes, FALSE) != 0;
    }

    // Cancels whatever is outstanding on the handle, from whichever thread started it, and
    // returns once a cancelled read has ended, so that its buffer may be released.
    bool Cancel() {
        if (!CancelIoEx(FHandle, nullptr) && GetLastError() != ERROR_NOT_FOUND)
            return false;
        if (ReadOutstanding())
            WaitForReadEnd();
        return true;
    }

private:
    struct TRead {
        OVERLAPPED Overlapped{};
        bool Started = false;
    };

    bool ReadOutstanding() const {
        return FRead && FRead->Started &&
               reinterpret_cast<volatile const ULONG_PTR&>(FRead->Overlapped.Internal) ==
                   static_cast<ULONG_PTR>(STATUS_PENDING);
    }

    bool WaitForReadEnd() const {
        const ULONGLONG limit = GetTickCount64() + kCancelWaitMs;
        while (ReadOutstanding()) {
            if (GetTickCount64() > limit)
                return false;
            ::Sleep(1);
        }
        return true;
    }

    HANDLE FHandle;
    THidOpenKind FKind;
    std::unique_ptr<TRead> FRead;  // the one read of this handle, kept while it may be written
};

class Win32PreparsedData final : public HidPreparsedData {
public:
    // The caller has counted this object as a user of hid.dll.
    explicit Win32PreparsedData(PHIDP_PREPARSED_DATA data) : FData(data) {}
    ~Win32PreparsedData() override {
        if (const THidApi* api = Api())
            api->FreePreparsedData(FData);
        DropUser();
    }
    PHIDP_PREPARSED_DATA Data() const { return FData; }

private:
    PHIDP_PREPARSED_DATA FData;
};

// ---------------------------------------------------------------------------------------
// Hidden windows for device-change notices.

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: USB device interfaces.
constexpr GUID kUsbDeviceInterfaceGuid = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr wchar_t kNotifyWindowClass[] = L"LumetraHidNotifyWindow";
// Our own posted notices. WM_DEVICECHANGE itself cannot be posted with an arrival or removal
// code (the platform takes those for messages carrying a pointer and refuses to post them).
constexpr UINT kPostedDeviceChange = WM_APP + 0x4844;

// {4D1E55B2-F16F-11CF-88CB-001111000030}: HID interfaces, as published.
constexpr GUID kHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Device-change codes whose lParam points to a DEV_BROADCAST_HDR.
bool CarriesHeader(WPARAM event, LPARAM lParam) {
    const bool withHeader = event >= DBT_DEVICEARRIVAL && event <= DBT_CUSTOMEVENT;
    return withHeader && lParam != 0 && lParam != -1;
}

// The dbcc_name of a device-interface notice, read no further than its dbcc_size says.
std::wstring InterfaceName(const DEV_BROADCAST_HDR* header) {
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return {};
    const auto* d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const std::size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (d->dbcc_size <= offset) return {};
    const std::size_t units = (d->dbcc_size - offset) / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < units && d->dbcc_name[length] != L'\0') ++length;
    return std::wstring(d->dbcc_name, length);
}

class Win32NotifyWindow final : public HidNotifyWindow {
public:
    explicit Win32NotifyWindow(THidDeviceChangeHandler handler) : FHandler(std::move(handler)) {}

    ~Win32NotifyWindow() override {
        if (FRegistration)
            UnregisterDeviceNotification(FRegistration);
        if (FHidRegistration)
            UnregisterDeviceNotification(FHidRegistration);
        if (FWindow) {
            SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
            DestroyWindow(FWindow);
        }
    }

    bool Create(bool usbInterfaces) {
        // A top-level window, never shown: broadcasts do not reach message-only windows.
        FWindow = CreateHiddenWindow(kNotifyWindowClass, WindowProc, WS_POPUP, nullptr, this);
        if (!FWindow)
            return false;
        if (usbInterfaces) {
            DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
            filter.dbcc_size = sizeof(filter);
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = kUsbDeviceInterfaceGuid;
            // Without the subscription only broadcasts arrive; that is not worth failing for.
            FRegistration =
                RegisterDeviceNotificationW(FWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
            // HID interfaces too: their notices name the interface, vendor included, so
            // that the notices of other devices can be told apart.
            filter.dbcc_classguid = kHidInterfaceGuid;
            FHidRegistration =
                RegisterDeviceNotificationW(FWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }
        return true;
    }

    void PostDeviceChange(std::uint32_t event) override {
        PostMessageW(FWindow, kPostedDeviceChange, event, 0);
    }

    HWND Window() const { return FWindow; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        } else if (message == WM_DEVICECHANGE || message == kPostedDeviceChange) {
            auto* self = reinterpret_cast<Win32NotifyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (self && self->FHandler) {
                const auto event = static_cast<std::uint32_t>(wParam);
                const bool header = message == WM_DEVICECHANGE && CarriesHeader(wParam, lParam);
                const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
                const std::uint32_t deviceType = header ? broadcast->dbch_devicetype : kNoDeviceHeader;
                const std::wstring name = header ? InterfaceName(broadcast) : std::wstring();
                // The handler may destroy this object: work on a copy and never touch
                // `self` afterwards. Nothing may escape into the platform's dispatcher.
                THidDeviceChangeHandler handler = self->FHandler;
                Application::Guarded([&] { handler(event, deviceType, name); });
            }
            if (message == kPostedDeviceChange)
                return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    THidDeviceChangeHandler FHandler;
    HWND FWindow = nullptr;
    HDEVNOTIFY FRegistration = nullptr;
    HDEVNOTIFY FHidRegistration = nullptr;
};

// ---------------------------------------------------------------------------------------

Win32HidFile& AsWin32(HidFile& file) { return static_cast<Win32HidFile&>(file); }

class Win32HidPlatform final : public HidPlatform {
public:
    bool Acquire() override { return AddUser(true); }
    void Release() override { DropUser(); }

    bool Enumerate(std::vector<THidInterface>& interfaces) override {
        interfaces.clear();
        const THidApi* api = Api();
        if (!api)
            return false;
        HDEVINFO set = api->GetClassDevs(&api->HidGuid, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return false;
        // The detail record's size and the offset of its path are the platform's own: the
        // 64-bit record is larger than the 32-bit one, and a wrong cbSize is refused.
        constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        std::vector<std::uint64_t> storage;  // 8-byte aligned, as the record needs
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData = {};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!api->EnumDeviceInterfaces(set, nullptr, &api->HidGuid, index, &interfaceData))
                break;
            SP_DEVINFO_DATA devInfo = {};
            devInfo.cbSize = sizeof(devInfo);
            DWORD size = 0;
            if (api->GetDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &size, &devInfo) ||
                GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < kPathOffset + sizeof(wchar_t))
                continue;
            storage.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!api->GetDeviceInterfaceDetail(set, &interfaceData, detail, size, nullptr, &devInfo))
                continue;
            const std::size_t units = (size - kPathOffset) / sizeof(wchar_t);
            std::wstring path(detail->DevicePath, units);
            path.resize(wcsnlen(path.c_str(), units));  // the terminating NUL is not ours
            if (path.empty())
                continue;
            interfaces.push_back(THidInterface{std::move(path), devInfo.DevInst});
        }
        api->DestroyDeviceInfoList(set);
        return true;
    }

    HidFilePtr Open(const std::wstring& path, THidOpenKind kind) override {
        DWORD access = 0;
        DWORD flags = 0;
        switch (kind) {
        case THidOpenKind::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
        case THidOpenKind::NoAccess: access = 0; break;
        case THidOpenKind::OverlappedRead: access = GENERIC_READ; flags = FILE_FLAG_OVERLAPPED; break;
        case THidOpenKind::OverlappedWrite: access = GENERIC_WRITE; flags = FILE_FLAG_OVERLAPPED; break;
        }
        if (path.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_shared<Win32HidFile>(handle, kind);
    }

    bool GetAttributes(HidFile& file, THIDDAttributes& attributes) override {
        const THidApi* api = Api();
        if (!api)
            return false;
        HIDD_ATTRIBUTES a = {};
        a.Size = attributes.Size;
        if (!api->GetAttributes(AsWin32(file).Handle(), &a))
            return false;
        attributes.Size = a.Size;
        attributes.VendorID = a.VendorID;
        attributes.ProductID = a.ProductID;
        attributes.VersionNumber = a.VersionNumber;
        return true;
    }

    bool GetString(HidFile& file, THidStringKind kind, std::uint16_t* buffer,
                   std::uint32_t bytes) override {
        const THidApi* api = Api();
        if (!api)
            return false;
        HANDLE h = AsWin32(file).Handle();
        switch (kind) {
        case THidStringKind::Manufacturer: return api->GetManufacturerString(h, buffer, bytes);
        case THidStringKind::Product: return api->GetProductString(h, buffer, bytes);
        case THidStringKind::SerialNumber: return api->GetSerialNumberString(h, buffer, bytes);
        case THidStringKind::LanguageList: return api->GetIndexedString(h, 0, buffer, bytes);
        }
        return false;
    }

    HidPreparsedDataPtr GetPreparsedData(HidFile& file) override {
        // The descriptor needs hid.dll until it is freed, so it counts as a user.
        if (!AddUser(false)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        PHIDP_PREPARSED_DATA data = nullptr;
        if (!Api()->GetPreparsedData(AsWin32(file).Handle(), &data) || !data) {
            const DWORD error = GetLastError();
            DropUser();
            SetLastError(error);
            return nullptr;
        }
        return std::make_unique<Win32PreparsedData>(data);
    }

    bool GetCaps(const HidPreparsedData& data, THIDPCaps& caps) override {
        const THidApi* api = Api();
        if (!api)
            return false;
        HIDP_CAPS c = {};
        const auto& parsed = static_cast<const Win32PreparsedData&>(data);
        if (api->GetCaps(parsed.Data(), &c) != HIDP_STATUS_SUCCESS)
            return false;
        std::memcpy(static_cast<void*>(&caps), &c, sizeof(c));  // same layout, checked above
        return true;
    }

    bool SetNumInputBuffers(HidFile& file, std::uint32_t count) override {
        const THidApi* api = Api();
        return api && api->SetNumInputBuffers(AsWin32(file).Handle(), count);
    }

    bool SetFeature(HidFile& file, const void* report, std::uint32_t size) override {
        const THidApi* api = Api();
        return api && api->SetFeature(AsWin32(file).Handle(), const_cast<void*>(report), size);
    }

    bool GetFeature(HidFile& file, void* report, std::uint32_t size) override {
        const THidApi* api = Api();
        return api && api->GetFeature(AsWin32(file).Handle(), report, size);
    }

    bool Write(HidFile& file, const void* report, std::uint32_t size,
               std::uint32_t& written) override {
        written = 0;
        Win32HidFile& f = AsWin32(file);
        if (f.Overlapped()) {
            // A blocking write without an overlapped record is undefined on such a handle.
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        DWORD count = 0;
        const bool ok = ::WriteFile(f.Handle(), report, size, &count, nullptr) != 0;
        written = count;
        return ok;
    }

    bool ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer,
                std::uint32_t size) override {
        // The platform's record lives with the handle, not in `overlapped`: the handle
        // object knows when the platform is done with it, even if the reader is gone.
        (void)overlapped;
        return AsWin32(file).StartRead(buffer, size);
    }

    bool OverlappedResult(HidFile& file, THidOverlapped& overlapped,
                          std::uint32_t& bytes) override {
        (void)overlapped;
        DWORD count = 0;
        const bool ok = AsWin32(file).ReadResult(count);
        bytes = ok ? count : 0;
        return ok;
    }

    bool CancelIo(HidFile& file) override { return AsWin32(file).Cancel(); }

    THidWaitResult SleepAlertable(std::uint32_t milliseconds) override {
        return SleepEx(milliseconds, TRUE) == WAIT_IO_COMPLETION ? THidWaitResult::IoCompletion
                                                                 : THidWaitResult::Timeout;
    }

    std::unique_ptr<HidNotifyWindow> CreateNotifyWindow(THidDeviceChangeHandler handler,
                                                        bool usbInterfaces) override {
        auto window = std::make_unique<Win32NotifyWindow>(std::move(handler));
        if (!window->Create(usbInterfaces))
            return nullptr;
        return window;
    }

    std::uint32_t LastError() override { return GetLastError(); }

    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

    void RaiseCurrentThreadPriority() override { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

    void SetCurrentThreadName(const std::wstring& name) override {
        // Windows 10 1607 and later; older systems simply keep the thread unnamed.
        using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
        static const auto setDescription = reinterpret_cast<TSetThreadDescription>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                   "SetThreadDescription")));
        if (setDescription)
            setDescription(GetCurrentThread(), name.c_str());
    }
};

}  // namespace

std::unique_ptr<HidPlatform> CreateWin32HidPlatform() {
    return std::make_unique<Win32HidPlatform>();
}

int Win32HidLibraryUsers() {
    TLibraries& l = Libraries();
    std::lock_guard<std::mutex> guard(l.Lock);
    return l.Users;
}

void* Win32NotifyWindowHandle(HidNotifyWindow& window) {
    return static_cast<Win32NotifyWindow&>(window).Window();
}
