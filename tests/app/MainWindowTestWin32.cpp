// The real main window under Wine: its controls read back through Win32 (tabs, list-view
// items, toolbar states, track bar, status bar parts and texts), the close box, Quit, the
// single-instance rule, the version text and a picture of the window. One file, longer
// than most: the cases share the fixture that starts and reads back the real window.

#include "MainWindowTestSupport.h"

#include "AppShell.h"
#include "Application.h"
#include "Exceptions.h"
#include "FileFacts.h"
#include "LumetraProgram.h"
#include "PngImage.h"
#include "ProcessInfo.h"
#include "ScriptedDesktopWindows.h"
#include "TextUtils.h"
#include "uLumetraMainControlsWin32.h"
#include "VirtualHidBus.h"
#include "VrRunOnce.h"
#include "ProcessInfo.h"
#include "StoreUnderTest.h"
#include "uLogs.h"
#include "ChildProcessWin32.h"
#include "WholeFile.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using namespace mainwindowtest;

HWND MainHandle(TfrmMain& form) { return reinterpret_cast<HWND>(form.Peer()->Handle()); }

HWND ChildOfClass(HWND parent, const wchar_t* windowClass) {
    return FindWindowExW(parent, nullptr, windowClass, nullptr);
}

std::wstring ListViewText(HWND list, int item, int column) {
    wchar_t buffer[256] = L"";
    ListView_GetItemText(list, item, column, buffer, 256);
    return buffer;
}

std::wstring HeaderText(HWND list, int column) {
    wchar_t buffer[64] = L"";
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT;
    info.pszText = buffer;
    info.cchTextMax = 64;
    ListView_GetColumn(list, column, &info);
    return buffer;
}

std::wstring StatusText(HWND status, int part) {
    wchar_t buffer[256] = L"";
    SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring CurrentTabText(HWND tabs) {
    wchar_t buffer[64] = L"";
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 64;
    TabCtrl_GetItem(tabs, TabCtrl_GetCurSel(tabs), &item);
    return buffer;
}

void Pump() {
    for (int i = 0; i < 5; ++i) {
        MainThread::ProcessMessages();
        Sleep(10);
    }
}

// The toolbar button showing `caption`'s action: its command id and whether it is enabled.
struct ToolButton {
    int Command = 0;
    bool Enabled = false;
};

ToolButton ToolBarButton(HWND toolbar, int index) {
    TBBUTTON button = {};
    SendMessageW(toolbar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&button));
    return {button.idCommand, SendMessageW(toolbar, TB_ISBUTTONENABLED, button.idCommand, 0) != 0};
}

class RealWindow : public ::testing::Test {
protected:
    void Start(std::vector<std::wstring> plugged, const std::wstring& storedDefault = L"") {
        InstallMessageBoxErrorHandler();
        Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
        if (!storedDefault.empty())
            Env.StoreDefault(storedDefault);
        Form = StartMainWindow(Env.Services(Desktop, std::move(plugged)), Bus, Title);
        ASSERT_NE(Form->Peer(), nullptr);
        Window = MainHandle(*Form);
        Tabs = ChildOfClass(Window, WC_TABCONTROLW);
        Grid = ChildOfClass(Window, WC_LISTVIEWW);
        ToolBar = ChildOfClass(Window, TOOLBARCLASSNAMEW);
        TrackBar = ChildOfClass(Window, TRACKBAR_CLASSW);
        Status = ChildOfClass(Window, STATUSCLASSNAMEW);
        Pump();
    }
    void TearDown() override {
        EndMainWindow(std::move(Form));
        Application::SetMessageShower(nullptr);
    }
    void SelectItem(int item) {
        ListView_SetItemState(Grid, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Pump();
    }
    void Command(int id) {
        SendMessageW(Window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        Pump();
    }

    const std::wstring Title = UniqueTitle();
    static std::wstring UniqueTitle() { return L"Lumetratest" + std::to_wstring(GetCurrentProcessId()); }

    Environment Env;
    ScriptedDesktopWindows Desktop;
    VirtualHidBus Bus;
    std::unique_ptr<TfrmMain> Form;
    std::vector<std::wstring> Shown;
    HWND Window = nullptr, Tabs = nullptr, Grid = nullptr, ToolBar = nullptr, TrackBar = nullptr, Status = nullptr;
};

TEST_F(RealWindow, WithoutTheDefaultTheWindowShowsControlBoxes) {
    Start({L"AL12"});
    EXPECT_TRUE(Shown.empty()) << WideToUtf8(Shown.empty() ? L"" : Shown[0]);
    EXPECT_TRUE(IsWindowVisible(Window));
    ASSERT_TRUE(Tabs && Grid && ToolBar && TrackBar && Status);
    EXPECT_EQ(TabCtrl_GetItemCount(Tabs), 2);  // the key pictures page has no tab
    EXPECT_EQ(CurrentTabText(Tabs), L"Control Boxes");
    EXPECT_TRUE(IsWindowVisible(Grid));
    EXPECT_FALSE(IsWindowVisible(TrackBar));

    wchar_t caption[64] = L"";
    GetWindowTextW(Window, caption, 64);
    EXPECT_STREQ(caption, L"Lumetra Control Box");
    RECT client;
    GetClientRect(Window, &client);
    EXPECT_EQ(client.right, 312);
    EXPECT_EQ(client.bottom, 255);

    EXPECT_EQ(HeaderText(Grid, 0), L"Model");
    EXPECT_EQ(HeaderText(Grid, 1), L"Serial");
    EXPECT_EQ(HeaderText(Grid, 2), L"Def");
    EXPECT_EQ(ListView_GetColumnWidth(Grid, 0), 102);
    EXPECT_EQ(ListView_GetColumnWidth(Grid, 1), 134);
    EXPECT_EQ(ListView_GetColumnWidth(Grid, 2), 26);
    const DWORD extended = ListView_GetExtendedListViewStyle(Grid);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    ASSERT_EQ(ListView_GetItemCount(Grid), 1);
    EXPECT_EQ(ListViewText(Grid, 0, 0), L"Stream Deck Mini");
    EXPECT_EQ(ListViewText(Grid, 0, 1), L"AL12");

    // Track bar: 0 to 100, position 50, disabled without a current control box.
    EXPECT_EQ(SendMessageW(TrackBar, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageW(TrackBar, TBM_GETRANGEMAX, 0, 0), 100);
    EXPECT_EQ(SendMessageW(TrackBar, TBM_GETPOS, 0, 0), 50);
    EXPECT_FALSE(IsWindowEnabled(TrackBar));

    // Status bar: the version text (none for this executable path), an emptied panel 1.
    EXPECT_EQ(SendMessageW(Status, SB_GETPARTS, 0, 0), 4);
    EXPECT_EQ(StatusText(Status, 0), L"");
    EXPECT_EQ(StatusText(Status, 1), L"");
}

TEST_F(RealWindow, WithTheDefaultTheWindowStaysHiddenAndTheKeysArePainted) {
    Start({L"AL12"}, L"AL12");
    EXPECT_FALSE(IsWindowVisible(Window));
    EXPECT_TRUE(IsWindowEnabled(TrackBar));
    EXPECT_NE(std::find(Env.Events.begin(), Env.Events.end(), L"default pictures"), Env.Events.end());
    EXPECT_EQ(Env.List->DefaultBitmaps.size(), 6u);
    // The default pictures come from the executable's resources.
    for (const Bitmap24* picture : Env.List->DefaultBitmaps) {
        EXPECT_EQ(picture->Width(), 80);
        EXPECT_EQ(picture->Height(), 80);
    }
}

TEST_F(RealWindow, SetAsDefaultAndClearDefaultFromTheToolbar) {
    Start({L"AL12", L"CL34"});
    ASSERT_EQ(ListView_GetItemCount(Grid), 2);
    const ToolButton before = ToolBarButton(ToolBar, 0);
    EXPECT_FALSE(before.Enabled);  // no row selected yet

    SelectItem(1);
    ToolButton setDefault = ToolBarButton(ToolBar, 0);
    ToolButton clearDefault = ToolBarButton(ToolBar, 1);
    EXPECT_TRUE(setDefault.Enabled);
    EXPECT_FALSE(clearDefault.Enabled);
    Command(setDefault.Command);
    EXPECT_EQ(StringOf(Env.Setting(L"DefaultSerial")), L"CL34");
    EXPECT_EQ(Form->TrayIcon1.Hint(), bridgetest::ControlBoxOnlyHint);
    EXPECT_TRUE(IsWindowEnabled(TrackBar));

    SelectItem(1);
    EXPECT_FALSE(ToolBarButton(ToolBar, 0).Enabled);
    clearDefault = ToolBarButton(ToolBar, 1);
    EXPECT_TRUE(clearDefault.Enabled);
    Command(clearDefault.Command);
    EXPECT_EQ(StringOf(Env.Setting(L"DefaultSerial")), L"");
    EXPECT_EQ(StatusText(Status, 1), L"");
    EXPECT_EQ(Form->TrayIcon1.Hint(), bridgetest::NoControlBoxHint);
    EXPECT_FALSE(IsWindowEnabled(TrackBar));

    // The refresh button carries its hint only.
    const ToolButton refresh = ToolBarButton(ToolBar, 3);
    EXPECT_TRUE(refresh.Enabled);
}

TEST_F(RealWindow, RightClickOnTheHeaderOpensNothing) {
    Start({L"AL12"});
    HWND header = ListView_GetHeader(Grid);
    RECT headerRect;
    GetWindowRect(header, &headerRect);
    POINT inHeader = {headerRect.left + 5, headerRect.top + 3};
    ScreenToClient(Grid, &inHeader);
    int popups = 0;
    Form->StringGrid1.PeerPopup = [&](int, int) { ++popups; };
    Form->StringGrid1MouseDown(nullptr, inHeader.x, inHeader.y, true);
    EXPECT_EQ(popups, 0);
    RECT item;
    ListView_GetItemRect(Grid, 0, &item, LVIR_BOUNDS);
    Form->StringGrid1MouseDown(nullptr, item.left + 5, item.top + 3, true);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(Form->StringGrid1.Row, 1);
}

TEST_F(RealWindow, TheTrackBarSendsItsPositionToTheCurrentControlBox) {
    Start({L"AL12"}, L"AL12");
    SendMessageW(TrackBar, TBM_SETPOS, TRUE, 80);
    SendMessageW(Window, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 80), reinterpret_cast<LPARAM>(TrackBar));
    Pump();
    EXPECT_EQ(std::count(Env.Events.begin(), Env.Events.end(), L"brightness 80"), 1);
}

TEST_F(RealWindow, ANarrowWindowGivesPanelTwoNoWidth) {
    Start({});
    auto partWidths = [&] {
        int edges[4] = {};
        SendMessageW(Status, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges));
        return std::vector<int>{edges[0], edges[1] - edges[0], edges[2] - edges[1]};
    };
    EXPECT_EQ(partWidths(), (std::vector<int>{80, 100, Form->Width - 260}));
    SetWindowPos(Window, nullptr, 0, 0, 200, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
    EXPECT_EQ(Form->StatusBar1.Panels[2].Width, 0);
    EXPECT_EQ(partWidths()[2], 0);
}

TEST_F(RealWindow, TheCloseBoxHidesAndTheProgramGoesOn) {
    Start({});
    ASSERT_TRUE(IsWindowVisible(Window));
    SendMessageW(Window, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_TRUE(IsWindow(Window));
    EXPECT_FALSE(IsWindowVisible(Window));
    EXPECT_FALSE(AppShell::Terminated());
    EXPECT_TRUE(Form->TimerFindVanto.Enabled());
    const auto lines = Env.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"FormCloseQuery|"), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), L"FormClose|"), lines.end());

    // A forced close (the update restart) saves the settings and ends the loop.
    Form->FForceClose = true;
    SendMessageW(Window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(AppShell::Terminated());
    const auto after = Env.LogLines();
    EXPECT_EQ(after.back(), L"FormClose|");
}

TEST_F(RealWindow, QuitFromTheTrayMenuEndsWithFormDestroy) {
    Start({L"AL12"}, L"AL12");
    ASSERT_FALSE(IsWindowVisible(Window));
    // The menu's Quit is the action the tray menu carries last.
    Form->actQuitter.Execute();
    EXPECT_TRUE(AppShell::Terminated());
    MSG message;
    bool quitPosted = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message == WM_QUIT)
            quitPosted = true;
    EXPECT_TRUE(quitPosted);
    EndMainWindow(std::move(Form));
    EXPECT_NE(std::find(Env.Events.begin(), Env.Events.end(), L"reset AL12"), Env.Events.end());
    const auto lines = Env.LogLines();
    EXPECT_EQ(lines.back(), L"FormDestroy|");
    EXPECT_EQ(StringOf(Env.LogonEntry()), MainSettings::LogonCommand(Env.ExePath));
}

// The window over the real control box list on the virtual bus: what reaches the box.
TEST_F(RealWindow, OnTheVirtualBusTheDefaultBoxIsPaintedAtStartAndResetOnQuit) {
    Bus.SetInstantSleep(true);
    VirtualHidDevicePtr box = Bus.PlugControlBox(L"VB01");
    Env.StoreDefault(L"VB01");
    InstallMessageBoxErrorHandler();
    Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
    TfrmMainServices services;
    services.Desktop = &Desktop;  // no CreateSDList: the list over the bus
    Form = StartMainWindow(services, Bus, Title);
    Window = MainHandle(*Form);
    Pump();
    EXPECT_TRUE(Shown.empty());
    EXPECT_FALSE(IsWindowVisible(Window));
    ASSERT_NE(Form->FSDListPort, nullptr);
    EXPECT_NE(Form->FSDListPort->CurrentSD(), nullptr);

    auto featureIds = [&] {
        std::vector<int> ids;
        for (const auto& report : box->FeatureReports())
            ids.push_back(report.empty() ? -1 : report[0]);
        return ids;
    };
    // Six keys painted (20 image reports each), no brightness sent at start.
    EXPECT_GE(box->OutputReports().size(), 6u * 20u);
    const auto atStart = featureIds();
    EXPECT_EQ(std::count(atStart.begin(), atStart.end(), 0x05), 0);

    box->ClearReports();
    Form->actQuitter.Execute();
    EndMainWindow(std::move(Form));
    const auto ids = featureIds();
    // FormDestroy resets the box, and freeing the list resets it again.
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0x0B), 2);
    const auto lines = Env.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"FormDestroy|");
}

TEST(VersionText, ComesFromTheExecutablesVersionResource) {
    // This test executable carries the program's resources, version block included.
    MainThread::Initialize();
    ProcessInfo::OverrideExecutablePath(std::nullopt);
    TfrmMain form;
    EXPECT_EQ(form.GetVersionText(), L" Ver " + Utf8ToWide(LUMETRA_PROJECT_VERSION4));
    // A file without a version resource gives no text.
    ProcessInfo::OverrideExecutablePath(L"C:\\windows\\win.ini");
    EXPECT_EQ(form.GetVersionText(), L"");
    ProcessInfo::OverrideExecutablePath(std::nullopt);
}

TEST(SingleInstance, ASecondCopyClearsItsOwnTitleAndRestoresTheFirst) {
    const std::wstring title = L"Lumetrasingle" + std::to_wstring(GetCurrentProcessId());
    TVrRunOnce first;
    ASSERT_TRUE(first.Check(title));
    EXPECT_TRUE(first.HoldsMutex());

    // The first copy's application window, minimised, then the second copy's, newer.
    auto make = [&] {
        return CreateWindowExW(0, L"STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    };
    HWND firstWindow = make();
    ShowWindow(firstWindow, SW_SHOWMINNOACTIVE);
    HWND secondWindow = make();
    ASSERT_EQ(FindWindowW(nullptr, title.c_str()), secondWindow) << "newest window first";

    TVrRunOnce second;
    second.Terminate = false;  // in a test process, report instead of ending
    EXPECT_FALSE(second.Check(title));
    EXPECT_FALSE(second.HoldsMutex());
    wchar_t text[64] = L"?";
    GetWindowTextW(secondWindow, text, 64);
    EXPECT_STREQ(text, L"");
    EXPECT_FALSE(IsIconic(firstWindow));
    DestroyWindow(firstWindow);
    DestroyWindow(secondWindow);
}

// A copy of the real executable under a name of its own, so that its mutex, settings,
// logon entry and trace meet no other test process's; with the update check at start-up
// switched off, so that it never looks for the update server. Whatever happens to the
// test, the copies it started are ended and everything they left is removed.
class TProgramCopy {
public:
    TProgramCopy() {
        std::wstring exe = Utf8ToWide(LUMETRA_CONTROLBOX_EXE);
        // The build tree's path as Wine sees it (the Unix root is drive Z:).
        if (!exe.empty() && exe[0] == L'/') {
            std::replace(exe.begin(), exe.end(), L'/', L'\\');
            exe = L"Z:" + exe;
        }
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        Name = UniqueName(L"LumetraTwice");
        Folder = std::wstring(temp) + Name;
        Exe = Folder + L"\\" + Name + L".exe";
        Settings = L"Software\\Lumetra\\" + Name;
        Log = LogFolderFor(ProcessInfo::RoamingAppDataFolder(), Name) + L"Error.log";
        Ready = CreateDirectoryW(Folder.c_str(), nullptr) && CopyFileW(exe.c_str(), Exe.c_str(), TRUE);
        HKEY key = nullptr;
        if (Ready && RegCreateKeyExW(HKEY_CURRENT_USER, Settings.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                     nullptr) == ERROR_SUCCESS) {
            const DWORD off = 0;
            Ready = RegSetValueExW(key, L"CHECK_UPDATES_AUTO", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off),
                                   sizeof off) == ERROR_SUCCESS;
            RegCloseKey(key);
        } else {
            Ready = false;
        }
    }
    ~TProgramCopy() {
        Started.clear();  // a copy still running is ended
        RegDeleteTreeW(HKEY_CURRENT_USER, Settings.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, Settings.c_str());
        HKEY run = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE,
                          &run) == ERROR_SUCCESS) {
            RegDeleteValueW(run, Name.c_str());
            RegCloseKey(run);
        }
        DeleteFileW(Log.c_str());
        RemoveDirectoryW(LogFolderFor(ProcessInfo::RoamingAppDataFolder(), Name).c_str());
        DeleteFileW(Exe.c_str());
        RemoveDirectoryW(Folder.c_str());
    }
    TProgramCopy(const TProgramCopy&) = delete;
    TProgramCopy& operator=(const TProgramCopy&) = delete;

    // Starts one more copy; its process, or null.
    const TChildProcess* Launch() {
        auto process = std::make_unique<TChildProcess>(Exe, QuotedCommandLine(Exe));
        if (!process->Started()) return nullptr;
        Started.push_back(std::move(process));
        return Started.back().get();
    }
    std::string Trace() const { return Slurp(Log); }

    std::wstring Name, Folder, Exe, Settings, Log;
    bool Ready = false;

private:
    std::vector<std::unique_ptr<TChildProcess>> Started;
};

// Waits, a message loop aside, until `done` holds or `limitMs` has passed.
template <typename Pred>
bool WaitUntil(Pred done, ULONGLONG limitMs = 60000) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        Sleep(20);
    }
    return true;
}

TEST(SingleInstance, TheProgramStartedTwiceEndsTheSecondCopyAtOnce) {
    // The real executable: the first copy runs in the tray; the second one finds it,
    // ends with code 0, leaves the first running and adds nothing to its trace.
    TProgramCopy copy;
    ASSERT_TRUE(copy.Ready) << WideToUtf8(copy.Exe);
    const TChildProcess* first = copy.Launch();
    ASSERT_NE(first, nullptr);
    // The first copy is up once its application window carries the title and its main
    // window has been shown (the trace says so).
    const std::wstring title = ApplicationTitleOf(copy.Exe);
    ASSERT_TRUE(WaitUntil([&] { return FindWindowW(L"LumetraApplication", title.c_str()) != nullptr; }));
    ASSERT_TRUE(WaitUntil([&] { return copy.Trace().find("\tFormShow\t") != std::string::npos; }))
        << copy.Trace();
    const std::string traceBefore = copy.Trace();

    const TChildProcess* second = copy.Launch();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(WaitForSingleObject(second->Handle(), 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(second->Handle(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(WaitForSingleObject(first->Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "first copy still runs";
    EXPECT_EQ(copy.Trace(), traceBefore) << "the second copy traced";

    // End the first copy through its tray menu's Quit (the main window's command).
    // Its main window, not one of another test process running beside this one.
    HWND main = WindowOfProcess(first->Id(), L"TfrmMain");
    ASSERT_NE(main, nullptr);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(104, 0), 0);  // actQuitter's command
    EXPECT_EQ(WaitForSingleObject(first->Handle(), 20000), WAIT_OBJECT_0);
}

// What the screen shows inside `window`, as RGBA.
PngImage Capture(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(dc, old);
    PngImage shot;
    shot.Width = w;
    shot.Height = h;
    const auto* p = static_cast<const std::uint8_t*>(bits);
    for (int i = 0; i < w * h; ++i)
        shot.Rgba.insert(shot.Rgba.end(), {p[i * 4 + 2], p[i * 4 + 1], p[i * 4], 255});
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return shot;
}

// Pixels of `shot` inside `rect` (coordinates of `control`) that `match` accepts.
int CountPixels(const PngImage& shot, HWND window, HWND control, RECT rect, bool (*match)(std::uint32_t)) {
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    RECT origin;
    GetWindowRect(window, &origin);
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            const int sx = x - origin.left, sy = y - origin.top;
            if (sx >= 0 && sy >= 0 && sx < shot.Width && sy < shot.Height && match(shot.Pixel(sx, sy)))
                ++count;
        }
    return count;
}

bool IsHeartRed(std::uint32_t argb) {
    const int r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return r > 180 && g < 80 && b < 90;
}
bool IsLogoOrange(std::uint32_t argb) {
    const int r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return r > 230 && g > 110 && g < 170 && b < 60;
}

TEST_F(RealWindow, TheHeartAndTheLogoAreDrawn) {
    Start({L"AL12", L"CL34"}, L"CL34");
    Form->TrayIcon1DblClick(nullptr);
    Form->PageControl1.SetActivePage(&Form->tsSDList);
    RedrawWindow(Window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_ERASE);
    Pump();
    const PngImage shot = Capture(Window);

    RECT firstDef, secondDef;
    ListView_GetSubItemRect(Grid, 0, 2, LVIR_BOUNDS, &firstDef);
    ListView_GetSubItemRect(Grid, 1, 2, LVIR_BOUNDS, &secondDef);
    EXPECT_EQ(CountPixels(shot, Window, Grid, firstDef, IsHeartRed), 0);
    EXPECT_GT(CountPixels(shot, Window, Grid, secondDef, IsHeartRed), 40);

    RECT logoPanel;
    SendMessageW(Status, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&logoPanel));
    EXPECT_GT(CountPixels(shot, Window, Status, logoPanel, IsLogoOrange), 50);
    RECT textPanel;
    SendMessageW(Status, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&textPanel));
    EXPECT_EQ(CountPixels(shot, Window, Status, textPanel, IsLogoOrange), 0);

    // The picture is kept beside the test for people to look at.
    const auto png = EncodePng(shot);
    std::ofstream("mainwindow-controlboxes.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

TEST_F(RealWindow, TheOneSecondSearchRunsByItself) {
    // Nothing here calls the search: only the window's own timer can notice the timing
    // software coming and going. The bound is for a hang, not for the timer.
    Start({});
    ASSERT_TRUE(Form->TimerFindVanto.Enabled());
    EXPECT_EQ(Form->TimerFindVanto.Interval(), 1000u);
    auto serveUntil = [](auto done) {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (!done() && GetTickCount64() < deadline) {
            MainThread::ProcessMessages();
            Sleep(10);
        }
        return done();
    };
    ASSERT_TRUE(serveUntil([&] { return Form->FTrouveVanto == 0; }));
    Desktop.Windows.push_back({0x4242, L"VANTO3 - [1] Trail des Cimes - D\u00e9part > [2] 42 km", true});
    EXPECT_TRUE(serveUntil([&] { return Form->FTrouveVanto == 1; }));
    EXPECT_EQ(Form->FHandleVanto, 0x4242u);
    Desktop.Windows.clear();
    EXPECT_TRUE(serveUntil([&] { return Form->FTrouveVanto == 0; }));
}

TEST_F(RealWindow, SettingsAndTheTrayDoubleClickShowSettingsWhenTheDefaultIsConnected) {
    Start({L"AL12", L"CL34"}, L"CL34");
    const struct {
        const char* Name;
        std::function<void()> Run;
    } cases[] = {
        {"tray double-click", [&] { Form->TrayIcon1DblClick(nullptr); }},
        {"Settings", [&] { Form->actParam.Execute(); }},
    };
    for (const auto& c : cases) {
        // From the other page, with the window hidden by its close box.
        Form->PageControl1.SetActivePage(&Form->tsSDList);
        SendMessageW(Window, WM_CLOSE, 0, 0);
        Pump();
        ASSERT_FALSE(IsWindowVisible(Window)) << c.Name;
        ASSERT_EQ(CurrentTabText(Tabs), L"Control Boxes") << c.Name;
        c.Run();
        Pump();
        EXPECT_TRUE(IsWindowVisible(Window)) << c.Name;
        EXPECT_EQ(CurrentTabText(Tabs), L"Settings") << c.Name;
        EXPECT_TRUE(IsWindowVisible(TrackBar)) << c.Name;
        EXPECT_FALSE(IsWindowVisible(Grid)) << c.Name;
    }
}

TEST_F(RealWindow, LoggingOffIsNeverRefused) {
    Start({});
    EXPECT_EQ(SendMessageW(Window, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_TRUE(IsWindowVisible(Window));
}

// The window moved to a monitor of another DPI: the status bar keeps the logo's panel
// inside the bar and wide enough for the logo, the "Vanto V3" group's fonts are made
// again at the new size, and the icons take the small-icon size of that DPI.
TEST_F(RealWindow, AChangeOfDpiScalesTheStatusBarTheGroupsFontsAndTheIcons) {
    Start({L"AL12"});
    auto fontOf = [](HWND control) {
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font;
    };
    using TForDpi = int(WINAPI*)(int, UINT);
    const auto forDpi = reinterpret_cast<TForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    for (const UINT dpi : {144u, 192u, 120u, 96u}) {
        RECT now;
        GetWindowRect(Window, &now);
        RECT client = {0, 0, MulDiv(312, static_cast<int>(dpi), 96), MulDiv(255, static_cast<int>(dpi), 96)};
        AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongPtrW(Window, GWL_STYLE)), FALSE, 0);
        RECT suggested = {now.left, now.top, now.left + client.right - client.left,
                          now.top + client.bottom - client.top};
        SendMessageW(Window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Pump();

        RECT bar, logo;
        GetClientRect(Status, &bar);
        ASSERT_TRUE(SendMessageW(Status, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&logo)));
        EXPECT_GE(logo.left, 0) << dpi;
        EXPECT_LE(logo.right, bar.right) << dpi;
        EXPECT_GE(logo.right - logo.left, MulDiv(60, static_cast<int>(dpi), 96)) << dpi << " DPI: logo panel "
                                                                                   << logo.left << ".." << logo.right;
        const int height = -MulDiv(8, static_cast<int>(dpi), 72);
        for (const TLabel* label : std::initializer_list<const TLabel*>{&Form->gbVanto, &Form->lblEventCaption,
                                                                        &Form->lblEpreuve, &Form->lblCourse}) {
            HWND control = reinterpret_cast<HWND>(Form->Peer()->ComponentHandle(*label));
            ASSERT_NE(control, nullptr);
            const LOGFONTW font = fontOf(control);
            EXPECT_EQ(font.lfHeight, height) << WideToUtf8(label->Name) << " at " << dpi;
            EXPECT_EQ(font.lfWeight, label->Bold ? FW_BOLD : FW_NORMAL) << WideToUtf8(label->Name);
        }
        int iconWidth = 0, iconHeight = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageW(ToolBar, TB_GETIMAGELIST, 0, 0)), &iconWidth,
                              &iconHeight);
        const int expected = forDpi ? forDpi(SM_CXSMICON, dpi) : MulDiv(16, static_cast<int>(dpi), 96);
        EXPECT_EQ(iconWidth, expected) << dpi;
    }
}

// The window on a desktop of 144 DPI (LogPixels=144), in a child process that starts at
// that DPI: the logo's panel inside the status bar and wide enough for the logo, the
// "Vanto V3" group's fonts at 144 DPI, made again when the window moves to 96 DPI and back.
// The desktop's DPI is changed for the child only while it starts; ctest runs this alone
// (app_tests.HighDpi), and it is skipped elsewhere.
const wchar_t* const kHighDpiChild = L"LUMETRA_HIGH_DPI_CHILD";

TEST(HighDpiChild, TheWindowScalesWithTheDesktop) {
    if (GetEnvironmentVariableW(kHighDpiChild, nullptr, 0) == 0)
        GTEST_SKIP() << "run by HighDpi only";
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(systemDpi, 144);
    std::printf("child at %d DPI\n", systemDpi);
    std::fflush(stdout);

    Environment env;
    ScriptedDesktopWindows desktop;
    VirtualHidBus bus;
    InstallMessageBoxErrorHandler();
    std::vector<std::wstring> shown;
    Application::SetMessageShower([&](const std::wstring& m) { shown.push_back(m); });
    auto form = StartMainWindow(env.Services(desktop, {L"AL12"}), bus, L"Lumetrahighdpi");
    ASSERT_NE(form, nullptr);
    HWND window = MainHandle(*form);
    HWND status = ChildOfClass(window, STATUSCLASSNAMEW);
    Pump();
    EXPECT_TRUE(shown.empty());

    auto check = [&](UINT dpi) {
        RECT bar, logo;
        GetClientRect(status, &bar);
        ASSERT_TRUE(SendMessageW(status, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&logo)));
        EXPECT_GE(logo.left, 0) << dpi;
        EXPECT_LE(logo.right, bar.right) << dpi;
        EXPECT_GE(logo.right - logo.left, MulDiv(60, static_cast<int>(dpi), 96))
            << dpi << " DPI: logo panel " << logo.left << ".." << logo.right << " in a bar of " << bar.right;
        for (const TLabel* label : std::initializer_list<const TLabel*>{&form->gbVanto, &form->lblRaceCaption,
                                                                        &form->lblEpreuve}) {
            HWND control = reinterpret_cast<HWND>(form->Peer()->ComponentHandle(*label));
            LOGFONTW font = {};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
            EXPECT_EQ(font.lfHeight, -MulDiv(8, static_cast<int>(dpi), 72)) << WideToUtf8(label->Name) << " at " << dpi;
        }
    };
    check(144);
    for (const UINT dpi : {96u, 144u}) {
        RECT now;
        GetWindowRect(window, &now);
        RECT suggested = {now.left, now.top, now.left + MulDiv(now.right - now.left, static_cast<int>(dpi), 144),
                          now.top + MulDiv(now.bottom - now.top, static_cast<int>(dpi), 144)};
        if (dpi == 144)
            suggested = {now.left, now.top, now.left + MulDiv(now.right - now.left, 144, 96),
                         now.top + MulDiv(now.bottom - now.top, 144, 96)};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Pump();
        check(dpi);
    }
    EndMainWindow(std::move(form));
    Application::SetMessageShower(nullptr);
}

TEST(HighDpi, TheWindowAt144DpiInAChildProcess) {
    if (GetEnvironmentVariableW(L"LUMETRA_HIGH_DPI_RUN", nullptr, 0) == 0)
        GTEST_SKIP() << "run alone by ctest as app_tests.HighDpi: it changes the desktop's DPI";
    const wchar_t* desktopKey = L"Control Panel\\Desktop";
    DWORD former = 0, size = sizeof former;
    const bool hadFormer = RegGetValueW(HKEY_CURRENT_USER, desktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr,
                                        &former, &size) == ERROR_SUCCESS;
    const DWORD dpi = 144;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, desktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi),
              ERROR_SUCCESS);
    auto restore = [&] {
        if (hadFormer)
            RegSetKeyValueW(HKEY_CURRENT_USER, desktopKey, L"LogPixels", REG_DWORD, &former, sizeof former);
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, desktopKey, L"LogPixels");
    };
    SetEnvironmentVariableW(kHighDpiChild, L"1");
    const std::wstring exe = ProcessInfo::ExecutablePath();
    TChildProcess child(exe, QuotedCommandLine(exe, L"--gtest_filter=HighDpiChild.*"),
                        TChildProcess::TOptions::WithOurStd());
    SetEnvironmentVariableW(kHighDpiChild, nullptr);
    if (!child.Started()) {
        restore();
        FAIL() << "cannot start the child: " << child.StartError();
    }
    const bool ended = child.Wait(120000);
    restore();
    if (!ended) child.Terminate();
    const DWORD code = child.ExitCode();
    EXPECT_TRUE(ended);
    EXPECT_EQ(code, 0u) << "the child's failures are printed above";
}

// The tray menu's pictures keep their transparency: clear around the gear, solid on it.
TEST(MenuPictures, TheGearIsOpaqueOnlyWhereItIsDrawn) {
    for (const SIZE size : {SIZE{16, 16}, SIZE{24, 24}}) {
        HBITMAP picture = MainControlsWin32::IconBitmap(L"GEAR", size);
        ASSERT_NE(picture, nullptr);
        DIBSECTION section = {};
        ASSERT_EQ(GetObjectW(picture, sizeof section, &section), static_cast<int>(sizeof section));
        ASSERT_EQ(section.dsBm.bmBitsPixel, 32);
        EXPECT_EQ(section.dsBm.bmWidth, size.cx);
        const auto* pixels = static_cast<const std::uint32_t*>(section.dsBm.bmBits);
        const int count = size.cx * size.cy;
        int clear = 0, solid = 0;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t p = pixels[i];
            const unsigned a = p >> 24;
            if (a == 0) ++clear;
            if (a == 255) ++solid;
            // Premultiplied: no colour stronger than its alpha.
            EXPECT_LE((p >> 16) & 0xFF, a);
            EXPECT_LE((p >> 8) & 0xFF, a);
            EXPECT_LE(p & 0xFF, a);
        }
        EXPECT_EQ(pixels[0] >> 24, 0u) << "corner";
        EXPECT_GT(clear, count / 5);
        EXPECT_GT(solid, count / 5);
        DeleteObject(picture);
    }
}

// The end of the session: the box reset, the settings saved and the process ended, also
// when the save fails (the platform would end the process a moment later anyway).
TEST_F(RealWindow, TheEndOfTheSessionSavesAndEndsTheProcessEvenWhenTheSaveFails) {
    for (const bool refused : {false, true}) {
        Env.Events.clear();
        Shown.clear();
        Env.Store.Refuse(L"Software\\Lumetra", false);
        Start({L"AL12"}, L"AL12");
        Env.Store.Refuse(L"Software\\Lumetra", refused);
        std::vector<unsigned> ended;
        AppShell::SetEndProcessHandler([&](unsigned code) { ended.push_back(code); });
        EXPECT_EQ(SendMessageW(Window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
        SendMessageW(Window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        AppShell::SetEndProcessHandler(nullptr);

        EXPECT_EQ(ended, std::vector<unsigned>{0}) << "refused " << refused;
        EXPECT_NE(std::find(Env.Events.begin(), Env.Events.end(), L"reset AL12"), Env.Events.end());
        EXPECT_EQ(Env.LogLines().back(), L"FormDestroy|");
        if (refused) {
            ASSERT_EQ(Shown.size(), 1u);
            EXPECT_NE(Shown[0].find(L"'DEMARRAGE_AUTO'"), std::wstring::npos) << WideToUtf8(Shown[0]);
        } else {
            EXPECT_TRUE(Shown.empty());
            EXPECT_EQ(StringOf(Env.LogonEntry()), MainSettings::LogonCommand(Env.ExePath));
        }
        Env.Store.Refuse(L"Software\\Lumetra", false);
        EndMainWindow(std::move(Form));
    }
}

// A display that is not ready: the main window, or the controls in it, cannot be made.
// The error is shown and nothing else happens: no creation step, no trace, no setting,
// no window left behind, the single-instance mutex given back, exit code 1.
TEST_F(RealWindow, AMainWindowThatCannotBeMadeEndsTheProgramWithNothingWritten) {
    InstallMessageBoxErrorHandler();
    Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
    auto countOwnWindows = [] { return static_cast<int>(WindowsOfProcess(GetCurrentProcessId(), L"TfrmMain").size()); };
    for (const std::wstring failing : {L"window", L"controls"}) {
        Shown.clear();
        Env.Events.clear();
        TfrmMainServices services = Env.Services(Desktop, {L"AL12"});
        services.OnMakingWindow = [failing](const std::wstring& part) {
            if (part == failing)
                throw Exception(L"The display is not ready (" + part + L")");
        };
        const int windowsBefore = countOwnWindows();
        EXPECT_EQ(RunProgram(services, Bus, Title), 1) << WideToUtf8(failing);
        EXPECT_EQ(Shown, std::vector<std::wstring>{L"The display is not ready (" + failing + L")"});
        EXPECT_TRUE(Env.Events.empty()) << "no box opened, nothing traced";
        EXPECT_TRUE(Env.Store.ValueNames(L"Software\\Lumetra\\LumetraControlBox").empty());
        EXPECT_FALSE(Env.LogonEntry().has_value());
        EXPECT_EQ(countOwnWindows(), windowsBefore);
        TVrRunOnce next;
        next.Terminate = false;
        EXPECT_TRUE(next.Check(Title)) << "the mutex was given back";
    }
    // With the display back, the same start makes its window.
    Form = StartMainWindow(Env.Services(Desktop, {}), Bus, Title);
    EXPECT_NE(Form, nullptr);
}

// The application window's close (its taskbar button) goes to the main window while that
// one is shown, and to nobody when no pop-up qualifies: it is not sent back to itself.
TEST_F(RealWindow, TheApplicationWindowsCloseIsNeverSentBackToItself) {
    Start({L"AL12"}, L"AL12");
    HWND app = reinterpret_cast<HWND>(AppShell::Handle());
    ASSERT_NE(app, nullptr);
    ASSERT_FALSE(IsWindowVisible(Window));
    PostMessageW(app, WM_CLOSE, 0, 0);
    Pump();
    // A close sent back to the application window would always be waiting again.
    auto closesWaitingFor = [](HWND target) {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, nullptr, WM_CLOSE, WM_CLOSE, PM_REMOVE))
            if (message.hwnd == target)
                ++count;
        return count;
    };
    EXPECT_EQ(closesWaitingFor(app), 0) << "a close came back";

    Form->TrayIcon1DblClick(nullptr);
    Pump();
    ASSERT_TRUE(IsWindowVisible(Window));
    PostMessageW(app, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindowVisible(Window)) << "the close reached the main window, which hides";
    EXPECT_EQ(Env.LogLines().back(), L"FormCloseQuery|");
    EXPECT_EQ(closesWaitingFor(app), 0);
}

}  // namespace
