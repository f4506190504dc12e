#pragma once
// The stand-in for the timing software: a visible top-level window of its own class, on a
// thread of its own as the real program's window would be in another process, that prints
// "keydown VK" for every WM_KEYDOWN it receives. The main window's SendMessageW to it
// therefore crosses threads and waits for it, as it does with the real timing software.
//
// Commands come from the main thread and return once done. While the main thread waits
// for one it still handles messages sent to its own windows, so that a message the
// stand-in's thread sends back (activation, for one) cannot deadlock the two.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "SimOutput.h"

class TStandInVanto {
public:
    explicit TStandInVanto(TSimOutput& output);
    ~TStandInVanto();
    TStandInVanto(const TStandInVanto&) = delete;
    TStandInVanto& operator=(const TStandInVanto&) = delete;

    // Creates the window with `title` and shows it, or retitles and shows the one there is.
    void Show(const std::wstring& title);
    // False when there is no window.
    bool Hide();
    bool Close();
    bool Exists();

    // The window procedure sleeps `ms` on the next key-down it receives (before printing
    // it), as a program does while it prints, exports or writes its database.
    void HangNext(unsigned ms);
    // The window procedure is asleep in such a hang.
    bool Hanging() const;

    // Key-downs received so far, and when the last one arrived.
    std::uint64_t KeyDowns() const;
    std::chrono::steady_clock::time_point LastKeyDown() const;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};
