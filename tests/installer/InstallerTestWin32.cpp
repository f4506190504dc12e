// The MSI under Wine's msiexec, quiet, as an IT department would run it: install, the
// installed program starts and quits, upgrade from an MSI of a lower version, uninstall.
// It works on this build's Wine prefix: the user's own program folder, Start menu, logon
// list and settings.

#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "TextUtils.h"
#include "ChildProcessWin32.h"

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const kSettingsKey = L"Software\\Lumetra\\LumetraControlBox";
const wchar_t* const kRunValue = L"LumetraControlBox";
const wchar_t* const kCheckUpdates = L"CHECK_UPDATES_AUTO";
constexpr DWORD kInstallLimitMs = 300'000;
constexpr DWORD kProgramLimitMs = 60'000;

// A build-tree path as Wine sees it (the Unix root is drive Z:).
std::wstring WinePath(const char* unixPath) {
    std::wstring path = Utf8ToWide(unixPath);
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return path;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
    CoTaskMemFree(path);
    return result;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring RegString(const wchar_t* key, const wchar_t* name) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

bool HasValue(const wchar_t* key, const wchar_t* name) {
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRunValue(const std::wstring& command) {
    HKEY run = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(run, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(run);
}

void DeleteRunValue() {
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &run) != ERROR_SUCCESS) return;
    RegDeleteValueW(run, kRunValue);
    RegCloseKey(run);
}

// Runs `command` and returns its exit code, or a failure and -1 when it does not end in time.
DWORD RunCommand(const std::wstring& command, DWORD limitMs) {
    const TChildEnd end = RunToEnd(command, limitMs);
    if (!end.Started) {
        ADD_FAILURE() << "cannot start " << WideToUtf8(command) << ": " << end.StartError;
    } else if (end.TimedOut) {
        ADD_FAILURE() << WideToUtf8(command) << " did not end within " << limitMs / 1000 << " s";
    }
    return end.ExitCode;
}

DWORD Msiexec(const std::wstring& action, const std::wstring& msi) {
    return RunCommand(L"msiexec.exe " + action + L" \"" + msi + L"\" /qn", kInstallLimitMs);
}

std::wstring ProductInfo(const std::wstring& code, const wchar_t* property);

// The installed products that the installed-apps list shows as ours. Found by name among
// all products rather than by upgrade code: when an upgrade removes the older product,
// Wine's msiexec forgets the upgrade code of the newer one as well (Windows keeps it).
std::vector<std::wstring> Products() {
    std::vector<std::wstring> codes;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumProductsW(i, code) == ERROR_SUCCESS; ++i)
        if (ProductInfo(code, INSTALLPROPERTY_INSTALLEDPRODUCTNAME) == L"Lumetra Control Box") codes.push_back(code);
    return codes;
}

std::wstring ProductInfo(const std::wstring& code, const wchar_t* property) {
    wchar_t buffer[512] = {};
    DWORD size = 512;
    if (MsiGetProductInfoW(code.c_str(), property, buffer, &size) != ERROR_SUCCESS) return L"<missing>";
    return buffer;
}

// "FileVersion" of a file's version block (US English, Unicode), or nothing.
std::wstring FileVersionOf(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<std::uint8_t> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                        &length) ||
        text == nullptr)
        return {};
    return std::wstring(text);
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = KnownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Lumetra Control Box\\";
        Program = Folder + L"LumetraControlBox.exe";
        Shortcut = KnownFolder(FOLDERID_Programs) + L"\\Lumetra Control Box.lnk";
        Trace = KnownFolder(FOLDERID_RoamingAppData) + L"\\Lumetra\\LumetraControlBox\\Error.log";
        HKEY key = nullptr;
        HadSettings = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key) RegCloseKey(key);
        HadTrace = Exists(Trace);
        // The installed program is the released one: its check at start-up would look for
        // the real update server. Switched off as a user would, and put back afterwards.
        DWORD size = sizeof HadCheck;
        KeptCheck = RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kCheckUpdates, RRF_RT_REG_DWORD, nullptr, &HadCheck,
                                 &size) == ERROR_SUCCESS;
        const DWORD off = 0;
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kCheckUpdates, REG_DWORD, &off, sizeof off),
                  ERROR_SUCCESS);
        // What an earlier run that stopped half-way may have left.
        for (const auto& code : Products()) RunCommand(L"msiexec.exe /x " + code + L" /qn", kInstallLimitMs);
    }

    void TearDown() override {
        for (const auto& code : Products()) RunCommand(L"msiexec.exe /x " + code + L" /qn", kInstallLimitMs);
        DeleteRunValue();
        if (!HadSettings) {
            RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
            RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
        } else if (KeptCheck) {
            RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kCheckUpdates, REG_DWORD, &HadCheck, sizeof HadCheck);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kCheckUpdates);
        }
        if (!HadTrace) DeleteFileW(Trace.c_str());
    }

    // The installed program starts, shows it is up, and ends through the tray's Quit.
    void StartAndQuit() {
        TChildProcess process(Program, QuotedCommandLine(Program), TChildProcess::TOptions::InFolder(Folder));
        ASSERT_TRUE(process.Started()) << process.StartError();
        HWND main = nullptr;
        for (int i = 0; i < 600 && !main; ++i) {
            if (WaitForSingleObject(process.Handle(), 50) == WAIT_OBJECT_0) break;
            main = MainWindowOf(process.Id());
        }
        EXPECT_NE(main, nullptr) << "the installed program made no main window";
        if (main) PostMessageW(main, WM_COMMAND, MAKEWPARAM(104, 0), 0);  // actQuitter's command
        if (!process.Wait(kProgramLimitMs)) {
            ADD_FAILURE() << "the installed program did not quit";
            process.Terminate();
        }
        const DWORD code = process.ExitCode();
        EXPECT_EQ(code, 0u);
    }

    // One product of our upgrade code, of `version`, with what the installed-apps list shows.
    void ExpectInstalled(const std::wstring& version) {
        const auto products = Products();
        ASSERT_EQ(products.size(), 1u);
        EXPECT_EQ(ProductInfo(products[0], INSTALLPROPERTY_VERSIONSTRING), version);
        EXPECT_EQ(ProductInfo(products[0], INSTALLPROPERTY_PUBLISHER), L"Lumetra");
        EXPECT_EQ(ProductInfo(products[0], INSTALLPROPERTY_INSTALLEDPRODUCTNAME), L"Lumetra Control Box");
        EXPECT_TRUE(SameTextAscii(ProductInfo(products[0], INSTALLPROPERTY_INSTALLLOCATION), Folder));
        EXPECT_TRUE(Exists(Program)) << WideToUtf8(Program);
        EXPECT_TRUE(Exists(Shortcut)) << WideToUtf8(Shortcut);
    }

    std::wstring Folder, Program, Shortcut, Trace;
    bool HadSettings = false, HadTrace = false, KeptCheck = false;
    DWORD HadCheck = 0;
};

TEST_F(Installer, InstallUpgradeAndUninstallQuietly) {
    const std::wstring oldMsi = WinePath(LUMETRA_OLD_MSI);
    const std::wstring msi = WinePath(LUMETRA_MSI);
    const std::wstring quoted = L"\"" + Program + L"\"";

    // A first install of the lower version; the program runs once and, quitting, writes
    // its settings, its trace and its logon value (on by default).
    ASSERT_EQ(Msiexec(L"/i", oldMsi), 0u);
    ExpectInstalled(Utf8ToWide(LUMETRA_OLD_MSI_VERSION));
    StartAndQuit();
    EXPECT_EQ(RegString(kRunKey, kRunValue), quoted);
    EXPECT_TRUE(Exists(Trace));

    // The newer MSI replaces it in place and keeps what the user had.
    ASSERT_EQ(Msiexec(L"/i", msi), 0u);
    ExpectInstalled(Utf8ToWide(LUMETRA_MSI_VERSION));
    EXPECT_EQ(FileVersionOf(Program), Utf8ToWide(LUMETRA_PROJECT_VERSION4)) << "one version in the program and the MSI";
    EXPECT_EQ(RegString(kRunKey, kRunValue), quoted) << "an upgrade keeps the logon value";
    EXPECT_TRUE(HasValue(kSettingsKey, L"DEMARRAGE_AUTO"));
    EXPECT_TRUE(Exists(Trace));
    StartAndQuit();

    // (An older MSI is refused by the package's launch condition on Windows; Wine's
    // msiexec does not look for newer related products, so that is not tried here.)

    // Uninstall: program, folder, shortcut, entry and logon value go; settings and trace stay.
    ASSERT_EQ(Msiexec(L"/x", msi), 0u);
    EXPECT_TRUE(Products().empty());
    EXPECT_FALSE(Exists(Program));
    EXPECT_FALSE(Exists(Folder));
    EXPECT_FALSE(Exists(Shortcut));
    EXPECT_EQ(RegString(kRunKey, kRunValue), L"<missing>");
    EXPECT_TRUE(HasValue(kSettingsKey, L"DEMARRAGE_AUTO"));
    EXPECT_TRUE(Exists(Trace));
}

TEST_F(Installer, UninstallLeavesTheLogonValueOfAnotherCopy) {
    const std::wstring msi = WinePath(LUMETRA_MSI);
    ASSERT_EQ(Msiexec(L"/i", msi), 0u);
    const std::wstring elsewhere = L"\"C:\\Portable Tools\\LumetraControlBox.exe\"";
    SetRunValue(elsewhere);
    ASSERT_EQ(Msiexec(L"/x", msi), 0u);
    EXPECT_TRUE(Products().empty());
    EXPECT_EQ(RegString(kRunKey, kRunValue), elsewhere);
}

}  // namespace
