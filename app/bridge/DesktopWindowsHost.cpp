// The Linux build has no desktop: no windows, nothing found, nothing to send to.

#include "DesktopWindows.h"

namespace {

class EmptyDesktop : public DesktopWindows {
public:
    void EnumWindows(const std::function<bool(TWindowHandle)>&) override {}
    std::wstring WindowText(TWindowHandle, std::size_t) override { return {}; }
    bool IsWindowVisible(TWindowHandle) override { return false; }
    TWindowHandle FindWindowByTitle(const std::wstring&) override { return 0; }
    TKeyDownResult SendKeyDown(TWindowHandle, unsigned, std::chrono::milliseconds, std::function<void()>) override {
        return {TKeyDownOutcome::Failed, 1400};  // no such window
    }
    void AwaitAnswers(std::chrono::milliseconds) override {}
};

}  // namespace

DesktopWindows& PlatformDesktopWindows() {
    static EmptyDesktop desktop;
    return desktop;
}
