// upd.exe on its own: it waits for a process, replaces the components, restarts the program.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ReleaseCrypto.h"
#include "SignedRelease.h"
#include "TempRoot.h"
#include "WholeFile.h"
#include "ChildProcessWin32.h"

namespace {

namespace fs = std::filesystem;

// A build-tree file as a Windows path (the build tree lies on the drive that maps "/").
std::wstring BuildPath(const std::string& unix) {
    std::wstring path = L"Z:";
    for (char c : unix) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return path;
}

std::wstring UpdaterPath() { return BuildPath(LUMETRA_UPD_EXE); }

// A program started with `parameters`, in its own lifetime; ended when the test ends.
std::unique_ptr<TChildProcess> Start(const std::wstring& exe, const std::wstring& parameters, DWORD flags) {
    return std::make_unique<TChildProcess>(exe, QuotedCommandLine(exe) + L" " + parameters,
                                           TChildProcess::TOptions::WithFlags(flags));
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path UpdateLog() {
    wchar_t* documents = nullptr;
    SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents);
    const fs::path log = fs::path(documents) / "WUPDATE.LOG";
    CoTaskMemFree(documents);
    return log;
}

class UpdaterWin32 : public testing::Test {
protected:
    void SetUp() override {
        Root = TempRoot("lumetra-upd");
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "app");
        std::ofstream(Root / "temp" / "comp.dll", std::ios::binary) << "new component";
        std::ofstream(Root / "temp" / "other.dat", std::ios::binary) << "new data";
        std::ofstream(Root / "app" / "comp.dll", std::ios::binary) << "old component";
        SetFileAttributesW((Root / "app" / "comp.dll").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
        ASSERT_TRUE(CopyFileW(BuildPath(LUMETRA_RESTART_PROBE_EXE).c_str(), (Root / "app" / "prog.exe").wstring().c_str(),
                              FALSE));
        // The program that has not ended, started from its folder and held suspended.
        Program = Start((Root / "app" / "prog.exe").wstring(), L"", CREATE_SUSPENDED);
        ASSERT_TRUE(Program->Started());
        std::error_code error;
        fs::remove(UpdateLog(), error);
    }
    void TearDown() override {
        std::error_code error;
        for (auto& entry : fs::recursive_directory_iterator(Root, error))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(Root, error);
        SetEnvironmentVariableW(L"LUMETRA_UPDATER_WAIT_MS", nullptr);
    }
    // The SHA-256 the program passes for a component it fetched with these bytes.
    static std::wstring Sha256Of(const std::string& bytes) {
        std::unique_ptr<TSha256> hash = MakeSystemReleaseCrypto()->NewSha256();
        hash->Add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        return Sha256Hex(*hash->Finish());
    }
    std::wstring Parameters(const std::wstring& logSwitch, const fs::path& program = {},
                            const std::string& fetchedData = "new data") const {
        const fs::path restart = program.empty() ? Root / "app" / "prog.exe" : program;
        return std::to_wstring(Program->Id()) + L" " + logSwitch + L" " + restart.wstring() +
               L" \"-a b\" \"" + (Root / "temp").wstring() + L"\\\" comp.dll|" + Sha256Of("new component") +
               L";other.dat|" + Sha256Of(fetchedData);
    }
    // Waits for the restarted probe's note beside it.
    static std::string Restarted(const fs::path& folder) {
        for (int i = 0; i < 200 && !fs::exists(folder / "restarted.txt"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (int i = 0; i < 50 && Slurp(folder / "restarted.txt").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return Slurp(folder / "restarted.txt");
    }
    // Runs the updater to its end; its exit code.
    DWORD RunUpdater(const std::wstring& parameters, bool endProgramMeanwhile) {
        const auto updater = Start(UpdaterPath(), parameters, 0);
        EXPECT_TRUE(updater->Started());
        if (endProgramMeanwhile) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            TerminateProcess(Program->Handle(), 0);
        }
        EXPECT_EQ(WaitForSingleObject(updater->Handle(), 60000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(updater->Handle(), &code);
        return code;
    }

    fs::path Root;
    std::unique_ptr<TChildProcess> Program;
};

TEST_F(UpdaterWin32, ReplacesTheComponentsOnceTheProgramHasEndedAndRestartsIt) {
    EXPECT_EQ(RunUpdater(Parameters(L"L"), true), 0u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "new component");
    EXPECT_EQ(Slurp(Root / "app" / "other.dat"), "new data");
    EXPECT_EQ(Restarted(Root / "app"), "restarted [-a b] in " + (Root / "app").string());
    // Nothing is left beside the replaced files, nor in the temporary folder.
    EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "other.dat", "prog.exe", "restarted.txt"}));
    EXPECT_TRUE(Names(Root / "temp").empty());
    const std::string written = Slurp(UpdateLog());
    EXPECT_NE(written.find("Replaced : "), std::string::npos) << written;
}

TEST_F(UpdaterWin32, InstallsIntoTheFolderOfTheProgramItWaitedFor) {
    // The parameter line names a program elsewhere: it is restarted, but the components
    // still go beside the program that ended.
    fs::create_directories(Root / "elsewhere");
    ASSERT_TRUE(CopyFileW(BuildPath(LUMETRA_RESTART_PROBE_EXE).c_str(),
                          (Root / "elsewhere" / "prog.exe").wstring().c_str(), FALSE));
    EXPECT_EQ(RunUpdater(Parameters(L"X", Root / "elsewhere" / "prog.exe"), true), 0u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "new component");
    EXPECT_EQ(Slurp(Root / "app" / "other.dat"), "new data");
    EXPECT_EQ(Restarted(Root / "elsewhere"), "restarted [-a b] in " + (Root / "app").string());
    EXPECT_EQ(Names(Root / "elsewhere"), (std::vector<std::string>{"prog.exe", "restarted.txt"}));
}

TEST_F(UpdaterWin32, ComponentChangedSinceTheProgramFetchedItIsRefused) {
    std::ofstream(Root / "app" / "other.dat", std::ios::binary) << "old data";
    EXPECT_EQ(RunUpdater(Parameters(L"X", {}, "what the program fetched"), true), 1u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "old component");
    EXPECT_EQ(Slurp(Root / "app" / "other.dat"), "old data");
    // The old program is started again.
    EXPECT_EQ(Restarted(Root / "app"), "restarted [-a b] in " + (Root / "app").string());
    const std::string written = Slurp(UpdateLog());
    EXPECT_NE(written.find("Component does not match its hash : "), std::string::npos) << written;
}

TEST_F(UpdaterWin32, HeldSecondTargetRollsBackTheFirstAndRestartsTheOldProgram) {
    std::ofstream(Root / "app" / "other.dat", std::ios::binary) << "old data";
    // Held open by someone else, without leave to move it.
    HANDLE held = CreateFileW((Root / "app" / "other.dat").wstring().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const DWORD code = RunUpdater(Parameters(L"X"), true);
    CloseHandle(held);

    EXPECT_EQ(code, 1u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "old component");
    EXPECT_EQ(Slurp(Root / "app" / "other.dat"), "old data");
    EXPECT_EQ(GetFileAttributesW((Root / "app" / "comp.dll").wstring().c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Restarted(Root / "app"), "restarted [-a b] in " + (Root / "app").string());
    EXPECT_EQ(Names(Root / "app"), (std::vector<std::string>{"comp.dll", "other.dat", "prog.exe", "restarted.txt"}));
    // The components wait in the temporary folder, and the log tells the next start why.
    EXPECT_EQ(Slurp(Root / "temp" / "comp.dll"), "new component");
    const std::string written = Slurp(UpdateLog());
    EXPECT_NE(written.find("Cannot replace file " + (Root / "app" / "other.dat").string()), std::string::npos)
        << written;
    EXPECT_NE(written.find("nothing replaced"), std::string::npos) << written;
    EXPECT_NE(written.find("Restarted : "), std::string::npos) << written;
}

TEST_F(UpdaterWin32, GivesUpTouchingNothingWhenTheProgramNeverEnds) {
    SetEnvironmentVariableW(L"LUMETRA_UPDATER_WAIT_MS", L"1500");
    EXPECT_EQ(RunUpdater(Parameters(L"X"), false), 2u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "old component");
    EXPECT_FALSE(fs::exists(Root / "app" / "other.dat"));
    EXPECT_EQ(Slurp(Root / "temp" / "comp.dll"), "new component");
    EXPECT_FALSE(fs::exists(Root / "app" / "restarted.txt"));
}

TEST_F(UpdaterWin32, RefusesABadParameterLineTouchingNothing) {
    EXPECT_EQ(RunUpdater(L"not-a-number X null \" \" \"" + (Root / "temp").wstring() + L"\\\" comp.dll", false), 3u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "old component");
}

}  // namespace
