// Transfers over real WinInet against the test's own loopback server, and installation
// through the real cabinet and LZ libraries.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AnsiCodePage.h"
#include "ArchiveFixtures.h"
#include "LoopbackServer.h"
#include "UpdateFileSystem.h"
#include "UpdateArchives.h"
#include "WUpdate.h"
#include "TempRoot.h"
#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;

// A build-tree file as a Windows path (the build tree lies on the drive that maps "/").
fs::path BuildPath(const std::string& unix) {
    std::wstring path = L"Z:";
    for (char c : unix) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return fs::path(path);
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct TStatus {
    std::wstring Text;
    int Code;
    int Error;
};

class WinInetFixture : public testing::Test {
protected:
    void SetUp() override {
        Root = TempRoot("lumetra-wininet");
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "app");
        TKnownFolders folders = SystemKnownFolders();
        folders.Temp = Folder(Root / "temp");
        folders.Documents = (Root / "docs").wstring();
        folders.Application = (Root / "app").wstring();
        Engine = std::make_unique<TWebUpdate>(MakeSystemFileFacts(), folders);
        Engine->SetCurrentFolder(Folder(Root / "app"));
        std::uint32_t error = 0;
        Session = OpenInternetSession(L"TWebUpdate", error);
        ASSERT_NE(Session, nullptr) << error;
        Engine->SetSession(Session.get());
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int err) {
            Statuses.push_back({text, code, err});
        };
    }
    void TearDown() override {
        Session.reset();
        std::error_code error;
        for (auto& entry : fs::recursive_directory_iterator(Root, error))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(Root, error);
    }
    static std::wstring Folder(const fs::path& path) { return path.wstring() + L"\\"; }
    std::wstring Temp() const { return Folder(Root / "temp"); }
    std::wstring Url(const std::string& path) const {
        return Server.Base() + std::wstring(path.begin(), path.end());
    }
    std::size_t Leftovers() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(Root / "temp"))
            if (entry.path().filename().wstring().rfind(L"WUPD", 0) == 0) ++count;
        return count;
    }
    bool Reported(const std::wstring& text) const {
        for (const auto& s : Statuses)
            if (s.Text == text) return true;
        return false;
    }

    TLoopbackServer Server;
    fs::path Root;
    std::unique_ptr<TInternetSession> Session;
    std::unique_ptr<TWebUpdate> Engine;
    std::vector<TStatus> Statuses;
};

using WinInetTransferTest = WinInetFixture;

TEST_F(WinInetTransferTest, LengthsStatusesAndNames) {
    const std::string big(100000, 'b');
    const struct {
        const char* Path;
        TRoute Route;
        bool Ok;
        const char* Stored;  // file name expected in the temporary folder
    } cases[] = {
        {"/a/nolength.bin", {200, false, -1, big}, true, "nolength.bin"},
        {"/a/exact.bin", {200, true, -1, big}, true, "exact.bin"},
        {"/a/short.bin", {200, true, 200000, big, 50000}, false, "short.bin"},
        {"/a/missing.bin", {404, true, -1, "gone"}, false, "missing.bin"},
        {"/a/empty.bin", {200, true, -1, ""}, false, "empty.bin"},
        {"/a/get?file=q.bin", {200, true, -1, "query"}, true, "file=q.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        const fs::path stored = Root / "temp" / c.Stored;
        { std::ofstream(stored, std::ios::binary) << "older copy"; }
        Server.Route(c.Path, c.Route);
        EXPECT_EQ(Engine->URLGetFile(*Session, Url(c.Path), Temp()), c.Ok);
        EXPECT_EQ(Slurp(stored), c.Ok ? c.Route.Body : "older copy");
        EXPECT_EQ(Leftovers(), 0u);
    }
    EXPECT_TRUE(Reported(L"Http status : 404"));
    EXPECT_TRUE(Reported(L"Download : file=q.bin"));
}

// A server announcing a length past the ceiling is refused before anything is read; one
// that sends no length stops being read at the ceiling. Nothing reaches the disk.
TEST_F(WinInetTransferTest, CeilingsHoldWhateverTheServerAnnounces) {
    const struct {
        const char* Path;
        TRoute Route;
    } cases[] = {
        {"/huge.bin", {200, true, 1'000'000'000'000, std::string(1 << 20, 'h')}},
        {"/over.bin", {200, true, (1 << 20) + 1, std::string((1 << 20) + 1, 'o')}},
        {"/endless.bin", {200, false, -1, std::string(3 << 20, 'e')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        Statuses.clear();
        Server.Route(c.Path, c.Route);
        EXPECT_FALSE(Engine->URLGetFile(*Session, Url(c.Path), Temp(), 1 << 20));
        EXPECT_FALSE(fs::exists(Root / "temp" / (c.Path + 1)));
        EXPECT_EQ(Leftovers(), 0u);
        ASSERT_FALSE(Statuses.empty());
        EXPECT_EQ(Statuses.back().Code, TWebUpdate::scLengthMismatch);
    }
}

TEST_F(WinInetTransferTest, HiddenReadOnlyTargetIsReplacedAndRefusedConnectionReported) {
    const fs::path target = Root / "temp" / "locked.bin";
    { std::ofstream(target, std::ios::binary) << "old"; }
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Server.Route("/locked.bin", {200, true, -1, "new"});
    EXPECT_TRUE(Engine->URLGetFile(*Session, Url("/locked.bin"), Temp()));
    EXPECT_EQ(Slurp(target), "new");

    // Nobody listens on port 1: WinInet's error comes first, with code 1.
    Statuses.clear();
    EXPECT_FALSE(Engine->URLGetFile(*Session, L"http://127.0.0.1:1/x.bin", Temp()));
    ASSERT_EQ(Statuses.size(), 3u);
    EXPECT_EQ(Statuses[1].Code, 1);
    EXPECT_GT(Statuses[1].Error, 12000);
    EXPECT_EQ(Statuses[1].Text.rfind(L"System error : ", 0), 0u);
    EXPECT_EQ(Statuses[2].Text, L"File not found : http://127.0.0.1:1/x.bin");
}

using InstallTest = WinInetFixture;

TEST_F(InstallTest, GetFileUpdatesPlacesEveryKindOfFile) {
    const std::wstring target = Folder(Root / "app" / "keys");
    Server.Route("/plain.txt", {200, true, -1, "plain"});
    Server.Route("/Main.exe", {200, true, -1, "component"});
    Server.Route("/pictures.cab",
                 {200, true, -1,
                  [] {
                      const auto cab = MakeCabinet({{"Key1.bmp", "one", 0x5821, 0x6000},
                                                    {"sub\\deeper\\Key2.bmp", "two", 0, 0},
                                                    {"sub\\..\\Key3.bmp", "three", 0x5821, 0x6000},
                                                    {"big.bin", std::string(70000, 'g'), 0x5821, 0x6000}});
                      return std::string(cab.begin(), cab.end());
                  }()});
    const auto lz = MakeLZFile("expanded text, longer than one group", 't');
    Server.Route("/readme.tx_", {200, true, -1, std::string(lz.begin(), lz.end())});
    Server.Route("/notes.tx_", {200, true, -1, "not LZ at all"});

    TFileList& list = Engine->FileList();
    auto add = [&](const std::string& path, const std::wstring& dir, bool compressed) {
        TFileDescription item;
        item.URL = Url(path);
        item.TargetDir = dir;
        item.Compressed = compressed;
        list.Add(item);
    };
    add("/plain.txt", target, false);
    add("/Main.exe", target, false);
    add("/pictures.cab", target, true);
    add("/readme.tx_", L"", true);
    add("/notes.tx_", L"", true);
    Engine->SetControlFile(L"");
    const std::wstring inf = (Root / "c.inf").wstring();
    { std::ofstream(Root / "c.inf") << "[application]\nappcomps=main.exe\nappname=x\nappupdate=1\n"; }
    Engine->SetControlFile(inf);
    Engine->ReadApplicationSection();
    ASSERT_TRUE(Engine->AppUpdate());

    EXPECT_EQ(Engine->GetFileUpdates(), 0);
    EXPECT_TRUE(Engine->AppUpdate());
    EXPECT_TRUE(Engine->ComponentsIncluded());

    const fs::path keys = Root / "app" / "keys";
    EXPECT_EQ(Slurp(keys / "plain.txt"), "plain");
    EXPECT_EQ(Slurp(Root / "temp" / "Main.exe"), "component");  // left for the updater
    EXPECT_FALSE(fs::exists(keys / "Main.exe"));
    EXPECT_EQ(Slurp(keys / "Key1.bmp"), "one");
    EXPECT_EQ(Slurp(keys / "sub" / "deeper" / "Key2.bmp"), "two");
    EXPECT_EQ(Slurp(keys / "Key3.bmp"), "three");
    EXPECT_EQ(Slurp(keys / "big.bin"), std::string(70000, 'g'));  // spans three data blocks
    EXPECT_FALSE(fs::exists(Root / "temp" / "pictures.cab"));  // unpacked, then deleted
    EXPECT_EQ(Slurp(Root / "app" / "readme.txt"), "expanded text, longer than one group");
    EXPECT_FALSE(fs::exists(Root / "app" / "readme.tx_"));
    EXPECT_EQ(Slurp(Root / "app" / "notes.tx_"), "not LZ at all");  // left as fetched

    // Stamps: the cabinet's local time, and "now" for a zero stamp.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW((keys / "Key1.bmp").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(date, 0x5821);  // 1 January 2024
    EXPECT_EQ(time, 0x6000);  // 12:00
    ASSERT_TRUE(GetFileAttributesExW((keys / "sub" / "deeper" / "Key2.bmp").c_str(), GetFileExInfoStandard, &data));
    SYSTEMTIME written;
    FileTimeToSystemTime(&data.ftLastWriteTime, &written);
    EXPECT_GE(written.wYear, 2025);

    // The next release has a second entry that cannot be fetched: the first file stays
    // as it was, and the cabinet's files too.
    Server.Route("/plain.txt", {200, true, -1, "plain, second release"});
    list.Clear();
    add("/plain.txt", target, false);
    add("/missing.txt", target, false);
    add("/pictures.cab", target, true);
    Engine->SetAppUpdate(true);
    EXPECT_EQ(Engine->GetFileUpdates(), -1);
    EXPECT_FALSE(Engine->AppUpdate());
    EXPECT_TRUE(Reported(L"Cannot download update file : " + Url("/missing.txt")));
    EXPECT_EQ(Slurp(keys / "plain.txt"), "plain");
}

TEST_F(InstallTest, CabinetEntriesLeavingTheTargetOrNamingDevicesAreRefused) {
    const struct {
        const char* Entry;
    } cases[] = {{"..\\escaped.txt"}, {"sub\\..\\..\\escaped.txt"}, {"\\escaped.txt"}, {"C:escaped.txt"},
                 {"CON.txt"},          {"sub\\NUL"},                     {"a|b.txt"},        {"fine.txt:stream"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Entry);
        const fs::path cab = Root / "temp" / "evil.cab";
        Spill(cab, MakeCabinet({{"fine.txt", "fine"}, {"kept.txt", "new"}, {c.Entry, "evil"}}));
        const fs::path target = Root / "app" / "target";
        fs::remove_all(target);
        fs::create_directories(target);
        { std::ofstream(target / "kept.txt", std::ios::binary) << "installed"; }
        EXPECT_EQ(Engine->ExtractCabinet(cab.wstring(), Folder(target)), -1);
        EXPECT_FALSE(fs::exists(Root / "app" / "escaped.txt"));
        EXPECT_FALSE(fs::exists(Root / "escaped.txt"));
        EXPECT_FALSE(fs::exists(fs::path(L"C:\\escaped.txt")));
        // The entries before the refused one never reach the folder either.
        EXPECT_EQ(Names(target), std::vector<std::string>{"kept.txt"});
        EXPECT_EQ(Slurp(target / "kept.txt"), "installed");
    }
    // Not a cabinet, or no file at all.
    Spill(Root / "temp" / "bad.cab", std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'a', ' ', 'c', 'a', 'b'});
    EXPECT_EQ(Engine->ExtractCabinet((Root / "temp" / "bad.cab").wstring(), Folder(Root / "app")), -1);
    EXPECT_EQ(Engine->ExtractCabinet((Root / "temp" / "none.cab").wstring(), Folder(Root / "app")), -1);
    EXPECT_EQ(Names(Root / "app"), std::vector<std::string>{"target"});
}

// Every write, move and delete of an extraction made to fail in turn: the folder holds the
// old files or all the new ones, and nothing of the staging stays.
TEST_F(InstallTest, CabinetIsWholeOrNotAtAllWhicheverStepFails) {
    using TKind = TFaultyFileSystem::TKind;
    const fs::path cab = Root / "temp" / "keys.cab";
    Spill(cab, MakeCabinet({{"Key1.bmp", "new one"}, {"sub\\Key2.bmp", "new two"}, {"Key3.bmp", "new three"}}));
    const fs::path target = Root / "app" / "keys";
    for (TKind kind : {TKind::Write, TKind::Move, TKind::Delete}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", operation " << n);
            fs::remove_all(target);
            fs::create_directories(target);
            { std::ofstream(target / "Key1.bmp", std::ios::binary) << "old one"; }
            { std::ofstream(target / "Key3.bmp", std::ios::binary) << "old three"; }
            SetFileAttributesW((target / "Key3.bmp").c_str(), FILE_ATTRIBUTE_READONLY);
            TFaultyFileSystem faulty(SystemFileSystem());
            faulty.FailAt(kind, n);
            Engine->SetFileSystem(&faulty);
            const int result = Engine->ExtractCabinet(cab.wstring(), Folder(target));
            Engine->SetFileSystem(nullptr);
            SetFileAttributesW((target / "Key3.bmp").c_str(), FILE_ATTRIBUTE_NORMAL);
            if (result == 0) {
                EXPECT_EQ(Slurp(target / "Key1.bmp"), "new one");
                EXPECT_EQ(Slurp(target / "sub" / "Key2.bmp"), "new two");
                EXPECT_EQ(Slurp(target / "Key3.bmp"), "new three");
            } else {
                EXPECT_EQ(Slurp(target / "Key1.bmp"), "old one");
                EXPECT_EQ(Slurp(target / "Key3.bmp"), "old three");
                EXPECT_EQ(Names(target), (std::vector<std::string>{"Key1.bmp", "Key3.bmp"}));
            }
            // Only a failed delete may leave a staged file or backup, and then it is told.
            if (kind != TKind::Delete) {
                std::vector<std::string> expected = {"Key1.bmp", "Key3.bmp"};
                if (result == 0) expected.push_back("sub");
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(Names(target), expected);
            }
            if (!faulty.Failed()) {
                EXPECT_EQ(result, 0);
                break;
            }
        }
    }
}

// The same for an LZ file expanded over an installed one: old or new, never lost or cut.
TEST_F(InstallTest, LZFileIsOldOrNewWhicheverStepFails) {
    using TKind = TFaultyFileSystem::TKind;
    const auto lz = MakeLZFile("new notes, expanded", 't');
    Server.Route("/notes.tx_", {200, true, -1, std::string(lz.begin(), lz.end())});
    const fs::path installed = Root / "app" / "notes.txt";
    for (TKind kind : {TKind::Write, TKind::Move, TKind::Delete}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", operation " << n);
            { std::ofstream(installed, std::ios::binary | std::ios::trunc) << "old notes"; }
            TFaultyFileSystem faulty(SystemFileSystem());
            faulty.FailAt(kind, n);
            Engine->SetFileSystem(&faulty);
            Engine->FileList().Clear();
            TFileDescription item;
            item.URL = Url("/notes.tx_");
            item.Compressed = true;
            Engine->FileList().Add(item);
            Statuses.clear();
            const int result = Engine->GetFileUpdates();
            Engine->SetFileSystem(nullptr);
            const bool deleteReported = std::any_of(Statuses.begin(), Statuses.end(),
                                                    [](const TStatus& s) { return s.Code == 19 && s.Error == 6; });
            if (result == 0) {
                EXPECT_EQ(Slurp(installed), "new notes, expanded");
            } else {
                EXPECT_EQ(Slurp(installed), "old notes");
                EXPECT_TRUE(std::any_of(Statuses.begin(), Statuses.end(),
                                        [](const TStatus& s) { return s.Code == 19 && s.Error == 7; }));
            }
            if (!deleteReported) {
                EXPECT_EQ(Names(Root / "app"), std::vector<std::string>{"notes.txt"});
            }
            fs::remove(Root / "temp" / "notes.tx_");
            if (!faulty.Failed()) {
                EXPECT_EQ(result, 0);
                break;
            }
        }
    }
}

// A release made by gcab and mscompress, served by the loopback server over an installed
// release: a cabinet cut short changes nothing and stops the restart; the whole one and
// the LZ file install.
TEST_F(InstallTest, GcabCabinetCutShortLeavesTheInstalledReleaseAndLZFileExpands) {
    const fs::path release = BuildPath(LUMETRA_RELEASE_FIXTURES);
    const auto bytes = [&](const char* name) { return Slurp(release / name); };
    const fs::path keys = Root / "app" / "keys";
    fs::create_directories(keys);
    { std::ofstream(keys / "Key1.bmp", std::ios::binary) << "installed one"; }
    { std::ofstream(keys / "Key2.bmp", std::ios::binary) << "installed two"; }
    Server.Route("/cut/keys.cab", {200, true, -1, bytes("keys-cut.cab")});
    Server.Route("/whole/keys.cab", {200, true, -1, bytes("keys.cab")});
    Server.Route("/notes.txt_", {200, true, -1, bytes("notes.txt_")});
    const auto run = [&](const std::string& path, const std::wstring& dir) {
        Engine->FileList().Clear();
        TFileDescription item;
        item.URL = Url(path);
        item.TargetDir = dir;
        item.Compressed = true;
        Engine->FileList().Add(item);
        Engine->SetAppUpdate(true);
        Statuses.clear();
        return Engine->GetFileUpdates();
    };

    EXPECT_EQ(run("/cut/keys.cab", Folder(keys)), -1);
    EXPECT_FALSE(Engine->AppUpdate());
    EXPECT_TRUE(Reported(L"Error decompressing CAB file : " + Temp() + L"keys.cab"));
    EXPECT_EQ(Slurp(keys / "Key1.bmp"), "installed one");
    EXPECT_EQ(Slurp(keys / "Key2.bmp"), "installed two");
    EXPECT_EQ(Names(keys), (std::vector<std::string>{"Key1.bmp", "Key2.bmp"}));

    EXPECT_EQ(run("/whole/keys.cab", Folder(keys)), 0);
    EXPECT_TRUE(Engine->AppUpdate());
    EXPECT_EQ(Slurp(keys / "Key1.bmp"), Slurp(release / "in" / "Key1.bmp"));
    EXPECT_EQ(Slurp(keys / "Key2.bmp"), Slurp(release / "in" / "Key2.bmp"));
    EXPECT_EQ(Names(keys), (std::vector<std::string>{"Key1.bmp", "Key2.bmp"}));

    { std::ofstream(Root / "app" / "notes.txt", std::ios::binary) << "older notes"; }
    EXPECT_EQ(run("/notes.txt_", L""), 0);
    EXPECT_EQ(Slurp(Root / "app" / "notes.txt"), Slurp(release / "in" / "notes.txt"));
    EXPECT_FALSE(fs::exists(Root / "app" / "notes.txt_"));
    EXPECT_FALSE(fs::exists(Root / "temp" / "notes.txt_"));
    EXPECT_EQ(Leftovers(), 0u);
}

// A cabinet or an LZ file that unpacks to more than its ceiling fails as a whole.
TEST_F(InstallTest, UnpackingStopsAtItsCeiling) {
    const fs::path cab = Root / "temp" / "bomb.cab";
    Spill(cab, MakeCabinet({{"a.bin", std::string(1000, 'a')}, {"b.bin", std::string(1000, 'b')},
                            {"c.bin", std::string(1000, 'c')}}));
    const struct {
        std::int64_t Ceiling;
        bool Ok;
    } cases[] = {{3000, true}, {2999, false}, {1000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ceiling);
        const fs::path out = Root / "app" / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        std::vector<std::wstring> written;
        EXPECT_EQ(ExtractCabinetFiles(cab.wstring(), Folder(out), SystemFileSystem(), c.Ceiling, written), c.Ok);
        EXPECT_EQ(written.size(), static_cast<std::size_t>(c.Ok ? 3 : c.Ceiling / 1000));
    }

    const auto lz = MakeLZFile(std::string(5000, 'z'), 't');
    Spill(Root / "temp" / "big.tx_", lz);
    for (const std::int64_t ceiling : {5000, 4999}) {
        std::unique_ptr<TWritableFile> out = SystemFileSystem().OpenWrite((Root / "temp" / "big.out").wstring());
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(ExpandLZ((Root / "temp" / "big.tx_").wstring(), *out, ceiling), ceiling == 5000);
        out->Close();
    }
}

TEST_F(InstallTest, UpdateLogLinesInTheDocumentsFolder) {
    Engine->WriteLogLine(L"Unable to delete file C:\\x");
    Engine->WriteLogLine(L"caf\u00e9");
    EXPECT_EQ(Slurp(Root / "docs" / "WUPDATE.LOG"), "Unable to delete file C:\\x\r\n" + WideToAnsi(L"caf\u00e9") + "\r\n");
}

// The whole path of a release: the control file fetched from the server, the global check,
// the file filter against what is installed, then fetching and installing what is left.
TEST_F(InstallTest, ControlFileToInstalledFiles) {
    const fs::path app = Root / "app";
    { std::ofstream(app / "current.dat", std::ios::binary) << "same"; }
    const std::wstring wideBase = Server.Base();
    const std::string base(wideBase.begin(), wideBase.end());
    const std::string control =
        "[update]\r\nunconditional=1\r\n"
        "[files]\r\ncount=3\r\n"
        "[file1]\r\nurl=" + base + "/rel/new.dat\r\n"
        "targetdir={APP}\\data\r\n"
        "[file2]\r\nurl=" + base + "/rel/current.dat\r\n"
        "localversion={APP}\\current.dat\r\nnewsize=4\r\ntargetdir={APP}\r\n"
        "[file3]\r\nurl=" + base + "/rel/gone.dat\r\n"
        "localversion={APP}\\gone.dat\r\nnewversion=2.0\r\n";
    Server.Route("/rel/LumetraControlBox.INF", {200, true, -1, control});
    Server.Route("/rel/new.dat", {200, true, -1, "new release file"});

    ASSERT_TRUE(Engine->URLGetFile(*Session, Url("/rel/LumetraControlBox.INF"), Temp()));
    Engine->SetControlFile(Temp() + L"LumetraControlBox.INF");
    EXPECT_TRUE(Engine->DoVersionCheck());
    EXPECT_EQ(Engine->GetFileDetails(), 3);
    EXPECT_EQ(Engine->ProcessFileDetails(), 0);
    ASSERT_EQ(Engine->FileList().Count(), 1u);  // same size, and not installed: dropped
    const int requestsBefore = Server.Requests();
    EXPECT_EQ(Engine->GetFileUpdates(), 0);
    EXPECT_EQ(Server.Requests(), requestsBefore + 1);
    EXPECT_EQ(Slurp(app / "data" / "new.dat"), "new release file");
}

}  // namespace
