#include "ProcessInfo.h"

#include "Exceptions.h"
#include "TextUtils.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace ProcessInfo {

std::wstring PlatformExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) throw EInOutError(L"Cannot find the program's own file: " + Utf8ToWide(error.message()));
    return Utf8ToWide(path.string());
}

std::wstring PlatformRoamingAppDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return Utf8ToWide(data);
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return Utf8ToWide(home) + L"/.local/share";
    throw EInOutError(L"Cannot find the application data folder: HOME is not set");
}

}  // namespace ProcessInfo
