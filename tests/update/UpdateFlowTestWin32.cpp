// Whole update runs over real WinInet against the test's own loopback server, with the
// real cabinet library and the updater carried among the test's resources; the dialogs
// are answered from a script, as the simulator answers them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "UpdateAnswers.h"
#include "ReleaseCrypto.h"
#include "SignedRelease.h"
#include "UpdateFileSystem.h"
#include "WUpdate.h"
#include "UpdateEngineFixtureWin32.h"
#include "WholeFile.h"

namespace {

// The SHA-256 the program passes the updater for a component fetched with these bytes.
std::wstring Sha256Of(const std::string& bytes) {
    std::unique_ptr<TSha256> hash = MakeSystemReleaseCrypto()->NewSha256();
    hash->Add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return Sha256Hex(*hash->Finish());
}

namespace fs = std::filesystem;
using TKind = TScriptedUpdateDialogs::TKind;

// The real system, except for the connected-state answer.
class TOfflineCapableSystem : public TUpdateSystem {
public:
    explicit TOfflineCapableSystem(bool& online) : FReal(MakeSystemUpdateSystem()), FOnline(online) {}
    bool InternetConnected() override { return FOnline && FReal->InternetConnected(); }
    std::unique_ptr<TInternetSession> OpenSession(const std::wstring& agent, std::uint32_t& error) override {
        return FReal->OpenSession(agent, error);
    }
    std::wstring ErrorText(std::uint32_t error) override { return FReal->ErrorText(error); }
    std::wstring CurrentFolder() override { return FReal->CurrentFolder(); }
    bool SetCurrentFolder(const std::wstring& folder) override { return FReal->SetCurrentFolder(folder); }
    std::uint32_t ProcessId() override { return FReal->ProcessId(); }
    std::optional<std::vector<std::uint8_t>> UpdaterCabinet() override { return FReal->UpdaterCabinet(); }
    bool WriteIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                        const std::wstring& value) override {
        return FReal->WriteIniString(path, section, key, value);
    }
    std::wstring WindowsName() override { return FReal->WindowsName(); }
    std::wstring BrowserVersion() override { return FReal->BrowserVersion(); }

private:
    std::unique_ptr<TUpdateSystem> FReal;
    bool& FOnline;
};

class UpdateFlowWin32 : public TUpdateEngineFixture {
protected:
    UpdateFlowWin32() : TUpdateEngineFixture("lumetra-flow") {}

    void SetUp() override {
        TUpdateEngineFixture::SetUp();
        Engine->SetSystem(std::make_unique<TOfflineCapableSystem>(Online));
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int) {
            Statuses.push_back(text);
            AnswerUpdateStatus(Dialogs, Starting, text, code);
        };
        Engine->OnAppRestart = [this](TWebUpdate&, bool& allow) { allow = AnswerAppRestart(Dialogs); };
        Engine->OnAppDoClose = [this](TWebUpdate&) { ++Closed; };
    }
    std::string App() const { return (Root / "app").string(); }
    void Route(const std::string& path, const std::string& body, int status = 200) {
        Server.Route(path, TRoute{status, true, -1, body});
    }

    bool Online = true;
    bool Starting = false;
    std::vector<std::wstring> Statuses;
    int Closed = 0;
};

TEST_F(UpdateFlowWin32, OfflineMachineShowsNothing) {
    Engine->SetURL(L"https://update.example" + std::wstring(kControlPath.begin(), kControlPath.end()));
    Online = false;
    for (bool starting : {true, false}) {
        Starting = starting;
        RunUpdateQuietly(*Engine);
    }
    EXPECT_TRUE(Dialogs.Events.empty());
    EXPECT_EQ(Server.Requests(), 0);
}

TEST_F(UpdateFlowWin32, RefusedConnectionSaysNoConnectionFromTheMenuOnly) {
    // Nothing listens on port 1 of the loopback address: online-looking, yet refused.
    Engine->SetURL(L"http://127.0.0.1:1" + std::wstring(kControlPath.begin(), kControlPath.end()));
    Starting = true;
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Dialogs.Events.empty());
    Starting = false;
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"No Internet Connection Found"});
    EXPECT_FALSE(Engine->InProgress());
}

TEST_F(UpdateFlowWin32, MissingControlFileAndCurrentRelease) {
    Starting = true;
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Update control file not found\rUpdate discontinued"});

    std::ofstream(Root / "app" / "LumetraControlBox.exe") << "installed";
    Route(kControlPath, "[update]\r\ndate=01/01/2001\r\nlocalversion={APP}\\LumetraControlBox.exe\r\n");
    Dialogs.Events.clear();
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Dialogs.Events.empty());
    Starting = false;
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"No new version available"});
    EXPECT_FALSE(fs::exists(Root / "temp" / "LumetraControlBox.INF"));
}

TEST_F(UpdateFlowWin32, ReleaseOfTheProgramItselfRestartsThroughTheUpdater) {
    // Left by an earlier run whose restart was refused, and not part of this release.
    std::ofstream(Root / "temp" / "Helper.dll") << "older helper";
    Route(kControlPath, "[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\n"
                        "appname=LumetraControlBox.exe\r\nappcomps=LumetraControlBox.exe Helper.dll\r\n"
                        "[files]\r\ncount=2\r\n"
                        "[file1]\r\nurl=" + FileUrl("LumetraControlBox.exe") + "\r\n[file2]\r\nurl=" +
                            FileUrl("readme.txt") + "\r\ntargetdir={APP}\r\n");
    Route("/files/LumetraControlBox.exe", "new program");
    Route("/files/readme.txt", "read me");
    Dialogs.Answers = {true};
    RunUpdateQuietly(*Engine);

    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Slurp(Root / "app" / "readme.txt"), "read me");
    EXPECT_EQ(Slurp(Root / "temp" / "LumetraControlBox.exe"), "new program");
    ASSERT_EQ(Dialogs.Of(TKind::Confirmation).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::Confirmation)[0].Text, L"Shutting down application to update executable files ?");

    // The updater came out of our resources into a fresh folder of its own, its cabinet is
    // gone, its settings are written; the stale component will not reach it.
    const std::wstring temp = (Root / "temp").wstring() + L"\\";
    const std::wstring own = Engine->UpdaterFolder();
    EXPECT_EQ(own.rfind(temp + L"LumetraUpd-", 0), 0u) << own;
    EXPECT_TRUE(fs::exists(own + L"upd.exe"));
    EXPECT_FALSE(fs::exists(own + L"wusetup.cab"));
    EXPECT_FALSE(fs::exists(Root / "temp" / "upd.exe"));
    EXPECT_FALSE(fs::exists(Root / "temp" / "Helper.dll"));
    wchar_t logName[MAX_PATH] = {};
    GetPrivateProfileStringW(L"CONFIG", L"LOGFILENAME", L"", logName, MAX_PATH,
                             (Root / "docs" / "WUPDATE.INI").wstring().c_str());
    EXPECT_STREQ(logName, L"WUPDATE.LOG");

    const std::wstring parameters = std::to_wstring(GetCurrentProcessId()) + L" X " + (Root / "app").wstring() +
                                    L"\\LumetraControlBox.exe \" \" \"" + temp + L"\" LumetraControlBox.exe|" +
                                    Sha256Of("new program");
    ASSERT_EQ(Dialogs.Of(TKind::ShellOpen).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::ShellOpen)[0].Text, own + L"upd.exe");
    EXPECT_EQ(Dialogs.Of(TKind::ShellOpen)[0].Parameters, parameters);
    EXPECT_EQ(Statuses.back(), L"Spawn " + parameters);
    EXPECT_EQ(Closed, 1);
}

TEST_F(UpdateFlowWin32, RefusedRestartKeepsComponentsForALaterRun) {
    Route(kControlPath, "[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\n"
                        "appname=LumetraControlBox.exe\r\nappcomps=LumetraControlBox.exe\r\n[files]\r\ncount=1\r\n"
                        "[file1]\r\nurl=" + FileUrl("LumetraControlBox.exe") + "\r\n");
    Route("/files/LumetraControlBox.exe", "new program");
    Dialogs.Answers = {false, false};
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Slurp(Root / "temp" / "LumetraControlBox.exe"), "new program");
    EXPECT_FALSE(fs::exists(Root / "temp" / "upd.exe"));
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    EXPECT_EQ(Closed, 0);
    // A later run fetches it again.
    const int before = Server.Requests();
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Server.Requests(), before + 2);
    EXPECT_EQ(Dialogs.Of(TKind::Confirmation).size(), 2u);
}

// A release whose cabinet (made by gcab) arrives cut short, over an installed release:
// the installed files stay as they were, the failure is reported, and the program is not
// restarted even though its own component was fetched.
TEST_F(UpdateFlowWin32, CabinetCutShortChangesNothingAndAsksNoRestart) {
    std::string release = LUMETRA_RELEASE_FIXTURES;
    for (char& c : release) c = c == '/' ? '\\' : c;
    const auto fixture = [&](const char* name) { return Slurp(fs::path("Z:" + release) / name); };
    fs::create_directories(Root / "app" / "keys");
    std::ofstream(Root / "app" / "keys" / "Key1.bmp") << "installed one";
    std::ofstream(Root / "app" / "keys" / "Key2.bmp") << "installed two";
    Route(kControlPath, "[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\n"
                        "appname=LumetraControlBox.exe\r\nappcomps=LumetraControlBox.exe\r\n[files]\r\ncount=2\r\n"
                        "[file1]\r\nurl=" + FileUrl("LumetraControlBox.exe") + "\r\n[file2]\r\nurl=" +
                            FileUrl("keys.cab") + "\r\ncompressed=1\r\ntargetdir={APP}\\keys\r\n");
    Route("/files/LumetraControlBox.exe", "new program");
    Route("/files/keys.cab", fixture("keys-cut.cab"));
    Dialogs.Answers = {true};
    RunUpdateQuietly(*Engine);

    EXPECT_EQ(Slurp(Root / "app" / "keys" / "Key1.bmp"), "installed one");
    EXPECT_EQ(Slurp(Root / "app" / "keys" / "Key2.bmp"), "installed two");
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(Root / "app" / "keys")) entries += entry.exists() ? 1 : 0;
    EXPECT_EQ(entries, 2u);
    EXPECT_TRUE(Dialogs.Of(TKind::Confirmation).empty());
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    EXPECT_EQ(Closed, 0);
    const std::wstring reported = L"Error decompressing CAB file : " + (Root / "temp").wstring() + L"\\keys.cab";
    EXPECT_NE(std::find(Statuses.begin(), Statuses.end(), reported), Statuses.end());
}

}  // namespace
