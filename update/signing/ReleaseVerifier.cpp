#include "ReleaseVerifier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

bool VerifyControlFileSignature(TReleaseCrypto& crypto, const TP256PublicKey& key,
                                const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& signatureFile) {
    const std::optional<TP256Signature> signature = ParseEcdsaDerSignature(signatureFile);
    if (!signature) return false;
    std::unique_ptr<TSha256> hash = crypto.NewSha256();
    if (!hash) return false;
    hash->Add(bytes.data(), bytes.size());
    const std::optional<TSha256Digest> digest = hash->Finish();
    return digest && crypto.VerifyP256(key, *digest, *signature);
}

TReleaseDateVerdict CheckReleaseDate(const std::wstring& date, const std::wstring& time,
                                     const std::optional<TDateStamp>& newestAccepted) {
    TReleaseDateVerdict verdict;
    const std::optional<TDateStamp> day = TryParseControlDate(date);
    if (!day) return verdict;
    TDateStamp stamp = *day;
    if (!time.empty()) {
        // A signed release names its time exactly or not at all.
        const std::optional<TDateStamp> clock = TryParseControlTime(time);
        if (!clock) return verdict;
        stamp.Hour = clock->Hour;
        stamp.Minute = clock->Minute;
        stamp.Second = clock->Second;
    }
    verdict.Date = stamp;
    verdict.Verdict = newestAccepted && stamp < *newestAccepted ? TReleaseDating::Older : TReleaseDating::Accepted;
    return verdict;
}

std::wstring FormatStoredReleaseDate(const TDateStamp& date) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%04d-%02d-%02d %02d:%02d:%02d", date.Year, date.Month, date.Day, date.Hour, date.Minute,
                  date.Second);
    return text;
}

std::optional<TDateStamp> ParseStoredReleaseDate(const std::wstring& text) {
    // yyyy-mm-dd hh:nn:ss
    static constexpr const wchar_t* kShape = L"dddd-dd-dd dd:dd:dd";
    if (text.size() != 19) return std::nullopt;
    for (std::size_t i = 0; i < 19; ++i) {
        if (kShape[i] == L'd' ? (text[i] < L'0' || text[i] > L'9') : text[i] != kShape[i]) return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t count) {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) value = value * 10 + (text[at + i] - L'0');
        return value;
    };
    // The date's own rules (months, leap years) are those of the control file's dates.
    wchar_t day[16];
    std::swprintf(day, 16, L"%02d/%02d/%04d", number(8, 2), number(5, 2), number(0, 4));
    std::optional<TDateStamp> date = TryParseControlDate(day);
    if (!date || date->Year != number(0, 4)) return std::nullopt;
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    date->Hour = hour;
    date->Minute = minute;
    date->Second = second;
    return date;
}

std::optional<TDateStamp> ParseExpiry(const std::wstring& text) {
    const std::size_t space = text.find(L' ');
    const std::optional<TDateStamp> day = TryParseControlDate(text.substr(0, space));
    if (!day) return std::nullopt;
    TDateStamp stamp = *day;
    if (space == std::wstring::npos) {
        stamp.Hour = 23;
        stamp.Minute = 59;
        stamp.Second = 59;
        return stamp;
    }
    const std::optional<TDateStamp> clock = TryParseControlTime(text.substr(space + 1));
    if (!clock) return std::nullopt;
    stamp.Hour = clock->Hour;
    stamp.Minute = clock->Minute;
    stamp.Second = clock->Second;
    return stamp;
}

std::optional<TDateStamp> ParseCompilerDate(const char* date) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (date == nullptr || std::strlen(date) != 11) return std::nullopt;
    TDateStamp stamp;
    stamp.Month = 0;
    for (int m = 0; m < 12; ++m)
        if (std::strncmp(date, kMonths[m], 3) == 0) stamp.Month = m + 1;
    const int day = std::atoi(date + 4);
    const int year = std::atoi(date + 7);
    if (stamp.Month == 0 || day < 1 || day > 31 || year < 2000) return std::nullopt;
    stamp.Day = day;
    stamp.Year = year;
    return stamp;
}

TDateStamp UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    return TDateStamp{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}
