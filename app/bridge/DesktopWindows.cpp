#include "DesktopWindows.h"

namespace {
DesktopWindows* installed = nullptr;
}

DesktopWindows& CurrentDesktopWindows() { return installed ? *installed : PlatformDesktopWindows(); }

void SetDesktopWindows(DesktopWindows* desktop) { installed = desktop; }
