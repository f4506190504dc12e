#include "IniFile.h"

#include "AnsiCodePage.h"
#include "ControlFileText.h"
#include "TextUtils.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& out, char32_t cp) {
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

// UTF-16 in either byte order; unpaired surrogates become U+FFFD, an odd last byte is dropped.
std::wstring DecodeUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian) {
    std::wstring out;
    out.reserve(size / 2);
    const std::size_t count = size / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        const std::uint8_t a = data[2 * i];
        const std::uint8_t b = data[2 * i + 1];
        return bigEndian ? (char32_t(a) << 8 | b) : (char32_t(b) << 8 | a);
    };
    for (std::size_t i = 0; i < count; ++i) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char32_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacement;
        AppendCodePoint(out, u);
    }
    return out;
}

std::wstring Key(const std::wstring& name) { return AsciiUpper(name); }

}  // namespace

bool IsValidUtf8(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t c = data[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        char32_t cp;
        char32_t minimum;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (size - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const std::uint8_t next = data[i + k];
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::wstring DecodeTextBytes(const std::uint8_t* data, std::size_t size) {
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return Utf8ToWide(std::string(reinterpret_cast<const char*>(data) + 3, size - 3));
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return DecodeUtf16(data + 2, size - 2, false);
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) return DecodeUtf16(data + 2, size - 2, true);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (IsValidUtf8(data, size)) return Utf8ToWide(bytes);
    return AnsiToWide(bytes);
}

TIniFile TIniFile::FromBytes(const std::uint8_t* data, std::size_t size) {
    return FromText(DecodeTextBytes(data, size));
}

TIniFile TIniFile::FromText(const std::wstring& text) {
    TIniFile ini;
    TKeys* current = nullptr;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = TrimText(text.substr(start, end - start));
        // CR LF is one line break.
        start = end + 1;
        if (end < text.size() && text[end] == L'\r' && start < text.size() && text[start] == L'\n') ++start;

        if (line.empty() || line[0] == L';') continue;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            current = &ini.FSections[Key(TrimText(line.substr(1, line.size() - 2)))];
            continue;
        }
        if (current == nullptr) continue;
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) continue;
        // emplace keeps the value already there: the first occurrence wins.
        current->emplace(Key(TrimText(line.substr(0, equals))), TrimText(line.substr(equals + 1)));
    }
    return ini;
}

bool TIniFile::SectionExists(const std::wstring& section) const {
    return FSections.find(Key(section)) != FSections.end();
}

bool TIniFile::ValueExists(const std::wstring& section, const std::wstring& key) const {
    auto found = FSections.find(Key(section));
    return found != FSections.end() && found->second.find(Key(key)) != found->second.end();
}

std::wstring TIniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& defaultValue) const {
    auto found = FSections.find(Key(section));
    if (found == FSections.end()) return defaultValue;
    auto value = found->second.find(Key(key));
    return value == found->second.end() ? defaultValue : value->second;
}

std::int32_t TIniFile::ReadInteger(const std::wstring& section, const std::wstring& key,
                                   std::int32_t defaultValue) const {
    if (!ValueExists(section, key)) return defaultValue;
    return ParseIniInteger(ReadString(section, key)).value_or(defaultValue);
}
