#pragma once
// The Windows back end of the HID seam: SetupAPI and the HID library loaded at run time,
// device paths opened with CreateFileW, asynchronous reads with ReadFileEx and SleepEx,
// device-change notices through hidden top-level windows.

#include "HidPlatform.h"

#include <memory>

std::unique_ptr<HidPlatform> CreateWin32HidPlatform();

// How many users hold setupapi.dll and hid.dll at the moment: successful Acquire calls not
// yet released, plus parsed descriptors still alive (they need hid.dll to be freed). The
// libraries are loaded while this is above zero. For tests and diagnostics.
int Win32HidLibraryUsers();

// The window handle (HWND) behind a notify window made by the Win32 back end, so that tests
// can send it what the platform sends.
void* Win32NotifyWindowHandle(HidNotifyWindow& window);
