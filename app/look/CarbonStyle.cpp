#include "CarbonStyle.h"

#include <cstddef>
#include <string_view>

namespace {

struct Entry {
    std::string_view Name;
    std::uint32_t TCarbonStyle::*Field;
};

constexpr Entry kEntries[] = {
    {"Window", &TCarbonStyle::Window},
    {"WindowText", &TCarbonStyle::WindowText},
    {"Control", &TCarbonStyle::Control},
    {"ControlText", &TCarbonStyle::ControlText},
    {"GridBack", &TCarbonStyle::GridBack},
    {"GridText", &TCarbonStyle::GridText},
    {"GridLine", &TCarbonStyle::GridLine},
    {"Selection", &TCarbonStyle::Selection},
    {"SelectionText", &TCarbonStyle::SelectionText},
    {"StatusBar", &TCarbonStyle::StatusBar},
    {"StatusText", &TCarbonStyle::StatusText},
    {"Accent", &TCarbonStyle::Accent},
};
constexpr std::size_t kCount = sizeof kEntries / sizeof kEntries[0];

[[noreturn]] void Refuse(std::size_t line, const std::string& why) {
    std::wstring text = L"The style \"Carbon\" cannot be applied: ";
    if (line > 0) text += L"line " + std::to_wstring(line) + L": ";
    for (char c : why) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    throw EStyleError(text);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

TCarbonStyle ParseCarbonStyle(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) Refuse(0, "the style is empty");
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TCarbonStyle style;
    bool seen[kCount] = {};
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(pos, end - pos));
        ++lineNo;
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) Refuse(lineNo, "expected name=#RRGGBB");
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        std::size_t index = kCount;
        for (std::size_t i = 0; i < kCount; ++i)
            if (kEntries[i].Name == name) index = i;
        if (index == kCount) Refuse(lineNo, "unknown colour \"" + std::string(name) + "\"");
        if (seen[index]) Refuse(lineNo, "colour \"" + std::string(name) + "\" given twice");
        if (value.size() != 7 || value[0] != '#') Refuse(lineNo, "expected a colour as #RRGGBB");
        std::uint32_t rgb = 0;
        for (std::size_t i = 1; i < 7; ++i) {
            const int d = HexDigit(value[i]);
            if (d < 0) Refuse(lineNo, "expected a colour as #RRGGBB");
            rgb = (rgb << 4) | static_cast<std::uint32_t>(d);
        }
        style.*kEntries[index].Field = rgb;
        seen[index] = true;
    }
    for (std::size_t i = 0; i < kCount; ++i)
        if (!seen[i]) Refuse(0, "colour \"" + std::string(kEntries[i].Name) + "\" is missing");
    return style;
}
