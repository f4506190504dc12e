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
        const int length = ::GetWindowTextW(AsHwnd(window), buffer.data(), static_cast<int>(bufferChars));
        if (length <= 0)
            return {};
        return std::wstring(buffer.data(), static_cast<std::size_t>(length));
    }

    bool IsWindowVisible(TWindowHandle window) override { return ::IsWindowVisible(AsHwnd(window)) != FALSE; }

    TWindowHandle FindWindowByTitle(const std::wstring& title) override {
        return reinterpret_cast<TWindowHandle>(::FindWindowW(nullptr, title.c_str()));
    }

    void SendKeyDown(TWindowHandle window, unsigned virtualKey) override {
        ::SendMessageW(AsHwnd(window), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0);
    }
};

}  // namespace

DesktopWindows& PlatformDesktopWindows() {
    static Win32Desktop desktop;
    return desktop;
}
