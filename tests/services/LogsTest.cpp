#include "Application.h"
#include "Exceptions.h"
#include "MainThread.h"
#include "ProcessInfo.h"
#include "uLogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LogLine, FormatsDateTimeNameAndTextSeparatedByTabs) {
    struct Case {
        TLogTime Time;
        TLogSeparators Separators;
        std::wstring Proc;
        std::wstring Text;
        std::wstring Expected;
    };
    const Case cases[] = {
        {{2026, 12, 9, 5, 3, 7}, {}, L"", L"", L"09/12/2026\t05:03:07\t\t\r"},
        {{2026, 1, 31, 23, 59, 59}, {}, L"FormCreate", L"", L"31/01/2026\t23:59:59\tFormCreate\t\r"},
        {{2026, 7, 4, 0, 0, 0}, {L".", L"."}, L"HIDreader", L"Bouton 1", L"04.07.2026\t00.00.00\tHIDreader\tBouton 1\r"},
        {{987, 3, 2, 1, 2, 3}, {L"-", L":"}, L"", L"x", L"02-03-0987\t01:02:03\t\tx\r"},
        // Names and texts go out unchanged, even when they hold the separators of the line.
        {{2026, 12, 9, 10, 11, 12}, {}, L"a\tb", L"line\rnext\t\r", L"09/12/2026\t10:11:12\ta\tb\tline\rnext\t\r\r"},
        {{2026, 12, 9, 10, 11, 12}, {}, L"TimerFindVanto", L"Vanto trouv\u00e9 : 66070",
         L"09/12/2026\t10:11:12\tTimerFindVanto\tVanto trouv\u00e9 : 66070\r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatLogLine(c.Time, c.Separators, c.Proc, c.Text), c.Expected);
}

TEST(LogFolder, IsNamedAfterTheExecutableUnderTheRoamingFolder) {
    const wchar_t d = ProcessInfo::PathDelim;
    EXPECT_EQ(LogFolderFor(L"R", L"LumetraControlBox"),
              std::wstring(L"R") + d + L"Lumetra" + d + L"LumetraControlBox" + d);

    const std::wstring held = LogFolder();
    ProcessInfo::OverrideRoamingAppDataFolder(L"Roaming");
    ProcessInfo::OverrideExecutablePath(L"C:\\Program Files\\Lumetra\\LumetraControlBox.exe");
    const std::wstring first = ComputeLogFolder();
    ProcessInfo::OverrideExecutablePath(L"C:\\Program Files\\Lumetra\\Box Copy.v2.exe");
    const std::wstring renamed = ComputeLogFolder();
    const std::wstring stillHeld = LogFolder();
    ProcessInfo::OverrideExecutablePath(std::nullopt);
    ProcessInfo::OverrideRoamingAppDataFolder(std::nullopt);

    EXPECT_EQ(first, std::wstring(L"Roaming") + d + L"Lumetra" + d + L"LumetraControlBox" + d);
    EXPECT_EQ(renamed, std::wstring(L"Roaming") + d + L"Lumetra" + d + L"Box Copy.v2" + d);
    EXPECT_EQ(stillHeld, held) << "the trace keeps the folder it found when the program started";
}

// Records what the line writer hands to the platform.
class RecordingTrace : public TraceFile {
public:
    TLogTime Now() override { return {2026, 12, 9, 5, 3, 7}; }
    TLogSeparators Separators() override { return {L".", L"h"}; }
    std::vector<std::uint8_t> ToAnsi(const std::wstring& text) override {
        std::vector<std::uint8_t> bytes;
        for (wchar_t c : text) bytes.push_back(c < 256 ? static_cast<std::uint8_t>(c) : '?');
        return bytes;
    }
    void Append(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override {
        if (Refuse) throw EInOutError(L"Cannot write to \"" + path + L"\": held by another program");
        Appends.emplace_back(path, std::string(bytes.begin(), bytes.end()));
    }
    void CreateFolder(const std::wstring& folder) override { Folders.push_back(folder); }

    bool Refuse = false;
    std::vector<std::pair<std::wstring, std::string>> Appends;
    std::vector<std::wstring> Folders;
};

class LineWriter : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        SetTraceFile(&FTrace);
    }
    void TearDown() override {
        // A line written leaves the writer ready to tell the next failure.
        FTrace.Refuse = false;
        AppendLogLine(L"trace.log", L"", L"");
        MainThread::ProcessMessages();
        SetTraceFile(nullptr);
    }
    RecordingTrace FTrace;
    bool FRan = false;  // set by work posted to the main thread; drained in TearDown
};

TEST_F(LineWriter, AppendsTheConvertedLineAndRunsNothingElse) {
    MainThread::Post([this] { FRan = true; });
    AppendLogLine(L"trace.log", L"actSetAsDefault", L"N\u00b0S\u00e9rie AL12 est d\u00e9finit par defaut \u0394");
    ASSERT_EQ(FTrace.Appends.size(), 1u);
    EXPECT_EQ(FTrace.Appends[0].first, L"trace.log");
    EXPECT_EQ(FTrace.Appends[0].second,
              "09.12.2026\t05h03h07\tactSetAsDefault\tN\xB0S\xE9rie AL12 est d\xE9" "finit par defaut ?\r");
    EXPECT_FALSE(FRan) << "a trace line is no point where other work runs";
    MainThread::ProcessMessages();
}

TEST_F(LineWriter, ALineThatCannotBeWrittenIsToldOnceAndTheWorkGoesOn) {
    std::vector<std::wstring> shown;
    Application::SetMessageShower([&](const std::wstring& m) { shown.push_back(m); });
    const std::wstring told = L"Cannot write to \"trace.log\": held by another program";
    // Each step: whether the file takes the line, and what the operator has been told so far.
    const struct {
        const char* what;
        bool refuse;
        std::vector<std::wstring> shown;
    } steps[] = {
        {"first refusal: told", true, {told}},
        {"refused again: not told again", true, {told}},
        {"and again", true, {told}},
        {"a line written again", false, {told}},
        {"the next refusal is told anew", true, {told, told}},
    };
    std::size_t written = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        FRan = false;
        MainThread::Post([this] { FRan = true; });
        FTrace.Refuse = step.refuse;
        EXPECT_NO_THROW(AppendLogLine(L"trace.log", L"FormShow", L""));
        if (!step.refuse) ++written;
        EXPECT_FALSE(FRan) << "nothing else runs inside a line, written or not";
        MainThread::ProcessMessages();
        EXPECT_EQ(FTrace.Appends.size(), written);
        EXPECT_EQ(shown, step.shown);
    }
    Application::SetMessageShower(nullptr);
}

TEST_F(LineWriter, AFailureToldWhileTheMessageIsShownIsNotToldAgain) {
    // The message box lets other work run, and that work logs too.
    int shownCount = 0;
    Application::SetMessageShower([&](const std::wstring&) {
        ++shownCount;
        AppendLogLine(L"trace.log", L"TimerFindVanto", L"Vanto non trouv\u00e9");
    });
    FTrace.Refuse = true;
    AppendLogLine(L"trace.log", L"FormCreate", L"");
    Application::SetMessageShower(nullptr);
    EXPECT_EQ(shownCount, 1);
}

TEST_F(LineWriter, WriteLogUsesTheHeldFolderAndCreateLogFolderTheGivenOne) {
    WriteLog(L"HIDreader", L"");
    ASSERT_EQ(FTrace.Appends.size(), 1u);
    EXPECT_EQ(FTrace.Appends[0].first, LogFolder() + L"Error.log");
    CreateLogFolder(L"some folder");
    EXPECT_EQ(FTrace.Folders, std::vector<std::wstring>{L"some folder"});
}

TEST_F(LineWriter, CapturedLinesAreWrittenWhereTheyAreHandedOn) {
    auto texts = [&] {
        std::vector<std::string> out;
        for (const auto& a : FTrace.Appends) out.push_back(a.second.substr(a.second.rfind('\t') + 1));
        return out;
    };
    std::vector<TTraceEntry> kept;
    {
        TTraceCapture outer;
        AppendLogLine(L"trace.log", L"P", L"sent 1");
        {
            TTraceCapture inner;
            AppendLogLine(L"trace.log", L"P", L"sent 2");
            WriteLogLines(inner.Take());  // to the capture around it
        }
        kept = outer.Take();
    }
    EXPECT_TRUE(FTrace.Appends.empty()) << "nothing written while captured";
    AppendLogLine(L"trace.log", L"P", L"before");
    WriteLogLines(kept);
    AppendLogLine(L"trace.log", L"P", L"after");
    {
        TTraceCapture dropped;  // lines never taken are written when it ends
        AppendLogLine(L"trace.log", L"P", L"at the end");
    }
    EXPECT_EQ(texts(), (std::vector<std::string>{"before\r", "sent 1\r", "sent 2\r", "after\r", "at the end\r"}));
}

}  // namespace
