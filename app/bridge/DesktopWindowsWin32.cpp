// The desktop's top-level windows through the window manager.

#include "DesktopWindows.h"

#include <windows.h>

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

    TKeyDownResult SendKeyDown(TWindowHandle window, unsigned virtualKey, std::chrono::milliseconds limit) override {
        // The sender's thread has no window: nothing else runs on it during the wait, so
        // the error read right after the call is the send's own. A window of a program
        // with higher rights (started "as administrator") gets nothing, and the error is
        // ERROR_ACCESS_DENIED; a program that does not answer in time leaves
        // ERROR_TIMEOUT (at once when Windows already counts it as hung).
        DWORD_PTR answer = 0;
        ::SetLastError(ERROR_SUCCESS);
        const UINT wait = limit.count() <= 0 ? 1u : static_cast<UINT>(limit.count());
        if (::SendMessageTimeoutW(AsHwnd(window), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0,
                                  SMTO_NORMAL | SMTO_ABORTIFHUNG, wait, &answer) != 0)
            return {TKeyDownOutcome::Delivered, 0};
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED) return {TKeyDownOutcome::Refused, error};
        if (error == ERROR_TIMEOUT || error == ERROR_SUCCESS) return {TKeyDownOutcome::NotAnswered, error};
        return {TKeyDownOutcome::Failed, error};
    }
};

}  // namespace

DesktopWindows& PlatformDesktopWindows() {
    static Win32Desktop desktop;
    return desktop;
}
