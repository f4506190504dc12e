#include "Application.h"
#include "Exceptions.h"
#include "MainThread.h"
#include "ProcessInfo.h"
#include "UniqueName.h"
#include "SystemErrorWin32.h"
#include "uLogs.h"
#include "WholeFile.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace {

std::string ReadBytes(const std::wstring& path) { return Slurp(path); }

// What follows the date and the time: the line without its first two fields.
std::string AfterTime(const std::string& line) {
    const auto first = line.find('\t');
    return line.substr(line.find('\t', first + 1) + 1);
}

class HandleHolder {
public:
    explicit HandleHolder(HANDLE handle) : FHandle(handle) {}
    ~HandleHolder() {
        if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
    }
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

// A log folder of its own under the user's real roaming folder, removed afterwards.
class TraceOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        FName = UniqueName(L"LumetraTrace");
        FFolder = LogFolderFor(ProcessInfo::RoamingAppDataFolder(), FName);
        CreateLogFolder(FFolder);
        FFile = FFolder + LogFileName;
    }
    void TearDown() override {
        MainThread::ProcessMessages();
        DeleteFileW(FFile.c_str());
        RemoveDirectoryW(FFolder.c_str());
    }
    std::string Content() const { return ReadBytes(FFile); }

    std::wstring FName;
    std::wstring FFolder;
    std::wstring FFile;
    bool FRan = false;  // set by work posted to the main thread; drained in TearDown
};

TEST_F(TraceOnDisk, TheFolderIsCreatedUnderTheRoamingDataFolder) {
    wchar_t roaming[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, roaming), S_OK);
    EXPECT_EQ(FFolder, std::wstring(roaming) + L"\\Lumetra\\" + FName + L"\\");
    const DWORD attributes = GetFileAttributesW(FFolder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(TraceOnDisk, FoldersAreMadeWithTheirMissingParentsOrTheCallFails) {
    const std::wstring nested = FFolder + L"a\\b\\";
    CreateLogFolder(nested);
    CreateLogFolder(nested);  // an existing folder is fine
    EXPECT_TRUE(GetFileAttributesW(nested.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(nested.c_str());
    RemoveDirectoryW((FFolder + L"a").c_str());

    // A plain file where a folder should be.
    AppendLogLine(FFile, L"", L"");
    EXPECT_THROW(CreateLogFolder(FFile + L"\\Lumetra\\"), EInOutError);
}

TEST_F(TraceOnDisk, LinesKeepTheirTabsAndCarriageReturnsAndGetNoLineFeed) {
    AppendLogLine(FFile, L"", L"");
    AppendLogLine(FFile, L"Hid\treader", L"first\rsecond\t");
    const std::string content = Content();
    static const std::regex kLine(R"(\d\d\D\d\d\D\d{4}\t\d\d\D\d\d\D\d\d\t\t\r)");
    const auto end = content.find('\r') + 1;
    EXPECT_TRUE(std::regex_match(content.substr(0, end), kLine)) << content;
    EXPECT_EQ(AfterTime(content.substr(end)), "Hid\treader\tfirst\rsecond\t\r");
    EXPECT_EQ(content.find('\n'), std::string::npos);
}

TEST_F(TraceOnDisk, AccentedTextsAreSingleAnsiBytes) {
    if (GetACP() != 1252) GTEST_SKIP() << "the expected bytes are those of code page 1252";
    AppendLogLine(FFile, L"TimerFindVanto", L"Vanto trouv\u00e9 : 66070");
    AppendLogLine(FFile, L"actNoDefault", L"SERIAL N\u00b0AL12 par default supprim\u00e9 \u0394");
    const std::string content = Content();
    const auto second = content.find('\r') + 1;
    EXPECT_EQ(AfterTime(content.substr(0, second)), "TimerFindVanto\tVanto trouv\xE9 : 66070\r");
    // Greek delta is not in the code page: the platform's default character stands in.
    EXPECT_EQ(AfterTime(content.substr(second)), "actNoDefault\tSERIAL N\xB0" "AL12 par default supprim\xE9 ?\r");
}

TEST_F(TraceOnDisk, TheUsersDateSeparatorIsUsed) {
    wchar_t original[16] = {};
    ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, original, 16), 0);
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, L"."));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    try {
        AppendLogLine(FFile, L"FormShow", L"");
    } catch (...) {
        SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, original);
        throw;
    }
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, original);
    const std::string content = Content();
    static const std::regex kLine(R"((\d\d)\.(\d\d)\.(\d{4})\t\d\d\D\d\d\D\d\d\tFormShow\t\r)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(content, match, kLine)) << content;
    EXPECT_EQ(std::stoi(match[3]), now.wYear);
    EXPECT_EQ(std::stoi(match[2]), now.wMonth) << "day first, then month";
}

TEST_F(TraceOnDisk, OtherHandlesOnTheFileDecideWhetherALineCanBeWritten) {
    struct Case {
        const char* What;
        DWORD Access;
        DWORD Share;
        bool Written;
    };
    const Case cases[] = {
        {"a reader that does not share writing", GENERIC_READ, FILE_SHARE_READ, false},
        {"a writer, while the trace keeps other writers out", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {"a reader that shares writing", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    std::vector<std::wstring> shown;
    Application::SetMessageShower([&](const std::wstring& m) { shown.push_back(m); });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        AppendLogLine(FFile, L"FormCreate", L"");  // written: a failure now is told
        const std::string before = Content();
        shown.clear();
        HandleHolder other(
            CreateFileW(FFile.c_str(), c.Access, c.Share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(other.Get(), INVALID_HANDLE_VALUE);
        FRan = false;
        MainThread::Post([this] { FRan = true; });
        EXPECT_NO_THROW(AppendLogLine(FFile, L"FormShow", L""));
        if (c.Written) {
            EXPECT_TRUE(shown.empty());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_NE(shown[0].find(SystemErrorText(ERROR_SHARING_VIOLATION)), std::wstring::npos);
            EXPECT_NE(shown[0].find(FFile), std::wstring::npos);
        }
        EXPECT_FALSE(FRan) << "nothing else runs inside a line, written or not";
        const std::string after = Content();
        if (c.Written)
            EXPECT_EQ(AfterTime(after.substr(before.size())), "FormShow\t\r");
        else
            EXPECT_EQ(after, before);
        MainThread::ProcessMessages();
    }
    Application::SetMessageShower(nullptr);
}

TEST_F(TraceOnDisk, AMissingFolderIsAnErrorAndCreatesNothing) {
    const std::wstring missing = FFolder + L"gone\\";
    EXPECT_THROW(CurrentTraceFile().Append(missing + LogFileName, {'x'}), EInOutError);
    AppendLogLine(missing + LogFileName, L"FormCreate", L"");
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    AppendLogLine(FFile, L"", L"");  // written: the next failure is told anew
}

TEST(TraceWriteLog, WritesIntoTheFolderOfTheRunningExecutable) {
    MainThread::Initialize();
    wchar_t roaming[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, roaming), S_OK);
    const std::wstring folder = LogFolder();
    EXPECT_EQ(folder, std::wstring(roaming) + L"\\Lumetra\\services_tests\\");
    CreateLogFolder(folder);
    const std::wstring file = folder + L"Error.log";
    const auto before = ReadBytes(file).size();
    WriteLog(L"HIDreader", L"Bouton 3");
    const std::string content = ReadBytes(file);
    ASSERT_GT(content.size(), before);
    EXPECT_NE(content.find("\tHIDreader\tBouton 3\r", before), std::string::npos);
}

}  // namespace
