#include "HiddenWindowWin32.h"

HWND CreateHiddenWindow(const wchar_t* className, WNDPROC proc, DWORD style, HWND parent, void* param) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    RegisterClassExW(&wc);  // already registered by an earlier window: fine
    return CreateWindowExW(0, className, L"", style, 0, 0, 0, 0, parent, nullptr, instance, param);
}
