// Reads a file through GetData and through a plain read() loop, each case in
// a process of its own so that its peak resident memory can be measured.
//
//   file_read_bench                      run every case and print the results
//   file_read_bench --child MODE ROOM PATH FD
//                                        one case (MODE "nilo" or "plain"),
//                                        reports "seconds bytes" on FD
//
// The files are created in a fresh folder under the temporary directory
// ($TMPDIR or /tmp) and removed at the end.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "nilo.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr int kRuns = 5;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "file_read_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// ---- one case, in the child process ----

uint64_t ReadPlain(const std::string& path, unsigned room) {
    std::vector<char> buffer(room);
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) Fail("open " + path);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), room);
        if (n < 0) Fail("read");
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
    }
    close(fd);
    return total;
}

uint64_t ReadNilo(const std::string& path, unsigned room) {
    std::vector<char> buffer(room);
    void* handle = ConnectURL(("file:///" + path).c_str(), 1, nullptr, nullptr);
    uint64_t total = 0;
    NILOState r;
    do {
        unsigned size = room;
        r = GetData(handle, buffer.data(), size);
        total += size;
    } while (r <= NILO_MULTIPART);
    DisconnectNILO(handle);
    if (r != NILO_END) Fail("GetData ended with " + std::to_string(r));
    return total;
}

int Child(const std::string& mode, unsigned room, const std::string& path, int resultFd) {
    const auto start = std::chrono::steady_clock::now();
    const uint64_t bytes = mode == "nilo" ? ReadNilo(path, room) : ReadPlain(path, room);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    dprintf(resultFd, "%.9f %llu\n", elapsed.count(), static_cast<unsigned long long>(bytes));
    return 0;
}

// ---- the driver ----

struct Result {
    double seconds = 1e30;  // best of the runs
    double peakMiB = 0;     // largest of the runs
};

void RunCase(const std::string& self, const char* mode, unsigned room, const std::string& path, uint64_t size,
             Result& result) {
    int channel[2];
    if (pipe(channel) != 0) Fail("pipe");
    const pid_t pid = fork();
    if (pid < 0) Fail("fork");
    if (pid == 0) {
        close(channel[0]);
        const int null = open("/dev/null", O_WRONLY);  // the "url path: " line
        dup2(null, STDOUT_FILENO);
        const std::string roomText = std::to_string(room);
        const std::string fdText = std::to_string(channel[1]);
        execl(self.c_str(), self.c_str(), "--child", mode, roomText.c_str(), path.c_str(), fdText.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    char text[128] = {};
    size_t got = 0;
    for (ssize_t n; got < sizeof text - 1 && (n = read(channel[0], text + got, sizeof text - 1 - got)) > 0;) {
        got += static_cast<size_t>(n);
    }
    close(channel[0]);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) Fail("wait4");
    double seconds = 0;
    unsigned long long bytes = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::sscanf(text, "%lf %llu", &seconds, &bytes) != 2) {
        std::fprintf(stderr, "file_read_bench: case %s %u failed\n", mode, room);
        std::exit(1);
    }
    if (bytes != size) {
        std::fprintf(stderr, "file_read_bench: case %s %u read %llu of %llu bytes\n", mode, room, bytes,
                     static_cast<unsigned long long>(size));
        std::exit(1);
    }
    result.seconds = std::min(result.seconds, seconds);
    result.peakMiB = std::max(result.peakMiB, static_cast<double>(usage.ru_maxrss) / 1024.0);  // KiB
}

void CreateFile(const std::string& path, uint64_t size) {
    std::vector<char> block(kMiB);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131) >> 3);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) Fail("create " + path);
    for (uint64_t done = 0; done < size; done += kMiB) {
        if (write(fd, block.data(), kMiB) != static_cast<ssize_t>(kMiB)) Fail("write " + path);
    }
    close(fd);
    ReadPlain(path, kMiB);  // into the page cache before anything is timed
}

int Driver(const std::string& self) {
    std::string folder = (std::filesystem::temp_directory_path() / "nilo-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) Fail("mkdtemp");
    const std::string big = folder + "/256MiB.bin";
    const std::string small = folder + "/16MiB.bin";
    const uint64_t bigSize = 256 * kMiB;
    const uint64_t smallSize = 16 * kMiB;
    CreateFile(big, bigSize);
    CreateFile(small, smallSize);

    Result plainLarge, niloLarge, plainSmall, niloSmall, niloSmallFile, plainStep;
    for (int run = 0; run < kRuns; ++run) {
        RunCase(self, "plain", kMiB, big, bigSize, plainLarge);
        RunCase(self, "plain", 16384, big, bigSize, plainStep);
        RunCase(self, "nilo", kMiB, big, bigSize, niloLarge);
        RunCase(self, "plain", 1023, big, bigSize, plainSmall);
        RunCase(self, "nilo", 1023, big, bigSize, niloSmall);
        RunCase(self, "nilo", 1023, small, smallSize, niloSmallFile);
    }
    std::filesystem::remove_all(folder);

    std::printf("Reading a 256 MiB file (page cache), best of %d runs, each run a process of its own\n\n", kRuns);
    std::printf("%-12s %24s %24s %8s\n", "", "plain read()", "GetData", "ratio");
    std::printf("%-12s %11s %12s %11s %12s %8s\n", "buffer", "time", "peak RSS", "time", "peak RSS", "");
    const struct {
        const char* name;
        const Result& plain;
        const Result& nilo;
    } rows[] = {{"1 MiB", plainLarge, niloLarge}, {"1023 bytes", plainSmall, niloSmall}};
    for (const auto& row : rows) {
        std::printf("%-12s %9.3f s %8.1f MiB %9.3f s %8.1f MiB %8.2f\n", row.name, row.plain.seconds,
                    row.plain.peakMiB, row.nilo.seconds, row.nilo.peakMiB, row.nilo.seconds / row.plain.seconds);
    }
    // The size of the steps in which a file source serves small buffers.
    std::printf("%-12s %9.3f s %8.1f MiB %24s %8.2f  (GetData with 1 MiB / this)\n", "16384 bytes", plainStep.seconds,
                plainStep.peakMiB, "", niloLarge.seconds / plainStep.seconds);
    const double perMiBSmall = niloSmallFile.seconds * 1000 / 16;
    const double perMiBBig = niloSmall.seconds * 1000 / 256;
    std::printf("\nGetData in 1023-byte pieces, time per MiB:\n");
    std::printf("  16 MiB file:  %.3f ms/MiB, peak RSS %.1f MiB\n", perMiBSmall, niloSmallFile.peakMiB);
    std::printf("  256 MiB file: %.3f ms/MiB, peak RSS %.1f MiB\n", perMiBBig, niloSmall.peakMiB);
    std::printf("  256 MiB / 16 MiB: %.2f (1.00 is linear)\n", perMiBBig / perMiBSmall);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0) {
        return Child(argv[2], static_cast<unsigned>(std::stoul(argv[3])), argv[4], std::atoi(argv[5]));
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) Fail("readlink /proc/self/exe");
    self[n] = 0;
    return Driver(self);
}
