#include "ProcessInfo.h"

#include <mutex>

namespace ProcessInfo {

// Implemented by the platform file (ProcessInfoWin32.cpp or ProcessInfoHost.cpp).
std::wstring PlatformExecutablePath();
std::wstring PlatformRoamingAppDataFolder();

namespace {

struct Overrides {
    std::mutex Lock;
    std::optional<std::wstring> ExecutablePath;
    std::optional<std::wstring> RoamingFolder;
};

Overrides& TheOverrides() {
    static Overrides overrides;
    return overrides;
}

}  // namespace

std::wstring ExecutablePath() {
    {
        std::lock_guard<std::mutex> guard(TheOverrides().Lock);
        if (TheOverrides().ExecutablePath) return *TheOverrides().ExecutablePath;
    }
    return PlatformExecutablePath();
}

std::wstring RoamingAppDataFolder() {
    {
        std::lock_guard<std::mutex> guard(TheOverrides().Lock);
        if (TheOverrides().RoamingFolder) return *TheOverrides().RoamingFolder;
    }
    return PlatformRoamingAppDataFolder();
}

void OverrideExecutablePath(std::optional<std::wstring> path) {
    std::lock_guard<std::mutex> guard(TheOverrides().Lock);
    TheOverrides().ExecutablePath = std::move(path);
}

void OverrideRoamingAppDataFolder(std::optional<std::wstring> folder) {
    std::lock_guard<std::mutex> guard(TheOverrides().Lock);
    TheOverrides().RoamingFolder = std::move(folder);
}

}  // namespace ProcessInfo

std::wstring ApplicationNameOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

std::wstring CurrentApplicationName() {
    return ApplicationNameOf(ProcessInfo::ExecutablePath());
}
