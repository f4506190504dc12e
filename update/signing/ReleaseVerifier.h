#pragma once
// The rules of a signed release, apart from the run that applies them: the control file's
// signature, the release date that may never go backwards, and the hash pin of a file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ControlFileText.h"
#include "ReleaseCrypto.h"
#include "SignedRelease.h"

// The largest signature file: a DER P-256 signature is at most 72 bytes.
inline constexpr std::int64_t kMaxSignatureFile = 1024;

// True only when `signatureFile` holds the DER ECDSA-SHA256 signature of exactly `bytes`
// by `key`.
bool VerifyControlFileSignature(TReleaseCrypto& crypto, const TP256PublicKey& key,
                                const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& signatureFile);

// The release date of a control file against the newest one accepted before.
enum class TReleaseDating {
    Accepted,  // dated, and not earlier than the newest accepted (the same date is accepted again)
    Undated,   // no date, or a date or time that does not parse
    Older,     // earlier than the newest accepted
};
struct TReleaseDateVerdict {
    TReleaseDating Verdict = TReleaseDating::Undated;
    TDateStamp Date;  // the release's date and time when it parsed
};
TReleaseDateVerdict CheckReleaseDate(const std::wstring& date, const std::wstring& time,
                                     const std::optional<TDateStamp>& newestAccepted);

// A signed control file's "expires=": "dd/mm/yyyy hh:nn" (UTC, as scripts/publish-update
// writes it) or "dd/mm/yyyy" (the end of that day); nullopt when it does not parse.
std::optional<TDateStamp> ParseExpiry(const std::wstring& text);

// The compiler's __DATE__ ("Mmm dd yyyy") as the start of that day; nullopt when it does
// not parse. With SOURCE_DATE_EPOCH set (scripts/release) it is the commit's date.
std::optional<TDateStamp> ParseCompilerDate(const char* date);

// The current time in UTC.
TDateStamp UtcNow();

// The stored form of the newest accepted release: "yyyy-mm-dd hh:nn:ss".
std::wstring FormatStoredReleaseDate(const TDateStamp& date);
// Nullopt for anything that is not exactly that form with a real date and time.
std::optional<TDateStamp> ParseStoredReleaseDate(const std::wstring& text);

// Where the newest accepted release date is kept between runs (the program's settings).
// Read answers "" when nothing is stored; either may be unset.
struct TReleaseDateStore {
    std::function<std::wstring()> Read;
    std::function<void(const std::wstring&)> Write;
};
