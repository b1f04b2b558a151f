#include "net/BRDigest.h"

#include <nettle/md5.h>
#include <nettle/sha2.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>

bool BRDigest::Compute(Algorithm algorithm, std::string_view bytes, unsigned char* out) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (algorithm == Algorithm::MD5) {
        md5_ctx context;
        md5_init(&context);
        md5_update(&context, bytes.size(), data);
        md5_digest(&context, MD5_DIGEST_SIZE, out);
    } else {
        sha256_ctx context;
        sha256_init(&context);
        sha256_update(&context, bytes.size(), data);
        sha256_digest(&context, SHA256_DIGEST_SIZE, out);
    }
    return true;
}

bool BRDigest::RandomBytes(unsigned char* buffer, size_t length) {
    // getrandom may return fewer bytes than asked (more than 256 at once) or
    // be interrupted by a signal; it blocks only until the system's pool is
    // first seeded, early at boot.
    while (length > 0) {
        const ssize_t got = ::getrandom(buffer, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buffer += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}
