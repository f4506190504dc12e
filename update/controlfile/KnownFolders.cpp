#include "KnownFolders.h"

#include "TextUtils.h"

std::wstring KnownFolderFor(const TKnownFolders& folders, const std::wstring& upperName) {
    if (upperName == L"WIN") return folders.Windows;
    if (upperName == L"SYS") return folders.System;
    if (upperName == L"APP") return folders.Application;
    if (upperName == L"TMP") return folders.Temp;
    if (upperName == L"DOC") return folders.Documents;
    if (upperName == L"PF") return folders.ProgramFiles;
    if (upperName == L"LAD") return folders.LocalAppData;
    if (upperName == L"APPDATA") return folders.CommonAppData;
    return {};
}

std::wstring NormaliseTokenFolder(const std::wstring& path) {
    std::wstring result = path;
    if (!result.empty() && result.back() != L'\\') result.push_back(L'\\');
    if (result.size() >= 4 && result[1] == L':')
        result.pop_back();
    else
        result.push_back(L'.');
    return result;
}

std::wstring ExpandPrefixes(const std::wstring& text, const TKnownFolders& folders) {
    std::wstring result = text;
    std::size_t scan = 0;
    for (;;) {
        const std::size_t open = result.find(L'{', scan);
        if (open == std::wstring::npos) break;
        const std::size_t close = result.find(L'}', open + 1);
        if (close == std::wstring::npos) break;
        const std::wstring name = AsciiUpper(result.substr(open + 1, close - open - 1));
        const std::wstring folder = NormaliseTokenFolder(KnownFolderFor(folders, name));
        result.replace(open, close - open + 1, folder);
        scan = open + folder.size();
    }
    return result;
}
