#include "ControlFileText.h"

#include <vector>

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// A run of decimal digits no greater than `limit`; nullopt for an empty run, any other
// character, or a larger value (checked digit by digit, so long runs cannot overflow).
std::optional<std::uint64_t> ParseDigits(const std::wstring& text, std::uint64_t limit) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::wstring::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::wstring TwoDigits(int value) {
    std::wstring text = std::to_wstring(value);
    return text.size() < 2 ? L"0" + text : text;
}

}  // namespace

std::wstring TrimText(const std::wstring& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<std::uint32_t>(text[first]) <= 0x20) ++first;
    while (last > first && static_cast<std::uint32_t>(text[last - 1]) <= 0x20) --last;
    return text.substr(first, last - first);
}

std::optional<TDateStamp> TryParseControlDate(const std::wstring& text) {
    const std::vector<std::wstring> parts = Split(TrimText(text), L'/');
    if (parts.size() != 3) return std::nullopt;
    const std::wstring dayText = TrimText(parts[0]);
    const std::wstring monthText = TrimText(parts[1]);
    const std::wstring yearText = TrimText(parts[2]);
    if (dayText.size() > 2 || monthText.size() > 2) return std::nullopt;
    if (yearText.size() != 2 && yearText.size() != 4) return std::nullopt;
    auto day = ParseDigits(dayText, 31);
    auto month = ParseDigits(monthText, 12);
    auto year = ParseDigits(yearText, 9999);
    if (!day || !month || !year) return std::nullopt;
    TDateStamp result;
    result.Year = static_cast<int>(*year);
    if (yearText.size() == 2) result.Year += result.Year < 50 ? 2000 : 1900;
    result.Month = static_cast<int>(*month);
    result.Day = static_cast<int>(*day);
    if (result.Year < 1 || result.Month < 1 || result.Day < 1) return std::nullopt;
    if (result.Day > DaysInMonth(result.Year, result.Month)) return std::nullopt;
    return result;
}

std::optional<TDateStamp> TryParseControlTime(const std::wstring& text) {
    const std::vector<std::wstring> parts = Split(TrimText(text), L':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    static constexpr std::uint64_t kLimits[3] = {23, 59, 59};
    int fields[3] = {0, 0, 0};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::wstring part = TrimText(parts[i]);
        if (part.size() > 2) return std::nullopt;
        auto value = ParseDigits(part, kLimits[i]);
        if (!value) return std::nullopt;
        fields[i] = static_cast<int>(*value);
    }
    TDateStamp result;
    result.Hour = fields[0];
    result.Minute = fields[1];
    result.Second = fields[2];
    return result;
}

TDateStamp ParseControlDate(const std::wstring& date, const std::wstring& time) {
    TDateStamp result = TryParseControlDate(date).value_or(kNoDate);
    if (auto clock = TryParseControlTime(time)) {
        result.Hour = clock->Hour;
        result.Minute = clock->Minute;
        result.Second = clock->Second;
    }
    return result;
}

std::wstring FormatShortDate(const TDateStamp& date) {
    std::wstring year = std::to_wstring(date.Year);
    while (year.size() < 4) year.insert(year.begin(), L'0');
    return TwoDigits(date.Day) + L"/" + TwoDigits(date.Month) + L"/" + year;
}

std::optional<TVersionWords> ParseVersionString(const std::wstring& text) {
    const std::wstring trimmed = TrimText(text);
    if (trimmed.empty()) return std::nullopt;
    const wchar_t separator = trimmed.find(L',') != std::wstring::npos ? L',' : L'.';
    const std::vector<std::wstring> parts = Split(trimmed, separator);
    if (parts.size() > 4) return std::nullopt;
    std::uint32_t numbers[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto value = ParseDigits(TrimText(parts[i]), 0x7FFFFFFF);
        if (!value) return std::nullopt;
        numbers[i] = static_cast<std::uint32_t>(*value % 65536);
    }
    return TVersionWords{numbers[0] * 65536u + numbers[1], numbers[2] * 65536u + numbers[3]};
}

std::wstring VersionToString(const TVersionWords& version) {
    return std::to_wstring(version.High >> 16) + L"." + std::to_wstring(version.High & 0xFFFF) +
           L"." + std::to_wstring(version.Low >> 16) + L"." + std::to_wstring(version.Low & 0xFFFF);
}

std::optional<std::int32_t> ParseIniInteger(const std::wstring& text) {
    std::wstring digits;
    if (text.size() > 1 && text[0] == L'$') {
        digits = text.substr(1);
    } else if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        digits = text.substr(2);
    } else {
        bool negative = false;
        std::wstring body = text;
        if (!body.empty() && (body[0] == L'-' || body[0] == L'+')) {
            negative = body[0] == L'-';
            body.erase(0, 1);
        }
        auto value = ParseDigits(body, negative ? 0x80000000ull : 0x7FFFFFFFull);
        if (!value) return std::nullopt;
        const std::int64_t signedValue =
            negative ? -static_cast<std::int64_t>(*value) : static_cast<std::int64_t>(*value);
        return static_cast<std::int32_t>(signedValue);
    }
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        const int nibble = HexValue(c);
        if (nibble < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(nibble);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    // Hexadecimal spells the 32 bits themselves: $FFFFFFFF is -1.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::wstring ExpandNewlines(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            out.push_back(L'\r');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::wstring URLtoFile(const std::wstring& url) {
    std::wstring name = url;
    for (wchar_t separator : {L'/', L'\\', L'?'}) {
        const std::size_t at = name.rfind(separator);
        if (at != std::wstring::npos) name.erase(0, at + 1);
    }
    return name;
}

void TChecksum::Add(const std::uint8_t* data, std::size_t size) noexcept {
    // Unsigned arithmetic wraps by definition; the signed view is taken only when read.
    for (std::size_t i = 0; i < size; ++i) FTotal += data[i];
}
