#include "TempRoot.h"

#include <unistd.h>

#include "TextUtils.h"

std::filesystem::path TempRoot(const std::string& stem, const std::string& part) {
    std::string name = stem + "-" + std::to_string(getpid());
    if (!part.empty()) name += "-" + part;
    return std::filesystem::temp_directory_path() / name;
}

std::wstring WidePath(const std::filesystem::path& path) {
    if constexpr (sizeof(wchar_t) == 2)
        return path.wstring();
    else
        return Utf8ToWide(path.string());
}
