// Any bytes as what a signed release brings from outside: the key's PEM and DER forms, the
// control file's signature, a file pin and the stored release date. Nothing may crash or
// overflow, and whatever is accepted must hold its shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ReleaseVerifier.h"
#include "SignedRelease.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ParseP256PublicKeyPem(text);
    (void)ParseP256PublicKeyDer(bytes);
    (void)DecodeBase64(text);

    if (const auto signature = ParseEcdsaDerSignature(bytes)) {
        // r and s are never zero.
        bool r = false, s = false;
        for (std::size_t i = 0; i < 32; ++i) {
            r = r || (*signature)[i] != 0;
            s = s || (*signature)[32 + i] != 0;
        }
        if (!r || !s) std::abort();
    }

    const std::wstring wide(text.begin(), text.end());
    if (const auto digest = ParseSha256Hex(wide))
        if (Sha256Hex(*digest).size() != 64) std::abort();
    if (const auto date = ParseStoredReleaseDate(wide))
        if (FormatStoredReleaseDate(*date) != wide) std::abort();
    return 0;
}
