#include "UpdateSystem.h"
#include "WinInetTextWin32.h"

#include <windows.h>

#include <vector>

namespace {

class TWin32UpdateSystem : public TUpdateSystem {
public:
    bool InternetConnected() override {
        // Looked up at each call: a machine without the query counts as connected.
        using TGetConnectedState = BOOL(WINAPI*)(LPDWORD, DWORD);
        HMODULE library = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (library == nullptr) return true;
        bool connected = true;
        auto query = reinterpret_cast<TGetConnectedState>(
            reinterpret_cast<void*>(GetProcAddress(library, "InternetGetConnectedState")));
        if (query != nullptr) {
            DWORD flags = 0;
            connected = query(&flags, 0) != FALSE;
        }
        FreeLibrary(library);
        return connected;
    }

    std::unique_ptr<TInternetSession> OpenSession(const std::wstring& agent, std::uint32_t& error) override {
        return OpenInternetSession(agent, error);
    }

    std::wstring ErrorText(std::uint32_t error) override {
        return WinInetMessageText(error);
    }

    std::wstring CurrentFolder() override {
        const DWORD size = GetCurrentDirectoryW(0, nullptr);
        if (size == 0) return {};
        std::vector<wchar_t> buffer(size);
        const DWORD length = GetCurrentDirectoryW(size, buffer.data());
        return std::wstring(buffer.data(), length);
    }

    bool SetCurrentFolder(const std::wstring& folder) override {
        return SetCurrentDirectoryW(folder.c_str()) != 0;
    }

    std::uint32_t ProcessId() override { return GetCurrentProcessId(); }

    std::optional<std::vector<std::uint8_t>> UpdaterCabinet() override {
        HRSRC resource = FindResourceW(nullptr, L"UPD", MAKEINTRESOURCEW(10));
        if (resource == nullptr) return std::nullopt;
        HGLOBAL loaded = LoadResource(nullptr, resource);
        const DWORD size = SizeofResource(nullptr, resource);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data == nullptr || size == 0) return std::nullopt;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        return std::vector<std::uint8_t>(bytes, bytes + size);
    }

    bool WriteIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                        const std::wstring& value) override {
        return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != 0;
    }

    std::wstring WindowsName() override {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        // The kernel's own answer: GetVersionEx is capped at 6.2 for programs without
        // a manifest that names later systems.
        using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOEXW*);
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        auto query = ntdll != nullptr ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "RtlGetVersion")))
                                      : nullptr;
        if (query == nullptr || query(&info) != 0) return L"Unknown";
        return WindowsNameFor(info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 2 : 1, info.dwMajorVersion,
                              info.dwMinorVersion, info.wProductType != VER_NT_WORKSTATION);
    }

    std::wstring BrowserVersion() override {
        wchar_t value[256] = {};
        DWORD size = sizeof value;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer\\Version Vector", L"IE",
                         RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
            return L"(not found)";
        return value;
    }
};

}  // namespace

std::unique_ptr<TUpdateSystem> MakeSystemUpdateSystem() { return std::make_unique<TWin32UpdateSystem>(); }
