#pragma once
// The forms a signed release arrives in: the publisher's P-256 public key as PEM (the
// SubjectPublicKeyInfo that `openssl ec -pubout` writes), the DER ECDSA signature of the
// control file (`openssl dgst -sha256 -sign`), and the SHA-256 pins of the release files
// as 64 hex digits. Parsing is strict: anything that is not exactly one of these forms is
// refused, never guessed at.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TSha256Digest = std::array<std::uint8_t, 32>;

// An uncompressed point on P-256: the big-endian X and Y coordinates.
struct TP256PublicKey {
    std::array<std::uint8_t, 32> X{};
    std::array<std::uint8_t, 32> Y{};
    bool operator==(const TP256PublicKey&) const = default;
};

// An ECDSA signature as the fixed-size pair r || s (32 big-endian bytes each), the form
// the platform's verifier takes.
using TP256Signature = std::array<std::uint8_t, 64>;

// The standard Base64 alphabet with "=" padding; white space between groups is allowed.
// Nullopt on any other character or on bad padding.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

// The key of a "-----BEGIN PUBLIC KEY-----" block: an id-ecPublicKey on the prime256v1
// curve with an uncompressed point. Nullopt for any other key, curve or form.
std::optional<TP256PublicKey> ParseP256PublicKeyPem(std::string_view pem);
// The same from the DER SubjectPublicKeyInfo bytes.
std::optional<TP256PublicKey> ParseP256PublicKeyDer(const std::vector<std::uint8_t>& der);

// SEQUENCE { INTEGER r, INTEGER s } in DER, each a positive integer of at most 32
// significant bytes, nothing after it. Nullopt otherwise (a truncated file included).
std::optional<TP256Signature> ParseEcdsaDerSignature(const std::vector<std::uint8_t>& der);

// Exactly 64 hex digits, either case. Nullopt otherwise.
std::optional<TSha256Digest> ParseSha256Hex(const std::wstring& text);
// Lower-case hex.
std::wstring Sha256Hex(const TSha256Digest& digest);
