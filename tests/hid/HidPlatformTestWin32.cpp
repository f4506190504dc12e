// The Windows HID back end against the real platform under Wine, which offers a virtual HID
// mouse and keyboard of its own (vendor 0x845E, products 0x0001 and 0x0002).
#ifdef _WIN32

#include "HidPlatformWin32.h"
#include "HidTestSupport.h"
#include "MainThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint16_t kWineVendor = 0x845E;

class HidPlatformWin32 : public HidTest {
protected:
    void SetUp() override {
        HidTest::SetUp();
        Platform = CreateWin32HidPlatform();
    }

    // Wine's own HID interfaces, by product id, with their paths.
    std::map<std::uint16_t, std::wstring> WineInterfaces() {
        std::map<std::uint16_t, std::wstring> found;
        std::vector<THidInterface> interfaces;
        EXPECT_TRUE(Platform->Enumerate(interfaces));
        for (const auto& i : interfaces) {
            HidFilePtr file = Platform->Open(i.Path, THidOpenKind::NoAccess);
            if (!file)
                continue;
            THIDDAttributes a;
            a.Size = 12;
            if (Platform->GetAttributes(*file, a) && a.VendorID == kWineVendor)
                found[a.ProductID] = i.Path;
        }
        return found;
    }

    std::unique_ptr<HidPlatform> Platform;
};

// Holds the libraries for the length of a test.
struct TAcquired {
    explicit TAcquired(HidPlatform& p) : Platform(p), Ok(p.Acquire()) {}
    ~TAcquired() {
        if (Ok)
            Platform.Release();
    }
    HidPlatform& Platform;
    bool Ok;
};

TEST_F(HidPlatformWin32, LibrariesAreCountedAndTheLastUserUnloadsThem) {
    ASSERT_EQ(Win32HidLibraryUsers(), 0);
    std::vector<THidInterface> interfaces{THidInterface{L"left over", 1}};
    EXPECT_FALSE(Platform->Enumerate(interfaces)) << "nothing is loaded yet";
    EXPECT_TRUE(interfaces.empty());

    ASSERT_TRUE(Platform->Acquire());
    auto other = CreateWin32HidPlatform();  // the libraries are the process's, not one object's
    ASSERT_TRUE(other->Acquire());
    EXPECT_EQ(Win32HidLibraryUsers(), 2);
    EXPECT_NE(GetModuleHandleW(L"hid.dll"), nullptr);
    other->Release();
    EXPECT_EQ(Win32HidLibraryUsers(), 1);
    EXPECT_TRUE(Platform->Enumerate(interfaces));

    // A parsed descriptor keeps hid.dll until it is freed, even past the last Release.
    const auto wine = WineInterfaces();
    ASSERT_FALSE(wine.empty());
    HidFilePtr file = Platform->Open(wine.begin()->second, THidOpenKind::NoAccess);
    ASSERT_TRUE(file);
    HidPreparsedDataPtr parsed = Platform->GetPreparsedData(*file);
    ASSERT_TRUE(parsed);
    Platform->Release();
    EXPECT_EQ(Win32HidLibraryUsers(), 1);
    THIDPCaps caps;
    EXPECT_TRUE(Platform->GetCaps(*parsed, caps));
    parsed.reset();
    EXPECT_EQ(Win32HidLibraryUsers(), 0);
    EXPECT_EQ(GetModuleHandleW(L"hid.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"setupapi.dll"), nullptr);

    Platform->Release();  // unmatched: changes nothing
    EXPECT_EQ(Win32HidLibraryUsers(), 0);
    THIDDAttributes a;
    a.Size = 12;
    EXPECT_FALSE(Platform->GetAttributes(*file, a)) << "no HID library without a user";
}

TEST_F(HidPlatformWin32, EnumeratesAndIdentifiesWinesMouseAndKeyboard) {
    TAcquired held(*Platform);
    ASSERT_TRUE(held.Ok);
    std::vector<THidInterface> first, second;
    ASSERT_TRUE(Platform->Enumerate(first));
    ASSERT_TRUE(Platform->Enumerate(second));
    ASSERT_GE(first.size(), 2u);
    // Paths come without padding or a terminating NUL, and the same device keeps its
    // device-instance number from one enumeration to the next.
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].Path, second[i].Path);
        EXPECT_EQ(first[i].DevInst, second[i].DevInst);
        EXPECT_EQ(first[i].Path.find(L'\0'), std::wstring::npos);
        EXPECT_EQ(first[i].Path.rfind(L"\\\\?\\", 0), 0u) << "not a device path";
    }
    std::set<std::uint32_t> instances;
    for (const auto& i : first)
        instances.insert(i.DevInst);
    EXPECT_GE(instances.size(), 2u) << "the mouse and the keyboard are different devices";

    struct Expected { std::uint16_t Product; std::uint16_t Usage; };
    const Expected cases[] = {{0x0001, 0x02 /* mouse */}, {0x0002, 0x06 /* keyboard */}};
    const auto wine = WineInterfaces();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Product);
        ASSERT_EQ(wine.count(c.Product), 1u);
        HidFilePtr file = Platform->Open(wine.at(c.Product), THidOpenKind::ReadWrite);
        ASSERT_TRUE(file) << "Wine's devices open with read and write access";

        THIDDAttributes a;
        a.Size = 12;
        ASSERT_TRUE(Platform->GetAttributes(*file, a));
        EXPECT_EQ(a.VendorID, kWineVendor);
        EXPECT_EQ(a.ProductID, c.Product);

        std::uint16_t text[254] = {};
        ASSERT_TRUE(Platform->GetString(*file, THidStringKind::Product, text, sizeof(text)));
        EXPECT_NE(text[0], 0) << "an empty product string";

        HidPreparsedDataPtr parsed = Platform->GetPreparsedData(*file);
        ASSERT_TRUE(parsed);
        THIDPCaps caps;
        ASSERT_TRUE(Platform->GetCaps(*parsed, caps));
        EXPECT_EQ(caps.UsagePage, 0x01);
        EXPECT_EQ(caps.Usage, c.Usage);
        EXPECT_GT(caps.InputReportByteLength, 1);
    }
}

TEST_F(HidPlatformWin32, OpenKindsAndRefusedPaths) {
    TAcquired held(*Platform);
    const auto wine = WineInterfaces();
    ASSERT_EQ(wine.count(1), 1u);
    for (THidOpenKind kind : {THidOpenKind::ReadWrite, THidOpenKind::NoAccess,
                              THidOpenKind::OverlappedRead, THidOpenKind::OverlappedWrite}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_TRUE(Platform->Open(wine.at(1), kind));
    }
    // Several handles on one device at once, as the device object keeps them.
    HidFilePtr a = Platform->Open(wine.at(1), THidOpenKind::ReadWrite);
    HidFilePtr b = Platform->Open(wine.at(1), THidOpenKind::OverlappedRead);
    EXPECT_TRUE(a && b);

    EXPECT_FALSE(Platform->Open(L"\\\\?\\hid#vid_0000&pid_0000#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                THidOpenKind::ReadWrite));
    EXPECT_NE(Platform->LastError(), 0u);
    EXPECT_FALSE(Platform->Open(L"", THidOpenKind::NoAccess));

    // A blocking write needs a synchronous handle; an asynchronous read an asynchronous one.
    std::uint8_t report[64] = {};
    std::uint32_t written = 99;
    EXPECT_FALSE(Platform->Write(*b, report, sizeof(report), written));
    EXPECT_EQ(written, 0u);
    THidOverlapped ov;
    EXPECT_FALSE(Platform->ReadEx(*a, ov, report, sizeof(report)));
}

TEST_F(HidPlatformWin32, AsynchronousReadEndsOnCancelAndOnClose) {
    TAcquired held(*Platform);
    const auto wine = WineInterfaces();
    ASSERT_EQ(wine.count(1), 1u);
    HidFilePtr file = Platform->Open(wine.at(1), THidOpenKind::OverlappedRead);
    ASSERT_TRUE(file);
    std::vector<std::uint8_t> buffer(64);
    THidOverlapped ov;
    std::uint32_t bytes = 7;

    // Nobody moves Wine's virtual mouse: the read stays outstanding.
    ASSERT_TRUE(Platform->ReadEx(*file, ov, buffer.data(), 64));
    EXPECT_EQ(Platform->SleepAlertable(30), THidWaitResult::Timeout);
    EXPECT_FALSE(Platform->OverlappedResult(*file, ov, bytes));
    EXPECT_EQ(bytes, 0u);
    EXPECT_FALSE(Platform->ReadEx(*file, ov, buffer.data(), 64)) << "one read at a time";

    // A cancelled read has ended when CancelIo returns; its completion wakes the next wait.
    EXPECT_TRUE(Platform->CancelIo(*file));
    EXPECT_EQ(Platform->SleepAlertable(1000), THidWaitResult::IoCompletion);
    EXPECT_FALSE(Platform->OverlappedResult(*file, ov, bytes));
    EXPECT_TRUE(Platform->CancelIo(*file)) << "nothing outstanding is not a failure";

    // Closing the handle ends the read too, even when another thread closes it.
    ASSERT_TRUE(Platform->ReadEx(*file, ov, buffer.data(), 64));
    std::thread closer([&file] { file.reset(); });
    closer.join();
    EXPECT_EQ(Platform->SleepAlertable(1000), THidWaitResult::IoCompletion);
}

TEST_F(HidPlatformWin32, NotifyWindowHandsDeviceChangesToTheMainThread) {
    struct Notice { std::uint32_t Event, Type; DWORD Thread; std::wstring Name; };
    std::vector<Notice> got;
    auto window = Platform->CreateNotifyWindow(
        [&](std::uint32_t e, std::uint32_t t, const std::wstring& name) { got.push_back({e, t, GetCurrentThreadId(), name}); },
        true);
    ASSERT_TRUE(window);
    HWND hwnd = static_cast<HWND>(Win32NotifyWindowHandle(*window));
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow()) << "must be top-level";
    EXPECT_FALSE(IsWindowVisible(hwnd));

    window->PostDeviceChange(DBT_DEVNODES_CHANGED_);
    EXPECT_TRUE(got.empty()) << "posted, not run at once";
    std::thread([&] { window->PostDeviceChange(DBT_DEVICEARRIVAL_); }).join();
    MainThread::ProcessMessages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Event, DBT_DEVNODES_CHANGED_);
    EXPECT_EQ(got[0].Type, kNoDeviceHeader);
    EXPECT_EQ(got[1].Event, DBT_DEVICEARRIVAL_);
    EXPECT_EQ(got[1].Type, kNoDeviceHeader);
    for (const auto& n : got)
        EXPECT_EQ(n.Thread, GetCurrentThreadId());

    // What the platform sends: a header for arrivals and removals; a broadcast for nodes.
    got.clear();
    DEV_BROADCAST_HDR header = {};
    header.dbch_size = sizeof(header);
    header.dbch_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&header));
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1);  // no header behind -1
    PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    PumpUntil([&] { return got.size() >= 3; });
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].Event, DBT_DEVICEREMOVECOMPLETE_);
    EXPECT_EQ(got[0].Type, DBT_DEVTYP_DEVICEINTERFACE_);
    EXPECT_EQ(got[1].Type, kNoDeviceHeader);
    EXPECT_EQ(got[2].Event, DBT_DEVNODES_CHANGED_);
    EXPECT_EQ(got[0].Name, L"") << "a header too short to carry a name";

    // An interface notice names its device; the name is read no further than dbcc_size.
    const std::wstring name = L"\\\\?\\HID#VID_0FD9&PID_0063#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::vector<std::uint8_t> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + (name.size() + 8) * sizeof(wchar_t), 0xAB);
    auto* named = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    named->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    named->dbcc_reserved = 0;
    std::copy(name.begin(), name.end(), named->dbcc_name);
    named->dbcc_name[name.size()] = L'\0';
    named->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t));
    got.clear();
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(named));
    named->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 4 * sizeof(wchar_t));
    SendMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(named));  // cut at 4 units
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Name, name);
    EXPECT_EQ(got[1].Name, name.substr(0, 4));
    got.resize(3);

    // A destroyed window hears nothing more.
    window->PostDeviceChange(DBT_DEVNODES_CHANGED_);
    window.reset();
    MainThread::ProcessMessages();
    EXPECT_EQ(got.size(), 3u);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(HidPlatformWin32, HandlerErrorsGoToTheDefaultHandlerAndAHandlerMayDestroyItsWindow) {
    std::unique_ptr<HidNotifyWindow> window;
    int calls = 0;
    window = Platform->CreateNotifyWindow(
        [&](std::uint32_t event, std::uint32_t, const std::wstring&) {
            ++calls;
            if (event == DBT_DEVNODES_CHANGED_)
                throw std::runtime_error("pass failed");
            window.reset();  // e.g. the owner is torn down from inside its own notice
        },
        false);
    ASSERT_TRUE(window);
    window->PostDeviceChange(DBT_DEVNODES_CHANGED_);
    MainThread::ProcessMessages();
    EXPECT_EQ(Shown, std::vector<std::wstring>{L"pass failed"});
    window->PostDeviceChange(DBT_DEVICEARRIVAL_);
    MainThread::ProcessMessages();
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(window);
}

}  // namespace

#endif  // _WIN32
