// The HID transport end to end on the Windows back end, under Wine, whose virtual HID mouse
// and keyboard (vendor 0x845E) are real HID interfaces: device objects, the controller's
// passes from its hidden windows, read threads that start and stop.
#ifdef _WIN32

#include "HidPlatformWin32.h"
#include "HidTestSupport.h"
#include "JvHidDevice.h"
#include "JvHidDeviceController.h"
#include "MainThread.h"
#include "uUSB.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr std::uint16_t kWineVendor = 0x845E;
constexpr wchar_t kReadThreadName[] = L"TJvHidDeviceReadThread";

class HidControllerWin32 : public HidTest {
protected:
    void SetUp() override {
        HidTest::SetUp();
        Platform = CreateWin32HidPlatform();
    }
    void TearDown() override {
        HidTest::TearDown();
        EXPECT_EQ(Win32HidLibraryUsers(), 0) << "the HID libraries were not released";
    }

    static bool IsWine(const TJvHidDevice* d) { return d->Attributes().VendorID == kWineVendor; }

    std::unique_ptr<HidPlatform> Platform;
};

// Threads of this process that carry `name`, through the platform's thread descriptions.
int ThreadsNamed(const std::wstring& name) {
    using TGetThreadDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    const auto getDescription = reinterpret_cast<TGetThreadDescription>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    if (!getDescription)
        return -1;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        PWSTR description = nullptr;
        if (SUCCEEDED(getDescription(thread, &description)) && description) {
            if (name == description)
                ++count;
            LocalFree(description);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}

// The hidden windows of the HID layer on this thread.
std::vector<HWND> NotifyWindows() {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wstring(name) == L"LumetraHidNotifyWindow")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST_F(HidControllerWin32, DeviceObjectsReadIdentityAndCapabilitiesOfWinesDevices) {
    TJvHidDeviceController controller(*Platform);
    ASSERT_TRUE(controller.HidAvailable());
    controller.DeviceChange();

    struct Expected { std::uint16_t Product; std::uint16_t Usage; };
    const Expected cases[] = {{0x0001, 0x02 /* mouse */}, {0x0002, 0x06 /* keyboard */}};
    std::vector<TJvHidDevice*> wine;
    TJvHidDevice* device = nullptr;
    while (controller.CheckOut(device))
        if (IsWine(device))
            wine.push_back(device);
    ASSERT_EQ(wine.size(), 2u);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Product);
        TJvHidDevice* d = nullptr;
        for (TJvHidDevice* w : wine)
            if (w->Attributes().ProductID == c.Product)
                d = w;
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->HasReadWriteAccess());
        EXPECT_FALSE(d->IsFileOpen()) << "a device holds no handle between queries";
        EXPECT_FALSE(d->ProductName().empty());
        EXPECT_FALSE(d->IsFileOpen());
        const THIDPCaps caps = d->Caps();
        EXPECT_EQ(caps.UsagePage, 0x01);
        EXPECT_EQ(caps.Usage, c.Usage);
        EXPECT_GT(caps.InputReportByteLength, 1);
        EXPECT_FALSE(d->HasReadThread()) << "no data handler, no thread";
        EXPECT_FALSE(d->PnPInfo()->DevicePath().empty());
    }
}

TEST_F(HidControllerWin32, StartUpAnnouncesWinesDevicesAndTheirThreadsStopWithTheController) {
    auto wrapper = std::make_unique<TqvHIDController>(*Platform);
    std::vector<std::pair<std::uint16_t, DWORD>> plugged;  // product id, thread
    std::vector<TqvHIDDevice*> announced;
    std::atomic<int> dataErrors{0};
    wrapper->SetOnPlugged([&](TqvHIDDevice* d) {
        announced.push_back(d);
        if (d->Device->Attributes().VendorID == kWineVendor)
            plugged.emplace_back(d->Device->Attributes().ProductID, GetCurrentThreadId());
    });
    wrapper->SetOnUnPlugged([&](TqvHIDDevice*) { ADD_FAILURE() << "nothing was pulled"; });
    wrapper->SetOnDeviceData([](TJvHidDevice*, std::uint8_t, const void*, std::uint16_t) {});
    wrapper->JvController().SetOnDeviceDataError([&](TJvHidDevice*, std::uint32_t) { ++dataErrors; });

    wrapper->CheckChanged(true);
    ASSERT_EQ(plugged.size(), 2u);
    EXPECT_EQ((std::set<std::uint16_t>{plugged[0].first, plugged[1].first}),
              (std::set<std::uint16_t>{0x0001, 0x0002}));
    for (const auto& p : plugged)
        EXPECT_EQ(p.second, GetCurrentThreadId());
    for (TqvHIDDevice* d : announced)
        EXPECT_EQ(d->Device->HasReadThread(), d->Device->HasReadWriteAccess());

    // The reads start for real: a read that could not start would report an error about
    // every 100 ms.
    PumpFor(std::chrono::milliseconds(400));
    EXPECT_EQ(dataErrors, 0);
    // -1: the platform cannot tell thread names (older than Windows 10 1607).
    const int named = ThreadsNamed(kReadThreadName);
    if (named >= 0) {
        EXPECT_GE(named, 2) << "read threads carry their class name";
    }

    // Nothing new: a second pass announces nothing.
    plugged.clear();
    wrapper->CheckChanged(true);
    EXPECT_TRUE(plugged.empty());

    wrapper.reset();  // stops every read thread and releases the libraries
    EXPECT_EQ(Win32HidLibraryUsers(), 0);
    if (named >= 0) {
        EXPECT_EQ(ThreadsNamed(kReadThreadName), 0);
    }
}

TEST_F(HidControllerWin32, DeviceChangesReachBothHiddenWindowsAndRunTheirPassesOnTheMainThread) {
    TqvHIDController wrapper(*Platform);
    std::vector<DWORD> plugged;
    wrapper.SetOnPlugged([&](TqvHIDDevice* d) {
        if (d->Device->Attributes().VendorID == kWineVendor)
            plugged.push_back(GetCurrentThreadId());
    });
    EXPECT_TRUE(wrapper.JvController().List().empty()) << "creation enumerates nothing";

    // The inner controller posted itself a "device nodes changed" at creation: its pass
    // runs once the main thread serves its messages, and lists without announcing.
    ASSERT_TRUE(PumpUntil([&] { return wrapper.JvController().List().size() >= 2; }));
    EXPECT_TRUE(plugged.empty());

    // A USB arrival as the platform sends it, from another thread, to the hidden windows:
    // the USB window runs a wrapper pass, which checks out and announces Wine's devices.
    const std::vector<HWND> windows = NotifyWindows();
    ASSERT_EQ(windows.size(), 2u);
    std::atomic<bool> sent{false};
    std::thread platform([&] {
        DEV_BROADCAST_DEVICEINTERFACE_W arrival = {};
        arrival.dbcc_size = sizeof(arrival);
        arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        for (HWND w : windows)
            SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
        PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        sent = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return sent.load() && plugged.size() == 2; }));
    platform.join();
    MainThread::ProcessMessages();  // the broadcast pass finds nothing new
    for (DWORD t : plugged)
        EXPECT_EQ(t, GetCurrentThreadId());
    EXPECT_EQ(plugged.size(), 2u);
    EXPECT_TRUE(Shown.empty());
}

}  // namespace

#endif  // _WIN32
