// The main window's Win32 side: window class, the controls the window has so far, the
// notification-area icon and the system timer. It only shows the components' state and
// turns messages into the window's handlers; what to do lives in the portable files.

#include "uLumetraMain.h"

#include "Application.h"
#include "Exceptions.h"
#include "HandleHolder.h"
#include "MainWindowExtras.h"
#include "SystemErrorWin32.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"TfrmMain";
constexpr wchar_t kCaption[] = L"Lumetra Control Box";
constexpr int kClientWidth = 312;
constexpr int kClientHeight = 255;
constexpr UINT kTrayMessage = WM_APP + 0x5459;  // the tray icon's notifications
constexpr UINT kTrayId = 1;
constexpr UINT_PTR kTimerFindVantoId = 1;
// How long taking the tray icon away may hold up the end of the program.
constexpr DWORD kTrayRemovalWaitMs = 250;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// A GDI font that goes with its holder.
using TFontHandle = THandleHolder<HFONT, &DeleteObject>;

// An icon loaded from our resources, destroyed with its holder; a stock icon (shared by
// the system) stands in when the resource is missing and is never destroyed.
class TIconHandle {
public:
    explicit TIconHandle(const wchar_t* resourceName) {
        // The tray shows icons at the system's small-icon size.
        FIcon = static_cast<HICON>(LoadImageW(Instance(), resourceName, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
        FOwned = FIcon != nullptr;
        if (!FIcon)
            FIcon = LoadIconW(nullptr, IDI_APPLICATION);
    }
    ~TIconHandle() {
        if (FOwned)
            DestroyIcon(FIcon);
    }
    TIconHandle(const TIconHandle&) = delete;
    TIconHandle& operator=(const TIconHandle&) = delete;
    HICON Get() const { return FIcon; }

private:
    HICON FIcon = nullptr;
    bool FOwned = false;
};

HFONT MakeTahoma(bool bold) {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       L"Tahoma");
}

class TWin32MainPeer : public TfrmMainPeer {
public:
    explicit TWin32MainPeer(TfrmMain& form)
        : FForm(form), FFont(MakeTahoma(false)), FBoldFont(MakeTahoma(true)),
          FTaskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")) {
        RegisterClassOnce();
        RECT frame = {0, 0, kClientWidth, kClientHeight};
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME;
        AdjustWindowRectEx(&frame, style, FALSE, 0);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        const int x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
        const int y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
        MakingPart(L"window");
        FWindow = CreateWindowExW(0, kWindowClass, kCaption, style, x, y, width, height, nullptr, nullptr,
                                  Instance(), this);
        if (!FWindow)
            throw Exception(L"Cannot create the main window: " + SystemErrorText(GetLastError()));
        // From here on the window calls back into this object: a part that fails takes
        // down what was made, so that no message ever reaches a peer that is gone.
        try {
            MakingPart(L"controls");
            CreateVantoGroup();
            for (const std::wstring& name : FForm.imlTrayIcon.ResourceNames)
                FTrayIcons.push_back(std::make_unique<TIconHandle>(name.c_str()));

            FForm.TrayIcon1.PeerChanged = [this] { ShowTray(); };
            FForm.TimerFindVanto.PeerChanged = [this] { ArmTimer(); };
            ShowTray();
            ArmTimer();
            // Pages, grid, track bar, status bar, menus and look.
            FExtras = CreateMainWindowExtras(FForm, *this, kTrayMessage);
        } catch (...) {
            Release();
            throw;
        }
    }

    ~TWin32MainPeer() override { Release(); }

    void RemoveTrayIcon() override {
        if (!FTrayAdded)
            return;
        FTrayAdded = false;
        NOTIFYICONDATAW data = {};
        data.cbSize = sizeof(data);
        data.hWnd = FWindow;
        data.uID = kTrayId;
        // The desktop removes the icon in its own time: under Wine with no window manager
        // its answer comes only after a 2-second wait. A helper thread asks, and the
        // program waits no longer than a moment for it; a program that ends meanwhile
        // leaves the request with the desktop all the same.
        HANDLE signal = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE forThread = nullptr;
        if (signal)
            DuplicateHandle(GetCurrentProcess(), signal, GetCurrentProcess(), &forThread, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        try {
            std::thread([data, forThread]() mutable {
                Shell_NotifyIconW(NIM_DELETE, &data);
                if (forThread) {
                    SetEvent(forThread);
                    CloseHandle(forThread);
                }
            }).detach();
        } catch (...) {
            if (forThread)
                CloseHandle(forThread);
            Shell_NotifyIconW(NIM_DELETE, &data);
        }
        if (signal) {
            WaitForSingleObject(signal, kTrayRemovalWaitMs);
            CloseHandle(signal);
        }
    }

    TWindowHandle Handle() const override { return reinterpret_cast<TWindowHandle>(FWindow); }
    void Show() override {
        if (FWindow)
            ShowWindow(FWindow, SW_SHOW);
    }
    void Hide() override {
        if (FWindow)
            ShowWindow(FWindow, SW_HIDE);
    }
    bool Visible() const override { return FWindow && IsWindowVisible(FWindow); }
    void Repaint() override {
        if (FExtras)
            FExtras->Repaint();
    }
    TWindowHandle ComponentHandle(const TComponent& component) const override {
        for (const auto& control : FControls)
            if (control.first == &component)
                return reinterpret_cast<TWindowHandle>(control.second);
        return 0;
    }

private:
    void MakingPart(const wchar_t* part) {
        if (FForm.Services().OnMakingWindow)
            FForm.Services().OnMakingWindow(part);
    }

    // What the destructor does, also for a construction that failed half-way.
    void Release() {
        FExtras.reset();
        FForm.TrayIcon1.PeerChanged = nullptr;
        FForm.TimerFindVanto.PeerChanged = nullptr;
        for (auto& control : FControls)
            control.first->PeerChanged = nullptr;
        FControls.clear();
        if (FWindow) {
            KillTimer(FWindow, kTimerFindVantoId);
            RemoveTray();
            SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
            DestroyWindow(FWindow);  // its controls go with it
            FWindow = nullptr;
        }
    }

    static void RegisterClassOnce() {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = Instance();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        RegisterClassExW(&wc);  // fails harmlessly when the class already exists
    }

    // A child control showing `component`'s caption, kept in step with it.
    HWND AddControl(TLabel& component, const wchar_t* windowClass, DWORD style, int x, int y, int w, int h) {
        HWND control = CreateWindowExW(0, windowClass, component.Caption().c_str(), WS_CHILD | WS_VISIBLE | style, x,
                                       y, w, h, FWindow, nullptr, Instance(), nullptr);
        if (!control)
            return nullptr;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(component.Bold ? FBoldFont.Get() : FFont.Get()),
                     FALSE);
        FControls.emplace_back(&component, control);
        component.PeerChanged = [&component, control] { SetWindowTextW(control, component.Caption().c_str()); };
        return control;
    }

    // The "Vanto V3" group of the Settings page: three captions and the three values.
    void CreateVantoGroup() {
        const int left = 8, top = 150, width = 296, height = 78;
        AddControl(FForm.gbVanto, L"BUTTON", BS_GROUPBOX, left, top, width, height);
        TLabel* captions[] = {&FForm.lblEventCaption, &FForm.lblFolderCaption, &FForm.lblRaceCaption};
        TLabel* values[] = {&FForm.lblEpreuve, &FForm.lblDossier, &FForm.lblCourse};
        for (int i = 0; i < 3; ++i) {
            const int y = top + 18 + i * 19;
            AddControl(*captions[i], L"STATIC", SS_LEFT, left + 10, y, 50, 16);
            AddControl(*values[i], L"STATIC", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, left + 64, y, width - 74, 16);
        }
    }

    void ArmTimer() {
        const TTimer& timer = FForm.TimerFindVanto;
        if (timer.Enabled() && timer.Interval() > 0)
            SetTimer(FWindow, kTimerFindVantoId, timer.Interval(), nullptr);
        else
            KillTimer(FWindow, kTimerFindVantoId);
    }

    NOTIFYICONDATAW TrayData() const {
        NOTIFYICONDATAW data = {};
        data.cbSize = sizeof(data);
        data.hWnd = FWindow;
        data.uID = kTrayId;
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = kTrayMessage;
        const int index = FForm.TrayIcon1.IconIndex();
        if (index >= 0 && index < static_cast<int>(FTrayIcons.size()))
            data.hIcon = FTrayIcons[static_cast<std::size_t>(index)]->Get();
        const std::wstring& hint = FForm.TrayIcon1.Hint();
        const std::size_t length = std::min(hint.size(), std::size(data.szTip) - 1);
        std::wmemcpy(data.szTip, hint.c_str(), length);
        data.szTip[length] = L'\0';
        return data;
    }

    void ShowTray() {
        if (!FForm.TrayIcon1.Visible()) {
            RemoveTray();
            return;
        }
        NOTIFYICONDATAW data = TrayData();
        const TTrayIcon& tray = FForm.TrayIcon1;
        if (tray.BalloonCount() != FBalloonsShown) {
            FBalloonsShown = tray.BalloonCount();
            data.uFlags |= NIF_INFO;
            data.dwInfoFlags = NIIF_WARNING;
            const std::size_t title = std::min(tray.BalloonTitle().size(), std::size(data.szInfoTitle) - 1);
            std::wmemcpy(data.szInfoTitle, tray.BalloonTitle().c_str(), title);
            data.szInfoTitle[title] = L'\0';
            const std::size_t text = std::min(tray.BalloonText().size(), std::size(data.szInfo) - 1);
            std::wmemcpy(data.szInfo, tray.BalloonText().c_str(), text);
            data.szInfo[text] = L'\0';
        }
        if (FTrayAdded && Shell_NotifyIconW(NIM_MODIFY, &data))
            return;
        // Not there yet, or lost with a restarted taskbar.
        FTrayAdded = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    }

    void RemoveTray() {
        if (!FTrayAdded)
            return;
        NOTIFYICONDATAW data = {};
        data.cbSize = sizeof(data);
        data.hWnd = FWindow;
        data.uID = kTrayId;
        Shell_NotifyIconW(NIM_DELETE, &data);
        FTrayAdded = false;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<TWin32MainPeer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            LRESULT result = 0;
            if (self->Dispatch(message, wParam, lParam, result))
                return result;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // True when the message was handled. Whatever a handler throws ends here, in the
    // application's default handler, and the window carries on.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (FExtras) {
            std::intptr_t answer = 0;
            if (FExtras->Dispatch(message, wParam, lParam, answer)) {
                result = answer;
                return true;
            }
        }
        if (message == WM_TIMER && wParam == kTimerFindVantoId) {
            Application::Guarded([this] {
                if (FForm.TimerFindVanto.OnTimer)
                    FForm.TimerFindVanto.OnTimer(&FForm.TimerFindVanto);
            });
            return true;
        }
        if (message == kTrayMessage) {
            if (LOWORD(lParam) == WM_LBUTTONDBLCLK)
                Application::Guarded([this] {
                    if (FForm.TrayIcon1.OnDblClick)
                        FForm.TrayIcon1.OnDblClick(&FForm.TrayIcon1);
                });
            return true;
        }
        if (FTaskbarCreated != 0 && message == FTaskbarCreated) {
            FTrayAdded = false;
            ShowTray();
            return true;
        }
        if (message == WM_CLOSE && !FForm.FForceClose) {
            // The program lives on in the tray: closing only hides the window.
            ShowWindow(FWindow, SW_HIDE);
            result = 0;
            return true;
        }
        return false;
    }

    TfrmMain& FForm;
    HWND FWindow = nullptr;
    TFontHandle FFont;
    TFontHandle FBoldFont;
    UINT FTaskbarCreated = 0;
    bool FTrayAdded = false;
    unsigned FBalloonsShown = 0;  // the tray's balloons shown so far
    std::vector<std::unique_ptr<TIconHandle>> FTrayIcons;
    std::vector<std::pair<TComponent*, HWND>> FControls;
    std::unique_ptr<TMainWindowExtras> FExtras;
};

}  // namespace

void TfrmMain::CreateWnd() {
    FPeer.reset();
    FPeer = std::make_unique<TWin32MainPeer>(*this);
}
