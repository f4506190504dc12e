#pragma once
// The program from entry to exit, shared by LumetraControlBox.exe, the simulator and the
// tests that run the real window:
//
//   1. the application window, titled with the application title;
//   2. the "Carbon" look (applied by the window as it makes its controls; a style that
//      cannot be applied is reported in a message box and the default look stays);
//   3. the main window is not shown by the message loop on its own;
//   4. the main window: its design, the single-instance rule (a second copy ends here,
//      silently), then the creation steps;
//   5. the message loop, until the program is asked to end;
//   6. the main window hidden, then destroyed (FormDestroy).

#include <memory>
#include <string>

#include "uLumetraMain.h"

class HidPlatform;

// Errors that escape a handler go to a message box, then the program carries on.
void InstallMessageBoxErrorHandler();

// Steps 1 to 4. `services.CreateSDList` empty: the list over `hid`. A failing creation
// step is reported like any handler's error and leaves the window as far as it got.
std::unique_ptr<TfrmMain> StartMainWindow(TfrmMainServices services, HidPlatform& hid,
                                          const std::wstring& applicationTitle);

// Step 6.
void EndMainWindow(std::unique_ptr<TfrmMain> form);

// Step 5: the message loop; returns when the program is asked to end.
void RunMessageLoop();

// Everything, with the platform's HID devices: the executable's entry.
int RunLumetraControlBox();
