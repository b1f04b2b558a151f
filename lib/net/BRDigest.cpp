#include "net/BRDigest.h"

#include "diag/BRException.h"

std::string BRDigest::Hex(Algorithm algorithm, std::string_view bytes) {
    unsigned char digest[kMaxDigestSize];
    // A hash of bytes in memory does not fail on a working system; if the
    // system's implementation does, no digest can be given at all.
    if (!Compute(algorithm, bytes, digest)) throw BRException("can't compute digest", __LINE__, "src");
    static const char digits[] = "0123456789abcdef";
    const size_t size = DigestSize(algorithm);
    std::string hex(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return hex;
}
