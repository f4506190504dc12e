// The updater's reading of the parameter line the program builds for it.
#include <gtest/gtest.h>

#include "UpdaterCommandLine.h"

namespace {

TEST(UpdaterCommandLineTest, ReadsWhatTheProgramWrites) {
    struct TCase {
        std::wstring Line;
        std::uint32_t Pid;
        bool Log, Restart;
        std::wstring Program, Parameters, Temp;
        std::vector<std::wstring> Components;
    };
    const TCase cases[] = {
        {L"4242 X C:\\Lumetra\\LumetraControlBox.exe \" \" \"C:\\Users\\me\\Temp\\\" LumetraControlBox.exe", 4242,
         false, true, L"C:\\Lumetra\\LumetraControlBox.exe", L" ", L"C:\\Users\\me\\Temp\\",
         {L"LumetraControlBox.exe"}},
        {L"7 L \"C:\\Program Files\\L\\L.exe\" \"-a -b\" \"C:\\T\\\" a.dll,b.dll; \"c d.dll\"", 7, true, true,
         L"C:\\Program Files\\L\\L.exe", L"-a -b", L"C:\\T\\", {L"a.dll", L"b.dll", L"c d.dll"}},
        {L"9 X null -q \"C:\\T\" {APP}\\x.exe", 9, false, false, L"", L"-q", L"C:\\T\\", {L"x.exe"}},
        {L"9 X null \" \" \"C:\\T\\\" ", 9, false, false, L"", L" ", L"C:\\T\\", {}},
        {L"9 X null \" \" \"C:\\T\\\" ..\\..\\evil.exe ..", 9, false, false, L"", L" ", L"C:\\T\\", {L"evil.exe"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Line);
        std::wstring error;
        const auto command = ParseUpdaterCommand(c.Line, error);
        ASSERT_TRUE(command) << std::string(error.begin(), error.end());
        EXPECT_EQ(command->ProcessId, c.Pid);
        EXPECT_EQ(command->Log, c.Log);
        EXPECT_EQ(command->Restart, c.Restart);
        EXPECT_EQ(command->Program, c.Program);
        EXPECT_EQ(command->Parameters, c.Parameters);
        EXPECT_EQ(command->TempFolder, c.Temp);
        EXPECT_EQ(command->Components, c.Components);
        EXPECT_EQ(command->Hashes, std::vector<std::wstring>(c.Components.size()));
    }

    // Each component with the hash the program took of its copy, quoted names included.
    std::wstring error;
    const auto command =
        ParseUpdaterCommand(L"9 X null \" \" \"C:\\T\\\" L.exe|ab01 \"c d.dll\"|CD23 ..\\x\\e.dll|", error);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->Components, (std::vector<std::wstring>{L"L.exe", L"c d.dll", L"e.dll"}));
    EXPECT_EQ(command->Hashes, (std::vector<std::wstring>{L"ab01", L"CD23", L""}));
}

TEST(UpdaterCommandLineTest, RefusesMalformedLines) {
    const std::wstring lines[] = {
        L"",
        L"abc X null \" \" \"C:\\T\\\"",
        L"0 X null \" \" \"C:\\T\\\"",
        L"99999999999 X null \" \" \"C:\\T\\\"",
        L"12 Q null \" \" \"C:\\T\\\"",
        L"12 X null \" \"",
        L"12 X \"C:\\unclosed",
        L"12 X null \" \" \"C:\\T\\\" \"open",
    };
    for (const std::wstring& line : lines) {
        std::wstring error;
        EXPECT_FALSE(ParseUpdaterCommand(line, error)) << std::string(line.begin(), line.end());
        EXPECT_FALSE(error.empty());
    }
}

TEST(UpdaterCommandLineTest, SkipsItsOwnName) {
    EXPECT_EQ(SkipProgramName(L"\"C:\\Temp dir\\upd.exe\" 12 X null"), L"12 X null");
    EXPECT_EQ(SkipProgramName(L"upd.exe   12 X"), L"12 X");
    EXPECT_EQ(SkipProgramName(L"upd.exe"), L"");
    EXPECT_EQ(FolderOfProgram(L"C:\\Lumetra\\L.exe"), L"C:\\Lumetra\\");
    EXPECT_EQ(FolderOfProgram(L"L.exe"), L"");
}

}  // namespace
