// The transfer logic against a session of the test's own: what reaches the disk, what is
// reported, and what is left untouched when a transfer breaks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MainThread.h"
#include "TextUtils.h"
#include "UpdateFileSystem.h"
#include "UpdateArchives.h"
#include "WUpdate.h"
#include "TempRoot.h"
#include "WholeFile.h"
#include "ScriptedTransfer.h"

namespace {

namespace fs = std::filesystem;

using TResponse = TScriptedResponse;

struct TStatus {
    int Ident;  // recognised from the text
    std::wstring Text;
    int Code;
    int Error;
};

class TransferFixture : public testing::Test {
protected:
    void SetUp() override {
        // Named after the process: test processes run side by side and may well place
        // their fixtures at the same address.
        Root = TempRoot("lumetra-transfer");
        fs::remove_all(Root);
        fs::create_directories(Root / "temp");
        fs::create_directories(Root / "docs");
        TKnownFolders folders;
        folders.Temp = Folder(Root / "temp");
        folders.Documents = WidePath(Root / "docs");
        folders.Application = WidePath(Root);
        Engine = std::make_unique<TWebUpdate>(std::make_unique<TFileFactsTable>(), folders);
        // An address the server does not know does not resolve; no request asks for headers.
        Server.Unknown = {0, -1, "", std::string::npos, 12007, true};
        Server.OnOpen = [](const std::wstring&, const std::wstring& headers) { EXPECT_TRUE(headers.empty()); };
        Engine->SetSession(&Session);
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int error) {
            Statuses.push_back({0, text, code, error});
        };
    }
    void TearDown() override {
        std::error_code error;
        fs::permissions(Root / "temp" / "f.bin", fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(Root, error);
    }

    static std::wstring Folder(const fs::path& path) {
        return WidePath(path) + (sizeof(wchar_t) == 2 ? L"\\" : L"/");
    }
    std::wstring Temp() const { return Folder(Root / "temp"); }
    std::size_t LeftoverTempFiles() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(Root / "temp"))
            if (entry.path().filename().string().rfind("WUPD", 0) == 0) ++count;
        return count;
    }
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> texts;
        for (const auto& s : Statuses) texts.push_back(s.Text);
        return texts;
    }

    fs::path Root;
    TScriptedServer Server;
    TScriptedSession Session{Server};
    std::unique_ptr<TWebUpdate> Engine;
    std::vector<TStatus> Statuses;
};

using URLGetFileTest = TransferFixture;

TEST_F(URLGetFileTest, LengthRules) {
    const std::string big(10000, 'x');
    const struct {
        const char* Name;
        TResponse Response;
        bool Ok;
        bool LengthMismatch;
    } cases[] = {
        {"no length: any size", {200, 0, big}, true, false},
        {"exact length", {200, -1, big}, true, false},
        {"cut short", {200, 20000, big}, false, true},
        {"too long", {200, 5000, big}, false, true},
        {"read failure", {200, 0, big, 4096}, false, false},
        {"read failure at the start", {200, 0, big, 0}, false, false},
        {"zero bytes", {200, 0, ""}, false, false},
        {"zero bytes announced", {200, -1, ""}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path target = Root / "temp" / "f.bin";
        { std::ofstream(target, std::ios::binary) << "older copy"; }
        Server.Responses[L"http://h/f.bin"] = c.Response;
        Statuses.clear();
        EXPECT_EQ(Engine->URLGetFile(Session, L"http://h/f.bin", Temp()), c.Ok);
        EXPECT_EQ(Slurp(target), c.Ok ? c.Response.Body : "older copy");
        EXPECT_EQ(LeftoverTempFiles(), 0u);
        ASSERT_FALSE(Statuses.empty());
        EXPECT_EQ(Statuses.front().Text, L"Download : f.bin");
        const bool mismatch = Statuses.back().Code == 20;
        EXPECT_EQ(mismatch, c.LengthMismatch);
        if (mismatch) {
            EXPECT_EQ(Statuses.back().Text, L"");
            EXPECT_EQ(Statuses.back().Error, 10);
        }
    }
    for (std::uint32_t flags : Server.Flags) EXPECT_EQ(flags, 0x84400100u);
}

TEST_F(URLGetFileTest, FailuresToOpen) {
    Server.Responses[L"http://h/missing.exe"] = {404, 0, "not found"};
    Server.Responses[L"http://h/quiet.exe"] = {200, 0, "", std::string::npos, 0, true};
    Server.Responses[L"http://h/extended.exe"] = {200, 0, "", std::string::npos, kExtendedError, true};

    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://h/missing.exe", Temp()));
    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://nowhere/x.exe", Temp()));
    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://h/quiet.exe", Temp()));
    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://h/extended.exe", Temp()));
    ASSERT_EQ(Statuses.size(), 9u);
    EXPECT_EQ(Statuses[1].Text, L"Http status : 404");
    EXPECT_EQ(Statuses[1].Code, 6);
    EXPECT_EQ(Statuses[1].Error, 404);
    EXPECT_EQ(Statuses[3].Text, L"System error : The server name could not be resolved");
    EXPECT_EQ(Statuses[3].Code, 1);
    EXPECT_EQ(Statuses[3].Error, 12007);
    EXPECT_EQ(Statuses[4].Text, L"File not found : http://nowhere/x.exe");
    EXPECT_EQ(Statuses[4].Code, 2);
    EXPECT_EQ(Statuses[4].Error, 1);
    // No error number, or an extended error without response text: no system error report.
    EXPECT_EQ(Statuses[6].Text, L"File not found : http://h/quiet.exe");
    EXPECT_EQ(Statuses[7].Text, L"Download : extended.exe");
    EXPECT_EQ(Statuses[8].Text, L"File not found : http://h/extended.exe");
    EXPECT_EQ(LeftoverTempFiles(), 0u);
}

TEST_F(URLGetFileTest, NamesFromTheAddress) {
    Server.Responses[L"http://h/get?file=x.bin"] = {200, 0, "query"};
    Server.Responses[L"http://h/dir/"] = {200, 0, "folder"};
    EXPECT_TRUE(Engine->URLGetFile(Session, L"http://h/get?file=x.bin", Temp()));
    EXPECT_EQ(Slurp(Root / "temp" / "file=x.bin"), "query");
    // An address ending in "/" names no file: nothing can be put in place.
    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://h/dir/", Temp()));
    EXPECT_EQ(LeftoverTempFiles(), 0u);
}

TEST_F(URLGetFileTest, ReadOnlyTargetIsReplaced) {
    const fs::path target = Root / "temp" / "f.bin";
    { std::ofstream(target, std::ios::binary) << "old"; }
    fs::permissions(target, fs::perms::owner_read);
    Server.Responses[L"http://h/f.bin"] = {200, -1, "new"};
    EXPECT_TRUE(Engine->URLGetFile(Session, L"http://h/f.bin", Temp()));
    EXPECT_EQ(Slurp(target), "new");
}

TEST_F(URLGetFileTest, ProgressInChunksAndCancel) {
    Server.Responses[L"http://h/f.bin"] = {200, -1, std::string(150000, 'p')};
    std::vector<std::int64_t> positions;
    Engine->OnFileProgress = [&](TWebUpdate&, const std::wstring& name, std::int64_t pos, std::int64_t size) {
        EXPECT_EQ(name, Temp() + L"f.bin");
        EXPECT_EQ(size, 150000);
        positions.push_back(pos);
    };
    EXPECT_TRUE(Engine->URLGetFile(Session, L"http://h/f.bin", Temp()));
    EXPECT_EQ(positions, (std::vector<std::int64_t>{65536, 131072, 150000}));
    int downloaded = 0;
    Engine->OnFileDownloaded = [&](TWebUpdate&, const std::wstring&) { ++downloaded; };

    Engine->OnProgressCancel = [&](TWebUpdate&, bool& cancel) { cancel = positions.size() >= 4; };
    Statuses.clear();
    EXPECT_FALSE(Engine->URLGetFile(Session, L"http://h/f.bin", Temp()));
    EXPECT_TRUE(Engine->Cancelled());
    EXPECT_EQ(Statuses.back().Text, L"WebUpdate process cancelled");
    EXPECT_EQ(downloaded, 0);
    EXPECT_EQ(LeftoverTempFiles(), 0u);
    EXPECT_EQ(Slurp(Root / "temp" / "f.bin"), std::string(150000, 'p'));
}

using GetFileUpdatesTest = TransferFixture;

TEST_F(GetFileUpdatesTest, EntriesFetchedAndPlaced) {
    const std::wstring target = Folder(Root / "install" / "sub");
    Server.Responses[L"http://h/a.txt"] = {200, 0, "plain"};
    Server.Responses[L"http://h/b.txt"] = {404, 0, ""};
    Server.Responses[L"http://h/c.txt"] = {200, 0, "stays"};
    Server.Responses[L"http://h/Main.exe"] = {200, 0, "component"};
    Server.Responses[L"http://h/d.cab"] = {200, 0, "not opened"};
    TFileList& list = Engine->FileList();
    auto add = [&](const wchar_t* url, const std::wstring& dir, bool compressed) {
        TFileDescription item;
        item.URL = url;
        item.TargetDir = dir;
        item.Compressed = compressed;
        list.Add(item);
    };
    add(L"http://h/a.txt", target, false);
    add(L"http://h/b.txt", target, false);
    add(L"http://h/c.txt", L"", false);
    add(L"http://h/Main.exe", target, false);
    add(L"http://h/d.cab", target, false);
    Engine->SetAppUpdate(true);
    // A component is named in the list, without regard to case.
    std::wstring comps = L"x.dll MAIN.EXE";
    // appcomps comes from the control file.
    Engine->SetControlFile(L"C:\\c.inf");
    static_cast<TFileFactsTable&>(Engine->Facts()).Add(L"C:\\c.inf", WideToUtf8(L"[application]\nappcomps=" + comps));
    Engine->ReadApplicationSection();
    Engine->SetAppUpdate(true);

    EXPECT_EQ(Engine->GetFileUpdates(), -1);
    EXPECT_FALSE(Engine->AppUpdate());  // a failed entry forbids the restart
    EXPECT_TRUE(Engine->ComponentsIncluded());
    // A release is installed whole or not at all: with b.txt missing, a.txt is not placed.
    EXPECT_FALSE(fs::exists(Root / "install" / "sub" / "a.txt"));
    EXPECT_EQ(Slurp(Root / "temp" / "a.txt"), "plain");
    EXPECT_EQ(Slurp(Root / "temp" / "c.txt"), "stays");
    EXPECT_EQ(Slurp(Root / "temp" / "Main.exe"), "component");
    EXPECT_FALSE(fs::exists(Root / "install" / "sub" / "Main.exe"));
    EXPECT_EQ(Slurp(Root / "temp" / "d.cab"), "not opened");
    const auto texts = Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Cannot download update file : http://h/b.txt"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Found application component : Main.exe"), texts.end());
    EXPECT_EQ(Engine->FileList().ActiveIndex(), -1);

    // Without the missing entry the same release is placed.
    Engine->FileList().Delete(1);
    Engine->SetAppUpdate(true);
    EXPECT_EQ(Engine->GetFileUpdates(), 0);
    EXPECT_TRUE(Engine->AppUpdate());
    EXPECT_EQ(Slurp(Root / "install" / "sub" / "a.txt"), "plain");
    EXPECT_FALSE(fs::exists(Root / "temp" / "a.txt"));
}

TEST_F(GetFileUpdatesTest, ComponentsAreTheNamesOfTheListAndGoToTheUpdaterWithTheirHash) {
    const struct {
        const wchar_t* Name;
        bool Component;
    } cases[] = {
        {L"Main.exe", true},   {L"MAIN.EXE", true},  {L"Helper.dll", true}, {L"exe", false},
        {L"ain.exe", false},   {L"Main.ex", false},  {L"Main.exe.bak", false},
        {L"x", false},         {L"Helper.dll;", false},
    };
    Engine->SetControlFile(L"C:\\c.inf");
    static_cast<TFileFactsTable&>(Engine->Facts())
        .Add(L"C:\\c.inf", "[application]\nappcomps=\"Main.exe\", Helper.dll;..\\x\\Other.ocx\n");
    Engine->ReadApplicationSection();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Name)));
        Engine->FileList().Clear();
        Server.Responses[std::wstring(L"http://h/") + c.Name] = {200, 0, "abc"};
        TFileDescription item;
        item.URL = std::wstring(L"http://h/") + c.Name;
        Engine->FileList().Add(item);
        Engine->SetComponentsIncluded(false);
        EXPECT_EQ(Engine->GetFileUpdates(), 0);
        EXPECT_EQ(Engine->ComponentsIncluded(), c.Component);
        EXPECT_EQ(Engine->FetchedComponents().size(), c.Component ? 1u : 0u);
    }

    // A release of two components that changes one: the updater is given that one alone,
    // with the SHA-256 of the copy fetched ("abc").
    Engine->FileList().Clear();
    Server.Responses[L"http://h/Main.exe"] = {200, 0, "abc"};
    TFileDescription item;
    item.URL = L"http://h/Main.exe";
    Engine->FileList().Add(item);
    ASSERT_EQ(Engine->GetFileUpdates(), 0);
    ASSERT_EQ(Engine->FetchedComponents(), std::vector<std::wstring>{L"Main.exe"});
    const std::wstring parameters = Engine->UpdaterParameters();
    const std::wstring tail = L" Main.exe|ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    ASSERT_GE(parameters.size(), tail.size());
    EXPECT_EQ(parameters.substr(parameters.size() - tail.size()), tail) << WideToUtf8(parameters);
    EXPECT_EQ(parameters.find(L"Helper"), std::wstring::npos);
}

// The installation's file work runs on a worker while the main thread goes on serving
// hand-offs: every move hands a call to the main thread, as a read thread hands a key press,
// and waits for it to be served.
TEST_F(GetFileUpdatesTest, FileWorkRunsOffTheMainThreadWhilePressesGoOn) {
    MainThread::Initialize();
    struct TPressingFileSystem : TFaultyFileSystem {
        using TFaultyFileSystem::TFaultyFileSystem;
        int OnMainThread = 0;
        int Served = 0;
        bool ReplaceFile(const std::wstring& from, const std::wstring& to) override {
            if (MainThread::IsMainThread())
                ++OnMainThread;
            else
                MainThread::Synchronize([this] { ++Served; });
            return TFaultyFileSystem::ReplaceFile(from, to);
        }
    } pressing(SystemFileSystem());
    Engine->SetFileSystem(&pressing);
    fs::create_directories(Root / "install");
    { std::ofstream(Root / "install" / "a.txt", std::ios::binary) << "old"; }
    Server.Responses[L"http://h/a.txt"] = {200, 0, std::string(1 << 20, 'n')};
    Server.Responses[L"http://h/b.txt"] = {200, 0, "b"};
    for (const wchar_t* url : {L"http://h/a.txt", L"http://h/b.txt"}) {
        TFileDescription item;
        item.URL = url;
        item.TargetDir = Folder(Root / "install");
        Engine->FileList().Add(item);
    }
    Engine->SetAppUpdate(true);
    EXPECT_EQ(Engine->GetFileUpdates(), 0);
    Engine->SetFileSystem(nullptr);
    EXPECT_EQ(pressing.OnMainThread, 0);
    EXPECT_GE(pressing.Served, 3);  // two files staged, the old a.txt moved aside, ...
    EXPECT_EQ(Slurp(Root / "install" / "a.txt"), std::string(1 << 20, 'n'));
    EXPECT_EQ(Slurp(Root / "install" / "b.txt"), "b");
}

TEST(UpdateLogPath, DocumentsAppAndBackslashes) {
    const struct {
        const wchar_t* Name;
        const wchar_t* Expected;
    } cases[] = {
        {L"WUPDATE.LOG", L"C:\\Users\\Op\\Documents\\WUPDATE.LOG"},
        {L"{app}\\logs\\\\u.log", L"C:\\Program Files\\Lumetra\\logs\\u.log"},
        {L"\\\\server\\share\\\\u.log", L"\\\\server\\share\\u.log"},
        {L"D:u.log", L"D:u.log"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpdateLogPath(c.Name, L"C:\\Users\\Op\\Documents\\", L"C:\\Program Files\\Lumetra"), c.Expected)
            << testing::PrintToString(std::wstring(c.Name));
}

}  // namespace

namespace {

using TKind = TFaultyFileSystem::TKind;

std::size_t FilesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
    return count;
}

using SizeCapTest = TransferFixture;

// The ceiling holds whatever the server announces: a length past it is refused before the
// first read, and no body is read further than one chunk past the ceiling or past its own
// announced length (a server that keeps streaming never fills the disk).
TEST_F(SizeCapTest, EveryBodyStopsAtItsCeiling) {
    constexpr std::int64_t kChunk = 64 * 1024;
    const struct {
        const char* Name;
        std::int64_t Length;  // 0: none announced; -1: the body's size
        std::size_t Body;
        std::int64_t Limit;
        bool Ok;
        std::int64_t MostRead;  // bytes the transfer may have read
    } cases[] = {
        {"no length, within the limit", 0, 5000, 5000, true, 5000},
        {"no length, past the limit", 0, 5001, 5000, false, 5001},
        {"announced within the limit", -1, 5000, 5000, true, 5000},
        {"announced past the limit: refused unread", -1, 9000, 5000, false, 0},
        {"announced a huge length and streaming", 1'000'000'000'000, 1'000'000, 1 << 20, false, 0},
        {"no length, streaming on past the ceiling", 0, 4 << 20, 1 << 20, false, (1 << 20) + kChunk},
        {"announced small, streaming on", 5000, 1'000'000, 1 << 20, false, kChunk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path target = Root / "temp" / "f.bin";
        { std::ofstream(target, std::ios::binary) << "older copy"; }
        Server.Responses[L"http://h/f.bin"] = {200, c.Length, std::string(c.Body, 'z')};
        Server.BytesRead = 0;
        Statuses.clear();
        EXPECT_EQ(Engine->URLGetFile(Session, L"http://h/f.bin", Temp(), c.Limit), c.Ok);
        EXPECT_EQ(Slurp(target), c.Ok ? std::string(c.Body, 'z') : "older copy");
        EXPECT_EQ(LeftoverTempFiles(), 0u);
        EXPECT_LE(Server.BytesRead, c.MostRead);
        if (!c.Ok) {
            EXPECT_EQ(Statuses.back().Code, 20);
            EXPECT_EQ(Statuses.back().Error, 10);
        }
    }
}

TEST_F(SizeCapTest, EntrySizeCapsItsBodyAndCeilingsCapTheReads) {
    Server.Responses[L"http://h/a.txt"] = {200, 0, std::string(300, 'a')};
    TFileDescription item;
    item.URL = L"http://h/a.txt";
    item.FileSize = 200;
    Engine->FileList().Add(item);
    EXPECT_EQ(Engine->GetFileUpdates(), -1);
    EXPECT_FALSE(fs::exists(Root / "temp" / "a.txt"));

    // A file past the ceiling reads as no file at all.
    TFileFactsTable facts;
    facts.Add(L"C:\\big", std::string(11, 'b'));
    EXPECT_FALSE(ReadWholeFile(facts, L"C:\\big", 10).has_value());
    EXPECT_EQ(ReadWholeFile(facts, L"C:\\big", 11)->size(), 11u);
}

TEST(FileNames, DevicesAndForbiddenCharactersAreRefused) {
    const struct {
        const wchar_t* Name;
        bool Usable;
    } cases[] = {
        {L"Key1.bmp", true},    {L"console.txt", true}, {L"COM10", true},    {L"LPT0.txt", true},
        {L"CON", false},        {L"con.txt", false},    {L"Nul", false},     {L"AUX.tar.gz", false},
        {L"PRN ", false},       {L"com1", false},       {L"LPT9.dll", false}, {L"con .txt", false},
        {L"a<b", false},        {L"a|b", false},        {L"a\"b", false},    {L"a?b", false},
        {L"a*b", false},        {L"a\x01z", false},     {L"name.", false},   {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUsableFileName(c.Name), c.Usable) << testing::PrintToString(std::wstring(c.Name));
        // A cabinet entry with such a part anywhere is refused like one that escapes.
        if (*c.Name != 0) {
            EXPECT_EQ(CabinetEntryTarget(L"T\\", std::wstring(L"sub\\") + c.Name).has_value(), c.Usable);
        }
    }
    EXPECT_FALSE(CabinetEntryTarget(L"T\\", L"CON\\inner.txt").has_value());
}

// Every write, move and delete of an installation made to fail in turn: the installed file
// is either the old one, with the failure reported, or the new one; never a mix, never lost.
using FaultyInstallTest = TransferFixture;

TEST_F(FaultyInstallTest, ReleaseOfTwoFilesIsAllOldOrAllNewWhicheverStepFails) {
    const fs::path installed[] = {Root / "install" / "a.txt", Root / "install" / "b.txt"};
    for (TKind kind : {TKind::Write, TKind::Move, TKind::Delete}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", operation " << n);
            fs::remove_all(Root / "install");
            fs::create_directories(Root / "install");
            for (const fs::path& file : installed) std::ofstream(file, std::ios::binary) << "old content";
            const fs::path logFile = FsPath(Engine->LogFilePath());
            fs::remove(logFile);
            TFaultyFileSystem faulty(SystemFileSystem());
            faulty.FailAt(kind, n);
            Engine->SetFileSystem(&faulty);
            Engine->FileList().Clear();
            for (const wchar_t* url : {L"http://h/a.txt", L"http://h/b.txt"}) {
                Server.Responses[url] = {200, 0, "new content"};
                TFileDescription item;
                item.URL = url;
                item.TargetDir = Folder(Root / "install");
                Engine->FileList().Add(item);
            }
            Engine->SetAppUpdate(true);
            Statuses.clear();

            const int result = Engine->GetFileUpdates();
            const std::string first = Slurp(installed[0]);
            const std::string second = Slurp(installed[1]);
            const std::string log = Slurp(logFile);
            bool renameReported = false;
            bool deleteReported = false;
            for (const auto& s : Statuses) {
                if (s.Code == 19 && s.Error == 7) renameReported = true;
                if (s.Code == 19 && s.Error == 6) deleteReported = true;
            }
            // Never one new beside one old.
            EXPECT_EQ(first, second);
            if (first == "new content") {
                EXPECT_EQ(result, 0);
                EXPECT_TRUE(Engine->AppUpdate());
            } else {
                EXPECT_EQ(first, "old content");
                EXPECT_EQ(result, -1);
                EXPECT_FALSE(Engine->AppUpdate());
                EXPECT_TRUE(renameReported);
                EXPECT_NE(log.find("Unable to rename file "), std::string::npos) << log;
            }
            // Nothing staged stays beside the installed files, unless it is reported.
            if (!deleteReported) {
                EXPECT_EQ(FilesStartingWith(Root / "install", "WUPD"), 0u);
            }
            if (!faulty.Failed()) {
                EXPECT_EQ(first, "new content");
                break;
            }
        }
    }
    Engine->SetFileSystem(nullptr);
}

TEST_F(FaultyInstallTest, ReleaseWhoseSecondEntryFailsLeavesTheFirstFileUnchanged) {
    // The second entry fails to be fetched (404), or fetched and not unpacked (this
    // cabinet is no cabinet).
    const struct {
        const char* Name;
        TResponse Second;
        bool Compressed;
    } cases[] = {{"not found", {404, 0, ""}, false}, {"broken cabinet", {200, 0, "no cabinet"}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Root / "install");
        fs::create_directories(Root / "install");
        { std::ofstream(Root / "install" / "a.txt", std::ios::binary) << "old content"; }
        Engine->FileList().Clear();
        Server.Responses[L"http://h/a.txt"] = {200, 0, "new content"};
        Server.Responses[L"http://h/keys.cab"] = c.Second;
        for (const wchar_t* url : {L"http://h/a.txt", L"http://h/keys.cab"}) {
            TFileDescription item;
            item.URL = url;
            item.TargetDir = Folder(Root / "install");
            item.Compressed = c.Compressed;
            Engine->FileList().Add(item);
        }
        Engine->SetAppUpdate(true);
        EXPECT_EQ(Engine->GetFileUpdates(), -1);
        EXPECT_FALSE(Engine->AppUpdate());
        EXPECT_EQ(Slurp(Root / "install" / "a.txt"), "old content");
        EXPECT_EQ(FilesStartingWith(Root / "install", "WUPD"), 0u);
    }
}

// Race day: thirty releases of one to four files installed one after another while a read
// thread hands presses to the main thread, each release meeting its trouble (none, an
// entry that cannot be fetched, or a write, move or delete failing at some step). Every
// press arrives once and in order, and the installed files are always those of one
// release: all new when the installation says so, all as they were otherwise.
TEST_F(FaultyInstallTest, SeededReleasesWithTroubleWhilePressesGoOn) {
    MainThread::Initialize();
    std::mt19937 random(20261210u);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::vector<int> delivered;  // on the main thread only
    std::thread reader([&] {
        for (int press = 0; !stop.load(); ++press) {
            MainThread::Synchronize([&delivered, press] { delivered.push_back(press); });
            sent.store(press + 1);
            std::this_thread::yield();
        }
    });

    fs::create_directories(Root / "install");
    std::vector<std::string> installed(4, "release 0");
    for (int f = 0; f < 4; ++f)
        std::ofstream(Root / "install" / ("f" + std::to_string(f) + ".txt"), std::ios::binary) << installed[f];
    for (int release = 1; release <= 30; ++release) {
        SCOPED_TRACE(testing::Message() << "release " << release);
        const int files = 1 + static_cast<int>(random() % 4);
        const int trouble = static_cast<int>(random() % 3);
        const int missing = static_cast<int>(random() % files);
        TFaultyFileSystem faulty(SystemFileSystem());
        if (trouble == 2) faulty.FailAt(static_cast<TKind>(random() % 3), 1 + static_cast<int>(random() % 12));
        Engine->SetFileSystem(&faulty);
        Engine->FileList().Clear();
        const std::string content = "release " + std::to_string(release) + std::string(random() % 70000, '.');
        for (int f = 0; f < files; ++f) {
            const std::wstring url = L"http://h/f" + std::to_wstring(f) + L".txt";
            Server.Responses[url] = trouble == 1 && f == missing ? TResponse{404, 0, ""} : TResponse{200, 0, content};
            TFileDescription item;
            item.URL = url;
            item.TargetDir = Folder(Root / "install");
            Engine->FileList().Add(item);
        }
        Engine->SetAppUpdate(true);
        const int result = Engine->GetFileUpdates();
        if (trouble == 1) EXPECT_EQ(result, -1);
        for (int f = 0; f < files; ++f) {
            if (result == 0) installed[f] = content;
            EXPECT_EQ(Slurp(Root / "install" / ("f" + std::to_string(f) + ".txt")), installed[f]) << "file " << f;
        }
        Engine->SetFileSystem(nullptr);
    }
    stop.store(true);
    MainThread::WaitFor(reader);
    ASSERT_EQ(static_cast<int>(delivered.size()), sent.load());
    for (std::size_t i = 0; i < delivered.size(); ++i) ASSERT_EQ(delivered[i], static_cast<int>(i));
    EXPECT_GT(sent.load(), 30);
}

TEST_F(FaultyInstallTest, StaleComponentCopiesAreDeletedBeforeTheRestart) {
    { std::ofstream(Root / "temp" / "Helper.dll", std::ios::binary) << "from an earlier run"; }
    { std::ofstream(Root / "temp" / "elsewhere.txt", std::ios::binary) << "not a component"; }
    Server.Responses[L"http://h/Main.exe"] = {200, 0, "this run"};
    Engine->SetControlFile(L"C:\\c.inf");
    static_cast<TFileFactsTable&>(Engine->Facts())
        .Add(L"C:\\c.inf", "[application]\nappcomps=\"Main.exe\", Helper.dll;..\\x\\Missing.ocx\n");
    Engine->ReadApplicationSection();
    TFileDescription item;
    item.URL = L"http://h/Main.exe";
    Engine->FileList().Add(item);
    EXPECT_EQ(Engine->GetFileUpdates(), 0);
    EXPECT_EQ(Engine->FetchedComponents(), std::vector<std::wstring>{L"Main.exe"});

    Engine->RemoveStaleComponents();
    EXPECT_EQ(Slurp(Root / "temp" / "Main.exe"), "this run");
    EXPECT_FALSE(fs::exists(Root / "temp" / "Helper.dll"));
    EXPECT_TRUE(fs::exists(Root / "temp" / "elsewhere.txt"));
}

TEST_F(FaultyInstallTest, OldUpdaterFoldersGoOthersStay) {
    const struct {
        const char* Folder;
        const char* File;
        bool Removed;
    } cases[] = {
        {"LumetraUpd-0000ABCD", "upd.exe", true},
        {"LumetraUpd-0000ABCE", "wusetup.cab", true},
        {"LumetraUpd-0000ABCF", "someone else's.txt", false},
        {"LumetraUpd-keep", "upd.exe", false},
        {"Other-0000ABCD", "upd.exe", false},
    };
    for (const auto& c : cases) {
        fs::create_directories(Root / "temp" / c.Folder);
        std::ofstream(Root / "temp" / c.Folder / c.File) << "x";
    }
    // A link in the updater's name to a folder of someone else's: the link goes, never
    // what is in the folder it points to.
    fs::create_directories(Root / "elsewhere");
    { std::ofstream(Root / "elsewhere" / "upd.exe") << "not ours"; }
    std::error_code linkError;  // Wine makes no links to folders
    fs::create_directory_symlink(Root / "elsewhere", Root / "temp" / "LumetraUpd-0000ABD0", linkError);
    Engine->RemoveOldUpdaterFolders();
    for (const auto& c : cases) EXPECT_EQ(fs::exists(Root / "temp" / c.Folder), !c.Removed) << c.Folder;
    EXPECT_FALSE(fs::exists(fs::symlink_status(Root / "temp" / "LumetraUpd-0000ABD0")));
    EXPECT_EQ(Slurp(Root / "elsewhere" / "upd.exe"), "not ours");
}

}  // namespace
