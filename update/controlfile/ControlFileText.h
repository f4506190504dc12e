#pragma once
// The small text forms of the update control file: integers, dates and times, version
// numbers, the "\n" escape, and the file name at the end of an address.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A calendar date and time of day in local time, as the control file writes it and as
// the local files' last-write times are compared with it.
struct TDateStamp {
    int Year = 1980;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    auto operator<=>(const TDateStamp&) const = default;
};

// 1 January 1980, midnight: the date of a file that is not there and of a date that
// does not parse.
inline constexpr TDateStamp kNoDate{};

// "dd/mm/yyyy" (day, month, year). Day and month take one or two digits; the year four
// digits, or two (00-49 are 2000-2049, 50-99 are 1950-1999). The date must exist.
std::optional<TDateStamp> TryParseControlDate(const std::wstring& text);

// "hh:nn" with optional ":ss"; fills only the time-of-day fields of the result.
std::optional<TDateStamp> TryParseControlTime(const std::wstring& text);

// The date plus the time of day; a date that does not parse gives 1 January 1980, a
// time that does not parse (or is empty) adds nothing.
TDateStamp ParseControlDate(const std::wstring& date, const std::wstring& time);

// "dd/mm/yyyy", the short date form of status texts.
std::wstring FormatShortDate(const TDateStamp& date);

// A version as two 32-bit words: high = major * 65536 + minor, low = release * 65536 + build.
struct TVersionWords {
    std::uint32_t High = 0;
    std::uint32_t Low = 0;

    auto operator<=>(const TVersionWords&) const = default;
};

// Up to four decimal numbers separated by "," when the text holds a comma, else by ".";
// each taken modulo 65536, missing trailing numbers count as 0. Empty text, more than four
// numbers, or a number that is not a non-negative 32-bit integer: unknown (nullopt).
std::optional<TVersionWords> ParseVersionString(const std::wstring& text);

// The four-number display form "a.b.c.d".
std::wstring VersionToString(const TVersionWords& version);

// Removes surrounding white space: every character up to U+0020 at either end.
std::wstring TrimText(const std::wstring& text);

// Integer values of the control file: decimal with an optional sign within the signed
// 32-bit range, or hexadecimal after "0x"/"0X" or "$" (up to 32 bits, read as two's
// complement). Anything else: nullopt.
std::optional<std::int32_t> ParseIniInteger(const std::wstring& text);

// Each two-character sequence backslash + "n" becomes a carriage return.
std::wstring ExpandNewlines(const std::wstring& text);

// The file name of an address: everything up to and including the last "/", then the
// last "\", then the last "?" is removed. An address ending in "/" gives "".
std::wstring URLtoFile(const std::wstring& url);

// The additive checksum of a file's bytes: each byte, unsigned, added to a running
// total that starts at -1 and wraps at 32 bits (two's complement, no overflow fault).
class TChecksum {
public:
    void Add(const std::uint8_t* data, std::size_t size) noexcept;
    std::int32_t Value() const noexcept { return static_cast<std::int32_t>(FTotal); }

private:
    std::uint32_t FTotal = 0xFFFFFFFFu;
};
