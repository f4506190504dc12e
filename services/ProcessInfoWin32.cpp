#include "ProcessInfo.h"

#include "Exceptions.h"
#include "SystemErrorWin32.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace ProcessInfo {

std::wstring PlatformExecutablePath() {
    // The path may be longer than MAX_PATH; a full buffer means it was cut short.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw EInOutError(L"Cannot find the program's own file: " + SystemErrorText(GetLastError()));
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring PlatformRoamingAppDataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(result))
        throw EInOutError(L"Cannot find the application data folder: " +
                          SystemErrorText(static_cast<unsigned long>(result)));
    std::wstring folder(buffer);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder;
}

}  // namespace ProcessInfo
