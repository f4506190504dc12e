// The application object on Windows.

#include "AppShell.h"

#include "MainThread.h"

#include <windows.h>

namespace {

constexpr wchar_t kAppWindowClass[] = L"LumetraApplication";
HWND gAppWindow = nullptr;
bool gTerminated = false;
std::function<void(unsigned)> gEndProcess;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // Closing the program's taskbar button closes the main window, which it stands for:
        // the window it owns that was active last, or else its first enabled pop-up. With
        // neither, the platform answers with this window itself, which must not be sent
        // its own close again and again.
        HWND main = GetLastActivePopup(window);
        if (!main || main == window) main = GetWindow(window, GW_ENABLEDPOPUP);
        if (main && main != window && IsWindowEnabled(main)) PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

namespace AppShell {

void Initialize(const std::wstring& title) {
    if (gAppWindow) {
        SetWindowTextW(gAppWindow, title.c_str());
        return;
    }
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = AppWindowProc;
    wc.hInstance = Instance();
    wc.hIcon = LoadIconW(Instance(), L"MAINICON");
    wc.lpszClassName = kAppWindowClass;
    RegisterClassExW(&wc);
    // Zero-size and off to the side: it is only there for its title and taskbar button.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    gAppWindow = CreateWindowExW(0, kAppWindowClass, title.c_str(),
                                 WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                                 nullptr, nullptr, Instance(), nullptr);
}

TWindowHandle Handle() { return reinterpret_cast<TWindowHandle>(gAppWindow); }

void ShowTaskbarButton(bool visible) {
    if (!gAppWindow) return;
    if (visible) {
        SetWindowPos(gAppWindow, nullptr, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    } else {
        ShowWindow(gAppWindow, SW_HIDE);
    }
}

void Terminate() {
    gTerminated = true;
    // Waits on the network stop at once: the program is going.
    MainThread::RequestQuit();
    PostQuitMessage(0);
}

bool Terminated() { return gTerminated; }

void EndProcess(unsigned code) {
    if (gEndProcess) {
        gEndProcess(code);
        return;
    }
    ExitProcess(code);
}

void SetEndProcessHandler(std::function<void(unsigned)> handler) { gEndProcess = std::move(handler); }
void ResetTerminated() {
    gTerminated = false;
    MainThread::ClearQuitRequest();
}

void BringToFront(TWindowHandle window) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    if (!hwnd) return;
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    SetForegroundWindow(hwnd);
    BringWindowToTop(hwnd);
}

std::optional<std::vector<std::uint8_t>> ResourceBytes(const std::wstring& name, int type) {
    HRSRC info = FindResourceW(nullptr, name.c_str(), MAKEINTRESOURCEW(type));
    if (!info) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, info);
    const DWORD size = SizeofResource(nullptr, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

void ShowMessage(const std::wstring& message) {
    wchar_t title[256] = L"";
    if (gAppWindow) GetWindowTextW(gAppWindow, title, 256);
    MessageBoxW(nullptr, message.c_str(), title, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace AppShell
