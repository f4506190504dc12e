#pragma once
// Where the running program lives: its executable and the user's roaming data folder.
//
// The application name (the executable's file name without folder and extension) names
// the settings key, the trace folder and the launch-at-logon value, so renaming the
// executable gives the program a fresh set of settings and its own trace.
//
// Win32: GetModuleFileNameW and SHGetFolderPathW(CSIDL_APPDATA).
// Host: /proc/self/exe and the XDG data folder (host tests override both).

#include <optional>
#include <string>

namespace ProcessInfo {

// The delimiter between the components of a file path on this platform.
#ifdef _WIN32
inline constexpr wchar_t PathDelim = L'\\';
#else
inline constexpr wchar_t PathDelim = L'/';
#endif

// Full path of the running executable, or the override when one is set.
std::wstring ExecutablePath();

// The user's roaming application-data folder, without a trailing delimiter, or the
// override when one is set. Throws EInOutError when the platform cannot give it.
std::wstring RoamingAppDataFolder();

// Replace what the two functions above report (tests and the simulator); nullopt goes
// back to the platform's answer.
void OverrideExecutablePath(std::optional<std::wstring> path);
void OverrideRoamingAppDataFolder(std::optional<std::wstring> folder);

}  // namespace ProcessInfo

// The file name of `path` without its folder and without its extension (everything
// before the last "."), letter case kept. Both "\" and "/" end a folder.
std::wstring ApplicationNameOf(const std::wstring& path);

// The application name of the running executable, computed afresh on each call.
std::wstring CurrentApplicationName();
