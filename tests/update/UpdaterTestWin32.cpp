// upd.exe on its own: it waits for a process, replaces the components, restarts the program.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A build-tree file as a Windows path (the build tree lies on the drive that maps "/").
std::wstring BuildPath(const std::string& unix) {
    std::wstring path = L"Z:";
    for (char c : unix) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return path;
}

std::wstring UpdaterPath() { return BuildPath(LUMETRA_UPD_EXE); }

struct TProcess {
    PROCESS_INFORMATION Info{};
    bool Started = false;
    ~TProcess() {
        if (!Started) return;
        TerminateProcess(Info.hProcess, 0);
        CloseHandle(Info.hThread);
        CloseHandle(Info.hProcess);
    }
};

bool Start(TProcess& process, const std::wstring& parameters, DWORD flags) {
    std::wstring line = L"\"" + UpdaterPath() + L"\" " + parameters;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    process.Started = CreateProcessW(UpdaterPath().c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                     nullptr, &startup, &process.Info) != 0;
    return process.Started;
}

class UpdaterWin32 : public testing::Test {
protected:
    void SetUp() override {
        Root = fs::temp_directory_path() / ("lumetra-upd-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "app");
        std::ofstream(Root / "temp" / "comp.dll", std::ios::binary) << "new component";
        std::ofstream(Root / "temp" / "other.dat", std::ios::binary) << "new data";
        std::ofstream(Root / "app" / "comp.dll", std::ios::binary) << "old component";
        SetFileAttributesW((Root / "app" / "comp.dll").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
        ASSERT_TRUE(CopyFileW(BuildPath(LUMETRA_RESTART_PROBE_EXE).c_str(), (Root / "app" / "prog.exe").wstring().c_str(),
                              FALSE));
        // A program that has not ended: the updater's own copy, held suspended.
        ASSERT_TRUE(Start(Program, L"", CREATE_SUSPENDED));
    }
    void TearDown() override {
        std::error_code error;
        for (auto& entry : fs::recursive_directory_iterator(Root, error))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(Root, error);
        SetEnvironmentVariableW(L"LUMETRA_UPDATER_WAIT_MS", nullptr);
    }
    std::wstring Parameters(const std::wstring& logSwitch) const {
        return std::to_wstring(Program.Info.dwProcessId) + L" " + logSwitch + L" " + (Root / "app").wstring() +
               L"\\prog.exe \"-a b\" \"" + (Root / "temp").wstring() + L"\\\" comp.dll;other.dat";
    }
    // Runs the updater to its end; its exit code.
    DWORD RunUpdater(const std::wstring& parameters, bool endProgramMeanwhile) {
        TProcess updater;
        EXPECT_TRUE(Start(updater, parameters, 0));
        if (endProgramMeanwhile) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            TerminateProcess(Program.Info.hProcess, 0);
        }
        EXPECT_EQ(WaitForSingleObject(updater.Info.hProcess, 60000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(updater.Info.hProcess, &code);
        return code;
    }

    fs::path Root;
    TProcess Program;
};

TEST_F(UpdaterWin32, ReplacesTheComponentsOnceTheProgramHasEndedAndRestartsIt) {
    wchar_t* documents = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents)));
    const fs::path log = fs::path(documents) / "WUPDATE.LOG";
    CoTaskMemFree(documents);
    std::error_code error;
    fs::remove(log, error);

    EXPECT_EQ(RunUpdater(Parameters(L"L"), true), 0u);
    EXPECT_EQ(Slurp(Root / "app" / "comp.dll"), "new component");
    EXPECT_EQ(Slurp(Root / "app" / "other.dat"), "new data");
    EXPECT_FALSE(fs::exists(Root / "temp" / "comp.dll"));
    // Nothing is left beside the replaced files.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(Root / "app")) files += entry.is_regular_file() ? 1 : 0;
    // comp.dll, other.dat, prog.exe, and restarted.txt once the program has started
    for (int i = 0; i < 100 && !fs::exists(Root / "app" / "restarted.txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Slurp(Root / "app" / "restarted.txt"), "restarted [-a b] in " + (Root / "app").string());
    EXPECT_LE(files, 4u);
    const std::string written = Slurp(log);
    EXPECT_NE(written.find("Replaced : "), std::string::npos) << written;
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
