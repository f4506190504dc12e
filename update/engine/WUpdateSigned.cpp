// The engine's steps for signed releases: the control file's signature and release date
// before anything of it is used, and the pin of every file as it is fetched.
#include <fstream>

#include "TextUtils.h"
#include "UpdateFileSystem.h"
#include "WUpdate.h"

namespace {

const std::wstring kUpdate = L"update";

// The error codes of the refusals, beside status code 11: a signature that is missing or
// wrong, and a release date that is missing or goes backwards.
constexpr int kSignatureError = 4;
constexpr int kDatingError = 5;
// A release of a lower version than the running program.
constexpr int kVersionError = 7;

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
        SystemFileSystem().RemoveFile(signatureFile);
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
    // Nothing accepted yet (a fresh install, a lost setting): a control file published
    // before this program was built cannot offer anything newer, and an old signed one
    // must not be replayed onto it. Told as "no new version".
    if (!newest && BuildDate && dating.Date < *BuildDate) {
        DoStatus(986, FormatShortDate(*BuildDate), scNoNewVersion, 0);
        return false;
    }
    // A signed control file may say until when it holds; past it, nothing of it is used.
    const std::wstring expires = ini.ReadString(kUpdate, L"expires");
    if (!expires.empty()) {
        const std::optional<TDateStamp> until = ParseExpiry(expires);
        if (!until || *until < Clock()) {
            DoStatus(984, until ? ShortDateTime(*until) : expires, scInvalidSignature, kDatingError);
            return false;
        }
    }
    // Never back to a lower version than the one running.
    const std::wstring newVersion = ini.ReadString(kUpdate, L"newversion");
    if (RunningVersion && !newVersion.empty()) {
        const std::optional<TVersionWords> offered = ParseVersionString(newVersion);
        if (!offered || *offered < *RunningVersion) {
            DoStatus(985, newVersion, scInvalidSignature, kVersionError);
            return false;
        }
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
    if (URLGetFile(session, url, folder, limit, &pin.Digest, &pinMismatch)) {
        FPinnedFetched.emplace_back(URLtoFile(url), pin.Digest);
        return true;
    }
    // Longer than its pinned size is not the file that was signed.
    if (pinMismatch || (pin.Size && FOverLimit))
        DoStatusText(StatusMessage(927) + L" : " + URLtoFile(url), scInvalidSignature, kSignatureError);
    else
        DoStatus(946, url, scFileNotObtained, 9);
    return false;
}

std::optional<TWebUpdate::TFilePin> TWebUpdate::DocumentPin(const TIniFile& ini, const std::wstring& section) {
    const std::optional<TSha256Digest> digest = ParseSha256Hex(ini.ReadString(section, L"sha256"));
    if (!digest) return std::nullopt;
    const std::wstring sizeText = ini.ReadString(section, L"size");
    if (sizeText.empty()) return TFilePin{*digest, std::nullopt};
    const std::optional<std::int64_t> size = ParseByteCount(sizeText);
    if (!size) return std::nullopt;
    return TFilePin{*digest, size};
}

bool TWebUpdate::IsHttpsAddress(const std::wstring& url) {
    static const std::wstring kScheme = L"HTTPS://";
    return url.size() > kScheme.size() && AsciiUpper(url.substr(0, kScheme.size())) == kScheme &&
           url.find_first_of(L" \t\r\n\"") == std::wstring::npos;
}

std::optional<std::wstring> TWebUpdate::FetchedPinnedProgram(const std::wstring& given) {
    // "\.\" (as a folder token may leave it) names the same folder.
    std::wstring path = given;
    for (std::size_t at = path.find(L"\\.\\"); at != std::wstring::npos; at = path.find(L"\\.\\", at))
        path.erase(at, 2);
    std::wstring folder = FFolders.Application;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    // A network path is never the program's folder, and a relative name would be searched for.
    if (folder.empty() || path.rfind(L"\\\\", 0) == 0 || path.rfind(L"//", 0) == 0) return std::nullopt;
    const std::wstring prefix = folder + L"\\";
    if (path.size() <= prefix.size() || AsciiUpper(path.substr(0, prefix.size())) != AsciiUpper(prefix))
        return std::nullopt;
    const std::wstring name = path.substr(prefix.size());
    if (!IsUsableFileName(name) || name.find_first_of(L"\\/:") != std::wstring::npos) return std::nullopt;
    for (const auto& [fetched, digest] : FPinnedFetched) {
        if (AsciiUpper(fetched) != AsciiUpper(name)) continue;
        // The bytes that stand there now, not merely those that were fetched.
        std::unique_ptr<TSha256> hash = Crypto().NewSha256();
        std::ifstream in(FsPath(path), std::ios::binary);
        if (!hash || !in) return std::nullopt;
        std::vector<char> buffer(64 * 1024);
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const std::streamsize got = in.gcount();
            if (got > 0) hash->Add(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(got));
        }
        if (in.bad()) return std::nullopt;
        const std::optional<TSha256Digest> now = hash->Finish();
        if (now && *now == digest) return path;
        return std::nullopt;
    }
    return std::nullopt;
}
