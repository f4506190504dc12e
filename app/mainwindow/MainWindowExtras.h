#pragma once
// The main window's controls beyond the bridge's own: the page control with its pages, the
// Settings page's brightness and start-up check box, the control box grid with its toolbar
// and pop-up menu, the status bar with the logo, the tray menu, the close and resize
// handling, the per-monitor DPI scaling and the Carbon look. The window's Win32 side makes
// one when it has made its window, and offers it every message first.

#include <cstdint>
#include <memory>

#include "DesktopWindows.h"

class TfrmMain;
class TfrmMainPeer;

class TMainWindowExtras {
public:
    virtual ~TMainWindowExtras() = default;
    // True when the message was handled; `result` is then the window procedure's answer.
    virtual bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) = 0;
    virtual void Repaint() = 0;
};

// `peer` is the window's Win32 side, which has made its window (Handle) and the controls
// of the bridge (ComponentHandle); it outlives the extras.
std::unique_ptr<TMainWindowExtras> CreateMainWindowExtras(TfrmMain& form, const TfrmMainPeer& peer,
                                                          unsigned trayMessage);
