#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "TextUtils.h"
#include "WUpdate.h"

namespace {

const std::wstring kControlFile = L"C:\\Temp\\LumetraControlBox.INF";
const std::wstring kApp = L"C:\\Program Files\\Lumetra";
const std::wstring kExe = kApp + L"\\LumetraControlBox.exe";  // version 1.2.0.0, "ABC"
const std::wstring kOld = kApp + L"\\old.dll";                // version 1.1.9.9
const std::wstring kTwo = kApp + L"\\two.dll";                // version 2.0.0.0
const std::wstring kNoVersion = kApp + L"\\readme.txt";       // no version resource
const TDateStamp kExeWritten{2024, 6, 1, 12, 0, 0};

struct TStatus {
    std::wstring Text;
    int Code;
    bool operator==(const TStatus&) const = default;
};

TFileFactsTable::TEntry Entry(std::vector<std::uint8_t> content) {
    TFileFactsTable::TEntry entry;
    entry.Content = std::move(content);
    return entry;
}

void PrintTo(const TStatus& s, std::ostream* os) { *os << testing::PrintToString(s.Text) << "/" << s.Code; }

// An engine over a table of installed files, with the control file in the table too.
class WebUpdateFixture : public testing::Test {
protected:
    WebUpdateFixture() {
        auto facts = std::make_unique<TFileFactsTable>();
        Facts = facts.get();
        Facts->Add(kExe, {Bytes("ABC"), kExeWritten, TVersionWords{0x10002, 0}});
        Facts->Add(kOld, {Bytes("old"), kExeWritten, TVersionWords{0x10001, 0x90009}});
        Facts->Add(kTwo, {Bytes("two"), kExeWritten, TVersionWords{0x20000, 0}});
        Facts->Add(kNoVersion, {Bytes("text"), kExeWritten, std::nullopt});
        TKnownFolders folders = SystemKnownFolders();  // the host stand-in
        folders.Application = kApp;
        folders.Temp = L"C:\\Temp\\";
        Engine = std::make_unique<TWebUpdate>(std::move(facts), folders);
        Engine->SetControlFile(kControlFile);
        Engine->OnStatus = [this](TWebUpdate&, const std::wstring& text, int code, int) {
            Statuses.push_back({text, code});
        };
    }

    void ControlFile(const std::wstring& text) { Facts->Add(kControlFile, WideToUtf8(text)); }

    TFileFactsTable* Facts = nullptr;
    std::unique_ptr<TWebUpdate> Engine;
    std::vector<TStatus> Statuses;
};

using DoVersionCheckTest = WebUpdateFixture;

TEST_F(DoVersionCheckTest, TableOfControlFiles) {
    const TStatus check{L"Check versions", 3};
    const TStatus noNew{L"No new version found", 4};
    const TStatus byVersion{L"Version based update found", 3};
    const TStatus byDate{L"Date based update found", 3};
    const struct {
        const char* Name;
        const wchar_t* Update;  // body of the [update] section
        bool Expected;
        std::vector<TStatus> Statuses;
    } cases[] = {
        {"no condition: no, silently", L"descr=nothing to see", false, {}},
        {"localversion alone is no condition", L"localversion={APP}\\LumetraControlBox.exe", false, {}},
        {"condition without localversion", L"newversion=9.0", false, {}},
        {"1.2 against 1.2.0.0",
         L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1.2",
         false,
         {byVersion, check,
          {L"Version check : Version compare of " + kExe + L":1.2.0.0 with 1.2:1.2.0.0", 3}, noNew}},
        {"1.2 against 1.1.9.9",
         L"localversion={APP}\\old.dll\nnewversion=1.2",
         true,
         {byVersion, check, {L"Version check : Version compare of " + kOld + L":1.1.9.9 with 1.2:1.2.0.0", 3},
          {L"New version found : 1.2.0.0", 5}}},
        {"2 against 2.0.0.0", L"localversion={APP}\\two.dll\nnewversion=2", false,
         {byVersion, check, {L"Version check : Version compare of " + kTwo + L":2.0.0.0 with 2:2.0.0.0", 3}, noNew}},
        {"commas", L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1,2,0,1", true,
         {byVersion, check,
          {L"Version check : Version compare of " + kExe + L":1.2.0.0 with 1,2,0,1:1.2.0.1", 3},
          {L"New version found : 1.2.0.1", 5}}},
        {"points", L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1.2.0.1", true,
         {byVersion, check,
          {L"Version check : Version compare of " + kExe + L":1.2.0.0 with 1.2.0.1:1.2.0.1", 3},
          {L"New version found : 1.2.0.1", 5}}},
        {"build numbers beyond 32767 are newer", L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1.2.40000.0",
         true,
         {byVersion, check,
          {L"Version check : Version compare of " + kExe + L":1.2.0.0 with 1.2.40000.0:1.2.40000.0", 3},
          {L"New version found : 1.2.40000.0", 5}}},
        {"unknown new version", L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1.2.3.beta", false,
         {byVersion, check,
          {L"Version check : Version compare of " + kExe + L":1.2.0.0 with 1.2.3.beta:0.0.0.0", 3}, noNew}},
        {"local file without version resource", L"localversion={APP}\\readme.txt\nnewversion=9", false,
         {byVersion, check,
          {L"Version check : Version compare of " + kNoVersion + L":0.0.0.0 with 9:9.0.0.0", 3}, noNew}},
        {"missing local file: no update", L"localversion={APP}\\gone.exe\nnewversion=9.0", false,
         {byVersion, check, noNew}},
        {"newer date", L"date=02/07/2024\ntime=08:00\nlocalversion={APP}\\LumetraControlBox.exe", true,
         {byDate, {L"New version found : 02/07/2024", 5}}},
        {"same moment is not newer", L"date=01/06/2024\ntime=12:00\nlocalversion={APP}\\LumetraControlBox.exe", false,
         {byDate, noNew}},
        {"missing local file dates from 1980", L"date=01/06/2024\nlocalversion={APP}\\gone.exe", true,
         {byDate, {L"New version found : 01/06/2024", 5}}},
        {"a date that does not parse is 1 January 1980", L"date=2024-07-02\nlocalversion={APP}\\LumetraControlBox.exe",
         false, {byDate, noNew}},
        {"older date, then the version test still runs",
         L"date=01/01/2020\nlocalversion={APP}\\old.dll\nnewversion=1.2",
         true,
         {byDate, noNew, byVersion, check,
          {L"Version check : Version compare of " + kOld + L":1.1.9.9 with 1.2:1.2.0.0", 3},
          {L"New version found : 1.2.0.0", 5}}},
        {"unconditional", L"unconditional=yes", true, {}},
        {"unconditional after an older date", L"date=01/01/2020\nlocalversion={APP}\\LumetraControlBox.exe\nunconditional=1", true, {byDate, noNew}},
        {"size 0x10 against 3 bytes", L"localversion={APP}\\LumetraControlBox.exe\nnewsize=0x10", true,
         {{L"File size based update found", 3}, check, {L"New version found : ", 5}}},
        {"same size", L"localversion={APP}\\LumetraControlBox.exe\nnewsize=3", false,
         {{L"File size based update found", 3}, check, noNew}},
        {"same checksum", L"localversion={APP}\\LumetraControlBox.exe\nnewchecksum=197", false,
         {{L"Checksum based update found", 3}, check,
          {L"Version check : Checksum compare of " + kExe + L":197:197", 3}, noNew}},
        {"other checksum, in hexadecimal", L"localversion={APP}\\LumetraControlBox.exe\nnewchecksum=$FFFFFFFE", true,
         {{L"Checksum based update found", 3}, check,
          {L"Version check : Checksum compare of " + kExe + L":197:-2", 3}, {L"New version found : ", 5}}},
        {"spaces around =", L"  localversion  =  {APP}\\old.dll  \n newversion = 1.2 ", true,
         {byVersion, check, {L"Version check : Version compare of " + kOld + L":1.1.9.9 with 1.2:1.2.0.0", 3},
          {L"New version found : 1.2.0.0", 5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ControlFile(std::wstring(L"[update]\n") + c.Update + L"\n");
        Statuses.clear();
        EXPECT_EQ(Engine->DoVersionCheck(), c.Expected);
        EXPECT_EQ(Statuses, c.Statuses);
    }
}

TEST_F(DoVersionCheckTest, DescriptionKeepsItsLineBreaks) {
    ControlFile(L"[update]\ndescr=One\\nTwo\n");
    EXPECT_FALSE(Engine->DoVersionCheck());
    EXPECT_EQ(Engine->Description(), L"One\rTwo");
}

TEST_F(DoVersionCheckTest, MissingControlFileFindsNothing) {
    Facts->Remove(kControlFile);
    EXPECT_FALSE(Engine->DoVersionCheck());
    EXPECT_EQ(Engine->GetFileDetails(), 0);
    EXPECT_TRUE(Statuses.empty());
}

TEST_F(DoVersionCheckTest, ControlFilesInEveryEncoding) {
    for (const char* name : {"bom-utf8.inf", "utf16le.inf", "ansi.inf"}) {
        SCOPED_TRACE(name);
        const auto bytes = ReadFixture(name);
        Facts->Add(kControlFile, Entry(bytes));
        EXPECT_TRUE(Engine->DoVersionCheck());
        EXPECT_EQ(Engine->Description(), L"Caf\u00e9 cr\u00e8me");
    }
}

using FileDetailsTest = WebUpdateFixture;

TEST_F(FileDetailsTest, ReadsEveryKeyOfAnEntry) {
    Facts->Add(kControlFile, Entry(ReadFixture("full.inf")));
    ASSERT_EQ(Engine->GetFileDetails(), 3);
    EXPECT_EQ(Statuses, (std::vector<TStatus>{{L"Found file update instruction", 3}}));
    TFileList& list = Engine->FileList();

    EXPECT_EQ(list[0].URL, L"https://updates.example/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.exe");
    EXPECT_EQ(list[0].LocalVersion, kExe);
    EXPECT_EQ(list[0].NewVersion, L"1,3,0,0");
    EXPECT_EQ(list[0].TargetDir, kApp + L"\\");  // {APP} alone: the program folder with a backslash
    EXPECT_FALSE(list[0].Compressed);
    EXPECT_TRUE(list[0].Preselect);
    EXPECT_EQ(list[0].NewCheckSum, -1);

    EXPECT_EQ(list[1].URL, L"https://updates.example/softwares/Lumetra%20CONTROLBOX/V1/keys.cab");
    EXPECT_EQ(list[1].TargetDir, kApp + L"\\Keys\\");
    EXPECT_TRUE(list[1].Compressed);   // 2 is on for "compressed"
    EXPECT_FALSE(list[1].Mandatory);   // ... and off for "mandatory"

    EXPECT_EQ(list[2].URL, L"https://updates.example/softwares/Lumetra%20CONTROLBOX/V1/readme.txt");
    EXPECT_EQ(list[2].TargetDir, L".\\readme\\");  // an unknown token is "."
}

TEST_F(FileDetailsTest, FlagsAndNumbers) {
    ControlFile(
        L"[files]\ncount=1\n"
        L"[file1]\nnewsize=0x10\nnewchecksum=$10\nfilesize=$ff\nmandatory=1\npreselect=0\nhidden=1\n"
        L"compressed=0\ncustomversion=c1\ndate=01/01/2024\ntime=10:00\ndescr=d\n");
    ASSERT_EQ(Engine->GetFileDetails(), 1);
    const TFileDescription& item = Engine->FileList()[0];
    EXPECT_EQ(item.NewSize, 16);
    EXPECT_EQ(item.NewCheckSum, 16);
    EXPECT_EQ(item.FileSize, 255);
    EXPECT_TRUE(item.Mandatory);
    EXPECT_FALSE(item.Preselect);
    EXPECT_TRUE(item.Hidden);
    EXPECT_FALSE(item.Compressed);
    EXPECT_FALSE(item.Selected);
    EXPECT_EQ(item.NewCustomVer, L"c1");
    EXPECT_EQ(item.NewDate, L"01/01/2024");
    EXPECT_EQ(item.NewTime, L"10:00");
    EXPECT_EQ(item.Description, L"d");
}

TEST_F(FileDetailsTest, CountBeyondTheFileIsBounded) {
    // A count far beyond the sections present must neither hang nor exhaust memory.
    ControlFile(L"[files]\ncount=2147483647\n[file1]\nurl=http://h/a.exe\n");
    EXPECT_EQ(Engine->GetFileDetails(), 2);
    EXPECT_EQ(Engine->FileList()[0].URL, L"http://h/a.exe");
    EXPECT_EQ(Engine->FileList()[1].URL, L"");

    for (const wchar_t* count : {L"0", L"-3", L"many"}) {
        ControlFile(std::wstring(L"[files]\ncount=") + count + L"\n[file1]\nurl=x\n");
        Statuses.clear();
        EXPECT_EQ(Engine->GetFileDetails(), 0);
        EXPECT_TRUE(Engine->FileList().Empty());
        EXPECT_TRUE(Statuses.empty());
    }
}

using ProcessFileDetailsTest = WebUpdateFixture;

TEST_F(ProcessFileDetailsTest, FilterKeepsWhatNeedsFetching) {
    const struct {
        const char* Name;
        const wchar_t* Entry;
        bool Kept;
    } cases[] = {
        {"no localversion", L"newversion=9.9", true},
        {"no condition", L"localversion={APP}\\LumetraControlBox.exe", true},
        {"newer version", L"localversion={APP}\\old.dll\nnewversion=1.2", true},
        {"same version", L"localversion={APP}\\LumetraControlBox.exe\nnewversion=1.2.0.0", false},
        {"missing file, version", L"localversion={APP}\\gone.exe\nnewversion=9", false},
        {"missing file, date", L"localversion={APP}\\gone.exe\ndate=01/01/2000", true},
        {"file newer than the date", L"localversion={APP}\\LumetraControlBox.exe\ndate=01/01/2024", false},
        {"file as new as the date",
         L"localversion={APP}\\LumetraControlBox.exe\ndate=01/06/2024\ntime=12:00", false},
        {"file older than the date",
         L"localversion={APP}\\LumetraControlBox.exe\ndate=01/06/2024\ntime=12:01", true},
        {"date without localversion uses the version test", L"date=01/01/1990\nnewversion=1", true},
        {"size differs", L"localversion={APP}\\LumetraControlBox.exe\nnewsize=0x10", true},
        {"size equal", L"localversion={APP}\\LumetraControlBox.exe\nnewsize=3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ControlFile(std::wstring(L"[files]\ncount=1\n[file1]\nurl=http://h/f.bin\n") + c.Entry + L"\n");
        ASSERT_EQ(Engine->GetFileDetails(), 1);
        EXPECT_EQ(Engine->ProcessFileDetails(), c.Kept ? 0 : -1);
        EXPECT_EQ(Engine->FileList().Count(), c.Kept ? 1u : 0u);
    }
}

TEST_F(ProcessFileDetailsTest, ReportsEachEntryAndWhatWasDropped) {
    ControlFile(
        L"[files]\ncount=3\n"
        L"[file1]\nurl=http://h/dir/old.dll?x=1\nlocalversion={APP}\\old.dll\nnewversion=1.2\n"
        L"[file2]\nurl=http://h/gone.exe\nlocalversion={APP}\\gone.exe\nnewversion=9\nnewsize=12\n"
        L"[file3]\nurl=http://h/new.exe\nlocalversion={APP}\\LumetraControlBox.exe\ndate=01/01/2020\n");
    Engine->GetFileDetails();
    Statuses.clear();
    EXPECT_EQ(Engine->ProcessFileDetails(), 0);
    ASSERT_EQ(Engine->FileList().Count(), 1u);
    EXPECT_EQ(Engine->FileList()[0].NewVersion, L"1.2.0.0");  // rewritten into four numbers
    EXPECT_EQ(Statuses,
              (std::vector<TStatus>{
                  {L"Processing file : x=1[" + kOld + L",nv=1.2,nd=,ns=0,nc=-1]", 0},
                  {L"Check versions", 3},
                  {L"Version check : Version compare of " + kOld + L":1.1.9.9 with 1.2:1.2.0.0", 3},
                  {L"Processing file : gone.exe[" + kApp + L"\\gone.exe,nv=9,nd=,ns=12,nc=-1]", 0},
                  {L"Check versions", 3},
                  {L"No new version found", 0},
                  {L"Processing file : new.exe[" + kExe + L",nv=,nd=01/01/2020,ns=0,nc=-1]", 0},
              }));
}

TEST_F(ProcessFileDetailsTest, CustomVersionHandlerCanDropAKeptEntry) {
    ControlFile(
        L"[files]\ncount=2\n"
        L"[file1]\nurl=http://h/a\ncustomversion=drop\nlocalversion=L1\n"
        L"[file2]\nurl=http://h/b\ncustomversion=keep\n");
    std::vector<std::wstring> offered;
    Engine->OnFileVersionCheck = [&](TWebUpdate&, const std::wstring& newVersion, const std::wstring& local,
                                     bool& isNew) {
        offered.push_back(newVersion + L"|" + local);
        EXPECT_TRUE(isNew);
        isNew = newVersion == L"keep";
    };
    Engine->GetFileDetails();
    EXPECT_EQ(Engine->ProcessFileDetails(), 0);
    ASSERT_EQ(Engine->FileList().Count(), 1u);
    EXPECT_EQ(Engine->FileList()[0].URL, L"http://h/b");
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"drop|L1", L"keep|"}));
}

TEST_F(WebUpdateFixture, ApplicationSection) {
    ControlFile(L"[application]\nappupdate=1\nappname={APP}\\LumetraControlBox.exe\nappcomps=LUMETRACONTROLBOX.EXE\n");
    Engine->ReadApplicationSection();
    EXPECT_TRUE(Engine->AppUpdate());
    EXPECT_EQ(Engine->AppName(), kExe);
    EXPECT_EQ(Engine->AppParam(), L" ");
    EXPECT_EQ(Engine->AppComps(), L"LUMETRACONTROLBOX.EXE");

    ControlFile(L"[application]\nappupdate=1\nappparam=-x\nsilentrestart=2\n");
    Engine->ReadApplicationSection();
    EXPECT_FALSE(Engine->AppUpdate());  // no program to restart
    EXPECT_EQ(Engine->AppParam(), L"-x");
    EXPECT_FALSE(Engine->SilentRestart());
}

TEST(StatusMessages, TextsAndSubstitution) {
    EXPECT_EQ(FormatStatusText(968, L"Non threaded update"),
              L"Start update : Non threaded update ---------------------------");
    EXPECT_EQ(FormatStatusText(946, L"http://h/%s%d"), L"Cannot download update file : http://h/%s%d");
    EXPECT_EQ(FormatStatusText(930, L"ignored"), L"No new version found");
    EXPECT_EQ(FormatStatusText(909, L"x"), L"Download update file : ");
    EXPECT_EQ(FormatStatusText(908, L"x"), L"");
    EXPECT_EQ(FormatStatusText(1234, L"x"), L"");
    for (int ident = 909; ident <= 980; ++ident) EXPECT_FALSE(StatusMessage(ident).empty()) << ident;
}

TEST(StatusMessages, OnlyRaisedWhenSet) {
    TWebUpdate engine(std::make_unique<TFileFactsTable>(), TKnownFolders{});
    engine.DoStatus(930, {}, 4, 0);  // no handler: nothing happens
    int calls = 0;
    engine.OnStatus = [&](TWebUpdate& sender, const std::wstring& text, int code, int err) {
        ++calls;
        EXPECT_EQ(&sender, &engine);
        EXPECT_EQ(text, L"Http status : 404");
        EXPECT_EQ(code, 6);
        EXPECT_EQ(err, 404);
    };
    engine.DoStatus(916, L"404", 6, 404);
    EXPECT_EQ(calls, 1);
}

}  // namespace
