// End-to-end scenarios: the simulator runs the real program on virtual control boxes
// beside a stand-in timing-software window, driven by the scripts in scenarios/. Each
// scenario compares what it printed, the reports its control boxes received, the trace
// file and the settings with what they must be.
//
// Every scenario runs a copy of the simulator under a name of its own, so that it starts
// with no settings, no logon entry and no trace of an earlier run, and cannot meet
// another scenario's single-instance mutex.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "SimulatorRunWin32.h"
#include "TextUtils.h"
#include "WholeFile.h"

namespace {

constexpr DWORD kRunLimitMs = 180'000;

const std::string kScenarioDir = LUMETRA_TEST_DATA_DIR "/scenarios/";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A key picture as it reached the control box: 20 output reports of 1024 bytes whose
// headers name the pages 0 to 19 of one key, and the 19200 pixel bytes they carry,
// column by column, blue, green, red. Summed up as "image KEY RRGGBB" with the colour
// most of its pixels have (a greyed picture has red = green = blue), or "image-bad" with
// what is wrong.
std::string SummarizeImage(const std::vector<std::vector<std::uint8_t>>& pages) {
    if (pages.size() != 20) return "image-bad " + std::to_string(pages.size()) + " pages";
    std::vector<std::uint8_t> stream;
    const int key = pages[0].size() > 5 ? pages[0][5] : -1;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const auto& r = pages[p];
        if (r.size() != 1024) return "image-bad page " + std::to_string(p) + " of " + std::to_string(r.size()) + " bytes";
        if (r[0] != 0x02 || r[1] != 0x01 || r[2] != p || r[3] != 0 || r[4] != (p == 19 ? 1 : 0) || r[5] != key)
            return "image-bad header of page " + std::to_string(p);
        if (p == 0) {
            static const std::uint8_t header[] = {0x42, 0x4D, 0x36, 0x4B, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40};
            if (!std::equal(std::begin(header), std::end(header), r.begin() + 16)) return "image-bad bitmap header";
            stream.insert(stream.end(), r.begin() + 61, r.end());
        } else if (p < 19) {
            stream.insert(stream.end(), r.begin() + 16, r.end());
        } else {
            stream.insert(stream.end(), r.begin() + 16, r.begin() + 109);
            if (std::any_of(r.begin() + 109, r.end(), [](std::uint8_t b) { return b != 0; }))
                return "image-bad padding of page 19";
        }
    }
    if (stream.size() != 19200) return "image-bad stream of " + std::to_string(stream.size()) + " bytes";
    std::map<std::uint32_t, int> counts;
    for (std::size_t i = 0; i < stream.size(); i += 3)
        ++counts[(std::uint32_t{stream[i + 2]} << 16) | (std::uint32_t{stream[i + 1]} << 8) | stream[i]];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    char colour[8];
    std::snprintf(colour, sizeof colour, "%06x", static_cast<unsigned>(most->first));
    return "image " + std::to_string(key - 1) + " " + colour;
}

// The simulator's output with each run of image reports summed up; other lines unchanged.
std::vector<std::string> SummarizeDumps(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::vector<std::vector<std::uint8_t>> pages;
    auto flush = [&] {
        if (!pages.empty()) out.push_back(SummarizeImage(pages));
        pages.clear();
    };
    for (const auto& line : lines) {
        if (line.rfind("output ", 0) == 0) {
            const auto bytes = FromHex(line.substr(7));
            // A new picture starts with page 0.
            if (bytes.size() > 2 && bytes[2] == 0) flush();
            pages.push_back(bytes);
            if (pages.size() == 20) flush();
            continue;
        }
        flush();
        out.push_back(line);
    }
    flush();
    return out;
}

// The window handle that follows `marker` in `line`, which differs from run to run,
// written as {HWND}.
void HideHandleAfter(std::string& line, const std::string& marker) {
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) return;
    std::size_t end = at + marker.size();
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    line.replace(at + marker.size(), end - at - marker.size(), "{HWND}");
}

void HideNumberAfter(std::string& line, const std::string& marker, const std::string& as) {
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) return;
    std::size_t end = at + marker.size();
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    line.replace(at + marker.size(), end - at - marker.size(), as);
}

std::wstring Widen(const std::string& s) { return Utf8ToWide(s); }

// The system's text for a file that is not there, as the simulator reports it.
std::string MissingFileText() {
    std::error_code error;
    (void)std::filesystem::file_size(L"C:\\no\\such\\picture.bmp", error);
    return error.message();
}

class Scenario : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FAppName = std::string("E2E") + info->name();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        FFolder = std::wstring(temp) + L"lumetra-e2e\\";
        CreateDirectoryW(FFolder.c_str(), nullptr);
        FExe = FFolder + Widen(FAppName) + L".exe";
        ASSERT_TRUE(CopyFileW(Widen(LUMETRA_SIM_EXE).c_str(), FExe.c_str(), FALSE)) << GetLastError();
        Forget();
    }

    void TearDown() override {
        Forget();
        DeleteFileW(FExe.c_str());
    }

    // No settings, no logon entry, no trace: a first start.
    void Forget() {
        ForgetSettings(Widen(FAppName));
        DeleteFileW(LogPath().c_str());
    }

    std::wstring LogPath() const {
        wchar_t appData[MAX_PATH];
        GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
        return std::wstring(appData) + L"\\Lumetra\\" + Widen(FAppName) + L"\\Error.log";
    }

    TSimulatorRun RunScript(const std::string& script) { return RunSimulator(FExe, script, kRunLimitMs); }

    // The trace as procedure name and text per line, the clock left out, in UTF-8, with the
    // stand-in window's handle written as {HWND}.
    std::vector<std::string> Trace() const {
        std::ifstream in(WideToUtf8(LogPath()), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        const std::string ansi = s.str();
        std::wstring wide(ansi.size(), L'\0');
        const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                          static_cast<int>(wide.size()));
        wide.resize(static_cast<std::size_t>(std::max(n, 0)));
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < wide.size()) {
            std::size_t end = wide.find(L'\r', start);
            if (end == std::wstring::npos) end = wide.size();
            std::string line = WideToUtf8(wide.substr(start, end - start));
            // date, tab, time, tab: dropped.
            std::size_t tabs = 0, cut = 0;
            for (std::size_t i = 0; i < line.size() && tabs < 2; ++i)
                if (line[i] == '\t' && ++tabs == 2) cut = i + 1;
            line = line.substr(cut);
            HideHandleAfter(line, "Vanto trouv\xC3\xA9 : ");
            HideHandleAfter(line, "Handle=");
            // A key-down's delay is the clock's.
            HideNumberAfter(line, "apr\xC3\xA8s ", "{MS}");
            HideNumberAfter(line, "re\xC3\xA7u avec ", "{MS}");
            lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }

    // Runs scenarios/NAME.lcb and compares the printed lines with NAME.out and the trace
    // with NAME.log; the exit code must be `exitCode`.
    void Play(const std::string& name, DWORD exitCode = 0) {
        std::string script = Slurp(kScenarioDir + name + ".lcb");
        ReplaceAll(script, "{DATA}", LUMETRA_TEST_DATA_DIR);
        const TSimulatorRun run = RunScript(script);
        std::vector<std::string> printed = SummarizeDumps(Lines(run.Output));
        std::string text = Join(printed);
        ReplaceAll(text, WideToUtf8(FExe), "{EXE}");
        ReplaceAll(text, WideToUtf8(LogPath()), "{LOG}");
        ReplaceAll(text, LUMETRA_TEST_DATA_DIR, "{DATA}");
        // What changes with every release, and what the system says of a missing file in
        // its own words, which are not ours to keep in a golden file.
        ReplaceAll(text, " Ver " LUMETRA_PROJECT_VERSION4 "|", " Ver {VERSION}|");
        ReplaceAll(text, "\": " + MissingFileText() + "\n", "\": {MISSING FILE}\n");
        const std::string trace = Join(Trace());
        // What this run gave, kept beside the copy for a look when it differs.
        const std::string kept = WideToUtf8(FFolder) + name;
        std::ofstream(kept + ".out", std::ios::binary) << text;
        std::ofstream(kept + ".log", std::ios::binary) << trace;
        EXPECT_EQ(text, Slurp(kScenarioDir + name + ".out"))
            << "printed lines of " << name << ", kept in " << kept << ".out";
        EXPECT_EQ(trace, Slurp(kScenarioDir + name + ".log")) << "trace of " << name << ", kept in " << kept << ".log";
        EXPECT_EQ(run.ExitCode, exitCode);
    }

    std::string FAppName;
    std::wstring FFolder;
    std::wstring FExe;
};

// One value of another type among the settings of a former run: the program starts whole
// and forwards presses, and after Quit every other value and the logon entry are as they
// were, the spoilt one stored again with its own type.
TEST_F(Scenario, ASettingOfAnotherTypeLosesNothing) {
    struct Stored {
        DWORD Type;
        std::vector<std::uint8_t> Data;
        bool operator==(const Stored&) const = default;
    };
    auto dword = [](std::uint32_t v) {
        return Stored{REG_DWORD, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}};
    };
    auto text = [](const std::wstring& t) {
        Stored s{REG_SZ, {}};
        for (wchar_t c : t) s.Data.insert(s.Data.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
        s.Data.insert(s.Data.end(), {0, 0});
        return s;
    };
    const std::wstring exe = FExe.find(L' ') == std::wstring::npos ? FExe : L"\"" + FExe + L"\"";
    struct Case {
        std::string Script;
        const wchar_t* Name;
        Stored Planted;
        // After Quit: "DEMARRAGE_AUTO", "CHECK_UPDATES_AUTO", "DefaultSerial".
        Stored Demarrage, CheckUpdates, Serial;
    };
    const Case cases[] = {
        {"wrong_type_demarrage", L"DEMARRAGE_AUTO", text(L"1"), dword(1), dword(0), text(L"WT0001")},
        {"wrong_type_check_updates", L"CHECK_UPDATES_AUTO", text(L"0"), dword(1), dword(1), text(L"WT0001")},
        {"wrong_type_default_serial", L"DefaultSerial", dword(1), dword(1), dword(0), text(L"WT0001")},
    };
    const std::wstring key = L"Software\\Lumetra\\" + Widen(FAppName);
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    auto put = [](const std::wstring& path, const std::wstring& name, const Stored& value) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), value.Type, value.Data.data(),
                                  static_cast<DWORD>(value.Data.size())),
                  ERROR_SUCCESS);
    };
    auto get = [](const std::wstring& path, const std::wstring& name) {
        Stored value{REG_NONE, std::vector<std::uint8_t>(1024)};
        DWORD size = 1024;
        if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.Type,
                         value.Data.data(), &size) != ERROR_SUCCESS)
            return Stored{REG_NONE, {}};
        value.Data.resize(size);
        return value;
    };
    for (const auto& c : cases) {
        Forget();
        put(key, L"DEMARRAGE_AUTO", dword(1));
        put(key, L"CHECK_UPDATES_AUTO", dword(0));
        put(key, L"DefaultSerial", text(L"WT0001"));
        put(runKey, Widen(FAppName), text(exe));
        put(key, c.Name, c.Planted);
        Play(c.Script);
        EXPECT_EQ(get(key, L"DEMARRAGE_AUTO"), c.Demarrage) << c.Script;
        EXPECT_EQ(get(key, L"CHECK_UPDATES_AUTO"), c.CheckUpdates) << c.Script;
        EXPECT_EQ(get(key, L"DefaultSerial"), c.Serial) << c.Script;
        EXPECT_EQ(get(runKey, Widen(FAppName)), text(exe)) << c.Script;
    }
}

TEST_F(Scenario, FirstStartWithABox) { Play("first_start"); }
TEST_F(Scenario, ChoosingAndClearingTheDefault) { Play("default_choose_clear"); }
TEST_F(Scenario, DefaultBoxPulledAndPluggedAgain) { Play("default_replug"); }
TEST_F(Scenario, TimingSoftwareComesAndGoesWhileKeysArePressed) { Play("vanto_presence"); }
TEST_F(Scenario, TwoBoxesOnlyTheCurrentOneForwards) { Play("two_boxes"); }
TEST_F(Scenario, QuitWithTheWindowHidden) { Play("quit"); }
TEST_F(Scenario, LaterSixKeyRevisionForwardsOtherModelsStayOut) { Play("later_revision"); }
TEST_F(Scenario, BadScriptsReportErrorsAndCarryOn) { Play("bad_script", 2); }
TEST_F(Scenario, ATraceFileHeldByAnotherProgramNeverStopsAKeyPress) { Play("held_log"); }
TEST_F(Scenario, ATitleLongerThanTheSearchReadsStillTakesTheKeys) { Play("long_title"); }
TEST_F(Scenario, OverlappingPressesReachTheTimingSoftwareOnceEach) { Play("overlapping_presses"); }
TEST_F(Scenario, FailingReportsAndShortReadsStopNoPressNorAnotherBox) { Play("faults"); }
TEST_F(Scenario, DefaultBoxReplugedWithinOnePassStaysCurrent) { Play("replug_one_pass"); }
TEST_F(Scenario, BoxReplugedWhileTheProgramIsBusyComesBackLive) { Play("replug_busy"); }
TEST_F(Scenario, ReadsThatKeepFailingAreReopenedAndTracedOnce) { Play("reads_failing"); }
TEST_F(Scenario, OtherDevicesNoticesDuringPressesCostNoPass) { Play("other_devices"); }
TEST_F(Scenario, ShortAndForeignReportsFireNothing) { Play("short_foreign_reports"); }
TEST_F(Scenario, APressFindsTheTimingSoftwareAtOnce) { Play("vanto_at_once"); }
TEST_F(Scenario, ATraceHeldFromTheMiddleOfARunLosesNoLineAndHoldsNoKey) { Play("held_log_midrun"); }
TEST_F(Scenario, ATimingSoftwareThatHangsHoldsNothingAndGetsEveryKeyOnce) { Play("vanto_hang"); }
TEST_F(Scenario, QuitWhileTheTimingSoftwareHangs) { Play("vanto_hang_quit"); }

}  // namespace

namespace {

// "Check for Update" from the tray menu against an update server on this machine: the
// release's files are fetched and installed, and the restart question is answered.
TEST_F(Scenario, CheckForUpdateInstallsTheReleaseFiles) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    const std::string exe = FAppName + ".exe";
    server.Route("/release/" + exe, {200, true, -1, "a newer program", std::string::npos});
    server.Route("/release/readme.txt", {200, true, -1, "Release notes of the update\r\n", std::string::npos});
    server.Route("/lumetra.txt",
                 {200, true, -1,
                  "[update]\r\nunconditional=1\r\n"
                  "[application]\r\nappupdate=1\r\nappname=" + exe + "\r\nappcomps=" + exe + "\r\n"
                  "[files]\r\ncount=2\r\n"
                  "[file1]\r\nurl=" + base + "/release/" + exe + "\r\n"
                  "[file2]\r\nurl=" + base + "/release/readme.txt\r\ntargetdir={APP}\r\n",
                  std::string::npos});

    // Pointed at the server only once started, so that the check at start-up stays away.
    const TSimulatorRun run = RunScript(
        "start\n"
        "wait-idle\n"
        "update-url " +
        base +
        "/lumetra.txt\n"
        "answer no\n"
        "action actCheckUpdates\n"
        "quit\n");
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_NE(run.Output.find("question Shutting down application to update executable files ?"), std::string::npos)
        << run.Output;
    EXPECT_EQ(run.Output.find("error"), std::string::npos) << run.Output;

    // The plain file is installed in the program's folder; the program itself is not
    // replaced while it runs (the restart was refused).
    EXPECT_EQ(Slurp(WideToUtf8(FFolder) + "readme.txt"), "Release notes of the update\r\n");
    EXPECT_NE(Slurp(WideToUtf8(FExe)), "a newer program");
    DeleteFileW((FFolder + L"readme.txt").c_str());
    EXPECT_GE(server.Requests(), 3);
}

// A release whose second entry cannot be fetched: nothing of it is installed, the first
// file stays as it was, and the operator is told which file was missing.
TEST_F(Scenario, ReleaseWhoseSecondEntryFailsLeavesTheFirstFileUnchanged) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    const std::string exe = FAppName + ".exe";
    server.Route("/release/readme.txt", {200, true, -1, "notes of the new release\r\n", std::string::npos});
    server.Route("/lumetra.txt",
                 {200, true, -1,
                  "[update]\r\nunconditional=1\r\n"
                  "[application]\r\nappupdate=1\r\nappname=" + exe + "\r\nappcomps=" + exe + "\r\n"
                  "[files]\r\ncount=2\r\n"
                  "[file1]\r\nurl=" + base + "/release/readme.txt\r\ntargetdir={APP}\r\n"
                  "[file2]\r\nurl=" + base + "/release/missing.dll\r\ntargetdir={APP}\r\n",
                  std::string::npos});
    const std::string readme = WideToUtf8(FFolder) + "readme.txt";
    { std::ofstream(readme, std::ios::binary) << "notes of the installed release\r\n"; }

    const TSimulatorRun run = RunScript("start\n"
                               "wait-idle\n"
                               "update-url " + base + "/lumetra.txt\n"
                               "action actCheckUpdates\n"
                               "quit\n");
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_NE(run.Output.find("Cannot download update file : " + base + "/release/missing.dll"), std::string::npos)
        << run.Output;
    EXPECT_EQ(run.Output.find("question Shutting down application"), std::string::npos) << run.Output;
    EXPECT_EQ(Slurp(readme), "notes of the installed release\r\n");
    DeleteFileW((FFolder + L"readme.txt").c_str());
}

}  // namespace

namespace {

// The temporary files a transfer writes ("WUPD*.tmp" in the user's temporary folder).
std::vector<std::wstring> TransferFiles() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(temp) + L"WUPD*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The lines a run printed that tell what the user and the timing software saw.
std::string Seen(const std::string& output) {
    std::string out;
    for (const std::string& line : Lines(output)) {
        std::string l = line;
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (l.rfind("keydown ", 0) == 0 || l.rfind("msgbox ", 0) == 0 || l.rfind("question ", 0) == 0 ||
            l.rfind("error ", 0) == 0)
            out += l + "\n";
    }
    return out;
}

// A control box made the default beside a stand-in timing-software window, ready for
// presses; the update engine pointed at `url` with the given limits (milliseconds).
std::string ReadyBox(const std::string& serial, const std::string& url, const std::string& limits) {
    return "plug " + serial + "\n"
           "update-url " + url + "\n"
           "update-limits " + limits + "\n"
           "start\n"
           // From here on the check at start-up waits on the server.
           "select 1\n"
           "action actSetAsDefault\n"
           "vanto VANTO3 - [1] Trail - Lab > [1] 10 km\n"
           "tick\n";
}

// A server that accepts the connection and never answers (a captive portal, a
// black-holed venue network): presses during the check at start-up and during a run from
// the menu arrive as key-downs; each run ends by its receive limit, silently at start-up,
// with "No Internet Connection Found" from the menu.
TEST_F(Scenario, ServerThatNeverAnswersHoldsNoPress) {
    TLoopbackServer server;
    TRoute silent;
    silent.NeverAnswer = true;
    server.Route("/lumetra.txt", silent);
    const TSimulatorRun run =
        RunScript(ReadyBox("NA0001", WideToUtf8(server.Base()) + "/lumetra.txt", "2000 2000 2000 60000") +
                  "press NA0001 0\n"
                  "wait 300\n"
                  "press NA0001 1\n"
                  "wait-idle\n"
                  "action actCheckUpdates &\n"
                  "press NA0001 2\n"
                  "wait 300\n"
                  "press NA0001 3\n"
                  "wait-idle\n"
                  "press NA0001 4\n"
                  "quit\n");
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_EQ(Seen(run.Output),
              "keydown 116\nkeydown 117\nkeydown 118\nkeydown 123\nmsgbox No Internet Connection Found\nkeydown 114\n")
        << run.Output;
    EXPECT_GE(server.Requests(), 2);
}

// Quit while a run waits on a server that never answers ends the program at once, not
// when the limits run out, and leaves no transfer behind.
TEST_F(Scenario, QuitWhileTheServerNeverAnswersEndsPromptly) {
    TLoopbackServer server;
    TRoute silent;
    silent.NeverAnswer = true;
    server.Route("/lumetra.txt", silent);
    const std::vector<std::wstring> before = TransferFiles();
    const auto started = std::chrono::steady_clock::now();
    // Limits far beyond what the test waits: only giving the run up ends it in time.
    const TSimulatorRun run =
        RunScript(ReadyBox("QN0001", WideToUtf8(server.Base()) + "/lumetra.txt", "600000 600000 600000 600000") +
                  "press QN0001 0\n"
                  "quit\n");
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_EQ(Seen(run.Output), "keydown 116\n") << run.Output;
    EXPECT_LT(took, std::chrono::seconds(60)) << "the run was not given up";
    EXPECT_EQ(TransferFiles(), before);
    // The way out as always: the box reset, the settings written.
    const std::vector<std::string> trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "FormDestroy\t");
}

// The control file and a 1 MiB release file trickle at 16 KiB/s: presses during the
// check at start-up and during a run from the menu arrive as key-downs, and each run ends
// by the request's limit (silently at start-up, "No Internet Connection Found" from the
// menu) with nothing installed and no transfer left behind.
TEST_F(Scenario, TrickledReleaseEndsByItsLimit) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    TRoute release;
    release.Body = std::string(1 << 20, 'r');
    release.BytesPerSecond = 16 * 1024;
    server.Route("/release/trickle.bin", release);
    TRoute control;
    control.Body = "[update]\r\nunconditional=1\r\n"
                   "[files]\r\ncount=1\r\n"
                   "[file1]\r\nurl=" + base + "/release/trickle.bin\r\ntargetdir={APP}\r\n";
    control.BytesPerSecond = 16 * 1024;
    server.Route("/lumetra.txt", control);
    const std::vector<std::wstring> before = TransferFiles();

    const TSimulatorRun run = RunScript(ReadyBox("TR0001", base + "/lumetra.txt", "5000 5000 5000 3000") +
                                        "wait 1500\n"
                                        "press TR0001 0\n"
                                        "wait-idle\n"
                                        "action actCheckUpdates &\n"
                                        "wait 1500\n"
                                        "press TR0001 1\n"
                                        "wait-idle\n"
                                        "quit\n");
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_EQ(Seen(run.Output), "keydown 116\nkeydown 117\nmsgbox No Internet Connection Found\n") << run.Output;
    EXPECT_EQ(GetFileAttributesW((FFolder + L"trickle.bin").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(TransferFiles(), before);
    EXPECT_GE(server.Requests(), 4);
}

}  // namespace
