#include "KnownFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace {

// Calls `get(buffer, size)` with a growing buffer until the answer fits.
template <typename Get>
std::wstring GrowingBuffer(Get get) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = get(buffer.data(), size);
        if (length == 0) return {};
        if (length < size) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768 * 2) return {};
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, length + 1));
    }
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring ExecutableFolder() {
    // GetModuleFileNameW truncates silently; a length equal to the buffer size means "grow".
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            const std::size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        }
        if (buffer.size() >= 32768 * 2) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

TKnownFolders SystemKnownFolders() {
    TKnownFolders folders;
    folders.Windows = GrowingBuffer([](wchar_t* b, DWORD n) { return GetWindowsDirectoryW(b, n); });
    folders.System = GrowingBuffer([](wchar_t* b, DWORD n) { return GetSystemDirectoryW(b, n); });
    folders.Application = ExecutableFolder();
    folders.Temp = GrowingBuffer([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); });
    if (!folders.Temp.empty() && folders.Temp.back() != L'\\') folders.Temp.push_back(L'\\');
    folders.Documents = KnownFolder(FOLDERID_Documents);
    folders.ProgramFiles =
        GrowingBuffer([](wchar_t* b, DWORD n) { return GetEnvironmentVariableW(L"ProgramFiles", b, n); });
    folders.LocalAppData = KnownFolder(FOLDERID_LocalAppData);
    folders.CommonAppData = KnownFolder(FOLDERID_ProgramData);
    return folders;
}
