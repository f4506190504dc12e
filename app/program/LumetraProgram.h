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
//   6. FormDestroy (the current control box reset, the settings saved, the list released,
//      "FormDestroy" traced), the tray icon taken away, then the windows: hidden and
//      destroyed by a program that goes on, left to the end of the process by one that
//      ends. The work that matters comes before any window is touched: under Wine on a
//      display with no window manager, every window taken off the screen waits 2 s for
//      a manager that never answers, and the end of a session leaves a program little
//      time.
//
// A main window that cannot be made (the display not ready) is reported like any error;
// the program then ends with code 1 and has written nothing.

#include <memory>
#include <string>

#include "uLumetraMain.h"

class HidPlatform;

// Errors that escape a handler go to a message box, then the program carries on.
void InstallMessageBoxErrorHandler();

// Steps 1 to 4. `services.CreateSDList` empty: the list over `hid`. A failing creation
// step is reported like any handler's error and the steps after it still run. Null when
// the window itself could not be made: the error was shown, no creation step ran, and the
// single-instance mutex is given back.
std::unique_ptr<TfrmMain> StartMainWindow(TfrmMainServices services, HidPlatform& hid,
                                          const std::wstring& applicationTitle);

// Step 6 up to the windows: FormDestroy, then the tray icon taken away. What FormDestroy
// raises (a save that failed) is reported, and the rest goes on.
void FinishMainWindow(TfrmMain& form);

// Step 6 for a program that goes on: FinishMainWindow, then the window hidden and
// destroyed.
void EndMainWindow(std::unique_ptr<TfrmMain> form);

// Step 6 for a process that ends next: FinishMainWindow; the windows are left to go with
// the process, which takes them off the screen at once.
void EndMainWindowForExit(std::unique_ptr<TfrmMain> form);

// Step 5: the message loop; returns when the program is asked to end.
void RunMessageLoop();

// Steps 1 to 6 over `hid`; the process's exit code: 0, or 1 when the main window could
// not be made.
int RunProgram(TfrmMainServices services, HidPlatform& hid, const std::wstring& applicationTitle);

// Everything, with the platform's HID devices: the executable's entry.
int RunLumetraControlBox();
