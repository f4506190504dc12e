#pragma once
// A window nobody sees, for messages only: the main thread's dispatcher (message-only) and
// the device-change notices (top-level, since broadcasts skip message-only windows). Its
// class is registered on first use; a second registration of the same class fails
// harmlessly and the window is made all the same.

#include <windows.h>

// Registers `className` with `proc` (once) and makes a zero-size window of it with the
// given style under `parent` (HWND_MESSAGE for a message-only window, null for a top-level
// one); `param` reaches WM_NCCREATE. Null when the window cannot be made.
HWND CreateHiddenWindow(const wchar_t* className, WNDPROC proc, DWORD style, HWND parent,
                        void* param = nullptr);
