#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "FileFacts.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;

// The real file system of this build, on a file the test writes itself.
TEST(SystemFileFacts, RealFile) {
    // Host builds of other trees share the temporary folder.
    const fs::path folder = TempRoot("lumetra-update-facts");
    fs::create_directories(folder);
    const fs::path file = folder / "facts.bin";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "ABC" << '\xFF';
    }
    const std::wstring path = file.wstring();
    auto facts = MakeSystemFileFacts();
    EXPECT_TRUE(facts->FileExists(path));
    EXPECT_EQ(facts->FileSize(path), 4);
    EXPECT_EQ(FileChecksum(*facts, path), 65 + 66 + 67 + 255 - 1);
    const auto written = facts->LastWriteTime(path);
    ASSERT_TRUE(written.has_value());
    EXPECT_GE(written->Year, 2020);

    const std::wstring missing = (folder / "missing.bin").wstring();
    EXPECT_FALSE(facts->FileExists(missing));
    EXPECT_EQ(facts->FileSize(missing), -1);
    EXPECT_EQ(FileChecksum(*facts, missing), -1);
    EXPECT_FALSE(facts->LastWriteTime(missing).has_value());
    EXPECT_FALSE(facts->FileVersion(missing).has_value());
    // A plain data file has no version resource: its version is unknown.
    EXPECT_FALSE(facts->FileVersion(path).has_value());
    // A folder is not a file.
    EXPECT_FALSE(facts->FileExists(folder.wstring()));

    fs::remove_all(folder);
}

TEST(FileFactsTable, UnreadableFileIsPresentButHasNoFacts) {
    TFileFactsTable facts;
    TFileFactsTable::TEntry entry;
    entry.Content = {1, 2, 3};
    entry.Unreadable = true;
    facts.Add(L"C:\\Locked.dll", entry);
    EXPECT_TRUE(facts.FileExists(L"c:\\locked.DLL"));
    EXPECT_EQ(facts.FileSize(L"C:\\Locked.dll"), -1);
    EXPECT_EQ(FileChecksum(facts, L"C:\\Locked.dll"), -1);
}

}  // namespace
