#pragma once
// The single-instance rule and the title it works by.
//
// The application title is the executable's file name up to its first ".", with every
// character after the first in lower case ("LumetraControlBox.exe" gives
// "Lumetracontrolbox"). It names the application's hidden top-level window, whose taskbar
// button stands for the program, and the named mutex that the first copy holds for its
// whole life. A second copy finds the mutex taken, wakes the first copy's application
// window and ends at once, silently: no control box is opened, nothing is logged, no
// setting is written.

#include <memory>
#include <string>

// The application title for the executable at `path` ("\" and "/" end folders).
std::wstring ApplicationTitleOf(const std::wstring& path);

class TVrRunOnce {
public:
    TVrRunOnce();
    // Closes the mutex when this copy holds it.
    ~TVrRunOnce();
    TVrRunOnce(const TVrRunOnce&) = delete;
    TVrRunOnce& operator=(const TVrRunOnce&) = delete;

    // Restore (or raise) the other copy's application window.
    bool RestorePrevInst = true;
    // End this copy when another one runs (Check then does not return).
    bool Terminate = true;
    // Tell the user that another copy runs; off: end without a word.
    bool ShowMessage = false;

    // Runs the rule for `title`: true when this is the only copy (the mutex is now held).
    // When another copy runs: clears the title of the first window that carries `title`
    // (this copy's own application window, the newest), restores or raises the next one,
    // then ends the process when Terminate is set, else returns false.
    bool Check(const std::wstring& title);

    bool HoldsMutex() const;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};
