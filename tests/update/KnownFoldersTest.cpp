#include <gtest/gtest.h>

#include "KnownFolders.h"

namespace {

TKnownFolders Folders() {
    TKnownFolders folders;
    folders.Windows = L"C:\\Windows";
    folders.System = L"C:\\Windows\\system32\\";
    folders.Application = L"C:\\Program Files\\Lumetra";
    folders.Temp = L"C:\\Temp\\";
    folders.Documents = L"";  // unavailable
    folders.ProgramFiles = L"C:\\Program Files";
    folders.LocalAppData = L"\\\\server\\profiles\\op";
    folders.CommonAppData = L"D:\\";
    return folders;
}

TEST(NormaliseTokenFolder, DriveFoldersLoseTheBackslashOthersGainADot) {
    const struct {
        const wchar_t* Path;
        const wchar_t* Expected;
    } cases[] = {
        {L"C:\\Program Files\\Lumetra", L"C:\\Program Files\\Lumetra"},
        {L"C:\\Program Files\\Lumetra\\", L"C:\\Program Files\\Lumetra"},
        {L"D:\\x", L"D:\\x"},
        {L"C:\\", L"C:\\."},
        {L"C:", L"C:\\."},
        {L"", L"."},
        {L"\\\\server\\share", L"\\\\server\\share\\."},
        {L"relative", L"relative\\."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseTokenFolder(c.Path), c.Expected) << testing::PrintToString(std::wstring(c.Path));
}

TEST(ExpandPrefixes, TokensAndTheirNormalisation) {
    const struct {
        const wchar_t* Text;
        const wchar_t* Expected;
    } cases[] = {
        {L"{APP}", L"C:\\Program Files\\Lumetra"},
        {L"{app}\\LumetraControlBox.exe", L"C:\\Program Files\\Lumetra\\LumetraControlBox.exe"},
        {L"{Win}\\x", L"C:\\Windows\\x"},
        {L"{SYS}\\hid.dll", L"C:\\Windows\\system32\\hid.dll"},
        {L"{TMP}wusetup.cab", L"C:\\Tempwusetup.cab"},
        {L"{PF}\\Lumetra", L"C:\\Program Files\\Lumetra"},
        {L"{DOC}\\WUPDATE.LOG", L".\\WUPDATE.LOG"},
        {L"{LAD}\\x", L"\\\\server\\profiles\\op\\.\\x"},
        {L"{APPDATA}\\x", L"D:\\.\\x"},
        {L"{FOO}\\readme.txt", L".\\readme.txt"},
        {L"{}", L"."},
        {L"{APP}\\{TMP}", L"C:\\Program Files\\Lumetra\\C:\\Temp"},
        {L"a{APP", L"a{APP"},
        {L"}{APP}", L"}C:\\Program Files\\Lumetra"},
        {L"{A{APP}", L"."},
        {L"no tokens", L"no tokens"},
        {L"", L""},
    };
    const TKnownFolders folders = Folders();
    for (const auto& c : cases)
        EXPECT_EQ(ExpandPrefixes(c.Text, folders), c.Expected) << testing::PrintToString(std::wstring(c.Text));
}

TEST(ExpandPrefixes, AFolderHoldingATokenIsNotExpandedAgain) {
    // Environment values are outside our control; re-scanning the inserted text would loop
    // for ever on a folder that names its own token.
    TKnownFolders folders = Folders();
    folders.ProgramFiles = L"{PF}";
    EXPECT_EQ(ExpandPrefixes(L"{PF}\\x {APP}", folders), L"{PF}\\.\\x C:\\Program Files\\Lumetra");
}

TEST(SystemKnownFolders, EveryFolderIsSet) {
    const TKnownFolders folders = SystemKnownFolders();
    for (const std::wstring* folder : {&folders.Windows, &folders.System, &folders.Application, &folders.Temp,
                                       &folders.Documents, &folders.ProgramFiles, &folders.LocalAppData,
                                       &folders.CommonAppData})
        EXPECT_FALSE(folder->empty());
    ASSERT_FALSE(folders.Temp.empty());
    EXPECT_EQ(folders.Temp.back(), L'\\');
}

}  // namespace
