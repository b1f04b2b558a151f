#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Message digests and random bytes from the operating system's or a system
// library's implementation, never written here. The build picks one backend:
// BRDigestNettle.cpp (the Nettle library; random bytes from getrandom) or
// BRDigestCNG.cpp (Windows' Cryptography API: Next Generation, bcrypt.dll).
// Only the backends include their library's headers.
class BRDigest {
public:
    enum class Algorithm { MD5, SHA256 };

    // The digest of the bytes, as lowercase hexadecimal (32 characters for
    // MD5, 64 for SHA-256).
    static std::string Hex(Algorithm algorithm, std::string_view bytes);
    static std::string MD5Hex(std::string_view bytes) { return Hex(Algorithm::MD5, bytes); }
    static std::string SHA256Hex(std::string_view bytes) { return Hex(Algorithm::SHA256, bytes); }

    // Fills the buffer from the system's cryptographic random source.
    // False when the system could not supply them.
    static bool RandomBytes(unsigned char* buffer, size_t length);

    static constexpr size_t kMaxDigestSize = 32;
    static size_t DigestSize(Algorithm algorithm) { return algorithm == Algorithm::MD5 ? 16 : 32; }

private:
    // The backend's digest: DigestSize(algorithm) bytes into `out`. False
    // only when the system's implementation failed.
    static bool Compute(Algorithm algorithm, std::string_view bytes, unsigned char* out);
};
