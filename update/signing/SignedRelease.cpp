#include "SignedRelease.h"

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A DER reader over a byte range: one tag-length-value at a time, definite lengths only,
// in their shortest form.
class TDerReader {
public:
    TDerReader(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    bool AtEnd() const { return FPos == FSize; }

    // Reads the next element with `tag`; its contents in `body`.
    bool Next(std::uint8_t tag, TDerReader& body) {
        if (FSize - FPos < 2 || FData[FPos] != tag) return false;
        std::size_t pos = FPos + 1;
        std::size_t length = FData[pos++];
        if (length & 0x80) {
            const std::size_t count = length & 0x7F;
            // Two length bytes cover anything a key or signature can be.
            if (count == 0 || count > 2 || FSize - pos < count) return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) length = (length << 8) | FData[pos++];
            if (length < 0x80 || (count == 2 && length < 0x100)) return false;
        }
        if (FSize - pos < length) return false;
        body = TDerReader(FData + pos, length);
        FPos = pos + length;
        return true;
    }

    const std::uint8_t* Data() const { return FData; }
    std::size_t Size() const { return FSize; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kBitString = 0x03;
constexpr std::uint8_t kObjectId = 0x06;

// 1.2.840.10045.2.1 (id-ecPublicKey) and 1.2.840.10045.3.1.7 (prime256v1).
constexpr std::uint8_t kEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t kPrime256v1[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

template <std::size_t N>
bool Equals(const TDerReader& body, const std::uint8_t (&expected)[N]) {
    if (body.Size() != N) return false;
    for (std::size_t i = 0; i < N; ++i)
        if (body.Data()[i] != expected[i]) return false;
    return true;
}

// A positive DER integer into 32 big-endian bytes.
bool ReadScalar(TDerReader& reader, std::uint8_t* out) {
    TDerReader value(nullptr, 0);
    if (!reader.Next(kInteger, value) || value.Size() == 0) return false;
    const std::uint8_t* bytes = value.Data();
    std::size_t size = value.Size();
    if (bytes[0] & 0x80) return false;  // negative
    if (size > 1 && bytes[0] == 0 && !(bytes[1] & 0x80)) return false;  // not minimal
    if (bytes[0] == 0) {
        ++bytes;
        --size;
    }
    if (size > 32) return false;
    bool nonZero = false;
    for (std::size_t i = 0; i < 32; ++i) {
        out[i] = i < 32 - size ? 0 : bytes[i - (32 - size)];
        nonZero = nonZero || out[i] != 0;
    }
    return nonZero;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int count = 0;
    int padding = 0;
    for (char c : text) {
        if (IsSpace(c)) continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        // Nothing may follow the padding.
        if (value < 0 || padding > 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 0 && padding == 0) return out;
    if (count == 2 && padding == 2) {
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
        return out;
    }
    if (count == 3 && padding == 1) {
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
        return out;
    }
    return std::nullopt;
}

std::optional<TP256PublicKey> ParseP256PublicKeyDer(const std::vector<std::uint8_t>& der) {
    TDerReader whole(der.data(), der.size());
    TDerReader info(nullptr, 0), algorithm(nullptr, 0), oid(nullptr, 0), curve(nullptr, 0), bits(nullptr, 0);
    if (!whole.Next(kSequence, info) || !whole.AtEnd()) return std::nullopt;
    if (!info.Next(kSequence, algorithm) || !info.Next(kBitString, bits) || !info.AtEnd()) return std::nullopt;
    if (!algorithm.Next(kObjectId, oid) || !Equals(oid, kEcPublicKey)) return std::nullopt;
    if (!algorithm.Next(kObjectId, curve) || !Equals(curve, kPrime256v1) || !algorithm.AtEnd()) return std::nullopt;
    // No unused bits, then the uncompressed point 04 || X || Y.
    if (bits.Size() != 66 || bits.Data()[0] != 0 || bits.Data()[1] != 0x04) return std::nullopt;
    TP256PublicKey key;
    for (std::size_t i = 0; i < 32; ++i) {
        key.X[i] = bits.Data()[2 + i];
        key.Y[i] = bits.Data()[34 + i];
    }
    return key;
}

std::optional<TP256PublicKey> ParseP256PublicKeyPem(std::string_view pem) {
    static constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
    static constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
    const std::size_t begin = pem.find(kBegin);
    if (begin == std::string_view::npos) return std::nullopt;
    const std::size_t body = begin + kBegin.size();
    const std::size_t end = pem.find(kEnd, body);
    if (end == std::string_view::npos) return std::nullopt;
    // One key only: a second block would leave the choice to chance.
    if (pem.find(kBegin, body) != std::string_view::npos) return std::nullopt;
    const std::optional<std::vector<std::uint8_t>> der = DecodeBase64(pem.substr(body, end - body));
    if (!der) return std::nullopt;
    return ParseP256PublicKeyDer(*der);
}

std::optional<TP256Signature> ParseEcdsaDerSignature(const std::vector<std::uint8_t>& der) {
    TDerReader whole(der.data(), der.size());
    TDerReader pair(nullptr, 0);
    if (!whole.Next(kSequence, pair) || !whole.AtEnd()) return std::nullopt;
    TP256Signature signature{};
    if (!ReadScalar(pair, signature.data()) || !ReadScalar(pair, signature.data() + 32) || !pair.AtEnd())
        return std::nullopt;
    return signature;
}

std::optional<TSha256Digest> ParseSha256Hex(const std::wstring& text) {
    if (text.size() != 64) return std::nullopt;
    TSha256Digest digest{};
    for (std::size_t i = 0; i < 64; ++i) {
        const wchar_t c = text[i];
        int value;
        if (c >= L'0' && c <= L'9')
            value = c - L'0';
        else if (c >= L'a' && c <= L'f')
            value = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F')
            value = c - L'A' + 10;
        else
            return std::nullopt;
        digest[i / 2] = static_cast<std::uint8_t>((digest[i / 2] << 4) | value);
    }
    return digest;
}

std::wstring Sha256Hex(const TSha256Digest& digest) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(64);
    for (std::uint8_t b : digest) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}
