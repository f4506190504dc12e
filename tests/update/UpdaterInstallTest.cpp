// The updater's installation over a file system whose every write, move and delete can be
// made to fail: all the components are replaced, or none is, and the log says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "ReleaseCrypto.h"
#include "SignedRelease.h"
#include "TextUtils.h"
#include "UpdaterInstall.h"
#include "TempRoot.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;
using TKind = TFaultyFileSystem::TKind;

std::wstring Folder(const fs::path& path) { return WidePath(path) + (sizeof(wchar_t) == 2 ? L"\\" : L"/"); }

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class UpdaterInstallTest : public testing::Test {
protected:
    void SetUp() override {
        // Named after the process: test processes run side by side and may well place
        // their fixtures at the same address.
        Root = TempRoot("lumetra-updinstall");
        Reset();
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(Root, error);
    }
    void Reset() {
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "app");
        Spill(Root / "temp" / "prog.exe", "new program");
        Spill(Root / "temp" / "comp.dll", "new component");
        Spill(Root / "app" / "prog.exe", "old program");
        Spill(Root / "app" / "comp.dll", "old component");
        Log.clear();
    }
    // The hash the program would pass for the copy now in the temporary folder.
    static std::wstring HashOf(const std::string& text) {
        std::unique_ptr<TSha256> hash = MakeSystemReleaseCrypto()->NewSha256();
        hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return Sha256Hex(*hash->Finish());
    }
    static std::wstring HashFile(TReadableFile& file) {
        std::unique_ptr<TSha256> hash = MakeSystemReleaseCrypto()->NewSha256();
        std::uint8_t buffer[4096];
        for (std::size_t got = 0;;) {
            if (!file.Read(buffer, sizeof buffer, got)) return {};
            if (got == 0) break;
            hash->Add(buffer, got);
        }
        const auto digest = hash->Finish();
        return digest ? Sha256Hex(*digest) : std::wstring();
    }
    bool Install(TUpdateFileSystem& files, const std::vector<std::wstring>& names) {
        std::vector<TUpdaterComponent> components;
        for (const std::wstring& name : names) {
            const fs::path path = Root / "temp" / WideToUtf8(name);
            components.push_back({name, fs::exists(path) ? HashOf(Slurp(path)) : L"00"});
        }
        return InstallChecked(files, components);
    }
    bool InstallChecked(TUpdateFileSystem& files, const std::vector<TUpdaterComponent>& components) {
        return InstallComponents(files, Folder(Root / "temp"), Folder(Root / "app"), components, HashFile,
                                 [this](const std::wstring& line) { Log += WideToUtf8(line) + "\n"; });
    }

    fs::path Root;
    std::string Log;
};

TEST_F(UpdaterInstallTest, EveryFailingStepLeavesTheOldFilesAndSaysWhy) {
    for (TKind kind : {TKind::Write, TKind::Move, TKind::Delete}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", operation " << n);
            Reset();
            TFaultyFileSystem faulty(SystemFileSystem());
            faulty.FailAt(kind, n);
            const bool ok = Install(faulty, {L"prog.exe", L"comp.dll"});
            const std::string program = Slurp(Root / "app" / "prog.exe");
            const std::string component = Slurp(Root / "app" / "comp.dll");
            if (ok) {
                EXPECT_EQ(program, "new program");
                EXPECT_EQ(component, "new component");
            } else {
                EXPECT_EQ(program, "old program");
                EXPECT_EQ(component, "old component");
                // Not yet installed: the components wait for a later run.
                EXPECT_EQ(Slurp(Root / "temp" / "comp.dll"), "new component");
                EXPECT_FALSE(Log.empty());
            }
            // No copy or backup stays behind, unless the log names it.
            if (Log.find("Unable to delete file") == std::string::npos) {
                EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "prog.exe"})) << Log;
            }
            if (!faulty.Failed()) {
                EXPECT_TRUE(ok) << Log;
                EXPECT_TRUE(Names(Root / "temp").empty());
                break;
            }
        }
    }
}

TEST_F(UpdaterInstallTest, MissingOrBadComponentTouchesNothing) {
    const struct {
        const char* Name;
        std::vector<std::wstring> Components;
        const char* Logged;
    } cases[] = {
        {"missing", {L"prog.exe", L"absent.dll"}, "Component not found : "},
        {"device name", {L"prog.exe", L"NUL.dll"}, "Bad component name : NUL.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Reset();
        EXPECT_FALSE(Install(SystemFileSystem(), c.Components));
        EXPECT_EQ(Slurp(Root / "app" / "prog.exe"), "old program");
        EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "prog.exe"}));
        EXPECT_NE(Log.find(c.Logged), std::string::npos) << Log;
    }
    // A copy that differs from the hash the program took, or that comes without one.
    const struct {
        const char* Name;
        std::wstring Sha256;
        const char* Logged;
    } hashes[] = {
        {"changed since the program fetched it", HashOf("another program"), "Component does not match its hash : "},
        {"no hash", L"", "Component without its hash : prog.exe"},
    };
    for (const auto& c : hashes) {
        SCOPED_TRACE(c.Name);
        Reset();
        EXPECT_FALSE(InstallChecked(SystemFileSystem(), {{L"comp.dll", HashOf("new component")}, {L"prog.exe", c.Sha256}}));
        EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "old component");
        EXPECT_EQ(Slurp(Root / "app" / "prog.exe"), "old program");
        EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "prog.exe"}));
        EXPECT_NE(Log.find(c.Logged), std::string::npos) << Log;
    }
    // A new component, with no old file to back up, goes again on a roll-back.
    Reset();
    TFaultyFileSystem faulty(SystemFileSystem());
    faulty.FailAt(TKind::Move, 2);  // fresh.dat in, then the old prog.exe cannot go aside
    Spill(Root / "temp" / "fresh.dat", "new data");
    EXPECT_FALSE(Install(faulty, {L"fresh.dat", L"prog.exe"}));
    EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "prog.exe"}));
    EXPECT_EQ(Slurp(Root / "app" / "prog.exe"), "old program");
}

}  // namespace
