// Which launch-at-logon values the uninstaller takes away with the program.

#include "AutostartEntry.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kFolder = L"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\";

TEST(StartsProgramIn, OnlyTheProgramOfTheFolderBeingRemoved) {
    const struct {
        const char* what;
        std::wstring command;
        std::wstring folder;
        bool removed;
    } cases[] = {
        {"quoted, as written for a path with a blank",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\LumetraControlBox.exe\"", kFolder, true},
        {"other letter case",
         L"\"c:\\users\\ana\\appdata\\local\\programs\\lumetra control box\\lumetracontrolbox.EXE\"", kFolder, true},
        {"folder without its final backslash",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\LumetraControlBox.exe\"",
         L"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box", true},
        {"unquoted, as written for a path without a blank", L"C:\\Tools\\LumetraControlBox.exe", L"C:\\Tools\\",
         true},
        {"another copy elsewhere", L"\"D:\\Portable\\LumetraControlBox.exe\"", kFolder, false},
        {"a sub-folder of the folder",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\old\\LumetraControlBox.exe\"", kFolder,
         false},
        {"another program in the folder",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\upd.exe\"", kFolder, false},
        {"a command with arguments",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\LumetraControlBox.exe\" /x", kFolder,
         false},
        {"one quote only",
         L"\"C:\\Users\\Ana\\AppData\\Local\\Programs\\Lumetra Control Box\\LumetraControlBox.exe", kFolder, false},
        {"empty value", L"", kFolder, false},
        {"no folder known", L"\\LumetraControlBox.exe", L"", false},
        {"non-ASCII letters are compared as they are",
         L"\"C:\\Users\\\u00c9lise\\LumetraControlBox.exe\"", L"C:\\Users\\\u00e9lise\\", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StartsProgramIn(c.command, c.folder, kInstalledProgramFile), c.removed) << c.what;
}

}  // namespace
