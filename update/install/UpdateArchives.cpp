#include "UpdateArchives.h"

#include "UpdateInstall.h"

#include <vector>

std::optional<std::wstring> CabinetEntryTarget(const std::wstring& targetFolder, const std::wstring& entryPath) {
    if (entryPath.empty()) return std::nullopt;
    if (entryPath[0] == L'\\' || entryPath[0] == L'/') return std::nullopt;
    if (entryPath.find(L':') != std::wstring::npos) return std::nullopt;
    std::vector<std::wstring> segments;
    std::wstring segment;
    auto close = [&]() -> bool {
        if (segment == L"..") {
            if (segments.empty()) return false;
            segments.pop_back();
        } else if (!segment.empty() && segment != L".") {
            if (!IsUsableFileName(segment)) return false;
            segments.push_back(segment);
        }
        segment.clear();
        return true;
    };
    for (wchar_t c : entryPath) {
        if (c == L'\\' || c == L'/') {
            if (!close()) return std::nullopt;
        } else {
            segment.push_back(c);
        }
    }
    if (!close() || segments.empty()) return std::nullopt;
    std::wstring result = targetFolder;
    const wchar_t separator = sizeof(wchar_t) == 2 ? L'\\' : L'/';
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) result.push_back(separator);
        result += segments[i];
    }
    return result;
}

bool IsLZHeader(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
    if (size < 14) return false;
    for (int i = 0; i < 8; ++i)
        if (data[i] != kMagic[i]) return false;
    return data[8] == 'A';
}
