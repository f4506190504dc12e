// The single-instance rule on Windows: a named mutex, and the other copy's application
// window found by its title.

#include "VrRunOnce.h"

#include <windows.h>

struct TVrRunOnce::Impl {
    HANDLE Mutex = nullptr;
};

TVrRunOnce::TVrRunOnce() : FImpl(std::make_unique<Impl>()) {}

TVrRunOnce::~TVrRunOnce() {
    if (FImpl->Mutex) CloseHandle(FImpl->Mutex);
}

bool TVrRunOnce::HoldsMutex() const { return FImpl->Mutex != nullptr; }

bool TVrRunOnce::Check(const std::wstring& title) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, title.c_str());
    const DWORD error = GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS) {
        FImpl->Mutex = mutex;
        return true;
    }
    if (mutex) CloseHandle(mutex);

    if (RestorePrevInst) {
        // Our own application window was made moments ago and is the first one found;
        // without its title the next search finds the other copy's.
        if (HWND own = FindWindowW(nullptr, title.c_str())) SetWindowTextW(own, L"");
        if (HWND other = FindWindowW(nullptr, title.c_str())) {
            if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
            else BringWindowToTop(other);
        }
    }
    if (ShowMessage)
        MessageBoxW(nullptr, (title + L" is already running.").c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
    if (Terminate) ExitProcess(0);
    return false;
}
