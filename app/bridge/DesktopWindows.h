#pragma once
// The desktop's top-level windows, as the timing-software bridge sees them: each window's
// title and visibility in z-order, the look-up of a window by its exact title, and the
// delivery of one key-down message to a window of another program, waited for a bounded
// time.
//
// Win32: EnumWindows, InternalGetWindowText, IsWindowVisible, FindWindowW,
// SendMessageTimeoutW (DesktopWindowsWin32.cpp). Host tests and the simulator use ScriptedDesktopWindows.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A top-level window's handle as a number (an HWND on Windows); 0 is no window.
using TWindowHandle = std::uintptr_t;

// ERROR_ACCESS_DENIED: the error of a message that Windows does not deliver to a window
// of a program with higher rights than the sender.
inline constexpr std::uint32_t KeyDownRefused = 5;

// What became of one key-down.
enum class TKeyDownOutcome {
    Delivered,    // the window procedure has handled it
    Refused,      // Windows keeps it from a program with higher rights (KeyDownRefused)
    NotAnswered,  // the program did not handle it in time; it stays on its way and is
                  // handled when the program answers again, so it is never sent again
    Failed,       // any other error (the window is gone)
};

struct TKeyDownResult {
    TKeyDownOutcome Outcome = TKeyDownOutcome::Delivered;
    std::uint32_t Error = 0;  // the platform's error for Refused and Failed
};

class DesktopWindows {
public:
    virtual ~DesktopWindows() = default;

    // Calls `visit` for each top-level window, from the top of the z-order down, until it
    // returns false.
    virtual void EnumWindows(const std::function<bool(TWindowHandle)>& visit) = 0;
    // The window's title as read into a buffer of `bufferChars` characters including the
    // terminating zero: at most bufferChars - 1 characters. Empty for a window that is gone.
    virtual std::wstring WindowText(TWindowHandle window, std::size_t bufferChars) = 0;
    virtual bool IsWindowVisible(TWindowHandle window) = 0;
    // The first top-level window in z-order, visible or not and of any class, whose title
    // equals `title`; 0 when there is none.
    virtual TWindowHandle FindWindowByTitle(const std::wstring& title) = 0;
    // Sends WM_KEYDOWN with `virtualKey` as wParam and 0 as lParam straight to the window
    // procedure (a sent message, not one posted through the program's own loop), and
    // returns once the window has handled it or `limit` has passed. A key-down not
    // handled by then stays on its way (it is never taken back nor sent again); once the
    // window handles it, `answeredLate` is called on this same thread, from a later
    // SendKeyDown or AwaitAnswers. Nothing else is sent or changed (no key-up, no
    // character, no focus or keyboard state). What the window answers is of no interest.
    // Called by the key-down sender's thread only.
    virtual TKeyDownResult SendKeyDown(TWindowHandle window, unsigned virtualKey, std::chrono::milliseconds limit,
                                       std::function<void()> answeredLate) = 0;
    // On the sender's thread: serves the late answers for at most `max`, returning early
    // when WakeAnswers is called.
    virtual void AwaitAnswers(std::chrono::milliseconds max) = 0;
    // From any thread: ends the sender's AwaitAnswers early (a new key-down to send).
    virtual void WakeAnswers() {}
};

// The desktop of this session: the installed one (SetDesktopWindows), else the
// platform's own. On the Linux build the platform's own is an empty desktop.
DesktopWindows& CurrentDesktopWindows();
// Installs `desktop` (not owned; must outlive its use); null goes back to the platform's.
void SetDesktopWindows(DesktopWindows* desktop);
// The platform's own (DesktopWindowsWin32.cpp, DesktopWindowsHost.cpp).
DesktopWindows& PlatformDesktopWindows();
