// The engine's steps for signed releases: the control file's signature and release date
// before anything of it is used, and the pin of every file as it is fetched.
#include "TextUtils.h"
#include "UpdateFiles.h"
#include "WUpdate.h"

namespace {

const std::wstring kUpdate = L"update";

// The error codes of the refusals, beside status code 11: a signature that is missing or
// wrong, and a release date that is missing or goes backwards.
constexpr int kSignatureError = 4;
constexpr int kDatingError = 5;

std::wstring TwoDigits(int value) {
    std::wstring text = std::to_wstring(value);
    return text.size() < 2 ? L"0" + text : text;
}

std::wstring ShortDateTime(const TDateStamp& date) {
    return FormatShortDate(date) + L" " + TwoDigits(date.Hour) + L":" + TwoDigits(date.Minute);
}

// A byte count: decimal digits only, at most 18 of them (no sign, no spaces).
std::optional<std::int64_t> ParseByteCount(const std::wstring& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
    }
    return value;
}

}  // namespace

void TWebUpdate::SetReleaseKey(const std::string& pem) {
    FSignaturesRequired = !pem.empty();
    FReleaseKey = FSignaturesRequired ? ParseP256PublicKeyPem(pem) : std::nullopt;
}

TReleaseCrypto& TWebUpdate::Crypto() {
    if (!FCrypto) FCrypto = MakeSystemReleaseCrypto();
    return *FCrypto;
}

bool TWebUpdate::AcceptSignedControlFile() {
    const std::wstring url = ExpandPrefixes(FURL) + L".sig";
    const std::wstring signatureFile = WinTempDir() + URLtoFile(url);

    std::optional<std::vector<std::uint8_t>> signature;
    if (FSession != nullptr && URLGetFile(*FSession, url, WinTempDir(), kMaxSignatureFile)) {
        signature = ReadWholeFile(Facts(), signatureFile, kMaxSignatureFile);
        UpdateFiles::RemoveFile(signatureFile);
    }
    // Read once, bounded: these bytes are what is verified and what every later step uses.
    std::optional<std::vector<std::uint8_t>> control = ReadWholeFile(Facts(), FControlFile, kMaxControlFileBytes);

    if (!FReleaseKey || !signature || !control ||
        !VerifyControlFileSignature(Crypto(), *FReleaseKey, *control, *signature)) {
        DoStatus(927, {}, scInvalidSignature, kSignatureError);
        return false;
    }

    // Signed, so the date is the publisher's: it must be there and must not go backwards.
    const TIniFile ini = TIniFile::FromBytes(*control);
    std::optional<TDateStamp> newest = FNewestAccepted;
    if (ReleaseDates.Read) {
        // A stored value that is not ours is no date at all; the next release replaces it.
        if (const std::optional<TDateStamp> stored = ParseStoredReleaseDate(ReleaseDates.Read()))
            if (!newest || *newest < *stored) newest = stored;
    }
    const TReleaseDateVerdict dating =
        CheckReleaseDate(ini.ReadString(kUpdate, L"date"), ini.ReadString(kUpdate, L"time"), newest);
    if (dating.Verdict == TReleaseDating::Undated) {
        DoStatus(982, {}, scInvalidSignature, kDatingError);
        return false;
    }
    if (dating.Verdict == TReleaseDating::Older) {
        DoStatus(981, ShortDateTime(*newest), scInvalidSignature, kDatingError);
        return false;
    }
    if (!newest || *newest < dating.Date) {
        FNewestAccepted = dating.Date;
        if (ReleaseDates.Write) ReleaseDates.Write(FormatStoredReleaseDate(dating.Date));
    }
    FVerifiedControl = std::move(control);
    return true;
}

std::optional<TWebUpdate::TFilePin> TWebUpdate::SignedFilePin(const TFileDescription& item) {
    const std::optional<TSha256Digest> digest = ParseSha256Hex(item.Sha256);
    std::optional<std::int64_t> size;
    bool sizeOk = true;
    if (!item.Size.empty()) {
        size = ParseByteCount(item.Size);
        sizeOk = size.has_value();
    }
    if (!digest || !sizeOk) {
        DoStatusText(StatusMessage(927) + L" : " + URLtoFile(item.URL), scInvalidSignature, kSignatureError);
        return std::nullopt;
    }
    return TFilePin{*digest, size};
}

bool TWebUpdate::URLGetPinnedFile(TInternetSession& session, const std::wstring& url, const std::wstring& folder,
                                  std::int64_t limit, const TFilePin& pin) {
    bool pinMismatch = false;
    // The pinned size is the file's own ceiling; shorter bytes cannot match the hash.
    if (pin.Size && *pin.Size < limit) limit = *pin.Size;
    if (URLGetFile(session, url, folder, limit, &pin.Digest, &pinMismatch)) return true;
    // Longer than its pinned size is not the file that was signed.
    if (pinMismatch || (pin.Size && FOverLimit))
        DoStatusText(StatusMessage(927) + L" : " + URLtoFile(url), scInvalidSignature, kSignatureError);
    else
        DoStatus(946, url, scFileNotObtained, 9);
    return false;
}
