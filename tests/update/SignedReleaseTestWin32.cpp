// Signed releases with keys and signatures made by openssl while the test runs (no key is
// ever kept in the tree), checked by CNG, fetched over real WinInet from the test's own
// loopback server.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "HostOpenssl.h"
#include "LoopbackServer.h"
#include "ReleaseVerifier.h"
#include "TextUtils.h"
#include "UpdateAnswers.h"
#include "UpdateFileSystem.h"
#include "WUpdate.h"
#include "TempRoot.h"
#include "UpdateEngineFixtureWin32.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;
using TKind = TScriptedUpdateDialogs::TKind;

std::vector<std::uint8_t> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Two key pairs made for this run, and signing with them.
class TKeys {
public:
    explicit TKeys(const fs::path& folder) : FFolder(folder) {
        fs::create_directories(folder);
        for (const char* name : {"publisher", "stranger"}) {
            const fs::path key = folder / (std::string(name) + ".pem");
            const fs::path pub = folder / (std::string(name) + ".pub.pem");
            Made = Made && Openssl("ecparam -name prime256v1 -genkey -noout -out " + Unix(key), folder) &&
                   Openssl("ec -in " + Unix(key) + " -pubout -out " + Unix(pub), folder);
        }
    }
    std::string PublicPem(const char* name) const { return Slurp(FFolder / (std::string(name) + ".pub.pem")); }
    // The DER signature of `text` by the named key, as the publisher's tool makes it.
    std::string Sign(const char* name, const std::string& text) {
        const fs::path file = FFolder / ("signed" + std::to_string(++FCount));
        Spill(file, text);
        const fs::path signature = file.string() + ".sig";
        if (!Openssl("dgst -sha256 -sign " + Unix(FFolder / (std::string(name) + ".pem")) + " -out " + Unix(signature) +
                         " " + Unix(file),
                     FFolder))
            return {};
        return Slurp(signature);
    }
    std::string Sha256(const std::string& text) {
        auto hash = MakeSystemReleaseCrypto()->NewSha256();
        hash->Add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return WideToUtf8(Sha256Hex(*hash->Finish()));
    }
    bool Made = true;

private:
    fs::path FFolder;
    int FCount = 0;
};

class SignedReleaseWin32 : public TUpdateEngineFixture {
protected:
    SignedReleaseWin32() : TUpdateEngineFixture("lumetra-signed") {}

    static void SetUpTestSuite() {
        KeyFolder = TempRoot("lumetra-keys");
        Keys = new TKeys(KeyFolder);
    }
    static void TearDownTestSuite() {
        delete Keys;
        Keys = nullptr;
        std::error_code error;
        fs::remove_all(KeyFolder, error);
    }

    void SetUp() override {
        ASSERT_TRUE(Keys->Made) << "openssl (" LUMETRA_OPENSSL ") could not make the keys; scripts/setup installs it";
        TUpdateEngineFixture::SetUp();
        Engine->SetReleaseKey(Keys->PublicPem("publisher"));
        Engine->ReleaseDates.Read = [this] { return Stored; };
        Engine->ReleaseDates.Write = [this](const std::wstring& value) { Stored = value; };
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int) {
            AnswerUpdateStatus(Dialogs, false, text, code);
        };
        Engine->OnAppRestart = [](TWebUpdate&, bool& allow) { allow = false; };
    }
    std::string Release(const std::string& date, const std::string& pin) const {
        return "[update]\r\nunconditional=1\r\ndate=" + date + "\r\ntime=08:15\r\n[action]\r\nmsg=Signed release\r\n"
               "[files]\r\ncount=1\r\n[file1]\r\nurl=" + FileUrl("notes.txt") + "\r\ntargetdir={APP}\r\n" + pin;
    }
    void Serve(const std::string& control, const std::string& signature, const std::string& notes) {
        Server.Route(kControlPath, TRoute{200, true, -1, control});
        Server.Route(kControlPath + ".sig", signature.empty() ? TRoute{404, true, -1, "not found"}
                                                              : TRoute{200, true, -1, signature});
        Server.Route("/files/notes.txt", TRoute{200, true, -1, notes});
    }

    static inline fs::path KeyFolder;
    static inline TKeys* Keys = nullptr;
    std::wstring Stored;
};

TEST_F(SignedReleaseWin32, CngChecksWhatOpensslSigned) {
    const std::string text = "[update]\r\ndate=10/12/2026\r\n";
    const std::string signature = Keys->Sign("publisher", text);
    ASSERT_FALSE(signature.empty());
    auto key = ParseP256PublicKeyPem(Keys->PublicPem("publisher"));
    auto stranger = ParseP256PublicKeyPem(Keys->PublicPem("stranger"));
    ASSERT_TRUE(key && stranger);
    auto crypto = MakeSystemReleaseCrypto();
    EXPECT_TRUE(VerifyControlFileSignature(*crypto, *key, BytesOf(text), BytesOf(signature)));
    EXPECT_FALSE(VerifyControlFileSignature(*crypto, *stranger, BytesOf(text), BytesOf(signature)));
    EXPECT_FALSE(VerifyControlFileSignature(*crypto, *key, BytesOf(text + " "), BytesOf(signature)));
    EXPECT_FALSE(VerifyControlFileSignature(*crypto, *key, BytesOf(text), BytesOf(signature.substr(0, 40))));
    std::string flipped = signature;
    flipped[flipped.size() - 1] ^= 0x01;
    EXPECT_FALSE(VerifyControlFileSignature(*crypto, *key, BytesOf(text), BytesOf(flipped)));
}

TEST_F(SignedReleaseWin32, EveryReleaseThatIsNotTheSignedOneIsRefused) {
    const std::string notes = "notes of the signed release\r\n";
    const std::string good = Release("10/12/2026", "sha256=" + Keys->Sha256(notes) + "\r\n");
    const std::string goodSignature = Keys->Sign("publisher", good);
    std::string tampered = good;
    tampered.replace(tampered.find("Signed release"), 6, "Forged");
    const std::string wrongHash = Release("10/12/2026", "sha256=" + Keys->Sha256("other notes") + "\r\n");
    const std::string noHash = Release("10/12/2026", "");
    const std::wstring refusedControl = L"Invalid signature in update control file\rUpdate discontinued";
    const std::wstring refusedFile = L"Invalid signature in update control file : notes.txt\rUpdate discontinued";
    const struct {
        const char* Name;
        std::string Control;
        std::string Signature;
        std::vector<std::wstring> Messages;
    } cases[] = {
        {"unsigned", good, "", {refusedControl}},
        {"signed by another key", good, Keys->Sign("stranger", good), {refusedControl}},
        {"tampered after signing", tampered, goodSignature, {refusedControl}},
        {"truncated signature", good, goodSignature.substr(0, goodSignature.size() / 2), {refusedControl}},
        {"wrong file hash", wrongHash, Keys->Sign("publisher", wrongHash), {L"Signed release", refusedFile}},
        {"missing sha256", noHash, Keys->Sign("publisher", noHash), {L"Signed release", refusedFile}},
    };
    for (const auto& c : cases) {
        Dialogs.Events.clear();
        Spill(Root / "app" / "notes.txt", "installed notes");
        Serve(c.Control, c.Signature, notes);
        RunUpdateQuietly(*Engine);
        EXPECT_EQ(Messages(), c.Messages) << c.Name;
        EXPECT_EQ(Slurp(Root / "app" / "notes.txt"), "installed notes") << c.Name;
        EXPECT_TRUE(fs::is_empty(Root / "temp")) << c.Name;
    }
    EXPECT_TRUE(Stored == L"2026-12-10 08:15:00") << "the signed ones with a bad file were still dated";
}

TEST_F(SignedReleaseWin32, GoodReleaseInstallsAndOlderOnesAreRefusedAfterIt) {
    const std::string notes = "notes of the signed release\r\n";
    const std::string newer = Release("10/12/2026", "sha256=" + Keys->Sha256(notes) + "\r\n");
    const std::string older = Release("01/12/2026", "sha256=" + Keys->Sha256(notes) + "\r\n");
    Serve(newer, Keys->Sign("publisher", newer), notes);
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Signed release"});
    EXPECT_EQ(Slurp(Root / "app" / "notes.txt"), notes);
    EXPECT_EQ(Stored, L"2026-12-10 08:15:00");

    Dialogs.Events.clear();
    fs::remove(Root / "app" / "notes.txt");
    Serve(older, Keys->Sign("publisher", older), notes);
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{L"Update control file refused, older than the release of "
                                                    L"10/12/2026 08:15\rUpdate discontinued"});
    EXPECT_FALSE(fs::exists(Root / "app" / "notes.txt"));
    EXPECT_EQ(Stored, L"2026-12-10 08:15:00");
}

}  // namespace

namespace {

// What the publisher's tool writes is what the program takes: a release folder with a
// program carrying a version resource (this test executable) and a plain file, published,
// served and installed.
TEST_F(SignedReleaseWin32, PublishedReleaseIsTakenAsItIs) {
    const fs::path release = Root / "release";
    const fs::path out = Root / "out";
    fs::create_directories(release);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, (release / "LumetraControlBox.exe").wstring().c_str(), FALSE));
    Spill(release / "readme.txt", "published notes\r\n");
    const std::string base = WideToUtf8(Server.Base()) + "/softwares/Lumetra%20CONTROLBOX/V1/";
    ASSERT_TRUE(RunOnHost("'" LUMETRA_TEST_DATA_DIR "/../../scripts/publish-update' --base-url '" + base +
                              "' --date 31/12/2099 --time 09:45 " + Unix(KeyFolder / "publisher.pem") + " " +
                              Unix(release) + " " + Unix(out),
                          Root));
    const std::string control = Slurp(out / "LumetraControlBox.INF");
    EXPECT_NE(control.find("newversion=1.2.40000.7\r\n"), std::string::npos) << control;
    EXPECT_NE(control.find("date=31/12/2099\r\ntime=09:45\r\n"), std::string::npos) << control;
    EXPECT_NE(control.find("url=" + base + "readme.txt\r\n"), std::string::npos) << control;
    EXPECT_NE(control.find("appcomps=LumetraControlBox.exe\r\n"), std::string::npos) << control;

    Server.Route(kControlPath, TRoute{200, true, -1, control});
    Server.Route(kControlPath + ".sig", TRoute{200, true, -1, Slurp(out / "LumetraControlBox.INF.sig")});
    for (const char* name : {"readme.txt", "LumetraControlBox.exe"})
        Server.Route(kControlPath.substr(0, kControlPath.rfind('/') + 1) + name, TRoute{200, true, -1, Slurp(out / name)});
    // The installed program is older than the release's date.
    ASSERT_TRUE(CopyFileW(self, (Root / "app" / "LumetraControlBox.exe").wstring().c_str(), FALSE));
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{});
    EXPECT_EQ(Slurp(Root / "app" / "readme.txt"), "published notes\r\n");
    // A name that an address would have to escape is refused by the tool, and nothing of
    // that release is written.
    Spill(release / "read me.txt", "notes");
    const fs::path refused = Root / "refused";
    EXPECT_FALSE(RunOnHost("'" LUMETRA_TEST_DATA_DIR "/../../scripts/publish-update' " +
                               Unix(KeyFolder / "publisher.pem") + " " + Unix(release) + " " + Unix(refused),
                           Root));
    EXPECT_FALSE(fs::exists(refused / "LumetraControlBox.INF"));
    // The program itself waits in the temporary folder for the updater (the restart was refused).
    EXPECT_TRUE(fs::exists(Root / "temp" / "LumetraControlBox.exe"));
    EXPECT_EQ(Stored, L"2099-12-31 09:45:00");
}

}  // namespace

namespace {

// A release published with the publisher's tool at this moment (its date in UTC) and
// installed is not offered again, whatever the machine's time zone: ctest runs this test
// again with TZ west and east of UTC. Its notes and agreement are pinned by the tool and
// shown; its control file carries the tool's expiry.
TEST_F(SignedReleaseWin32, PublishedNowAndInstalledIsNotOfferedAgain) {
    const fs::path release = Root / "release";
    const fs::path out = Root / "out";
    fs::create_directories(release);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, (release / "LumetraControlBox.exe").wstring().c_str(), FALSE));
    Spill(release / "readme.txt", "published notes\r\n");
    Spill(Root / "whatsnew.txt", "What is new in this release\r\n");
    Spill(Root / "eula.txt", "Terms of use\r\n");
    const std::string folder = kControlPath.substr(0, kControlPath.rfind('/') + 1);
    const std::string base = WideToUtf8(Server.Base()) + folder;
    ASSERT_TRUE(RunOnHost("'" LUMETRA_TEST_DATA_DIR "/../../scripts/publish-update' --base-url '" + base +
                              "' --notes " + Unix(Root / "whatsnew.txt") + " --eula " + Unix(Root / "eula.txt") + " " +
                              Unix(KeyFolder / "publisher.pem") + " " + Unix(release) + " " + Unix(out),
                          Root));
    const std::string control = Slurp(out / "LumetraControlBox.INF");
    EXPECT_NE(control.find("expires="), std::string::npos) << control;
    EXPECT_NE(control.find("[whatsnew]\r\nfile=" + base + "whatsnew.txt\r\nsha256="), std::string::npos) << control;
    EXPECT_NE(control.find("[eula]\r\nfile=" + base + "eula.txt\r\nsha256="), std::string::npos) << control;
    EXPECT_NE(control.find("size=17\r\n"), std::string::npos) << control;  // readme.txt

    Server.Route(kControlPath, TRoute{200, true, -1, control});
    Server.Route(kControlPath + ".sig", TRoute{200, true, -1, Slurp(out / "LumetraControlBox.INF.sig")});
    for (const char* name : {"readme.txt", "LumetraControlBox.exe", "whatsnew.txt", "eula.txt"})
        Server.Route(folder + name, TRoute{200, true, -1, Slurp(out / name)});
    // The installed program is older than the release.
    ASSERT_TRUE(CopyFileW(self, (Root / "app" / "LumetraControlBox.exe").wstring().c_str(), FALSE));
    fs::last_write_time(Root / "app" / "LumetraControlBox.exe",
                        fs::file_time_type::clock::now() - std::chrono::hours(2));
    Dialogs.DefaultAnswer = true;  // notes read, agreement accepted
    RunUpdateQuietly(*Engine);
    EXPECT_EQ(Messages(), std::vector<std::wstring>{});
    ASSERT_EQ(Dialogs.Of(TKind::WhatsNew).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::EULA).size(), 1u);
    EXPECT_EQ(Slurp(Root / "app" / "readme.txt"), "published notes\r\n");
    // The updater's work (the restart was refused here): the fetched program replaces the
    // installed one, its time kept.
    ASSERT_TRUE(CopyFileW((Root / "temp" / "LumetraControlBox.exe").wstring().c_str(),
                          (Root / "app" / "LumetraControlBox.exe").wstring().c_str(), FALSE));

    // The next check, at once: nothing to offer, nothing fetched.
    Dialogs.Events.clear();
    fs::remove(Root / "app" / "readme.txt");
    const int before = Server.Requests();
    RunUpdateQuietly(*Engine);
    ASSERT_FALSE(Messages().empty());
    for (const std::wstring& message : Messages()) EXPECT_EQ(message, L"No new version available");
    EXPECT_TRUE(Dialogs.Of(TKind::WhatsNew).empty());
    EXPECT_FALSE(fs::exists(Root / "app" / "readme.txt"));
    EXPECT_EQ(Server.Requests() - before, 2);  // the control file and its signature
}

}  // namespace
