// The installer's one action of its own, in InstallerActions.dll: when the program is
// uninstalled (not when a newer one replaces it), the launch-at-logon value it wrote goes
// too, since it would start a file that no longer exists. Only a value that starts the
// program of the folder being removed is deleted; one that another copy wrote stays.
//
// A DLL action runs without a window, even for a quiet uninstall. It never fails the
// uninstall: a value that cannot be read or deleted is left as it is.
//
// The package's condition already skips it when a newer MSI removes this one, but not
// every installer service tells the removed package so (Wine's does not); the action also
// looks for another installed product of our upgrade code, which an upgrade has
// registered by then, and keeps the value when there is one.

#include "AutostartEntry.h"
#include "TextUtils.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

// A property of the running installation; for a deferred action, "CustomActionData" is
// the only one there is, set for it by an earlier immediate action.
std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    wchar_t none[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(install, name, none, &size) != ERROR_MORE_DATA) return {};
    std::vector<wchar_t> buffer(size + 1);
    size = static_cast<DWORD>(buffer.size());
    if (MsiGetPropertyW(install, name, buffer.data(), &size) != ERROR_SUCCESS) return {};
    return std::wstring(buffer.data(), size);
}

// The string value, or nothing when it is absent or not a string.
bool ReadString(HKEY key, const wchar_t* name, std::wstring& value) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    value.assign(buffer.data());
    return true;
}

// True when a product of our upgrade code other than `self` is installed.
bool AnotherOfOursInstalled(const std::wstring& self) {
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(LUMETRA_UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i)
        if (!SameTextAscii(code, self)) return true;
    return false;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ForgetAutostart(MSIHANDLE install) {
    const std::wstring folder = Property(install, L"CustomActionData");
    if (AnotherOfOursInstalled(Property(install, L"ProductCode"))) return ERROR_SUCCESS;
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &run) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    std::wstring command;
    if (ReadString(run, kInstalledProgramRunValue, command) &&
        StartsProgramIn(command, folder, kInstalledProgramFile))
        RegDeleteValueW(run, kInstalledProgramRunValue);
    RegCloseKey(run);
    return ERROR_SUCCESS;
}
