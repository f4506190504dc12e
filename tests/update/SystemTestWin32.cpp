// What only the real Windows services can show: version resources and known folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "AnsiCodePage.h"
#include "FileFacts.h"
#include "IniFile.h"
#include "KnownFolders.h"
#include "WUpdate.h"

namespace {

std::wstring ThisExecutable() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    return std::wstring(buffer, length);
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TEST(VersionResourceWin32, ReadsOurOwnExecutable) {
    // The test executable is built with FILEVERSION 1,2,40000,7.
    auto facts = MakeSystemFileFacts();
    const auto version = facts->FileVersion(ThisExecutable());
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(VersionToString(*version), L"1.2.40000.7");
}

TEST(VersionResourceWin32, CompareVersionAgainstOurOwnExecutable) {
    TWebUpdate engine;
    const struct {
        const wchar_t* NewVersion;
        bool Update;
    } cases[] = {
        {L"1.2.40000.7", false}, {L"1,2,40000,8", true}, {L"1.2.39999.9", false}, {L"1.3", true}, {L"1.2", false},
    };
    for (const auto& c : cases) {
        std::wstring text = c.NewVersion;
        EXPECT_EQ(engine.CompareVersion(text, ThisExecutable(), -1, 0), c.Update) << c.NewVersion;
    }
}

TEST(KnownFoldersWin32, RealFolders) {
    const TKnownFolders folders = SystemKnownFolders();
    for (const std::wstring* folder : {&folders.Windows, &folders.System, &folders.Application, &folders.Temp,
                                       &folders.Documents, &folders.ProgramFiles, &folders.LocalAppData,
                                       &folders.CommonAppData})
        EXPECT_TRUE(IsFolder(*folder)) << testing::PrintToString(*folder);
    EXPECT_EQ(folders.Temp.back(), L'\\');

    // {APP} is the folder of the running executable, whatever the current folder is.
    const std::wstring exe = ThisExecutable();
    const std::wstring name = exe.substr(exe.find_last_of(L'\\') + 1);
    EXPECT_EQ(ExpandPrefixes(L"{APP}\\" + name, folders), exe);
    EXPECT_TRUE(MakeSystemFileFacts()->FileExists(ExpandPrefixes(L"{SYS}\\kernel32.dll", folders)));
}

TEST(AnsiCodePageWin32, NonUtf8ControlFileUsesTheSystemCodePage) {
    const std::string bytes = "[a]\nx=caf\xE9\n";
    const TIniFile ini = TIniFile::FromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(ini.ReadString(L"a", L"x"), L"caf" + AnsiToWide("\xE9"));
    if (GetACP() == 1252) {
        EXPECT_EQ(ini.ReadString(L"a", L"x"), L"caf\u00e9");
    }
    EXPECT_EQ(WideToAnsi(AnsiToWide("caf\xE9")), "caf\xE9");
}

}  // namespace
