#include "net/BRDigest.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

// The one-call BCryptHash exists only from Windows 10 on; the library runs on
// Windows 7, so a digest takes the provider, hash-object sequence that CNG has
// had since Windows Vista. A provider is opened per digest: digests are made a
// few times per authentication, and nothing has to be released at unload.

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool BRDigest::Compute(Algorithm algorithm, std::string_view bytes, unsigned char* out) {
    if (bytes.size() > ULONG_MAX) return false;
    BCRYPT_ALG_HANDLE provider = nullptr;
    const wchar_t* name = algorithm == Algorithm::MD5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, name, nullptr, 0))) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    // With no hash-object buffer given, CNG allocates and frees it itself.
    bool ok = Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
    if (ok) {
        // BCryptHashData takes a non-const pointer but only reads the input.
        auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
        ok = Succeeded(BCryptHashData(hash, input, static_cast<ULONG>(bytes.size()), 0)) &&
             Succeeded(BCryptFinishHash(hash, out, static_cast<ULONG>(DigestSize(algorithm)), 0));
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(provider, 0);
    return ok;
}

bool BRDigest::RandomBytes(unsigned char* buffer, size_t length) {
    while (length > 0) {
        const ULONG piece = length > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(length);
        if (!Succeeded(BCryptGenRandom(nullptr, buffer, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
        buffer += piece;
        length -= piece;
    }
    return true;
}
