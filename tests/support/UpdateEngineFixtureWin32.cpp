#include "UpdateEngineFixtureWin32.h"

#include <windows.h>

#include "FileFacts.h"
#include "KnownFolders.h"
#include "TempRoot.h"
#include "TextUtils.h"

namespace fs = std::filesystem;

void TUpdateEngineFixture::SetUp() {
    // An update run may change the current folder; each test starts and ends in ours.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    FSavedFolder = current;
    Root = TempRoot(FStem);
    fs::remove_all(Root);
    fs::create_directories(Root / "temp");
    fs::create_directories(Root / "docs");
    fs::create_directories(Root / "app");
    TKnownFolders folders = SystemKnownFolders();
    folders.Temp = (Root / "temp").wstring() + L"\\";
    folders.Documents = (Root / "docs").wstring();
    folders.Application = (Root / "app").wstring();
    Engine = std::make_unique<TWebUpdate>(MakeSystemFileFacts(), folders);
    Engine->SetURL(Server.Base() + Utf8ToWide(kControlPath));
    Engine->SetDialogs(&Dialogs);
}

void TUpdateEngineFixture::TearDown() {
    Engine.reset();
    if (!FSavedFolder.empty()) SetCurrentDirectoryW(FSavedFolder.c_str());
    std::error_code error;
    if (!Root.empty()) fs::remove_all(Root, error);
}

std::string TUpdateEngineFixture::FileUrl(const std::string& name) const {
    return WideToUtf8(Server.Base()) + "/files/" + name;
}

std::vector<std::wstring> TUpdateEngineFixture::Messages() const {
    std::vector<std::wstring> texts;
    for (const auto& event : Dialogs.Of(TScriptedUpdateDialogs::TKind::Message)) texts.push_back(event.Text);
    return texts;
}
