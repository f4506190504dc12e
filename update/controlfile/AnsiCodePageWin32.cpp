#include "AnsiCodePage.h"

#include <windows.h>

#include <climits>

std::wstring AnsiToWide(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (units <= 0) return {};
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), units);
    return text;
}

std::string WideToAnsi(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int count = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return {};
    std::string bytes(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, bytes.data(), count, nullptr, nullptr);
    return bytes;
}
