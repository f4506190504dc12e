#include "AnsiCodePage.h"

#include <cstdint>

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones map to the C1 controls, as
// Windows itself converts them.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::wstring AnsiToWide(const std::string& bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        text.push_back(b >= 0x80 && b < 0xA0 ? static_cast<wchar_t>(kHigh[b - 0x80])
                                             : static_cast<wchar_t>(b));
    }
    return text;
}

std::string WideToAnsi(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        const auto cp = static_cast<std::uint32_t>(c);
        char out = '?';
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out = static_cast<char>(cp);
        } else {
            for (int i = 0; i < 32; ++i) {
                if (kHigh[i] == cp) {
                    out = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        bytes.push_back(out);
    }
    return bytes;
}
