// A copy of this test program under another name, in a folder whose name has a blank,
// run as a separate process: what it stores and where it traces must follow its own name.

#include "MainThread.h"
#include "ProcessInfo.h"
#include "StoreUnderTest.h"
#include "uLogs.h"
#include "uLumetraMainSettings.h"
#include "uRegistry.h"
#include "ChildProcessWin32.h"
#include "WholeFile.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>

namespace {

const wchar_t* const kChildVariable = L"LUMETRA_TEST_CHILD";

// The copy's side: what the program does at its start and at its end.
TEST(RenamedExecutableChild, ActsAsTheProgram) {
    if (GetEnvironmentVariableW(kChildVariable, nullptr, 0) == 0) GTEST_SKIP() << "run by RenamedExecutable only";
    MainThread::Initialize();
    CreateLogFolder(LogFolder());
    WriteLog(L"", L"");
    WriteLog(L"FormCreate", L"");
    bool lancer = false;
    bool check = false;
    MainSettings::LoadSettings([&](bool v) { lancer = v; }, [&](bool v) { check = v; });
    EXPECT_TRUE(lancer);
    EXPECT_TRUE(check);
    MainSettings::SaveSettings(lancer, check);
}

std::wstring RegString(const std::wstring& key, const std::wstring& name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

DWORD RegDword(const std::wstring& key, const std::wstring& name) {
    DWORD value = 0xDEAD;
    DWORD size = sizeof(value);
    RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

TEST(RenamedExecutable, KeepsItsOwnSettingsLogonEntryAndTraceFolder) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring name = UniqueName(L"LumetraCopy");
    const std::wstring folder = std::wstring(temp) + L"Lumetra Test " + name;
    const std::wstring copy = folder + L"\\" + name + L".exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(ProcessInfo::ExecutablePath().c_str(), copy.c_str(), TRUE));

    SetEnvironmentVariableW(kChildVariable, L"1");
    TChildProcess child(copy, QuotedCommandLine(copy, L"--gtest_filter=RenamedExecutableChild.*"));
    SetEnvironmentVariableW(kChildVariable, nullptr);
    ASSERT_TRUE(child.Started());
    EXPECT_TRUE(child.Wait(120000));
    const DWORD exitCode = child.ExitCode();
    EXPECT_EQ(exitCode, 0u) << "the copy's own checks";

    const std::wstring settings = L"Software\\Lumetra\\" + name;
    const std::wstring run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(RegDword(settings, L"DEMARRAGE_AUTO"), 1u);
    EXPECT_EQ(RegDword(settings, L"CHECK_UPDATES_AUTO"), 1u);
    EXPECT_EQ(RegString(run, name), L"\"" + copy + L"\"") << "quoted: the path has a blank";
    EXPECT_EQ(RegString(run, L"app_tests"), L"<missing>");

    const std::wstring logFolder = LogFolderFor(ProcessInfo::RoamingAppDataFolder(), name);
    const std::wstring logFile = logFolder + L"Error.log";
    const std::string content = Slurp(logFile);
    EXPECT_NE(content.find("\t\t\r"), std::string::npos) << content;
    EXPECT_NE(content.find("\tFormCreate\t\r"), std::string::npos) << content;

    RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
    HKEY runKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, run.c_str(), 0, KEY_SET_VALUE, &runKey) == ERROR_SUCCESS) {
        RegDeleteValueW(runKey, name.c_str());
        RegCloseKey(runKey);
    }
    DeleteFileW(logFile.c_str());
    RemoveDirectoryW(logFolder.c_str());
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
