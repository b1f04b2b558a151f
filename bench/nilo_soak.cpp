// nilo_soak: reads a long multipart stream through the nilo library the way
// the example program does, GetData with 1023 bytes of room, and shows
// whether the process's memory stays flat while it runs.
//
//   nilo_soak URL PARTS
//
// Cuts the delivered bytes into parts by their 4-byte little-endian lengths
// and prints, when 10%, 50% and 100% of PARTS have been read, the peak
// resident memory so far (VmHWM) and the current one (VmRSS); at the end the
// parts per second. Exits 1 when the stream fails, ends early or runs on past
// PARTS, or cannot be opened.

#include "nilo.h"

#include "CpuSeconds.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

namespace {

// A field of /proc/self/status in KiB, or -1 where the system does not tell.
long long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atoll(line.c_str() + prefix.size());
    }
    return -1;
}

// Cuts the byte stream of a multipart source back into parts.
class PartCounter {
public:
    void Take(const unsigned char* bytes, unsigned size) {
        for (unsigned i = 0; i < size;) {
            if (lengthBytes < 4) {
                length |= static_cast<unsigned long long>(bytes[i++]) << (8 * lengthBytes);
                if (++lengthBytes == 4) StartPart();
                continue;
            }
            const unsigned long long take = left < size - i ? left : size - i;
            i += static_cast<unsigned>(take);
            left -= take;
            if (left == 0) EndPart();
        }
    }
    unsigned long long parts = 0;

private:
    void StartPart() {
        left = length;
        if (left == 0) EndPart();
    }
    void EndPart() {
        ++parts;
        lengthBytes = 0;
        length = 0;
    }
    unsigned lengthBytes = 0;
    unsigned long long length = 0;
    unsigned long long left = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: nilo_soak URL PARTS\n");
        return 2;
    }
    const unsigned long long expected = std::strtoull(argv[2], nullptr, 10);
    if (expected == 0) {
        std::fprintf(stderr, "nilo_soak: PARTS must be a positive number\n");
        return 2;
    }
    const unsigned long long marks[] = {expected / 10, expected / 2, expected};
    size_t nextMark = 0;

    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    unsigned char buffer[1023];
    unsigned long long bytes = 0;
    PartCounter counter;
    NILOState state = NILO_NONE;
    try {
        void* source = ConnectURL(argv[1], 1, "", "");
        do {
            unsigned size = sizeof buffer;
            state = GetData(source, reinterpret_cast<char*>(buffer), size);
            bytes += size;
            counter.Take(buffer, size);
            while (nextMark < 3 && counter.parts >= marks[nextMark]) {
                std::printf("%3d%%: parts=%llu peak_rss_kib=%lld rss_kib=%lld elapsed=%.1f\n",
                            nextMark == 0 ? 10 : nextMark == 1 ? 50 : 100, counter.parts, StatusKiB("VmHWM"),
                            StatusKiB("VmRSS"), seconds());
                std::fflush(stdout);
                ++nextMark;
            }
        } while (state <= NILO_MULTIPART);
        DisconnectNILO(source);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nilo_soak: %s\n", e.what());
        return 1;
    }
    const double elapsed = seconds();
    std::printf("parts=%llu bytes=%llu elapsed=%.3f cpu=%.3f parts_per_second=%.0f end=%s\n", counter.parts, bytes,
                elapsed, CpuSeconds(), static_cast<double>(counter.parts) / elapsed,
                state == NILO_END ? "NILO_END" : "NILO_ERROR");
    if (state != NILO_END || counter.parts != expected) {
        std::fprintf(stderr, "nilo_soak: expected %llu parts and NILO_END\n", expected);
        return 1;
    }
    return 0;
}
