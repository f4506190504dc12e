#pragma once
// What an update run asks of the system beyond transfers and files: whether the machine
// is online, the Internet session, the current folder, our process number, the updater
// cabinet among our resources, the updater's settings file, and the diagnostics reported
// at the start of a run.
//
// Windows: InternetGetConnectedState (looked up in wininet.dll at each call), WinInet,
// GetCurrentDirectoryW, the RCDATA resource "UPD", WritePrivateProfileStringW, the
// kernel's version and the registry. Host builds: offline-free stand-ins for the tests.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "UpdateTransport.h"

class TUpdateSystem {
public:
    virtual ~TUpdateSystem() = default;
    // The system's connected-state answer; true when the query cannot be found.
    virtual bool InternetConnected() = 0;
    // A session with the system's preconfigured access; nullptr with `error` on failure.
    virtual std::unique_ptr<TInternetSession> OpenSession(const std::wstring& agent, std::uint32_t& error) = 0;
    // The text of a system error number from the Internet library's message table.
    virtual std::wstring ErrorText(std::uint32_t error) = 0;
    // The current folder, without a trailing separator (except a bare drive root).
    virtual std::wstring CurrentFolder() = 0;
    virtual bool SetCurrentFolder(const std::wstring& folder) = 0;
    virtual std::uint32_t ProcessId() = 0;
    // The bytes of our resource "UPD" (raw data), nullopt when we carry none.
    virtual std::optional<std::vector<std::uint8_t>> UpdaterCabinet() = 0;
    // Writes `key`=`value` into `section` of the settings file `path`, creating it.
    virtual bool WriteIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                                const std::wstring& value) = 0;
    // Diagnostics: the Windows name and the browser version.
    virtual std::wstring WindowsName() = 0;
    virtual std::wstring BrowserVersion() = 0;
};

std::unique_ptr<TUpdateSystem> MakeSystemUpdateSystem();

// The Windows name for a version: "Windows 95" to "Windows 10", server editions such as
// "Windows Server 2012R2", "Unknown" otherwise. `platform` 1 is the 9x family, 2 NT;
// `server` when the product type is not a workstation.
std::wstring WindowsNameFor(unsigned platform, unsigned major, unsigned minor, bool server);
