#include "TextUtils.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendWide(std::wstring& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

// Decodes UTF-16 units [i, n) one code point at a time.
template <typename Unit>
char32_t NextUtf16(const Unit* units, std::size_t n, std::size_t& i) {
    char32_t u = static_cast<std::uint16_t>(units[i++]);
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (i < n) {
            char32_t lo = static_cast<std::uint16_t>(units[i]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                ++i;
                return 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            }
        }
        return kReplacement;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) return kReplacement;
    return u;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    if constexpr (sizeof(wchar_t) == 2) {
        std::size_t i = 0;
        while (i < text.size()) AppendUtf8(out, NextUtf16(text.data(), text.size(), i));
    } else {
        for (wchar_t c : text) AppendUtf8(out, static_cast<char32_t>(c));
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        char32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { AppendWide(out, kReplacement); ++i; continue; }
        bool ok = i + static_cast<std::size_t>(extra) < n;
        for (int k = 1; ok && k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra]) {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        AppendWide(out, cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::wstring Utf16BufferToWide(const std::uint16_t* units, std::size_t maxUnits) {
    std::size_t n = 0;
    while (n < maxUnits && units[n] != 0) ++n;
    std::wstring out;
    out.reserve(n);
    if constexpr (sizeof(wchar_t) == 2) {
        out.assign(units, units + n);
    } else {
        std::size_t i = 0;
        while (i < n) AppendWide(out, NextUtf16(units, n, i));
    }
    return out;
}

std::u16string WideToUtf16(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    if constexpr (sizeof(wchar_t) == 2) {
        out.assign(text.begin(), text.end());
    } else {
        for (wchar_t c : text) {
            char32_t cp = static_cast<char32_t>(c);
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
            if (cp >= 0x10000) {
                cp -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(cp));
            }
        }
    }
    return out;
}

std::wstring AsciiUpper(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return out;
}

bool SameTextAscii(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
        if (x != y) return false;
    }
    return true;
}
