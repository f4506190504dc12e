#pragma once
// A desktop made of a script: windows with handle, title and visibility in z-order (the
// first one on top), and a record of every key-down sent. For host tests and for the
// simulator's stand-in of the timing software. The script is changed by the test's thread
// while no key-down is on its way; the sender's thread records the key-downs.

#include "DesktopWindows.h"

#include <functional>
#include <string>
#include <vector>

class ScriptedDesktopWindows : public DesktopWindows {
public:
    struct TWindow {
        TWindowHandle Handle = 0;
        std::wstring Title;
        bool Visible = true;
        // The platform error its key-downs fail with (KeyDownRefused for a program with
        // higher rights); 0 takes them.
        std::uint32_t SendError = 0;
        // The program does not answer: its key-downs are recorded but not confirmed until
        // AnswerLate.
        bool Hung = false;
    };
    struct TKeyDown {
        TWindowHandle Window = 0;
        unsigned VirtualKey = 0;
        friend bool operator==(const TKeyDown&, const TKeyDown&) = default;
    };

    // Top of the z-order first.
    std::vector<TWindow> Windows;
    // Every key-down delivered, in order.
    std::vector<TKeyDown> KeyDowns;
    // Runs inside each send, after it is recorded, as the receiving window would.
    std::function<void(const TKeyDown&)> OnKeyDown;

    void EnumWindows(const std::function<bool(TWindowHandle)>& visit) override;
    std::wstring WindowText(TWindowHandle window, std::size_t bufferChars) override;
    bool IsWindowVisible(TWindowHandle window) override;
    TWindowHandle FindWindowByTitle(const std::wstring& title) override;
    TKeyDownResult SendKeyDown(TWindowHandle window, unsigned virtualKey, std::chrono::milliseconds limit,
                               std::function<void()> answeredLate) override;
    void AwaitAnswers(std::chrono::milliseconds max) override;
    // The programs that hung answer the key-downs they were sent, in order (on the
    // calling thread).
    void AnswerLate();

private:
    std::vector<std::function<void()>> FLate;
    const TWindow* Find(TWindowHandle window) const;
};
