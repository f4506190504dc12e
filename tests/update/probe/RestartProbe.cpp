// Stands in for the program the updater restarts: writes its parameters, and the folder it
// was started in, into "restarted.txt" beside itself, then ends.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, length);
    file = file.substr(0, file.find_last_of(L'\\') + 1) + L"restarted.txt";
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring text = std::wstring(L"restarted [") + parameters + L"] in " + current;
    std::string bytes;
    for (wchar_t c : text) bytes.push_back(c < 128 ? static_cast<char>(c) : '?');
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
