#pragma once
// The handle holders of the Win32 back ends that more than one file uses.

#include <windows.h>

#include "HandleHolder.h"

// Kernel handles: some calls hand back null for no handle (CreateEventW, OpenProcess),
// others INVALID_HANDLE_VALUE (CreateFileW); neither is ever closed.
struct TNullOrInvalidHandle {
    static HANDLE None() { return nullptr; }
    static bool Is(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
};
using TKernelHandle = THandleHolder<HANDLE, &CloseHandle, TNullOrInvalidHandle>;

// A loaded library.
using TLibraryHandle = THandleHolder<HMODULE, &FreeLibrary>;

// `name` loaded from the system folder only: a library of that name planted beside the
// program is never used. Empty when it cannot be loaded.
inline TLibraryHandle LoadSystemLibrary(const wchar_t* name) {
    return TLibraryHandle(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}
