// The host's openssl, run from a Windows test under Wine.
#include "HostOpenssl.h"

#include <windows.h>

#include <fstream>

#include "TextUtils.h"

// Unix form of a Windows path, quoted for the shell.
std::string Unix(const std::filesystem::path& path) {
    using TWineGetUnixFileName = char* (*)(const wchar_t*);
    static auto convert = reinterpret_cast<TWineGetUnixFileName>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (convert == nullptr) return {};
    char* converted = convert(path.wstring().c_str());
    if (converted == nullptr) return {};
    std::string result = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return "'" + result + "'";
}

// Wine starts a Unix program given its path on drive Z:, but hands back no process to wait
// for: the shell around the command writes its exit code into a file that we wait for.
bool RunOnHost(const std::string& shellCommand, const std::filesystem::path& work) {
    static int runs = 0;
    const std::filesystem::path marker = work / ("host-" + std::to_string(++runs) + ".rc");
    std::error_code error;
    std::filesystem::remove(marker, error);
    const std::string script = "( " + shellCommand + " ) >/dev/null 2>&1; echo $? > " +
                               Unix(marker.wstring() + L".part") + "; mv " + Unix(marker.wstring() + L".part") + " " +
                               Unix(marker);
    std::wstring line = Utf8ToWide("sh -c \"" + script + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    // A generous bound: the machine may be busy with other builds.
    for (int i = 0; i < 2400 && !std::filesystem::exists(marker); ++i) Sleep(50);
    std::ifstream in(marker);
    int code = -1;
    in >> code;
    in.close();
    std::filesystem::remove(marker, error);
    return code == 0;
}

bool Openssl(const std::string& arguments, const std::filesystem::path& work) {
    return RunOnHost(std::string(LUMETRA_OPENSSL) + " " + arguments, work);
}
