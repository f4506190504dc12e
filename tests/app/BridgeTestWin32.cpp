// The bridge against real top-level windows of the Windows desktop.

#include "BridgeTestSupport.h"
#include "DesktopWindows.h"
#include "uLumetraMain.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using bridgetest::Record;
using bridgetest::WatchedWindow;
using Labels = std::vector<std::wstring>;

constexpr wchar_t kTestWindowClass[] = L"LumetraBridgeTestWindow";

void RegisterTestClass(WNDPROC proc) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTestWindowClass;
    RegisterClassExW(&wc);
}

// A top-level window of this thread, destroyed with its holder.
class TestWindow {
public:
    TestWindow(const std::wstring& title, bool visible) {
        RegisterTestClass(DefWindowProcW);
        FWindow = CreateWindowExW(0, kTestWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                                  10, 10, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() { DestroyWindow(FWindow); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND Get() const { return FWindow; }
    TWindowHandle Handle() const { return reinterpret_cast<TWindowHandle>(FWindow); }
    void ToTop() const { SetWindowPos(FWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }

private:
    HWND FWindow = nullptr;
};

std::wstring Unique(const std::wstring& text) { return text + L" " + std::to_wstring(GetCurrentProcessId()); }

// Every case that shows a window starting with "VANTO3" lives in this one test: the desktop
// is shared with test processes running beside it, and the search looks at all of it.
TEST(BridgeWin32, FindsTheTimingSoftwareAmongRealWindows) {
    WatchedWindow w(PlatformDesktopWindows());
    TfrmMain& form = w.Form;

    {
        TestWindow lower(Unique(L"vanto3 - a - b > c"), true);
        ASSERT_NE(lower.Get(), nullptr);
        form.TimerFindVantoTimer(nullptr);
        EXPECT_EQ(form.FTrouveVanto, 1);
        EXPECT_EQ(form.FHandleVanto, lower.Handle());
        EXPECT_EQ(w.Labels(), Labels({L"a", L"b", Unique(L"c")}));
        EXPECT_EQ(w.Events.at(1), L"active 1");
        EXPECT_EQ(w.Events.at(2), L"log TimerFindVanto|Vanto trouv\u00e9 : " + std::to_wstring(lower.Handle()));

        ShowWindow(lower.Get(), SW_HIDE);
        form.TimerFindVantoTimer(nullptr);
        EXPECT_EQ(form.FTrouveVanto, 0) << "a hidden window is not the timing software";
        EXPECT_EQ(w.Labels(), Labels({L"", L"", L""}));
    }
    {
        TestWindow fiveLetters(L"VANTO", true);
        form.TimerFindVantoTimer(nullptr);
        EXPECT_EQ(form.FTrouveVanto, 0);
    }
    {
        TestWindow first(Unique(L"VANTO3 - first"), true);
        TestWindow second(Unique(L"VANTO3 - second"), true);
        first.ToTop();
        form.TimerFindVantoTimer(nullptr);
        EXPECT_EQ(form.FListChercheVanto, std::vector<std::wstring>{Unique(L"VANTO3 - second")})
            << "the window lower in z-order wins";
        EXPECT_EQ(form.FHandleVanto, second.Handle());
        second.ToTop();
        form.TimerFindVantoTimer(nullptr);
        EXPECT_EQ(form.FListChercheVanto, std::vector<std::wstring>{Unique(L"VANTO3 - first")});
        EXPECT_EQ(form.FHandleVanto, first.Handle());
    }
    {
        const std::wstring race = L"Race " + std::wstring(300, L'x');
        TestWindow longTitle(L"VANTO3 - Event - Folder > " + race, true);
        wchar_t probe[400] = {};
        ASSERT_GT(GetWindowTextW(longTitle.Get(), probe, 400), 254) << "the platform keeps long titles";
        form.TimerFindVantoTimer(nullptr);
        ASSERT_EQ(form.FTrouveVanto, 1);
        EXPECT_EQ(form.FListChercheVanto.at(0).size(), 254u);
        w.Events.clear();
        w.Press(0);
        // The cut title matches no window; the window the search recorded takes the key.
        EXPECT_EQ(w.Events, Record({L"log SendMessage|Handle=" + std::to_wstring(longTitle.Handle()) + L" wParam=116"}));
        const std::wstring cutRace = race.substr(0, 254 - std::wstring(L"VANTO3 - Event - Folder > ").size());
        EXPECT_EQ(w.Labels(), Labels({L"Event", L"Folder", cutRace})) << "the labels still show the parsed texts";
    }
}

// What a window of another thread receives, kept by that thread's window procedure.
struct Received {
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    friend bool operator==(const Received&, const Received&) = default;
};
std::mutex receivedLock;
std::vector<Received> received;

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_DEADCHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case WM_SETFOCUS:
    case WM_ACTIVATE: {
        std::lock_guard<std::mutex> guard(receivedLock);
        received.push_back({message, wParam, lParam});
        break;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(BridgeWin32, AWindowOfAnotherThreadReceivesOneKeyDownPerPress) {
    // Hidden, so that no search beside this test takes it for the timing software; the
    // look-up by title finds hidden windows as well.
    const std::wstring title = Unique(L"VANTO3 - keys");
    std::promise<HWND> made;
    std::thread receiver([&] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ReceiverProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"LumetraBridgeKeyReceiver";
        RegisterClassExW(&wc);
        HWND window = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                      nullptr, nullptr, wc.hInstance, nullptr);
        made.set_value(window);
        if (!window)
            return;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    });
    HWND window = made.get_future().get();
    ASSERT_NE(window, nullptr);

    WatchedWindow w(PlatformDesktopWindows());
    w.Form.FListChercheVanto = {title};
    for (int key = 0; key <= 6; ++key)
        w.Press(key);

    PostMessageW(window, WM_CLOSE, 0, 0);
    receiver.join();

    const std::wstring handle = std::to_wstring(reinterpret_cast<TWindowHandle>(window));
    Record expectedLog;
    std::vector<Received> expected;
    for (unsigned key : VantoKeyMap) {
        expectedLog.push_back(L"log SendMessage|Handle=" + handle + L" wParam=" + std::to_wstring(key));
        expected.push_back({WM_KEYDOWN, key, 0});
    }
    EXPECT_EQ(w.Events, expectedLog);
    std::lock_guard<std::mutex> guard(receivedLock);
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(received[i].Message, expected[i].Message) << i;
        EXPECT_EQ(received[i].WParam, expected[i].WParam) << i;
        EXPECT_EQ(received[i].LParam, expected[i].LParam) << i;
    }
}

// Runs the thread's messages until `done` holds or a generous time has passed.
template <typename Done>
bool PumpUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

std::wstring TextOf(TWindowHandle control) {
    wchar_t text[256] = {};
    GetWindowTextW(reinterpret_cast<HWND>(control), text, 256);
    return text;
}

TEST(BridgeWin32, TheWindowShowsTheLabelsAndTicksOnItsTimer) {
    bridgetest::Record record;
    bridgetest::RecordingSDList list(record);
    TfrmMain form(TfrmMainServices{nullptr, &list});
    form.CreateWnd();
    ASSERT_NE(form.Peer(), nullptr);
    ASSERT_NE(form.Peer()->Handle(), 0u);
    EXPECT_FALSE(form.Peer()->Visible());

    EXPECT_EQ(TextOf(form.Peer()->ComponentHandle(form.gbVanto)), L"Vanto V3");
    EXPECT_EQ(TextOf(form.Peer()->ComponentHandle(form.lblFolderCaption)), L"Folder");
    form.lblEpreuve.SetCaption(L"Marathon & co");
    EXPECT_EQ(TextOf(form.Peer()->ComponentHandle(form.lblEpreuve)), L"Marathon & co");
    form.ClearRaceLabels();
    EXPECT_EQ(TextOf(form.Peer()->ComponentHandle(form.lblEpreuve)), L"");

    // The tray takes every status; nothing may fail without a taskbar to show it.
    form.UpdateStatus();
    EXPECT_EQ(form.TrayIcon1.Hint(), bridgetest::ControlBoxOnlyHint);

    int ticks = 0;
    form.TimerFindVanto.OnTimer = [&](void* Sender) {
        ++ticks;
        form.TimerFindVantoTimer(Sender);
    };
    MainThread::Initialize();
    form.TimerFindVanto.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; })) << "the system timer drives the search";
    form.TimerFindVanto.SetEnabled(false);

    form.Peer()->Show();
    EXPECT_TRUE(form.Peer()->Visible());
    SendMessageW(reinterpret_cast<HWND>(form.Peer()->Handle()), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(form.Peer()->Handle()))) << "closing only hides the window";
    EXPECT_FALSE(form.Peer()->Visible());
}

}  // namespace
