#include "Application.h"
#include "Exceptions.h"
#include "MainThread.h"
#include "uLogs.h"
#include "TempRoot.h"
#include "WholeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The host's file writer against real files in a private folder.
class HostTraceFile : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        FRoot = TempRoot("lumetra-trace", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FRoot);
    }
    void TearDown() override {
        MainThread::ProcessMessages();
        fs::remove_all(FRoot);
    }
    static std::string Read(const fs::path& file) { return Slurp(file); }
    // What follows the date and the time: the line without its first two fields.
    static std::string AfterTime(const std::string& line) {
        const auto first = line.find('\t');
        return line.substr(line.find('\t', first + 1) + 1);
    }
    fs::path FRoot;
};

TEST_F(HostTraceFile, LinesAreAppendedInTheAnsiCodePageWithoutLineFeeds) {
    const fs::path folder = FRoot / "Lumetra" / "LumetraControlBox";
    CreateLogFolder(folder.wstring() + L"/");
    CreateLogFolder(folder.wstring() + L"/");  // an existing folder is fine
    const std::wstring file = (folder / "Error.log").wstring();

    AppendLogLine(file, L"", L"");
    AppendLogLine(file, L"TimerFindVanto", L"Vanto trouv\u00e9 : 66070");
    AppendLogLine(file, L"actSetAsDefault", L"N\u00b0S\u00e9rie \u20ac\u0394\U0001F3C1");
    const std::string content = Read(file);
    ASSERT_EQ(std::count(content.begin(), content.end(), '\r'), 3);
    EXPECT_EQ(content.find('\n'), std::string::npos);
    const auto second = content.find('\r') + 1;
    const auto third = content.find('\r', second) + 1;
    EXPECT_EQ(AfterTime(content.substr(0, second)), "\t\r");
    EXPECT_EQ(AfterTime(content.substr(second, third - second)), "TimerFindVanto\tVanto trouv\xE9 : 66070\r");
    EXPECT_EQ(AfterTime(content.substr(third)), "actSetAsDefault\tN\xB0S\xE9rie \x80??\r");
    EXPECT_EQ(content.substr(2, 1), "/");
    EXPECT_EQ(content.substr(13, 1), ":");
}

TEST_F(HostTraceFile, AMissingFolderIsToldAndCreatesNothing) {
    const fs::path file = FRoot / "missing" / "Error.log";
    std::vector<std::wstring> shown;
    Application::SetMessageShower([&](const std::wstring& m) { shown.push_back(m); });
    EXPECT_NO_THROW(AppendLogLine(file.wstring(), L"FormCreate", L""));
    Application::SetMessageShower(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(file.wstring()), std::wstring::npos);
    EXPECT_FALSE(fs::exists(FRoot / "missing"));
    // The platform's writer itself still says why.
    EXPECT_THROW(CurrentTraceFile().Append(file.wstring(), {'x'}), EInOutError);
    fs::create_directories(FRoot);
    AppendLogLine((FRoot / "Error.log").wstring(), L"", L"");  // written: the next failure is told anew
}

TEST_F(HostTraceFile, AFolderThatCannotBeMadeIsAnError) {
    fs::create_directories(FRoot);
    std::ofstream(FRoot / "plain-file") << "x";
    EXPECT_THROW(CreateLogFolder((FRoot / "plain-file" / "Lumetra").wstring()), EInOutError);
}

}  // namespace
