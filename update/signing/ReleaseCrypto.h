#pragma once
// The cryptography of signed releases: SHA-256 fed as bytes arrive, and the check of an
// ECDSA P-256 signature over a digest. Windows: CNG (bcrypt.dll). Host builds: SHA-256 of
// our own for the tests of the hash pins, and no signature check at all (every signature
// fails there; the host tests of the run bring their own verifier).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "SignedRelease.h"

class TSha256 {
public:
    virtual ~TSha256() = default;
    virtual void Add(const std::uint8_t* data, std::size_t size) = 0;
    // The digest of everything added, nullopt when the platform failed on the way; the
    // object is spent afterwards.
    virtual std::optional<TSha256Digest> Finish() = 0;
};

class TReleaseCrypto {
public:
    virtual ~TReleaseCrypto() = default;
    // Nullptr when the platform cannot hash.
    virtual std::unique_ptr<TSha256> NewSha256() = 0;
    // True only when `signature` is a valid signature of `digest` by `key`.
    virtual bool VerifyP256(const TP256PublicKey& key, const TSha256Digest& digest,
                            const TP256Signature& signature) = 0;
};

std::unique_ptr<TReleaseCrypto> MakeSystemReleaseCrypto();
