// Whole update runs against a session and system of the test's own, answered the way the
// main window answers them: what the user sees, what is installed, what is left behind.
// One file, longer than most: the cases share one fixture (session, system, answers).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include <unistd.h>

#include "Exceptions.h"
#include "TextUtils.h"
#include "UpdateAnswers.h"
#include "UpdateFileSystem.h"
#include "WUpdate.h"
#include "TempRoot.h"
#include "Base64.h"
#include "WholeFile.h"
#include "ScriptedTransfer.h"

namespace {

namespace fs = std::filesystem;

using TKind = TScriptedUpdateDialogs::TKind;

// The server as the test describes it; addresses it does not know answer 404.
using TServer = TScriptedServer;

class TScriptedSystem : public TUpdateSystem {
public:
    TScriptedSystem(TServer& server, bool& online, std::wstring& currentFolder)
        : FServer(server), FOnline(online), FCurrentFolder(currentFolder) {}
    bool InternetConnected() override { return FOnline; }
    std::unique_ptr<TInternetSession> OpenSession(const std::wstring& agent, std::uint32_t&) override {
        EXPECT_EQ(agent, L"TWebUpdate");
        return std::make_unique<TScriptedSession>(FServer);
    }
    std::wstring ErrorText(std::uint32_t) override { return {}; }
    std::wstring CurrentFolder() override { return FCurrentFolder; }
    bool SetCurrentFolder(const std::wstring& folder) override {
        FCurrentFolder = folder;
        return true;
    }
    std::uint32_t ProcessId() override { return 4242; }
    std::optional<std::vector<std::uint8_t>> UpdaterCabinet() override { return std::nullopt; }
    bool WriteIniString(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&) override {
        return true;
    }
    std::wstring WindowsName() override { return L"Windows 10"; }
    std::wstring BrowserVersion() override { return L"(not found)"; }

private:
    TServer& FServer;
    bool& FOnline;
    std::wstring& FCurrentFolder;
};

const std::wstring kLoopbackURL = L"http://127.0.0.1:8080/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";
const std::wstring kServerURL = L"https://update.example/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";
const std::wstring kFilesBase = L"http://127.0.0.1:8080/files/";

class UpdateRunFixture : public testing::Test {
protected:
    void SetUp() override {
        // Named after the process: test processes run side by side and may well place
        // their fixtures at the same address.
        Root = TempRoot("lumetra-run");
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "docs");
        fs::create_directories(Root / "app");
        TKnownFolders folders = SystemKnownFolders();
        folders.Temp = WidePath(Root / "temp") + Separator();
        folders.Documents = WidePath(Root / "docs");
        folders.Application = WidePath(Root / "app");
        Engine = std::make_unique<TWebUpdate>(MakeSystemFileFacts(), folders);
        Engine->SetURL(kLoopbackURL);
        Engine->SetDialogs(&Dialogs);
        Engine->SetSystem(std::make_unique<TScriptedSystem>(Server, Online, CurrentFolder));
        // Answered as the main window answers.
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int error) {
            Statuses.push_back({text, code, error});
            AnswerUpdateStatus(Dialogs, Starting, text, code);
        };
        Engine->OnAppRestart = [this](TWebUpdate&, bool& allow) { allow = AnswerAppRestart(Dialogs); };
        Engine->OnAppDoClose = [this](TWebUpdate&) { ++Closed; };
    }
    void TearDown() override {
        Engine.reset();
        std::error_code error;
        fs::remove_all(Root, error);
    }

    static std::wstring Separator() { return sizeof(wchar_t) == 2 ? L"\\" : L"/"; }
    std::wstring App() const { return WidePath(Root / "app"); }
    fs::path TempPath(const std::string& name) const { return Root / "temp" / name; }
    // A path as the engine writes a control file's folder + "\" + name.
    std::wstring InApp(const std::wstring& name) const { return App() + L"\\" + name; }

    void ControlFile(const std::string& text) { Server.Responses[kLoopbackURL] = {200, -1, text}; }
    void File(const std::string& name, const std::string& body) {
        Server.Responses[kFilesBase + Utf8ToWide(name)] = {200, -1, body};
    }
    std::string AppDir() const { return WideToUtf8(App()); }

    std::vector<std::wstring> Messages() const {
        std::vector<std::wstring> texts;
        for (const auto& event : Dialogs.Of(TKind::Message)) texts.push_back(event.Text);
        return texts;
    }
    bool Reported(const std::wstring& text) const {
        for (const auto& s : Statuses)
            if (s.Text == text) return true;
        return false;
    }

    struct TStatus {
        std::wstring Text;
        int Code;
        int Error;
    };

    fs::path Root;
    TServer Server;
    bool Online = true;
    bool Starting = false;
    std::wstring CurrentFolder;
    TScriptedUpdateDialogs Dialogs;
    std::unique_ptr<TWebUpdate> Engine;
    std::vector<TStatus> Statuses;
    int Closed = 0;
};

// --- Connection and the control file ------------------------------------------------------

TEST_F(UpdateRunFixture, OfflineShowsNothingAtStartUpNorFromTheMenu) {
    Engine->SetURL(kServerURL);
    Online = false;
    for (bool starting : {true, false}) {
        Starting = starting;
        Statuses.clear();
        RunUpdateQuietly(*Engine);
        ASSERT_FALSE(Statuses.empty());
        EXPECT_EQ(Statuses.back().Text, L"Checking for Internet connection");
    }
    EXPECT_TRUE(Dialogs.Events.empty());
    EXPECT_TRUE(Server.Requested.empty());
}

TEST_F(UpdateRunFixture, StartOfRunReportsItsDiagnosticsInOrder) {
    Online = false;
    Engine->SetURL(kServerURL);
    Engine->DoUpdate();
    const std::vector<std::wstring> expected = {
        L"Start update : Non threaded update ---------------------------",
        L"OS version : Windows 10",
        L"IE version : (not found)",
        L"Compiler : MinGW-w64 GCC, C++20",
        L"Installed IDEs : (none)",
        L"Start WebUpdate process with version : 2.6.0.2",
        L"Checking for Internet connection",
    };
    ASSERT_EQ(Statuses.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Statuses[i].Text, expected[i]) << i;
    // The program's folder is the current folder during a run.
    EXPECT_EQ(CurrentFolder, App());
}

TEST_F(UpdateRunFixture, UnreachableServerSaysNoConnectionFromTheMenuOnly) {
    Server.Responses[kLoopbackURL] = {0, -1, "", std::string::npos, 12029};
    for (bool starting : {true, false}) {
        Starting = starting;
        Dialogs.Events.clear();
        RunUpdateQuietly(*Engine);
        if (starting)
            EXPECT_TRUE(Dialogs.Events.empty());
        else
            EXPECT_EQ(Messages(), std::vector<std::wstring>{L"No Internet Connection Found"});
        // The silent abort leaves no session open behind it.
        EXPECT_EQ(Server.OpenSessions, 0);
        EXPECT_FALSE(Engine->InProgress());
    }
    EXPECT_FALSE(Reported(L"Closed Internet connection"));
}

TEST_F(UpdateRunFixture, MissingControlFileIsToldEvenAtStartUp) {
    Starting = true;
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Update control file not found\rUpdate discontinued"});
    EXPECT_TRUE(Reported(L"Http status : 404"));
    EXPECT_TRUE(Reported(L"Closed Internet connection"));
}

TEST_F(UpdateRunFixture, CurrentReleaseIsSilentAtStartUpAndToldFromTheMenu) {
    Spill(Root / "app" / "LumetraControlBox.exe", "installed");
    ControlFile("[update]\ndate=01/01/2001\nlocalversion=" + AppDir() + (sizeof(wchar_t) == 2 ? "\\" : "/") +
                "LumetraControlBox.exe\n");
    Starting = true;
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Dialogs.Events.empty());
    Starting = false;
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"No new version available"});
    // The downloaded control file is deleted when the session closes.
    EXPECT_FALSE(fs::exists(TempPath("LumetraControlBox.INF")));
}

// --- Files and restart --------------------------------------------------------------------

TEST_F(UpdateRunFixture, GlobalYesWithEveryFileCurrentEndsSilently) {
    Spill(Root / "app" / "data.txt", "12345");
    const std::string local = AppDir() + (sizeof(wchar_t) == 2 ? "\\" : "/") + "data.txt";
    ControlFile("[update]\nunconditional=1\n[files]\ncount=1\n[file1]\nurl=http://127.0.0.1:8080/files/data.txt\n"
                "localversion=" + local + "\nnewsize=5\n");
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Dialogs.Events.empty());
    EXPECT_EQ(Server.Requested.size(), 1u);  // the control file only
    EXPECT_TRUE(Reported(L"Closed Internet connection"));
}

TEST_F(UpdateRunFixture, AppUpdateWithoutComponentsInstallsAndDoesNotRestart) {
    ControlFile("[update]\nunconditional=1\n[application]\nappupdate=1\nappname=LumetraControlBox.exe\n"
                "appcomps=LumetraControlBox.exe\n[files]\ncount=1\n[file1]\n"
                "url=http://127.0.0.1:8080/files/notes.txt\ntargetdir=" + AppDir() + "\n");
    File("notes.txt", "release notes");
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(SystemFileSystem().FileExists(InApp(L"notes.txt")));
    EXPECT_TRUE(Dialogs.Of(TKind::Confirmation).empty());
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    EXPECT_EQ(Closed, 0);
}

TEST_F(UpdateRunFixture, RefusedRestartLeavesTheComponentsInTheTemporaryFolder) {
    ControlFile("[update]\nunconditional=1\n[application]\nappupdate=1\nappname=LumetraControlBox.exe\n"
                "appcomps=LumetraControlBox.exe\n[files]\ncount=1\n[file1]\n"
                "url=http://127.0.0.1:8080/files/LumetraControlBox.exe\ntargetdir=" + AppDir() + "\n");
    File("LumetraControlBox.exe", "new program");
    Dialogs.Answers = {false};
    Starting = true;  // asked also at start-up
    RunUpdateQuietly(*Engine);
    ASSERT_EQ(Dialogs.Of(TKind::Confirmation).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::Confirmation)[0].Text, L"Shutting down application to update executable files ?");
    EXPECT_TRUE(fs::exists(TempPath("LumetraControlBox.exe")));
    EXPECT_FALSE(SystemFileSystem().FileExists(InApp(L"LumetraControlBox.exe")));
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    EXPECT_EQ(Closed, 0);
    EXPECT_TRUE(Reported(L"Found application component : LumetraControlBox.exe"));
}

TEST_F(UpdateRunFixture, AcceptedRestartWithoutAnUpdaterKeepsTheProgramRunning) {
    // This build carries no updater cabinet: closing now would leave no program at all.
    ControlFile("[update]\nunconditional=1\n[application]\nappupdate=1\nappname=LumetraControlBox.exe\n"
                "appcomps=LumetraControlBox.exe\n[files]\ncount=1\n[file1]\n"
                "url=http://127.0.0.1:8080/files/LumetraControlBox.exe\n");
    File("LumetraControlBox.exe", "new program");
    Dialogs.Answers = {true};
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Failed to spawn updater process : upd.exe\rUpdate discontinued"});
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    EXPECT_EQ(Closed, 0);
}

TEST_F(UpdateRunFixture, FailedEntryIsToldAndPreventsTheRestart) {
    ControlFile("[update]\nunconditional=1\n[application]\nappupdate=1\nappname=LumetraControlBox.exe\n"
                "appcomps=LumetraControlBox.exe\n[files]\ncount=2\n[file1]\n"
                "url=http://127.0.0.1:8080/files/missing.dll\n[file2]\n"
                "url=http://127.0.0.1:8080/files/LumetraControlBox.exe\n[action]\nrunafter=after.exe\n");
    File("LumetraControlBox.exe", "new program");
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Cannot download update file : "
                                                    L"http://127.0.0.1:8080/files/missing.dll\rUpdate discontinued"});
    // The other entry is still fetched and the closing actions still run.
    EXPECT_TRUE(fs::exists(TempPath("LumetraControlBox.exe")));
    ASSERT_EQ(Dialogs.Of(TKind::ShellOpen).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::ShellOpen)[0].Text, L"after.exe");
    EXPECT_TRUE(Dialogs.Of(TKind::Confirmation).empty());
}

// --- Actions and dialogs before the download ------------------------------------------------

TEST_F(UpdateRunFixture, ActionsBeforeTheDownloadInTheirOrder) {
    ControlFile("[update]\nunconditional=1\n[action]\nmsg=Hello\\nthere\nhtmldlg=http://127.0.0.1:8080/info.htm\n"
                "runbefore=before.exe\nrunbeforeparam=-x\nshowURL=http://127.0.0.1:8080/news\nquery=Go on?\n");
    Dialogs.ShellOpenResult = false;  // no browser: the address is opened itself
    Dialogs.Answers = {false};
    RunUpdateQuietly(*Engine);
    std::vector<std::pair<TKind, std::wstring>> seen;
    for (const auto& event : Dialogs.Events) seen.emplace_back(event.Kind, event.Text + L"|" + event.Parameters);
    const std::vector<std::pair<TKind, std::wstring>> expected = {
        {TKind::Message, L"Hello\rthere|"},
        {TKind::HTMLDialog, L"http://127.0.0.1:8080/info.htm|"},
        {TKind::ShellOpen, L"before.exe|-x"},
        {TKind::ShellOpen, L"iexplore.exe|-new http://127.0.0.1:8080/news"},
        {TKind::ShellOpen, L"http://127.0.0.1:8080/news|"},
        {TKind::Question, L"Go on?|"},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(Reported(L"Found HTML dialog instruction"));
    // Refused: nothing more is fetched, the session still closes.
    EXPECT_EQ(Server.Requested.size(), 1u);
    EXPECT_TRUE(Reported(L"Closed Internet connection"));
}

TEST_F(UpdateRunFixture, ReleaseNotesAndAgreement) {
    struct TCase {
        const char* Name;
        std::vector<bool> Answers;
        bool NotesShown, EulaShown, FilesFetched, NotesRefusedReported;
    };
    const TCase cases[] = {
        {"both accepted", {true, true}, true, true, true, false},
        {"notes refused: agreement fetched, not shown", {false}, true, false, false, true},
        {"agreement refused", {true, false}, true, true, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ControlFile("[update]\nunconditional=1\n[whatsnew]\nfile=http://127.0.0.1:8080/files/notes.htm\n"
                    "okbtn=Install\n[eula]\nfile=http://127.0.0.1:8080/files/eula.rtf\n[files]\ncount=1\n[file1]\n"
                    "url=http://127.0.0.1:8080/files/a.txt\n");
        File("notes.htm", "<p>New</p>");
        File("eula.rtf", "{\\rtf1 terms}");
        File("a.txt", "a");
        Dialogs.Events.clear();
        Dialogs.Answers.assign(c.Answers.begin(), c.Answers.end());
        Server.Requested.clear();
        Statuses.clear();
        fs::remove(TempPath("a.txt"));
        RunUpdateQuietly(*Engine);
        const auto notes = Dialogs.Of(TKind::WhatsNew);
        ASSERT_EQ(notes.size(), c.NotesShown ? 1u : 0u);
        EXPECT_EQ(notes[0].Text, L"What's new");
        EXPECT_EQ(notes[0].Parameters, L"<p>New</p>");
        EXPECT_EQ(Dialogs.Of(TKind::EULA).size(), c.EulaShown ? 1u : 0u);
        EXPECT_TRUE(Reported(L"Found license agreement instruction"));
        EXPECT_EQ(fs::exists(TempPath("a.txt")), c.FilesFetched);
        EXPECT_EQ(Reported(L"Whatsnew not accepted"), c.NotesRefusedReported);
        // Documents do not stay in the temporary folder.
        EXPECT_FALSE(fs::exists(TempPath("notes.htm")));
        EXPECT_FALSE(fs::exists(TempPath("eula.rtf")));
        EXPECT_TRUE(Dialogs.Of(TKind::Message).empty());
    }
}

TEST_F(UpdateRunFixture, NestedRunIsRefused) {
    ControlFile("[update]\nunconditional=1\n[action]\nmsg=first\n");
    int inner = 0;
    Dialogs.OnEvent = [&](const TScriptedUpdateDialogs::TEvent&) {
        ++inner;
        Engine->DoUpdate();  // "Check for Update" chosen again while the box is up
    };
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(Server.Requested.size(), 1u);
}

// --- The updater's parameter line ---------------------------------------------------------

TEST_F(UpdateRunFixture, UpdaterParameters) {
    struct TCase {
        std::string Application;
        std::wstring Folder;
        std::wstring Expected;
    };
    const std::wstring temp = L"\"" + Engine->WinTempDir() + L"\"";
    const TCase cases[] = {
        {"appname=LumetraControlBox.exe\nappcomps=LumetraControlBox.exe\n", L"C:\\Lumetra",
         L"4242 X C:\\Lumetra\\LumetraControlBox.exe \" \" " + temp},
        {"appname=D:\\Tools\\Lumetra.exe\nappparam=-silent\nappcomps=a.dll,b.dll\n", L"C:\\Lumetra",
         L"4242 X D:\\Tools\\Lumetra.exe -silent " + temp},
        {"appname=LumetraControlBox.exe\nappparam=-a -b\n", L"C:\\Program Files\\Lumetra",
         L"4242 X \"C:\\Program Files\\Lumetra\\LumetraControlBox.exe\" \"-a -b\" " + temp},
        {"appname=D:\\My Tools\\L.exe\n", L"C:\\", L"4242 X \"D:\\My Tools\\L.exe\" \" \" " + temp},
        {"appname=L.exe\n", L"C:\\", L"4242 X C:\\L.exe \" \" " + temp},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Application);
        Spill(Root / "docs" / "control.inf", "[application]\n" + c.Application);
        Engine->SetControlFile(WidePath(Root / "docs" / "control.inf"));
        Engine->ReadApplicationSection();
        CurrentFolder = c.Folder;
        EXPECT_EQ(Engine->UpdaterParameters(), c.Expected);
    }
}

}  // namespace

// --- Signed releases, with a verifier of the test's own ----------------------------------

namespace {

// Real SHA-256; a "signature" is valid when r is the digest and s the key's X: enough to
// tell a signed file from a tampered one, another key or a broken signature file.
class TStandInCrypto : public TReleaseCrypto {
public:
    std::unique_ptr<TSha256> NewSha256() override { return MakeSystemReleaseCrypto()->NewSha256(); }
    bool VerifyP256(const TP256PublicKey& key, const TSha256Digest& digest, const TP256Signature& signature) override {
        return std::equal(digest.begin(), digest.end(), signature.begin()) &&
               std::equal(key.X.begin(), key.X.end(), signature.begin() + 32);
    }
};

// The PEM of a P-256 key whose X is all `x` bytes.
std::string KeyPem(std::uint8_t x) {
    std::vector<std::uint8_t> der = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
                                     0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
    der.insert(der.end(), 32, x);
    der.insert(der.end(), 32, 0x5A);
    return "-----BEGIN PUBLIC KEY-----\n" + Base64(der) + "\n-----END PUBLIC KEY-----\n";
}

std::string Sha256HexOf(const std::string& text) {
    auto hash = MakeSystemReleaseCrypto()->NewSha256();
    hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return WideToUtf8(Sha256Hex(*hash->Finish()));
}

// The DER signature the stand-in accepts for `text` signed with the key of `x`.
std::string StandInSignature(const std::string& text, std::uint8_t x) {
    auto hash = MakeSystemReleaseCrypto()->NewSha256();
    hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const TSha256Digest digest = *hash->Finish();
    // DER wants the shortest form: leading zero bytes dropped (a digest starts with one in
    // 1 of 256 files), one put back where the top bit would make it negative.
    auto integer = [](const std::uint8_t* bytes) {
        std::size_t skip = 0;
        while (skip < 31 && bytes[skip] == 0) ++skip;
        std::string value(reinterpret_cast<const char*>(bytes) + skip, 32 - skip);
        if (static_cast<std::uint8_t>(value[0]) & 0x80) value.insert(value.begin(), '\0');
        return "\x02" + std::string(1, static_cast<char>(value.size())) + value;
    };
    std::vector<std::uint8_t> s(32, x);
    const std::string body = integer(digest.data()) + integer(s.data());
    return std::string("\x30") + static_cast<char>(body.size()) + body;
}

class SignedRunFixture : public UpdateRunFixture {
protected:
    void SetUp() override {
        UpdateRunFixture::SetUp();
        Engine->SetReleaseKey(KeyPem(0x31));
        Engine->SetReleaseCrypto(std::make_unique<TStandInCrypto>());
        Engine->ReleaseDates.Read = [this] { return Stored; };
        Engine->ReleaseDates.Write = [this](const std::wstring& value) { Stored = value; };
        Engine->Clock = [] { return TDateStamp{2026, 12, 10, 12, 0, 0}; };
    }
    // Serves `text` as the control file with `signature` beside it (none when nullopt).
    void Signed(const std::string& text, const std::optional<std::string>& signature) {
        ControlFile(text);
        if (signature) Server.Responses[kLoopbackURL + L".sig"] = {200, -1, *signature};
    }
    std::string Release(const std::string& date, const std::string& pin, const std::string& extra = "") const {
        return "[update]\nunconditional=1\ndate=" + date + "\ntime=10:00\n" + extra +
               "[action]\nmsg=Hello\n[files]\ncount=1\n[file1]\nurl=http://127.0.0.1:8080/files/notes.txt\n"
               "targetdir=" + AppDir() + "\n" + pin;
    }
    std::wstring Stored;
};

const std::string kNotes = "release notes, signed";

TEST_F(SignedRunFixture, ControlFileIsUsedOnlyWhenItsSignatureHolds) {
    const std::string text = Release("10/12/2026", "sha256=" + Sha256HexOf(kNotes) + "\n");
    const std::string good = StandInSignature(text, 0x31);
    std::string tampered = text;
    tampered.replace(tampered.find("Hello"), 5, "Hullo");
    const struct {
        const char* Name;
        std::string Served;
        std::optional<std::string> Signature;
    } refused[] = {
        {"unsigned", text, std::nullopt},
        {"signed by another key", text, StandInSignature(text, 0x32)},
        {"tampered after signing", tampered, good},
        {"truncated signature", text, good.substr(0, good.size() - 5)},
        {"empty signature", text, std::string()},
    };
    for (const auto& c : refused) {
        Server.Responses.clear();
        Server.Requested.clear();
        Dialogs.Events.clear();
        File("notes.txt", kNotes);
        Signed(c.Served, c.Signature);
        for (bool starting : {true, false}) {
            Starting = starting;
            RunUpdateQuietly(*Engine);
            // Told even at start-up; nothing of the file shown, asked or fetched.
            EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Invalid signature in update control file\rUpdate discontinued"})
                << c.Name;
            Dialogs.Events.clear();
        }
        EXPECT_EQ(Server.Requested.size(), 4u) << c.Name;  // control file and signature, twice
        EXPECT_FALSE(SystemFileSystem().FileExists(InApp(L"notes.txt"))) << c.Name;
        EXPECT_FALSE(fs::exists(TempPath("LumetraControlBox.INF"))) << c.Name;
        EXPECT_FALSE(fs::exists(TempPath("LumetraControlBox.INF.sig"))) << c.Name;
        EXPECT_TRUE(Stored.empty()) << c.Name;
        EXPECT_EQ(Server.OpenSessions, 0) << c.Name;
    }
    bool found = false;
    for (const auto& s : Statuses)
        if (s.Code == 11) found = found || s.Error == 4;
    EXPECT_TRUE(found);
}

TEST_F(SignedRunFixture, GoodReleaseIsInstalledAndItsDateRemembered) {
    const std::string text =
        Release("10/12/2026", "sha256=" + Sha256HexOf(kNotes) + "\nsize=" + std::to_string(kNotes.size()) + "\n");
    File("notes.txt", kNotes);
    Signed(text, StandInSignature(text, 0x31));
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Hello"});
    std::ifstream in(FsPath(InApp(L"notes.txt")), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kNotes);
    EXPECT_EQ(Stored, L"2026-12-10 10:00:00");
    EXPECT_FALSE(fs::exists(TempPath("LumetraControlBox.INF.sig")));
}

// A digest that starts with zero bytes is signed with a shorter r; it verifies all the same.
TEST_F(SignedRunFixture, ShortSignatureIntegersVerify) {
    std::string text;
    for (int n = 0;; ++n) {
        text = Release("10/12/2026", "sha256=" + Sha256HexOf(kNotes) + "\n", "; " + std::to_string(n) + "\n");
        const std::string signature = StandInSignature(text, 0x31);
        if (signature[3] < 32) break;  // r of 31 bytes or fewer
    }
    File("notes.txt", kNotes);
    Signed(text, StandInSignature(text, 0x31));
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Hello"});
    EXPECT_TRUE(SystemFileSystem().FileExists(InApp(L"notes.txt")));
}

TEST_F(SignedRunFixture, FilesMustMatchTheirPins) {
    Spill(FsPath(InApp(L"notes.txt")), "the installed notes");
    const struct {
        const char* Name;
        std::string Pin;
    } cases[] = {
        {"wrong hash", "sha256=" + Sha256HexOf("other notes") + "\n"},
        {"no sha256", ""},
        {"sha256 not 64 hex digits", "sha256=" + Sha256HexOf(kNotes).substr(1) + "\n"},
        // The signed size is the file's ceiling: a longer body is refused before it is read.
        {"longer than its signed size",
         "sha256=" + Sha256HexOf(kNotes) + "\nsize=" + std::to_string(kNotes.size() - 1) + "\n"},
        {"size not a number", "sha256=" + Sha256HexOf(kNotes) + "\nsize=-21\n"},
    };
    for (const auto& c : cases) {
        Server.Responses.clear();
        Dialogs.Events.clear();
        Statuses.clear();
        File("notes.txt", kNotes);
        const std::string text = Release("10/12/2026", c.Pin);
        Signed(text, StandInSignature(text, 0x31));
        RunUpdateQuietly(*Engine);
        EXPECT_EQ(Messages(), (std::vector<std::wstring>{L"Hello", L"Invalid signature in update control file : "
                                                                   L"notes.txt\rUpdate discontinued"}))
            << c.Name;
        // The installed file is untouched and nothing of the download is left.
        std::ifstream in(FsPath(InApp(L"notes.txt")), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the installed notes") << c.Name;
        EXPECT_FALSE(fs::exists(TempPath("notes.txt"))) << c.Name;
        EXPECT_TRUE(fs::is_empty(Root / "temp")) << c.Name;
    }
}

TEST_F(SignedRunFixture, NeverGoesBackToAnOlderRelease) {
    const std::string pin = "sha256=" + Sha256HexOf(kNotes) + "\n";
    auto serve = [&](const std::string& date) {
        Server.Responses.clear();
        Dialogs.Events.clear();
        File("notes.txt", kNotes);
        const std::string text = Release(date, pin);
        Signed(text, StandInSignature(text, 0x31));
        RunUpdateQuietly(*Engine);
    };
    serve("10/12/2026");
    EXPECT_EQ(Stored, L"2026-12-10 10:00:00");
    serve("09/12/2026");
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Update control file refused, older than the release of "
                                                    L"10/12/2026 10:00\rUpdate discontinued"});
    EXPECT_EQ(Stored, L"2026-12-10 10:00:00");
    serve("10/12/2026");  // the same release again
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Hello"});
    // A later engine (the next start of the program) reads the stored date.
    Engine->SetReleaseKey(KeyPem(0x31));
    Stored = L"2027-01-01 00:00:00";
    serve("10/12/2026");
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find(L"older than the release of 01/01/2027 00:00"), std::wstring::npos);
    // A stored value that is not ours counts as none.
    Stored = L"rubbish";
    serve("11/12/2026");
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Hello"});
    EXPECT_EQ(Stored, L"2026-12-11 10:00:00");
}

TEST_F(SignedRunFixture, UndatedOrBadlyKeyedReleasesAreRefused) {
    const std::string undated = "[update]\nunconditional=1\n[action]\nmsg=Hello\n";
    Signed(undated, StandInSignature(undated, 0x31));
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Update control file refused, it carries no valid release "
                                                    L"date\rUpdate discontinued"});
    // A key that does not parse refuses everything instead of checking nothing.
    Dialogs.Events.clear();
    Engine->SetReleaseKey("-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n");
    EXPECT_TRUE(Engine->SignaturesRequired());
    const std::string text = Release("10/12/2026", "sha256=" + Sha256HexOf(kNotes) + "\n");
    Signed(text, StandInSignature(text, 0x31));
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Invalid signature in update control file\rUpdate discontinued"});
}

// --- Signed releases: nothing the signature does not cover is shown or run -------------

std::string ReadLog(TWebUpdate& engine) {
    std::ifstream in(FsPath(engine.LogFilePath()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(SignedRunFixture, ActionsTheSignatureDoesNotCoverAreNeitherShownNorRun) {
    const std::string text =
        "[update]\nunconditional=1\ndate=10/12/2026\ntime=10:00\n[action]\n"
        "htmldlg=http://127.0.0.1:8080/info.htm\nrunbefore=before.exe\n"
        "showURL=http://127.0.0.1:8080/news\n[files]\ncount=1\n[file1]\n"
        "url=http://127.0.0.1:8080/files/notes.txt\ntargetdir=" +
        AppDir() + "\nsha256=" + Sha256HexOf(kNotes) + "\n";
    File("notes.txt", kNotes);
    Signed(text, StandInSignature(text, 0x31));
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Dialogs.Of(TKind::HTMLDialog).empty());
    EXPECT_TRUE(Dialogs.Of(TKind::ShellOpen).empty());
    // The release itself is installed; the log says why the rest was left.
    EXPECT_TRUE(SystemFileSystem().FileExists(InApp(L"notes.txt")));
    const std::string log = ReadLog(*Engine);
    EXPECT_NE(log.find("HTML dialog not shown, its page is not part of the signed release: "
                       "http://127.0.0.1:8080/info.htm"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("runbefore not run"), std::string::npos) << log;
    EXPECT_NE(log.find("showURL not opened, only an https address is: http://127.0.0.1:8080/news"), std::string::npos)
        << log;
    for (const auto& url : Server.Requested) EXPECT_EQ(url.find(L"info.htm"), std::wstring::npos);
}

TEST_F(SignedRunFixture, ShowUrlOpensOnlyAnHttpsAddressInTheDefaultBrowser) {
    const std::string text =
        "[update]\nunconditional=1\ndate=10/12/2026\ntime=10:00\n[action]\n"
        "showURL=HTTPS://update.example/news\n";
    Signed(text, StandInSignature(text, 0x31));
    RunUpdateQuietly(*Engine);
    const auto opened = Dialogs.Of(TKind::ShellOpen);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Text, L"HTTPS://update.example/news");
    EXPECT_EQ(opened[0].Parameters, L"");
}

TEST_F(SignedRunFixture, RunAfterOnlyAFileOfTheProgramFolderThisRunFetchedAndPinned) {
    Spill(FsPath(InApp(L"other.exe")), "installed before");
    const struct {
        const char* Name;
        std::string RunAfter;
        bool Runs;
    } cases[] = {
        {"fetched, pinned, in the program's folder", "{APP}\\notes.txt", true},
        // File names ignore case on Windows only.
        {"the same in another case", "{app}\\NOTES.TXT", sizeof(wchar_t) == 2},
        {"a bare name the shell would search for", "notes.txt", false},
        {"a network path", "\\\\host\\share\\notes.txt", false},
        {"a file of the folder this run did not fetch", "{APP}\\other.exe", false},
        {"a detour through a sub-folder", "{APP}\\sub\\..\\notes.txt", false},
        {"another folder", AppDir() + "x\\notes.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Server.Responses.clear();
        Dialogs.Events.clear();
        fs::remove(FsPath(InApp(L"notes.txt")));
        fs::remove(FsPath(Engine->LogFilePath()));
        Stored.clear();
        const std::string text =
            "[update]\nunconditional=1\ndate=10/12/2026\ntime=10:00\n[action]\nrunafter=" + c.RunAfter +
            "\n[files]\ncount=1\n[file1]\nurl=http://127.0.0.1:8080/files/notes.txt\n"
            "targetdir=" +
            AppDir() + "\nsha256=" + Sha256HexOf(kNotes) + "\n";
        File("notes.txt", kNotes);
        Signed(text, StandInSignature(text, 0x31));
        RunUpdateQuietly(*Engine);
        const auto opened = Dialogs.Of(TKind::ShellOpen);
        ASSERT_EQ(opened.size(), c.Runs ? 1u : 0u) << ReadLog(*Engine);
        if (c.Runs) {
            EXPECT_EQ(AsciiUpper(opened[0].Text), AsciiUpper(InApp(L"notes.txt")));
        } else {
            EXPECT_NE(ReadLog(*Engine).find("runafter not run"), std::string::npos);
        }
    }
}

TEST_F(SignedRunFixture, NotesAndAgreementOnlyWhenPinned) {
    const std::string notes = "<p>New</p>";
    const std::string eula = "{\\rtf1 terms}";
    const std::string notesPin = "sha256=" + Sha256HexOf(notes) + "\nsize=" + std::to_string(notes.size()) + "\n";
    const std::string eulaPin = "sha256=" + Sha256HexOf(eula) + "\n";
    const struct {
        const char* Name;
        std::string NotesPin, EulaPin;
        bool ServeEula;
        bool NotesShown, EulaShown, Installed;
        std::wstring Message;  // told to the user, "" for none
    } cases[] = {
        {"both pinned", notesPin, eulaPin, true, true, true, true, L""},
        {"notes unpinned: not shown, the run goes on", "", eulaPin, true, false, true, true, L""},
        {"notes not matching their pin", "sha256=" + Sha256HexOf("other") + "\n", eulaPin, true, false, true, true,
         L""},
        {"notes longer than their signed size", "sha256=" + Sha256HexOf(notes) + "\nsize=3\n", eulaPin, true, false,
         true, true, L""},
        {"agreement unpinned: refused", notesPin, "", true, true, false, false,
         L"License agreement refused, it is not the one the signed release names : eula.rtf\rUpdate discontinued"},
        {"agreement that cannot be fetched: refused", notesPin, eulaPin, false, true, false, false,
         L"License agreement refused, it is not the one the signed release names : eula.rtf\rUpdate discontinued"},
        {"agreement not matching its pin: refused", notesPin, "sha256=" + Sha256HexOf("other") + "\n", true, true,
         false, false,
         L"License agreement refused, it is not the one the signed release names : eula.rtf\rUpdate discontinued"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Server.Responses.clear();
        Dialogs.Events.clear();
        Dialogs.DefaultAnswer = true;
        Stored.clear();
        fs::remove(FsPath(InApp(L"notes.txt")));
        const std::string text =
            "[update]\nunconditional=1\ndate=10/12/2026\ntime=10:00\n[whatsnew]\n"
            "file=http://127.0.0.1:8080/files/notes.htm\n" +
            c.NotesPin + "[eula]\nfile=http://127.0.0.1:8080/files/eula.rtf\n" + c.EulaPin +
            "[files]\ncount=1\n[file1]\nurl=http://127.0.0.1:8080/files/notes.txt\ntargetdir=" + AppDir() +
            "\nsha256=" + Sha256HexOf(kNotes) + "\n";
        File("notes.htm", notes);
        if (c.ServeEula) File("eula.rtf", eula);
        File("notes.txt", kNotes);
        Signed(text, StandInSignature(text, 0x31));
        RunUpdateQuietly(*Engine);
        EXPECT_EQ(Dialogs.Of(TKind::WhatsNew).size(), c.NotesShown ? 1u : 0u);
        EXPECT_EQ(Dialogs.Of(TKind::EULA).size(), c.EulaShown ? 1u : 0u);
        EXPECT_EQ(SystemFileSystem().FileExists(InApp(L"notes.txt")), c.Installed);
        EXPECT_EQ(Messages(), c.Message.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.Message});
        EXPECT_FALSE(fs::exists(TempPath("notes.htm")));
        EXPECT_FALSE(fs::exists(TempPath("eula.rtf")));
    }
}

// --- Signed releases: expiry, the build day, the running version --------------------------

TEST_F(SignedRunFixture, ExpiredOlderOrLowerReleasesInstallNothing) {
    const std::wstring expiredText =
        L"Update control file refused, it expired on 10/12/2026 11:59\rUpdate discontinued";
    const struct {
        const char* Name;
        std::string Update;  // extra lines of [update]
        std::wstring StoredBefore;
        std::optional<TDateStamp> BuildDate;
        bool Installed;
        std::vector<std::wstring> Messages;  // from the menu
    } cases[] = {
        {"expires later today", "expires=10/12/2026 12:01\n", L"", {}, true, {L"Hello"}},
        {"expires at the end of today", "expires=10/12/2026\n", L"", {}, true, {L"Hello"}},
        {"expired a minute ago", "expires=10/12/2026 11:59\n", L"", {}, false, {expiredText}},
        {"expiry that does not parse",
         "expires=soon\n",
         L"",
         {},
         false,
         {L"Update control file refused, it expired on soon\rUpdate discontinued"}},
        {"newversion lower than the running one",
         "newversion=1.1.9.9\n",
         L"",
         {},
         false,
         {L"Update refused, its version 1.1.9.9 is older than this program's\rUpdate discontinued"}},
        {"newversion equal to the running one", "newversion=1.2.0.0\n", L"", {}, true, {L"Hello"}},
        {"newversion that does not parse",
         "newversion=one\n",
         L"",
         {},
         false,
         {L"Update refused, its version one is older than this program's\rUpdate discontinued"}},
        {"nothing stored: published before the program was built",
         "",
         L"",
         TDateStamp{2026, 12, 11, 0, 0, 0},
         false,
         {L"No new version available"}},
        {"nothing stored: published on the day it was built",
         "",
         L"",
         TDateStamp{2026, 12, 10, 0, 0, 0},
         true,
         {L"Hello"}},
        {"a stored date: the build day is no floor",
         "",
         L"2026-12-01 00:00:00",
         TDateStamp{2026, 12, 11, 0, 0, 0},
         true,
         {L"Hello"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        // A fresh start of the program: nothing remembered but the stored date.
        TearDown();
        SetUp();
        Server.Responses.clear();
        Dialogs.Events.clear();
        Engine->RunningVersion = ParseVersionString(L"1.2.0.0");
        Engine->BuildDate = c.BuildDate;
        Stored = c.StoredBefore;
        fs::remove(FsPath(InApp(L"notes.txt")));
        File("notes.txt", kNotes);
        const std::string text = Release("10/12/2026", "sha256=" + Sha256HexOf(kNotes) + "\n", c.Update);
        Signed(text, StandInSignature(text, 0x31));
        RunUpdateQuietly(*Engine);
        EXPECT_EQ(Messages(), c.Messages);
        EXPECT_EQ(SystemFileSystem().FileExists(InApp(L"notes.txt")), c.Installed);
        // A refused control file never moves the newest date on.
        EXPECT_EQ(Stored, c.Installed ? L"2026-12-10 10:00:00" : c.StoredBefore);
    }
    // At start-up, a control file older than the program says nothing.
    Starting = true;
    Dialogs.Events.clear();
    TearDown();
    SetUp();
    File("notes.txt", kNotes);
    Engine->BuildDate = TDateStamp{2026, 12, 11, 0, 0, 0};
    Stored.clear();
    RunUpdateQuietly(*Engine);
    EXPECT_TRUE(Messages().empty());
}

TEST(ReleaseDates, ExpiryAndCompilerDates) {
    EXPECT_EQ(ParseExpiry(L"09/03/2027 08:30"), (TDateStamp{2027, 3, 9, 8, 30, 0}));
    EXPECT_EQ(ParseExpiry(L"09/03/2027"), (TDateStamp{2027, 3, 9, 23, 59, 59}));
    for (const wchar_t* bad : {L"", L"soon", L"31/02/2027", L"09/03/2027 25:00", L"09/03/2027 "})
        EXPECT_FALSE(ParseExpiry(bad).has_value()) << WideToUtf8(bad);
    EXPECT_EQ(ParseCompilerDate("Dec 10 2026"), (TDateStamp{2026, 12, 10, 0, 0, 0}));
    EXPECT_EQ(ParseCompilerDate("Jan  2 2027"), (TDateStamp{2027, 1, 2, 0, 0, 0}));
    EXPECT_FALSE(ParseCompilerDate("??? ?? ????").has_value());
    EXPECT_FALSE(ParseCompilerDate(nullptr).has_value());
    EXPECT_TRUE(ParseCompilerDate(__DATE__).has_value());
}

// The engine's own time limits, which no test may quietly depend on changing: a server that
// stops answering holds a request for 30 s per answer, 10 minutes in all.
TEST(TransferLimits, TheEngineKeepsItsOwnDefaults) {
    EXPECT_EQ(kTransferLimits.Connect, std::chrono::seconds(20));
    EXPECT_EQ(kTransferLimits.Send, std::chrono::seconds(20));
    EXPECT_EQ(kTransferLimits.Receive, std::chrono::seconds(30));
    EXPECT_EQ(kTransferLimits.Request, std::chrono::minutes(10));
    const TWebUpdate engine(std::make_unique<TFileFactsTable>(), TKnownFolders{});
    EXPECT_EQ(engine.TransferLimits().Connect, kTransferLimits.Connect);
    EXPECT_EQ(engine.TransferLimits().Send, kTransferLimits.Send);
    EXPECT_EQ(engine.TransferLimits().Receive, kTransferLimits.Receive);
    EXPECT_EQ(engine.TransferLimits().Request, kTransferLimits.Request);
}

TEST_F(UpdateRunFixture, WithoutAKeyNoSignatureIsAskedFor) {
    ControlFile("[update]\nunconditional=1\n[files]\ncount=1\n[file1]\nurl=http://127.0.0.1:8080/files/notes.txt\n"
                "targetdir=" + AppDir() + "\nsha256=" + std::string(64, '0') + "\n");
    File("notes.txt", "unsigned notes");
    RunUpdateQuietly(*Engine);
    EXPECT_FALSE(Engine->SignaturesRequired());
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(SystemFileSystem().FileExists(InApp(L"notes.txt")));
    for (const auto& url : Server.Requested) EXPECT_EQ(url.find(L".sig"), std::wstring::npos);
}

}  // namespace
