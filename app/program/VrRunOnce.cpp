#include "VrRunOnce.h"

#include <cwctype>

std::wstring ApplicationTitleOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(name[i])));
    return name;
}
