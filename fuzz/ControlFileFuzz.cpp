// Any bytes as a downloaded control file: read it, make both decisions against a table of
// installed files, and push every value through the text parsers (and the cabinet entry
// and log path rules, which take text from the same server). Nothing may crash,
// hang, leak or overflow, and no cabinet entry may land outside its folder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ControlFileText.h"
#include "UpdateInstall.h"
#include "IniFile.h"
#include "UpdateArchives.h"
#include "WUpdate.h"

namespace {

const std::wstring kControlFile = L"C:\\Temp\\LumetraControlBox.INF";
const std::wstring kCabinetFolder = L"C:\\Target\\";

// A target computed for a cabinet entry stays below its folder: each part after it is a
// usable file name, never "." or "..", and nothing names a drive or a stream.
void CheckCabinetTarget(const std::wstring& entry) {
    const std::optional<std::wstring> target = CabinetEntryTarget(kCabinetFolder, entry);
    if (!target) return;
    if (target->compare(0, kCabinetFolder.size(), kCabinetFolder) != 0 || target->size() == kCabinetFolder.size())
        __builtin_trap();
    const wchar_t separator = sizeof(wchar_t) == 2 ? L'\\' : L'/';
    std::wstring part;
    for (std::size_t i = kCabinetFolder.size(); i <= target->size(); ++i) {
        if (i == target->size() || (*target)[i] == separator) {
            if (!IsUsableFileName(part) || part == L"." || part == L"..") __builtin_trap();
            part.clear();
        } else {
            part.push_back((*target)[i]);
        }
    }
}

TKnownFolders Folders() {
    TKnownFolders folders = SystemKnownFolders();
    folders.Temp = L"C:\\Temp\\";
    // A folder that names a token of its own must not make the expansion loop.
    folders.Documents = L"{DOC}";
    return folders;
}

void Parse(const std::wstring& text) {
    (void)ParseVersionString(text);
    (void)ParseIniInteger(text);
    (void)ParseControlDate(text, text);
    (void)FormatShortDate(ParseControlDate(text, L""));
    (void)ExpandNewlines(text);
    (void)URLtoFile(text);
    (void)ExpandPrefixes(text, Folders());
    CheckCabinetTarget(text);
    (void)UpdateLogPath(text, L"C:\\Docs", L"C:\\App");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TIniFile ini = TIniFile::FromBytes(data, size);
    for (const wchar_t* section : {L"update", L"files", L"file1", L"file2", L"application"})
        for (const wchar_t* key : {L"descr", L"date", L"time", L"localversion", L"newversion", L"newsize",
                                   L"newchecksum", L"url", L"targetdir", L"count", L"appname", L"appcomps"})
            Parse(ini.ReadString(section, key));

    auto facts = std::make_unique<TFileFactsTable>();
    TFileFactsTable* table = facts.get();
    TFileFactsTable::TEntry control;
    control.Content.assign(data, data + size);
    table->Add(kControlFile, control);
    TFileFactsTable::TEntry installed;
    installed.Content = {'A', 'B', 'C'};
    installed.LastWrite = TDateStamp{2024, 6, 1, 12, 0, 0};
    installed.Version = TVersionWords{0x10002, 0};
    table->Add(L"C:\\Program Files\\Lumetra\\LumetraControlBox.exe", installed);

    TWebUpdate engine(std::move(facts), Folders());
    engine.SetControlFile(kControlFile);
    std::size_t statusChars = 0;
    engine.OnStatus = [&](TWebUpdate&, const std::wstring& text, int, int) { statusChars += text.size(); };
    engine.OnFileVersionCheck = [](TWebUpdate&, const std::wstring& newVersion, const std::wstring&, bool& isNew) {
        isNew = newVersion.size() % 2 == 0;
    };
    engine.ReadApplicationSection();
    (void)engine.DoVersionCheck();
    if (engine.GetFileDetails() > 0) (void)engine.ProcessFileDetails();
    for (std::size_t i = 0; i < engine.FileList().Count(); ++i) Parse(engine.FileList()[i].URL);
    (void)IsLZHeader(data, size);
    return 0;
}
