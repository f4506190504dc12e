// Signed releases end to end: the simulator, linked with a publisher's key made for this
// run, checks for an update against a server on this machine. A good release is installed
// and its date kept among the settings; a tampered control file or a file that is not the
// one pinned is told and installs nothing, also at start-up; a release of the program itself
// is installed by the real updater, which then starts the new program.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "HostOpenssl.h"
#include "LoopbackServer.h"
#include "SimulatorRunWin32.h"
#include "ReleaseCrypto.h"
#include "ReleaseVerifier.h"
#include "TextUtils.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kRunLimitMs = 180'000;
const std::string kControlPath = "/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";

std::string Sha256Of(const std::string& text) {
    auto hash = MakeSystemReleaseCrypto()->NewSha256();
    hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return WideToUtf8(Sha256Hex(*hash->Finish()));
}

// Today in UTC as a control file writes it: a program never takes a release dated before
// the day it was built, and it was built before this test ran.
std::string Today() { return WideToUtf8(FormatShortDate(UtcNow())); }
std::wstring TodayStored(const std::string& time) {
    const TDateStamp now = UtcNow();
    TDateStamp at{now.Year, now.Month, now.Day, 0, 0, 0};
    at.Hour = std::stoi(time.substr(0, 2));
    at.Minute = std::stoi(time.substr(3, 2));
    return FormatStoredReleaseDate(at);
}

class SignedScenario : public testing::Test {
protected:
    void SetUp() override {
        FAppName = std::string("E2ESigned") + testing::UnitTest::GetInstance()->current_test_info()->name();
        FFolder = fs::temp_directory_path() / "lumetra-e2e-signed";
        fs::create_directories(FFolder);
        FExe = FFolder / (FAppName + ".exe");
        ASSERT_TRUE(CopyFileW(Utf8ToWide(LUMETRA_SIGNED_SIM_EXE).c_str(), FExe.wstring().c_str(), FALSE))
            << "LumetraSimSigned.exe is made by the test e2e_signed_simulator (" << GetLastError() << ")";
        Forget();
    }
    void TearDown() override {
        Forget();
        std::error_code error;
        for (const fs::path& file : {FExe, FFolder / "readme.txt", FFolder / "Helper.dll", Started()})
            fs::remove(file, error);
    }
    // Written by the new program of a release once the updater has started it.
    fs::path Started() const { return FFolder / (FAppName + ".started"); }
    // No settings and no trace: a first start.
    void Forget() { ForgetSettings(Utf8ToWide(FAppName)); }
    std::wstring Setting(const wchar_t* name) const { return TextSetting(Utf8ToWide(FAppName), name); }

    // The publisher's signature, made with the key the simulator was linked with.
    std::string Sign(const std::string& text) {
        const fs::path file = FFolder / "control.txt";
        Spill(file, text);
        const fs::path signature = FFolder / "control.txt.sig";
        std::error_code error;
        fs::remove(signature, error);
        EXPECT_TRUE(Openssl("dgst -sha256 -sign '" LUMETRA_SIGNED_SIM_DIR "/publisher.pem' -out " + Unix(signature) +
                                " " + Unix(file),
                            FFolder));
        return Slurp(signature);
    }

    TSimulatorRun RunScript(const std::string& script) { return RunSimulator(FExe.wstring(), script, kRunLimitMs); }

    std::string FAppName;
    fs::path FFolder;
    fs::path FExe;
};

TEST_F(SignedScenario, CheckForUpdateTakesOnlyTheSignedRelease) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    const std::string readme = "Release notes of the signed update\r\n";
    auto release = [&](const std::string& pin) {
        return "[update]\r\nunconditional=1\r\ndate=" + Today() +
               "\r\ntime=08:15\r\n"
               "[files]\r\ncount=1\r\n[file1]\r\nurl=" +
               base + "/release/readme.txt\r\ntargetdir={APP}\r\nsha256=" + pin + "\r\n";
    };
    const std::string good = release(Sha256Of(readme));
    const std::string goodSignature = Sign(good);
    std::string tampered = good;
    tampered.replace(tampered.find("08:15"), 5, "08:16");
    const std::string wrongHash = release(Sha256Of("other notes"));
    const std::string menu = "start\nwait-idle\nupdate-url " + base + "/lumetra.INF\naction actCheckUpdates\nquit\n";
    const std::string atStartUp = "update-url " + base + "/lumetra.INF\nstart\nwait-idle\nquit\n";
    const struct {
        const char* Name;
        std::string Control;
        std::string Signature;
        std::string Script;
        const char* Told;  // "" for nothing told
        bool Installed;
    } cases[] = {
        {"good release", good, goodSignature, menu, "", true},
        {"tampered", tampered, goodSignature, menu, "msgbox Invalid signature in update control file", false},
        {"tampered, at start-up", tampered, goodSignature, atStartUp,
         "msgbox Invalid signature in update control file", false},
        {"wrong file hash", wrongHash, Sign(wrongHash), menu,
         "msgbox Invalid signature in update control file : readme.txt", false},
    };
    for (const auto& c : cases) {
        Forget();
        std::error_code error;
        fs::remove(FFolder / "readme.txt", error);
        server.Route("/lumetra.INF", {200, true, -1, c.Control, std::string::npos});
        server.Route("/lumetra.INF.sig", {200, true, -1, c.Signature, std::string::npos});
        server.Route("/release/readme.txt", {200, true, -1, readme, std::string::npos});
        const TSimulatorRun run = RunScript(c.Script);
        EXPECT_EQ(run.ExitCode, 0u) << c.Name << "\n" << run.Output;
        if (*c.Told != '\0')
            EXPECT_NE(run.Output.find(c.Told), std::string::npos) << c.Name << "\n" << run.Output;
        else
            EXPECT_EQ(run.Output.find("msgbox"), std::string::npos) << c.Name << "\n" << run.Output;
        EXPECT_EQ(fs::exists(FFolder / "readme.txt"), c.Installed) << c.Name;
        if (c.Installed) EXPECT_EQ(Slurp(FFolder / "readme.txt"), readme);
        // Only an accepted control file moves the newest release date on.
        EXPECT_EQ(Setting(L"LastReleaseDate"),
                  c.Name == std::string("wrong file hash") || c.Installed ? TodayStored("08:15") : L"(none)")
            << c.Name;
    }
}

// What a keyed program refuses, through the simulator: nothing the signature does not cover
// is shown or run, an expired or lower release installs nothing, and a server announcing a
// length past a ceiling (control file, signature, release file) is refused at once.
TEST_F(SignedScenario, WhatTheSignatureDoesNotCoverIsNeitherShownNorRun) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    const std::string readme = "Release notes of the signed update\r\n";
    const std::string notes = "<p>What is new</p>";
    const std::string file = "[files]\r\ncount=1\r\n[file1]\r\nurl=" + base +
                             "/release/readme.txt\r\ntargetdir={APP}\r\nsha256=" + Sha256Of(readme) + "\r\n";
    auto control = [&](const std::string& update, const std::string& rest) {
        return "[update]\r\nunconditional=1\r\ndate=" + Today() + "\r\ntime=09:30\r\n" + update + rest + file;
    };
    const std::string menu = "start\nwait-idle\nupdate-url " + base +
                             "/lumetra.INF\nanswer yes\nanswer yes\n"
                             "action actCheckUpdates\nquit\n";
    const std::string unpinned = control("", "[action]\r\nhtmldlg=" + base +
                                                 "/info.htm\r\nrunafter=C:\\windows\\notepad.exe\r\n"
                                                 "[whatsnew]\r\nfile=" +
                                                 base + "/release/notes.htm\r\n");
    const std::string pinned =
        control("", "[whatsnew]\r\nfile=" + base + "/release/notes.htm\r\nsha256=" + Sha256Of(notes) + "\r\n");
    const std::string expired = control("expires=01/01/2020 00:00\r\n", "");
    const std::string lower = control("newversion=0.0.0.1\r\n", "");
    const std::string good = control("", "");
    constexpr std::int64_t kHuge = 1'000'000'000'000;
    const struct {
        const char* Name;
        std::string Control;
        TRoute ControlRoute, SignatureRoute, FileRoute;  // status 0: the default route
        std::vector<std::string> Seen, NotSeen;
        bool Installed;
    } cases[] = {
        {"htmldlg, unpinned notes, runafter outside the folder",
         unpinned,
         {0},
         {0},
         {0},
         {},
         {"htmldialog", "question whatsnew", "msgbox open", "notepad"},
         true},
        {"pinned notes", pinned, {0}, {0}, {0}, {"question whatsnew"}, {"msgbox"}, true},
        {"expired",
         expired,
         {0},
         {0},
         {0},
         {"msgbox Update control file refused, it expired on 01/01/2020 00:00"},
         {},
         false},
        {"lower newversion", lower, {0}, {0}, {0}, {"msgbox Update refused, its version 0.0.0.1 is older"}, {}, false},
        {"control file announcing a huge length",
         good,
         {200, true, kHuge, good},
         {0},
         {0},
         {"msgbox Update control file not found"},
         {},
         false},
        {"signature announcing a huge length",
         good,
         {0},
         {200, true, kHuge, std::string(4096, 's')},
         {0},
         {"msgbox Invalid signature in update control file"},
         {},
         false},
        {"release file announcing a huge length",
         good,
         {0},
         {0},
         {200, true, kHuge, readme},
         {"msgbox Cannot download update file"},
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Forget();
        std::error_code error;
        fs::remove(FFolder / "readme.txt", error);
        const std::string signature = Sign(c.Control);
        server.Route("/lumetra.INF", c.ControlRoute.Status ? c.ControlRoute : TRoute{200, true, -1, c.Control});
        server.Route("/lumetra.INF.sig", c.SignatureRoute.Status ? c.SignatureRoute : TRoute{200, true, -1, signature});
        server.Route("/release/readme.txt", c.FileRoute.Status ? c.FileRoute : TRoute{200, true, -1, readme});
        server.Route("/release/notes.htm", {200, true, -1, notes});
        server.Route("/info.htm", {200, true, -1, "<script>alert(1)</script>"});
        const TSimulatorRun run = RunScript(menu);
        EXPECT_EQ(run.ExitCode, 0u) << run.Output;
        for (const std::string& seen : c.Seen)
            EXPECT_NE(run.Output.find(seen), std::string::npos) << seen << "\n" << run.Output;
        for (const std::string& not_seen : c.NotSeen)
            EXPECT_EQ(run.Output.find(not_seen), std::string::npos) << not_seen << "\n" << run.Output;
        EXPECT_EQ(fs::exists(FFolder / "readme.txt"), c.Installed);
    }
}

// A release of the program's two components that changes one: the program fetches and checks
// it, asks to restart, ends; the updater carried in its resources waits for it, swaps the
// program alone (the other component stays as installed) and starts the new program.
TEST_F(SignedScenario, ReleaseChangingOneOfTwoComponentsIsInstalledByTheUpdater) {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    const std::string newProgram = Slurp(fs::path(Utf8ToWide(LUMETRA_NEW_PROGRAM_EXE)));
    ASSERT_FALSE(newProgram.empty());
    const std::string oldProgram = Slurp(FExe);
    const std::string helper = "helper component, as installed";
    Spill(FFolder / "Helper.dll", helper);
    const std::string exeName = FAppName + ".exe";
    const std::string control = "[update]\r\nunconditional=1\r\ndate=" + Today() +
                                "\r\ntime=10:45\r\n[application]\r\nappupdate=1\r\nappname=" + exeName +
                                "\r\nappparam=-fresh\r\nappcomps=" + exeName + " Helper.dll\r\n[files]\r\ncount=1\r\n"
                                "[file1]\r\nurl=" + base + "/release/" + exeName + "\r\nsha256=" +
                                Sha256Of(newProgram) + "\r\n";
    server.Route("/lumetra.INF", {200, true, -1, control});
    server.Route("/lumetra.INF.sig", {200, true, -1, Sign(control)});
    server.Route("/release/" + exeName, {200, true, -1, newProgram});
    const TSimulatorRun run = RunScript("shell-open run\nstart\nwait-idle\nupdate-url " + base +
                                        "/lumetra.INF\nanswer yes\naction actCheckUpdates\n");
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_NE(run.Output.find("question Shutting down application to update executable files ?"), std::string::npos)
        << run.Output;
    // Nothing told but the start of the updater, which is given the one component this run
    // fetched, with its hash.
    const std::size_t opened = run.Output.find("msgbox open ");
    ASSERT_NE(opened, std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("msgbox"), opened) << run.Output;
    EXPECT_EQ(run.Output.find("msgbox", opened + 1), std::string::npos) << run.Output;
    const std::string line = run.Output.substr(opened, run.Output.find('\n', opened) - opened);
    EXPECT_NE(line.find("\\upd.exe "), std::string::npos) << line;
    EXPECT_NE(line.find(" " + exeName + "|" + Sha256Of(newProgram)), std::string::npos) << line;
    EXPECT_EQ(line.find("Helper.dll"), std::string::npos) << line;

    // The simulator has ended: the updater swaps the program and starts the new one.
    for (int waited = 0; waited < 600 && !fs::exists(Started()); ++waited) Sleep(100);
    ASSERT_TRUE(fs::exists(Started())) << "the new program was not started\n" << run.Output;
    EXPECT_EQ(Slurp(Started()), "started -fresh");
    EXPECT_EQ(Slurp(FExe), newProgram);
    EXPECT_NE(Slurp(FExe), oldProgram);
    EXPECT_EQ(Slurp(FFolder / "Helper.dll"), helper);
    EXPECT_EQ(Setting(L"LastReleaseDate"), TodayStored("10:45"));
}

}  // namespace
