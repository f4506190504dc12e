#pragma once
// The application object's platform side: the hidden application window whose title is
// the application title and whose taskbar button stands for the program, the request to
// end the message loop, bringing the program to the front, reading our own resources
// and showing a message.
//
// Win32: a zero-size top-level window, PostQuitMessage, SetForegroundWindow,
// FindResourceW, MessageBoxW. Linux builds keep the state only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DesktopWindows.h"

namespace AppShell {

// Resource types, numbered as the platform numbers them.
inline constexpr int ResBitmap = 2;
inline constexpr int ResRcData = 10;

// Makes the application window (once; a second call only renames it).
void Initialize(const std::wstring& title);
// The application window, 0 without one.
TWindowHandle Handle();
// Shows or hides the application window's taskbar button, which stands for the main
// window while that one is visible.
void ShowTaskbarButton(bool visible);

// Asks the message loop to stop; the main window is destroyed on the way out.
void Terminate();
bool Terminated();
// Forgets an earlier Terminate (a test that builds several windows in one process).
void ResetTerminated();

// Brings `window` (and the program) to the front.
void BringToFront(TWindowHandle window);

// The bytes of one of our own resources, or nullopt when the executable has none.
std::optional<std::vector<std::uint8_t>> ResourceBytes(const std::wstring& name, int type);

// Shows `message` to the user and waits for the answer (the default error handler's box).
void ShowMessage(const std::wstring& message);

}  // namespace AppShell
