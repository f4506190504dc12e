// CNG: SHA-256 through one hash object per file, ECDSA P-256 through a public
// key imported from its X and Y coordinates.
#include "ReleaseCrypto.h"
#include "HandleHolder.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <vector>

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An algorithm provider, closed on destruction.
void CloseAlgorithm(BCRYPT_ALG_HANDLE handle) { BCryptCloseAlgorithmProvider(handle, 0); }
using TAlgorithm = THandleHolder<BCRYPT_ALG_HANDLE, &CloseAlgorithm>;

TAlgorithm OpenAlgorithm(const wchar_t* name) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) handle = nullptr;
    return TAlgorithm(handle);
}

class TCngSha256 : public TSha256 {
public:
    TCngSha256() : FAlgorithm(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
        if (!FAlgorithm.Valid() || !Succeeded(BCryptCreateHash(FAlgorithm.Get(), &FHash, nullptr, 0, nullptr, 0, 0)))
            FHash = nullptr;
    }
    ~TCngSha256() override {
        if (FHash != nullptr) BCryptDestroyHash(FHash);
    }
    bool Ready() const { return FHash != nullptr; }

    void Add(const std::uint8_t* data, std::size_t size) override {
        // Fed in pieces that fit the API's 32-bit length.
        while (FHash != nullptr && size > 0) {
            const ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
            if (!Succeeded(BCryptHashData(FHash, const_cast<PUCHAR>(data), part, 0))) FFailed = true;
            data += part;
            size -= part;
        }
    }

    std::optional<TSha256Digest> Finish() override {
        TSha256Digest digest{};
        if (FHash == nullptr || FFailed || !Succeeded(BCryptFinishHash(FHash, digest.data(), 32, 0)))
            return std::nullopt;
        return digest;
    }

private:
    TAlgorithm FAlgorithm;
    BCRYPT_HASH_HANDLE FHash = nullptr;
    bool FFailed = false;
};

class TCngReleaseCrypto : public TReleaseCrypto {
public:
    std::unique_ptr<TSha256> NewSha256() override {
        auto hash = std::make_unique<TCngSha256>();
        if (!hash->Ready()) return nullptr;
        return hash;
    }

    bool VerifyP256(const TP256PublicKey& key, const TSha256Digest& digest,
                    const TP256Signature& signature) override {
        const TAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
        if (!algorithm.Valid()) return false;
        std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
        BCRYPT_ECCKEY_BLOB header{};
        header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
        header.cbKey = 32;
        std::memcpy(blob.data(), &header, sizeof header);
        std::memcpy(blob.data() + sizeof header, key.X.data(), 32);
        std::memcpy(blob.data() + sizeof header + 32, key.Y.data(), 32);
        BCRYPT_KEY_HANDLE handle = nullptr;
        if (!Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob.data(),
                                           static_cast<ULONG>(blob.size()), 0)))
            return false;
        const NTSTATUS status =
            BCryptVerifySignature(handle, nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                                  const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0);
        BCryptDestroyKey(handle);
        return status == 0;
    }
};

}  // namespace

std::unique_ptr<TReleaseCrypto> MakeSystemReleaseCrypto() { return std::make_unique<TCngReleaseCrypto>(); }
