// The Windows file layer's discarding of files nobody needs any more.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "TempRoot.h"
#include "UpdateFileSystem.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;

TEST(UpdateFileSystemWin32, DiscardFileDeletesWhatNobodyHoldsAndLeavesTheRest) {
    const fs::path root = TempRoot("lumetra-discard");
    fs::create_directories(root);
    const std::string content(1 << 20, 'x');
    const struct {
        const char* Name;
        DWORD Attributes;   // set before the discard; 0 for none
        DWORD HeldSharing;  // another handle holds the file with this sharing; ~0u for none
        bool Exists;
        bool Discarded;
    } cases[] = {
        {"a plain file", 0, ~0u, true, true},
        {"read-only and hidden", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, ~0u, true, true},
        {"no such file", 0, ~0u, false, false},
        {"held open without delete sharing", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path file = root / "backup.tmp";
        if (c.Exists) Spill(file, content);
        if (c.Attributes != 0) SetFileAttributesW(file.c_str(), c.Attributes);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.HeldSharing != ~0u)
            held = CreateFileW(file.c_str(), GENERIC_READ, c.HeldSharing, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(SystemFileSystem().DiscardFile(file.wstring()), c.Discarded);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(fs::exists(file), c.Exists && !c.Discarded);
        // What could not go is left whole, with its attributes.
        if (c.Exists && !c.Discarded) EXPECT_EQ(Slurp(file), content);
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code error;
        fs::remove(file, error);
    }
    std::error_code error;
    fs::remove_all(root, error);
}

}  // namespace
