// Swapping staged files in when the swap fails and the way back fails too: the old file
// that could not be put back is kept and named, never deleted as a leftover.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempRoot.h"
#include "TextUtils.h"
#include "UpdateInstall.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;

// Refuses a staged file's move onto one target, and a backup's way back onto another.
class TRefusingFileSystem : public TFaultyFileSystem {
public:
    TRefusingFileSystem() : TFaultyFileSystem(SystemFileSystem()) {}
    std::wstring RefuseMoveTo;    // a move onto this target fails
    std::wstring RefuseRestoreTo; // a backup's way back onto this target fails
    bool MoveFile(const std::wstring& from, const std::wstring& to) override {
        if (to == (IsBackup(from) ? RefuseRestoreTo : RefuseMoveTo)) return false;
        return TFaultyFileSystem::MoveFile(from, to);
    }
    bool ReplaceFile(const std::wstring& from, const std::wstring& to) override {
        if (to == RefuseRestoreTo && IsBackup(from)) return false;
        return TFaultyFileSystem::ReplaceFile(from, to);
    }

private:
    // Staged files end in ".new"; backups are temporary names of the folder.
    static bool IsBackup(const std::wstring& path) { return path.find(L".new") == std::wstring::npos; }
};

TEST(SwapInFiles, AnOldFileThatCannotBePutBackIsKeptAndNamed) {
    const fs::path root = TempRoot("lumetra-swap");
    const struct {
        const char* Name;
        bool SecondFails;  // the second file's move in fails (the first was swapped)
    } cases[] = {
        {"the second file cannot go in, the first cannot go back", true},
        {"the first file cannot go in nor back", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(root);
        fs::create_directories(root);
        Spill(root / "a.dll", "old a");
        Spill(root / "b.dll", "old b");
        Spill(root / "a.new", "new a");
        Spill(root / "b.new", "new b");
        TRefusingFileSystem files;
        files.RefuseMoveTo = WidePath(root / (c.SecondFails ? "b.dll" : "a.dll"));
        files.RefuseRestoreTo = WidePath(root / "a.dll");
        const TSwapResult result = SwapInFiles(
            files, {{WidePath(root / "a.new"), WidePath(root / "a.dll")}, {WidePath(root / "b.new"), WidePath(root / "b.dll")}},
            L"WUPD");
        EXPECT_FALSE(result.Ok);
        EXPECT_TRUE(result.Leftovers.empty());
        // The old content of a.dll is somewhere in the folder, and the failure says where.
        fs::path kept;
        for (const auto& entry : fs::directory_iterator(root))
            if (entry.path().filename().string().rfind("WUP", 0) == 0) kept = entry.path();
        ASSERT_FALSE(kept.empty()) << WideToUtf8(result.Failure);
        EXPECT_EQ(Slurp(kept), "old a");
        EXPECT_NE(result.Failure.find(L"its old file is kept as " + WidePath(kept)), std::wstring::npos)
            << WideToUtf8(result.Failure);
        EXPECT_EQ(Slurp(root / "b.dll"), "old b");
    }
    std::error_code error;
    fs::remove_all(root, error);
}

}  // namespace
