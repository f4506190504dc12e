// The "new version" of a release in the two-component scenario: started by the updater in
// place of the program it replaced, it writes NAME.started beside itself (NAME being its own
// file name without ".exe") holding the parameters it was given, and ends.

#include <windows.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return 1;
    std::wstring marker(path.data(), length);
    const std::size_t dot = marker.rfind(L'.');
    if (dot != std::wstring::npos && marker.find(L'\\', dot) == std::wstring::npos) marker.erase(dot);
    marker += L".started";
    const std::wstring text = std::wstring(L"started ") + (parameters != nullptr ? parameters : L"");
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                        nullptr);
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
    return wrote && written == utf8.size() ? 0 : 3;
}
