// nilo_multistream: many camera streams read at the same time, one thread
// per stream, through the nilo library (GetData with 1023 bytes of room, the
// example's size) or, as the reference, through as many curl processes.
//
//   nilo_multistream nilo|curl URL STREAMS PICTURES
//
// URL is the bundled camera server started with --stamp --frames PICTURES:
// every part header carries its send time (X-Sent-Monotonic-Us, the shared
// monotonic clock), and every stream ends after PICTURES pictures. Each
// reader cuts its stream back into pictures, checks every picture against
// the one the camera makes for that number, and notes, for each picture, the
// time from its send to the moment the reader held its last byte. The nilo
// reader finds the send times in the part headers that GetLog returns; the
// curl reader parses them from the raw stream that curl writes to a pipe.
//
// Prints one line: pictures sent and delivered (all must arrive, intact) and
// per second; CPU time per picture while streaming, from the first picture
// to the last (nilo: the reading threads, cutting and checking included;
// curl: the curl processes, not the threads that parse their output; for
// curl also over its whole run, start-up included); resident
// memory per stream (nilo: growth of this process over its state before
// connecting; curl: resident and private memory of each curl process), each
// the largest seen while streaming; the delays (median, 99th percentile,
// maximum) after each stream's first second, and the largest delay within
// the first second (start-up). Exits 1 when a picture is missing or wrong,
// or a stream does not end after its pictures.

#include "nilo.h"

#include "CameraFrame.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const char kStampField[] = "X-Sent-Monotonic-Us: ";
constexpr size_t kWarmUpPictures = 25;  // the first second at 25 pictures per second

int64_t ThreadCpuNanoseconds() {
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return static_cast<int64_t>(cpu.tv_sec) * 1000000000 + cpu.tv_nsec;
}

// The time a process's main thread has run, in ns (first field of
// /proc/PID/schedstat), -1 when it is gone.
int64_t ProcessCpuNanoseconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    in >> ns;
    return in ? ns : -1;
}

int64_t NowMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// A field of /proc/PID/status or /proc/PID/smaps_rollup in KiB, 0 if absent.
long long ProcKiB(const std::string& file, const char* field) {
    std::ifstream in(file);
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atoll(line.c_str() + prefix.size());
    return 0;
}

// What one reader saw.
struct StreamResult {
    std::vector<int64_t> delays;  // µs, one per picture delivered
    int64_t firstSent = 0, lastSent = 0, firstDelivered = 0, lastDelivered = 0;
    uint64_t pictures = 0;
    // CPU time of the reader (nilo: the reading thread; curl: the curl
    // process) from the first picture delivered to the last, in ns: the cost
    // of streaming, without connecting and starting up.
    int64_t cpuFirst = 0, cpuLast = 0;
    std::string failure;  // empty when every picture arrived intact

    void Delivered(int64_t sent, int64_t at) {
        if (pictures == 0) firstSent = sent, firstDelivered = at;
        lastSent = sent;
        lastDelivered = at;
        delays.push_back(at - sent);
        ++pictures;
    }
};

// The send times named in `text`, in order.
void TakeStamps(const char* text, std::deque<int64_t>& stamps) {
    for (const char* at = text; (at = std::strstr(at, kStampField)) != nullptr;) {
        at += sizeof kStampField - 1;
        stamps.push_back(std::atoll(at));
    }
}

// Cuts nilo's delivery of a multipart stream (each part preceded by its
// length, 4 bytes little-endian) into pictures.
class LengthCutter {
public:
    // Returns true when `bytes` completed a picture, left in `picture`.
    // A 1023-byte piece completes at most one of the camera's pictures.
    bool Take(const char* bytes, size_t size, size_t& used) {
        for (used = 0; used < size;) {
            if (lengthBytes < 4) {
                length |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[used++])) << (8 * lengthBytes);
                if (++lengthBytes == 4) picture.clear();
                if (lengthBytes == 4 && length == 0) return Done();
                continue;
            }
            const size_t take = std::min<size_t>(length - picture.size(), size - used);
            picture.append(bytes + used, take);
            used += take;
            if (picture.size() == length) return Done();
        }
        return false;
    }
    std::string picture;

private:
    bool Done() {
        lengthBytes = 0;
        length = 0;
        return true;
    }
    unsigned lengthBytes = 0;
    uint32_t length = 0;
};

// Cuts a raw multipart body (as curl writes it) into pictures and their
// send times.
class MultipartCutter {
public:
    // Takes bytes; calls done(picture, sent) for every picture completed.
    template <class Done>
    void Take(const char* bytes, size_t size, Done&& done) {
        pending.append(bytes, size);
        for (;;) {
            if (left == 0 && !inPart) {
                const size_t end = pending.find("\r\n\r\n");
                if (end == std::string::npos) return;
                const std::string header = pending.substr(0, end);
                pending.erase(0, end + 4);
                const size_t lengthAt = header.find("Content-Length: ");
                const size_t stampAt = header.find(kStampField);
                if (lengthAt == std::string::npos || stampAt == std::string::npos) {
                    failure = "a part header without Content-Length or send time: " + header;
                    return;
                }
                left = std::strtoull(header.c_str() + lengthAt + 16, nullptr, 10) + 2;  // and its "\r\n"
                sent = std::atoll(header.c_str() + stampAt + sizeof kStampField - 1);
                picture.clear();
                inPart = true;
            }
            const size_t take = std::min<size_t>(left, pending.size());
            picture.append(pending, 0, take);
            pending.erase(0, take);
            left -= take;
            if (left > 0) return;
            inPart = false;
            picture.resize(picture.size() - 2);
            done(picture, sent);
        }
    }
    std::string failure;

private:
    std::string pending;
    std::string picture;
    uint64_t left = 0;
    int64_t sent = 0;
    bool inPart = false;
};

// Checks the picture that arrived as number `k` of the stream.
void Check(StreamResult& r, const std::vector<std::string>& expected, const std::string& picture) {
    if (!r.failure.empty()) return;
    if (r.pictures >= expected.size())
        r.failure = "more pictures than sent";
    else if (picture != expected[r.pictures])
        r.failure = "picture " + std::to_string(r.pictures) + " differs from the camera's";
}

void ReadThroughNilo(const std::string& url, const std::vector<std::string>& expected, StreamResult& r) {
    void* h = nullptr;
    try {
        h = ConnectURL(url.c_str(), 1, "", "");
    } catch (const std::exception& e) {
        r.failure = std::string("ConnectURL: ") + e.what();
        return;
    }
    LengthCutter cutter;
    std::deque<int64_t> stamps;
    char buffer[1023];
    NILOState state = NILO_NONE;
    do {
        unsigned size = sizeof buffer;
        state = GetData(h, buffer, size);
        const int64_t at = NowMicroseconds();
        size_t offset = 0;
        while (offset < size) {
            size_t used = 0;
            const bool done = cutter.Take(buffer + offset, size - offset, used);
            offset += used;
            if (!done) continue;
            // The part header was logged before the part's bytes came out.
            if (stamps.empty()) TakeStamps(GetLog(h), stamps);
            if (stamps.empty()) {
                r.failure = "no send time logged for picture " + std::to_string(r.pictures);
                break;
            }
            Check(r, expected, cutter.picture);
            r.Delivered(stamps.front(), at);
            stamps.pop_front();
            r.cpuLast = ThreadCpuNanoseconds();
            if (r.pictures == 1) r.cpuFirst = r.cpuLast;
        }
    } while (state <= NILO_MULTIPART && r.failure.empty());
    if (r.failure.empty() && state != NILO_END) r.failure = "the stream ended with " + std::to_string(state);
    DisconnectNILO(h);
}

void ReadFromPipe(int fd, pid_t curl, const std::vector<std::string>& expected, StreamResult& r) {
    MultipartCutter cutter;
    char buffer[1023];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const int64_t at = NowMicroseconds();
        cutter.Take(buffer, static_cast<size_t>(n), [&](const std::string& picture, int64_t sent) {
            Check(r, expected, picture);
            r.Delivered(sent, at);
            // Read only at the first and the last picture: reading it for
            // every picture would cost this process more than curl spends.
            if (r.pictures == 1 || r.pictures == expected.size()) {
                r.cpuLast = ProcessCpuNanoseconds(curl);
                if (r.pictures == 1) r.cpuFirst = r.cpuLast;
            }
        });
    }
    if (r.failure.empty()) r.failure = cutter.failure;
    ::close(fd);
}

int64_t Percentile(std::vector<int64_t>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t k = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(k, sorted.size() - 1)];
}

// Samples memory every 50 ms until stopped, keeping the largest values.
class MemorySampler {
public:
    explicit MemorySampler(std::vector<pid_t> processes) : pids(std::move(processes)) {
        peak.resize(pids.size() + 1);
        thread = std::thread([this] {
            while (!stop) {
                Sample();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~MemorySampler() { Stop(); }
    void Stop() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
    // Largest resident and private KiB seen, per process; the last entry is
    // this process.
    struct Peak {
        long long rss = 0, priv = 0;
    };
    std::vector<Peak> peak;

private:
    void Sample() {
        for (size_t i = 0; i <= pids.size(); ++i) {
            const std::string proc = i < pids.size() ? "/proc/" + std::to_string(pids[i]) : "/proc/self";
            const long long rss = ProcKiB(proc + "/status", "VmRSS");
            if (rss == 0) continue;  // gone already
            peak[i].rss = std::max(peak[i].rss, rss);
            if (i < pids.size())
                peak[i].priv = std::max(peak[i].priv, ProcKiB(proc + "/smaps_rollup", "Private_Clean") +
                                                          ProcKiB(proc + "/smaps_rollup", "Private_Dirty"));
        }
    }
    std::vector<pid_t> pids;
    std::atomic<bool> stop{false};
    std::thread thread;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::string(argv[1]) != "nilo" && std::string(argv[1]) != "curl")) {
        std::fprintf(stderr, "usage: nilo_multistream nilo|curl URL STREAMS PICTURES\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string url = argv[2];
    const size_t streams = std::strtoul(argv[3], nullptr, 10);
    const size_t pictures = std::strtoul(argv[4], nullptr, 10);
    if (streams == 0 || pictures == 0) {
        std::fprintf(stderr, "nilo_multistream: STREAMS and PICTURES must be positive\n");
        return 2;
    }
    std::vector<std::string> expected;
    for (size_t k = 0; k < pictures; ++k) expected.push_back(CameraFrame::jpeg(k));

    std::vector<StreamResult> results(streams);
    std::vector<std::thread> readers;
    double cpuWithStartSeconds = -1;  // curl: its whole run, start-up included
    long long rssPerStreamKiB = 0, privPerStreamKiB = 0;

    if (mode == "nilo") {
        const long long baseKiB = ProcKiB("/proc/self/status", "VmRSS");
        MemorySampler memory({});
        for (size_t s = 0; s < streams; ++s)
            readers.emplace_back([&, s] { ReadThroughNilo(url, expected, results[s]); });
        for (std::thread& t : readers) t.join();
        memory.Stop();
        rssPerStreamKiB = (memory.peak.back().rss - baseKiB) / static_cast<long long>(streams);
    } else {
        std::signal(SIGPIPE, SIG_IGN);
        std::vector<pid_t> pids;
        std::vector<int> pipes;
        for (size_t s = 0; s < streams; ++s) {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) {
                std::perror("pipe");
                return 1;
            }
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
            const char* args[] = {"curl", "--silent", "--show-error", "--no-buffer", url.c_str(), nullptr};
            pid_t pid = 0;
            const int rc = posix_spawnp(&pid, "curl", &actions, nullptr, const_cast<char* const*>(args), environ);
            posix_spawn_file_actions_destroy(&actions);
            ::close(fds[1]);
            if (rc != 0) {
                std::fprintf(stderr, "nilo_multistream: cannot start curl: %s\n", std::strerror(rc));
                return 1;
            }
            pids.push_back(pid);
            pipes.push_back(fds[0]);
        }
        MemorySampler memory(pids);
        for (size_t s = 0; s < streams; ++s)
            readers.emplace_back([&, s] { ReadFromPipe(pipes[s], pids[s], expected, results[s]); });
        for (std::thread& t : readers) t.join();
        memory.Stop();
        cpuWithStartSeconds = 0;
        for (pid_t pid : pids) {
            int status = 0;
            rusage usage{};
            ::wait4(pid, &status, 0, &usage);
            cpuWithStartSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
        for (size_t s = 0; s < streams; ++s) {
            rssPerStreamKiB += memory.peak[s].rss;
            privPerStreamKiB += memory.peak[s].priv;
        }
        rssPerStreamKiB /= static_cast<long long>(streams);
        privPerStreamKiB /= static_cast<long long>(streams);
    }

    std::vector<int64_t> delays;
    int64_t startDelayMax = 0;
    uint64_t delivered = 0;
    int64_t firstSent = INT64_MAX, lastSent = 0, firstDelivered = INT64_MAX, lastDelivered = 0;
    int failures = 0;
    double cpuSeconds = 0;
    uint64_t cpuPictures = 0;  // pictures after the first, whose cost cpuSeconds is
    for (size_t s = 0; s < streams; ++s) {
        const StreamResult& r = results[s];
        if (r.pictures > 1 && r.cpuFirst >= 0 && r.cpuLast >= 0) {
            cpuSeconds += static_cast<double>(r.cpuLast - r.cpuFirst) / 1e9;
            cpuPictures += r.pictures - 1;
        }
        if (!r.failure.empty() || r.pictures != pictures) {
            std::fprintf(stderr, "nilo_multistream: stream %zu: %s (%llu of %zu pictures)\n", s,
                         r.failure.empty() ? "pictures missing" : r.failure.c_str(),
                         static_cast<unsigned long long>(r.pictures), pictures);
            ++failures;
        }
        // The first second of a stream is start-up (64 curl processes take
        // a while to load); its delays are reported apart.
        const size_t warm = std::min(r.delays.size(), kWarmUpPictures);
        for (size_t k = 0; k < warm; ++k) startDelayMax = std::max(startDelayMax, r.delays[k]);
        delays.insert(delays.end(), r.delays.begin() + static_cast<std::ptrdiff_t>(warm), r.delays.end());
        delivered += r.pictures;
        if (r.pictures == 0) continue;
        firstSent = std::min(firstSent, r.firstSent);
        lastSent = std::max(lastSent, r.lastSent);
        firstDelivered = std::min(firstDelivered, r.firstDelivered);
        lastDelivered = std::max(lastDelivered, r.lastDelivered);
    }
    std::sort(delays.begin(), delays.end());
    const double sentSpan = static_cast<double>(lastSent - firstSent) / 1e6;
    const double deliveredSpan = static_cast<double>(lastDelivered - firstDelivered) / 1e6;
    const uint64_t sent = static_cast<uint64_t>(streams) * pictures;
    const std::string cpuWithStart =
        cpuWithStartSeconds < 0
            ? ""
            : " (with start-up " +
                  std::to_string(std::lround(cpuWithStartSeconds * 1e6 / static_cast<double>(delivered ? delivered : 1))) +
                  ")";
    const std::string privatePerStream = mode == "curl" ? std::to_string(privPerStreamKiB) : "-";
    std::printf("reader=%s streams=%zu sent=%llu delivered=%llu sent_per_s=%.1f delivered_per_s=%.1f "
                "cpu_us_per_picture=%.1f%s rss_kib_per_stream=%lld private_kib_per_stream=%s "
                "delay_median_ms=%.3f delay_p99_ms=%.3f delay_max_ms=%.3f first_second_delay_max_ms=%.3f\n",
                mode.c_str(), streams, static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(delivered), sentSpan > 0 ? static_cast<double>(sent) / sentSpan : 0,
                deliveredSpan > 0 ? static_cast<double>(delivered) / deliveredSpan : 0,
                cpuPictures > 0 ? cpuSeconds * 1e6 / static_cast<double>(cpuPictures) : 0, cpuWithStart.c_str(),
                rssPerStreamKiB, privatePerStream.c_str(), static_cast<double>(Percentile(delays, 0.5)) / 1e3,
                static_cast<double>(Percentile(delays, 0.99)) / 1e3,
                delays.empty() ? 0.0 : static_cast<double>(delays.back()) / 1e3,
                static_cast<double>(startDelayMax) / 1e3);
    return failures == 0 && delivered == sent ? 0 : 1;
}
