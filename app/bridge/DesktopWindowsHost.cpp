// The Linux build has no desktop: no windows, nothing found, nothing to send to.

#include "DesktopWindows.h"

namespace {

class EmptyDesktop : public DesktopWindows {
public:
    void EnumWindows(const std::function<bool(TWindowHandle)>&) override {}
    std::wstring WindowText(TWindowHandle, std::size_t) override { return {}; }
    bool IsWindowVisible(TWindowHandle) override { return false; }
    TWindowHandle FindWindowByTitle(const std::wstring&) override { return 0; }
    void SendKeyDown(TWindowHandle, unsigned) override {}
};

}  // namespace

DesktopWindows& PlatformDesktopWindows() {
    static EmptyDesktop desktop;
    return desktop;
}
