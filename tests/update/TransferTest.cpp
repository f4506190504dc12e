// The transfer logic against a session of the test's own: what reaches the disk, what is
// reported, and what is left untouched when a transfer breaks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TextUtils.h"
#include "UpdateFiles.h"
#include "WUpdate.h"
#include "TempRoot.h"
#include "WholeFile.h"
#include "ScriptedTransfer.h"

namespace {

namespace fs = std::filesystem;

using TResponse = TScriptedResponse;

std::wstring Wide(const fs::path& path) {
    if constexpr (sizeof(wchar_t) == 2)
        return path.wstring();
    else
        return Utf8ToWide(path.string());
}

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
        folders.Documents = Wide(Root / "docs");
        folders.Application = Wide(Root);
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
        return Wide(path) + (sizeof(wchar_t) == 2 ? L"\\" : L"/");
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
    // The component test is a plain substring test on upper-case text.
    std::wstring comps = L"x.dll MAIN.EXE";
    // appcomps comes from the control file.
    Engine->SetControlFile(L"C:\\c.inf");
    static_cast<TFileFactsTable&>(Engine->Facts()).Add(L"C:\\c.inf", WideToUtf8(L"[application]\nappcomps=" + comps));
    Engine->ReadApplicationSection();
    Engine->SetAppUpdate(true);

    EXPECT_EQ(Engine->GetFileUpdates(), -1);
    EXPECT_FALSE(Engine->AppUpdate());  // a failed entry forbids the restart
    EXPECT_TRUE(Engine->ComponentsIncluded());
    EXPECT_EQ(Slurp(Root / "install" / "sub" / "a.txt"), "plain");
    EXPECT_FALSE(fs::exists(Root / "temp" / "a.txt"));
    EXPECT_EQ(Slurp(Root / "temp" / "c.txt"), "stays");
    EXPECT_EQ(Slurp(Root / "temp" / "Main.exe"), "component");
    EXPECT_FALSE(fs::exists(Root / "install" / "sub" / "Main.exe"));
    EXPECT_EQ(Slurp(Root / "temp" / "d.cab"), "not opened");
    const auto texts = Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Cannot download update file : http://h/b.txt"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Found application component : Main.exe"), texts.end());
    EXPECT_EQ(Engine->FileList().ActiveIndex(), -1);
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

TEST_F(SizeCapTest, BodiesWithoutALengthStopAtTheirCeiling) {
    const struct {
        const char* Name;
        std::int64_t Length;  // 0: none announced
        std::size_t Body;
        std::int64_t Limit;
        bool Ok;
    } cases[] = {
        {"no length, within the limit", 0, 5000, 5000, true},
        {"no length, past the limit", 0, 5001, 5000, false},
        {"announced length is its own limit", -1, 9000, 5000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path target = Root / "temp" / "f.bin";
        { std::ofstream(target, std::ios::binary) << "older copy"; }
        Server.Responses[L"http://h/f.bin"] = {200, c.Length, std::string(c.Body, 'z')};
        Statuses.clear();
        EXPECT_EQ(Engine->URLGetFile(Session, L"http://h/f.bin", Temp(), c.Limit), c.Ok);
        EXPECT_EQ(Slurp(target), c.Ok ? std::string(c.Body, 'z') : "older copy");
        EXPECT_EQ(LeftoverTempFiles(), 0u);
        if (!c.Ok) {
            EXPECT_EQ(Statuses.back().Code, 20);
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

TEST_F(FaultyInstallTest, PlainFileIsOldOrNewWhicheverStepFails) {
    const fs::path installed = Root / "install" / "a.txt";
    for (TKind kind : {TKind::Write, TKind::Move, TKind::Delete}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", operation " << n);
            fs::remove_all(Root / "install");
            fs::create_directories(Root / "install");
            { std::ofstream(installed, std::ios::binary) << "old content"; }
            const fs::path logFile = FsPath(Engine->LogFilePath());
            fs::remove(logFile);
            TFaultyFileSystem faulty(SystemFileSystem());
            faulty.FailAt(kind, n);
            Engine->SetFileSystem(&faulty);
            Engine->FileList().Clear();
            Server.Responses[L"http://h/a.txt"] = {200, 0, "new content"};
            TFileDescription item;
            item.URL = L"http://h/a.txt";
            item.TargetDir = Folder(Root / "install");
            Engine->FileList().Add(item);
            Engine->SetAppUpdate(true);
            Statuses.clear();

            const int result = Engine->GetFileUpdates();
            const std::string now = Slurp(installed);
            const std::string log = Slurp(logFile);
            bool renameReported = false;
            bool deleteReported = false;
            for (const auto& s : Statuses) {
                if (s.Code == 19 && s.Error == 7) renameReported = true;
                if (s.Code == 19 && s.Error == 6) deleteReported = true;
            }
            if (now == "new content") {
                EXPECT_EQ(result, 0);
                EXPECT_TRUE(Engine->AppUpdate());
            } else {
                EXPECT_EQ(now, "old content");
                EXPECT_EQ(result, -1);
                EXPECT_FALSE(Engine->AppUpdate());
                EXPECT_TRUE(renameReported);
                EXPECT_NE(log.find("Unable to rename file "), std::string::npos) << log;
            }
            // Nothing staged stays beside the installed file, unless it is reported.
            if (!deleteReported) {
                EXPECT_EQ(FilesStartingWith(Root / "install", "WUPD"), 0u);
            }
            if (!faulty.Failed()) {
                EXPECT_EQ(now, "new content");
                break;
            }
        }
    }
    Engine->SetFileSystem(nullptr);
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
    Engine->RemoveOldUpdaterFolders();
    for (const auto& c : cases) EXPECT_EQ(fs::exists(Root / "temp" / c.Folder), !c.Removed) << c.Folder;
}

}  // namespace
