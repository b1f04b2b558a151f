// nilo_http_read: reads one source through the nilo library, as the HTTP
// benchmark's subject.
//
//   nilo_http_read URL
//
// Calls GetData with a 64 KiB buffer until the result is above
// NILO_MULTIPART, then prints "bytes=N elapsed=S cpu=S" (N counts every
// delivered byte, the 4-byte part lengths of a multipart stream included).
// Exits 1 when the source failed or could not be opened.

#include "nilo.h"

#include "CpuSeconds.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nilo_http_read URL\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<char> buffer(65536);
    unsigned long long bytes = 0;
    NILOState state = NILO_NONE;
    try {
        void* source = ConnectURL(argv[1], 1, "", "");
        do {
            unsigned size = static_cast<unsigned>(buffer.size());
            state = GetData(source, buffer.data(), size);
            bytes += size;
        } while (state <= NILO_MULTIPART);
        DisconnectNILO(source);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nilo_http_read: %s\n", e.what());
        return 1;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%llu elapsed=%.6f cpu=%.3f\n", bytes, elapsed, CpuSeconds());
    return state == NILO_END ? 0 : 1;
}
