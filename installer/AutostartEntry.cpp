#include "AutostartEntry.h"

#include "TextUtils.h"

bool StartsProgramIn(const std::wstring& command, const std::wstring& folder, const std::wstring& program) {
    if (folder.empty() || program.empty()) return false;
    std::wstring path = command;
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    if (path.find(L'"') != std::wstring::npos) return false;
    std::wstring expected = folder;
    if (expected.back() != L'\\') expected += L'\\';
    expected += program;
    return SameTextAscii(path, expected);
}
