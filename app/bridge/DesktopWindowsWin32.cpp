// The desktop's top-level windows through the window manager.

#include "DesktopWindows.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <vector>

namespace {

struct TEnumState {
    const std::function<bool(TWindowHandle)>* Visit;
    std::exception_ptr Error;  // nothing may unwind through the system's frames
};

BOOL CALLBACK VisitOne(HWND window, LPARAM argument) {
    auto* state = reinterpret_cast<TEnumState*>(argument);
    try {
        return (*state->Visit)(reinterpret_cast<TWindowHandle>(window)) ? TRUE : FALSE;
    } catch (...) {
        state->Error = std::current_exception();
        return FALSE;
    }
}

HWND AsHwnd(TWindowHandle window) { return reinterpret_cast<HWND>(window); }

class Win32Desktop : public DesktopWindows {
public:
    void EnumWindows(const std::function<bool(TWindowHandle)>& visit) override {
        TEnumState state{&visit, nullptr};
        ::EnumWindows(VisitOne, reinterpret_cast<LPARAM>(&state));
        if (state.Error)
            std::rethrow_exception(state.Error);
    }

    std::wstring WindowText(TWindowHandle window, std::size_t bufferChars) override {
        if (bufferChars == 0)
            return {};
        std::vector<wchar_t> buffer(bufferChars, L'\0');
        // The title as the window manager holds it: GetWindowTextW sends WM_GETTEXT to a
        // window of this process, which waits for as long as that window's thread does
        // not answer, where this only reads.
        const int length = ::InternalGetWindowText(AsHwnd(window), buffer.data(), static_cast<int>(bufferChars));
        if (length <= 0)
            return {};
        return std::wstring(buffer.data(), static_cast<std::size_t>(length));
    }

    bool IsWindowVisible(TWindowHandle window) override { return ::IsWindowVisible(AsHwnd(window)) != FALSE; }

    TWindowHandle FindWindowByTitle(const std::wstring& title) override {
        return reinterpret_cast<TWindowHandle>(::FindWindowW(nullptr, title.c_str()));
    }

    TKeyDownResult SendKeyDown(TWindowHandle window, unsigned virtualKey, std::chrono::milliseconds limit,
                               std::function<void()> answeredLate) override {
        // Sent with a callback: the key-down goes to the window procedure as any sent
        // message does, and stays on its way however long the program takes (a send
        // with a time-out may be taken back when its time runs out, and a press would be
        // lost). The callback runs on this thread when it looks at its messages.
        FSenderThread = GetCurrentThreadId();
        auto* answer = new TAnswer;
        if (!::SendMessageCallbackW(AsHwnd(window), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0, &Answered,
                                    reinterpret_cast<ULONG_PTR>(answer))) {
            // Read at once from the send itself: nothing else runs on this thread between.
            // A window of a program with higher rights (started "as administrator") gets
            // nothing, and the error is ERROR_ACCESS_DENIED.
            const DWORD error = ::GetLastError();
            delete answer;
            if (error == ERROR_ACCESS_DENIED) return {TKeyDownOutcome::Refused, error};
            return {TKeyDownOutcome::Failed, error};
        }
        Serve(std::chrono::steady_clock::now() + limit, [answer] { return answer->Answered; });
        if (answer->Answered) {
            delete answer;
            return {TKeyDownOutcome::Delivered, 0};
        }
        // From now on the callback tells, and lets the answer go.
        answer->Late = std::move(answeredLate);
        answer->Waiting = false;
        ++FLateAnswers;
        return {TKeyDownOutcome::NotAnswered, ERROR_TIMEOUT};
    }

    void AwaitAnswers(std::chrono::milliseconds max) override {
        FSenderThread = GetCurrentThreadId();
        FWoken = false;
        Serve(std::chrono::steady_clock::now() + max, [this] { return FWoken.load() || FLateAnswers == 0; });
    }

    void WakeAnswers() override {
        FWoken = true;
        if (const DWORD thread = FSenderThread.load()) ::PostThreadMessageW(thread, WM_APP, 0, 0);
    }

private:
    struct TAnswer {
        bool Answered = false;
        bool Waiting = true;  // SendKeyDown still waits for it
        std::function<void()> Late;
    };

    static VOID CALLBACK Answered(HWND, UINT, ULONG_PTR data, LRESULT) {
        auto* answer = reinterpret_cast<TAnswer*>(data);
        answer->Answered = true;
        if (answer->Waiting) return;
        --Instance().FLateAnswers;
        if (answer->Late) answer->Late();
        delete answer;
    }

public:
    static Win32Desktop& Instance();

private:
    // Looks at this thread's messages (which runs the callbacks) until `done` or `until`.
    void Serve(std::chrono::steady_clock::time_point until, const std::function<bool()>& done) {
        for (;;) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd) ::DispatchMessageW(&message);
            }
            if (done()) return;
            const auto now = std::chrono::steady_clock::now();
            if (now >= until) return;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
            ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }

    std::atomic<DWORD> FSenderThread{0};
    std::atomic<bool> FWoken{false};
    int FLateAnswers = 0;  // on the sender's thread only
};

}  // namespace

Win32Desktop& Win32Desktop::Instance() {
    static Win32Desktop desktop;
    return desktop;
}

DesktopWindows& PlatformDesktopWindows() { return Win32Desktop::Instance(); }
