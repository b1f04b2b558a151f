// Hostile peers: whatever a server sends, a source must end within a bounded
// time, without growing the process's memory without bound, and with every
// byte that belongs to the caller. Each row is a server script, its limits and
// the end it must reach. Rows whose data an unbounded buffer would take in
// send megabytes, so such a buffer shows clearly above the memory limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "HttpCase.h"
#include "NetTestHelpers.h"
#include "TimeScale.h"

// AddressSanitizer keeps freed blocks in a quarantine of 256 MiB, which
// counts as resident memory the library does not hold; a small quarantine
// keeps the memory bound about what is live.
#if defined(__SANITIZE_ADDRESS__)
#define NILO_HOSTILE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NILO_HOSTILE_ASAN 1
#endif
#endif
#ifdef NILO_HOSTILE_ASAN
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif

// ThreadSanitizer keeps a shadow of every byte the program touches, several
// times its size, and that shadow is resident memory too: the bound is
// scaled by as much, so that it still tells bounded memory from unbounded.
#if defined(__SANITIZE_THREAD__)
#define NILO_HOSTILE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NILO_HOSTILE_TSAN 1
#endif
#endif
#ifdef NILO_HOSTILE_TSAN
constexpr long long kShadowScale = 5;
#else
constexpr long long kShadowScale = 1;
#endif

namespace {

using namespace std::string_literals;
using Script = ScriptedServer::Script;
using Serve = std::function<void(ScriptedServer&)>;
using Clock = std::chrono::steady_clock;

struct Hostile {
    const char* name;
    Serve serve;
    int timeLimitMs;
    int memoryLimitMiB;
    NILOState end;                          // NILO_END or NILO_ERROR, unless `raised` is set
    const char* raised;                     // the message GetData must raise instead
    std::optional<std::string> delivered;   // the bytes the caller must get, where they matter
};

// Rows print as their names.
void PrintTo(const Hostile& row, std::ostream* out) { *out << row.name; }

// The room the example program reads with.
constexpr unsigned kRoom = 1023;
// No single read may block longer than its two polls of 500 ms allow, with
// room for a loaded sanitizer build.
constexpr long long kCallLimitMs = 2000;
constexpr int kSeconds = 1000;
constexpr int kMiB = 32;

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
const std::string kMultipart = kOk + "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
const std::string kFiller(64 * 1024, 'x');

std::string PartHeader(const std::string& length) { return "--frame\r\nContent-Length: " + length + "\r\n\r\n"; }

std::string Repeat(const std::string& unit, size_t times) {
    std::string s;
    for (size_t i = 0; i < times; ++i) s += unit;
    return s;
}

// The peer sends `head`, then `times` copies of `unit`, then `tail`, and closes.
Serve Stream(std::string head, std::string unit = "", size_t times = 0, std::string tail = "") {
    return [=](ScriptedServer& server) {
        server.Add(Script().AwaitRequest().Send(head).SendRepeated(unit, times).Send(tail).Close());
    };
}

Serve Reply(std::string response) { return Stream(std::move(response)); }

// Ten one-byte chunks, a to j.
const std::string kTenChunks = [] {
    std::string s;
    for (char c = 'a'; c <= 'j'; ++c) s += std::string("1\r\n") + c + "\r\n";
    return s;
}();

// Ten one-byte parts, a to j, as sent and as delivered.
const std::string kTenParts = [] {
    std::string s;
    for (char c = 'a'; c <= 'j'; ++c) s += PartHeader("1") + c + "\r\n";
    return s;
}();
const std::string kTenPartsDelivered = [] {
    std::string s;
    for (char c = 'a'; c <= 'j'; ++c) s += LittleEndian(1) + c;
    return s;
}();

const std::string kThousand = std::string(1000, 'p');

const Hostile kRows[] = {
    // Response header
    {"header that never ends", Stream(kOk, kFiller, 1024), 5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"status code that overflows", Reply("HTTP/1.1 42949672960000000000 OK\r\nContent-Length: 2\r\n\r\nab"),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    // 10000 lines cannot fit in the 8192 bytes a header may take.
    {"10000 header lines", Reply(kOk + Repeat("X-Line: 1\r\n", 10000) + "Content-Length: 2\r\n\r\nab"),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"2000 header lines within the header limit",
     Reply(kOk + Repeat("a:\r\n", 2000) + "Content-Length: 2\r\n\r\nab"), 5 * kSeconds, kMiB, NILO_END, nullptr,
     "ab"},
    {"NUL byte inside the header", Reply(kOk + "X: a\0b\r\n"s + "Content-Length: 2\r\n\r\nab"),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"peer closes inside the header", Reply(kOk + "Content-Len"), 5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},

    // Chunked bodies. A size taken for a small one would read on into the
    // 16 MiB that follow.
    {"chunk size FFFFFFFF", Stream(kChunked + "FFFFFFFF\r\n", kFiller, 256), 5 * kSeconds, kMiB, NILO_ERROR,
     nullptr, ""},
    {"chunk size FFFFFFFE", Stream(kChunked + "FFFFFFFE\r\n", kFiller, 256), 5 * kSeconds, kMiB, NILO_ERROR,
     nullptr, ""},
    {"chunk size 100000000", Stream(kChunked + "100000000\r\n", kFiller, 256), 5 * kSeconds, kMiB, NILO_ERROR,
     nullptr, ""},
    {"chunk size zz", Stream(kChunked + "zz\r\n", kFiller, 256), 5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"chunk-size line that never ends", Stream(kChunked + "1", std::string(65536, '0'), 1024), 5 * kSeconds, kMiB,
     NILO_ERROR, nullptr, ""},
    {"100000 one-byte chunks", Stream(kChunked, kTenChunks, 10000, "0\r\n\r\n"), 10 * kSeconds, kMiB, NILO_END,
     nullptr, Repeat("abcdefghij", 10000)},
    {"NUL byte inside a chunk-size line", Reply(kChunked + "2\r\nab\r\n" + "1\0\r\nc\r\n0\r\n\r\n"s),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, "ab"},
    {"peer closes inside a chunk-size line", Reply(kChunked + "2\r\nab\r\n1"), 5 * kSeconds, kMiB, NILO_ERROR,
     nullptr, "ab"},

    // Multipart streams
    {"part length -1", Stream(kMultipart + PartHeader("-1"), kFiller, 256), 5 * kSeconds, kMiB, NILO_ERROR, nullptr,
     ""},
    {"part length 4294967297", Stream(kMultipart + PartHeader("4294967297"), kFiller, 256), 5 * kSeconds, kMiB,
     NILO_ERROR, nullptr, ""},
    {"part longer than the bytes before the peer closes", Reply(kMultipart + PartHeader("100000") + kThousand),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, LittleEndian(100000) + kThousand},
    {"part header that never ends", Stream(kMultipart + "--frame\r\n", kFiller, 1024), 5 * kSeconds, kMiB,
     NILO_ERROR, nullptr, ""},
    {"NUL byte inside a part header",
     Reply(kMultipart + PartHeader("1") + "a\r\n" + "--frame\r\nX: \0\r\nContent-Length: 1\r\n\r\nb\r\n"s),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, LittleEndian(1) + "a"},
    // Every part header goes to the log, which the caller never asks for here.
    {"6000 parts with 7 KiB headers",
     Stream(kMultipart, "--frame\r\nX-Padding: " + std::string(7000, 'p') + "\r\nContent-Length: 1\r\n\r\nz\r\n", 6000,
            "--frame--\r\n"),
     10 * kSeconds, kMiB, NILO_END, nullptr, Repeat(LittleEndian(1) + "z", 6000)},
    {"100000 one-byte parts", Stream(kMultipart, kTenParts, 10000, "--frame--\r\n"), 10 * kSeconds, kMiB, NILO_END,
     nullptr, Repeat(kTenPartsDelivered, 10000)},
    // A part without a length is held until its delimiter, but no further
    // than 16 MiB.
    {"part without a length that never meets a delimiter", Stream(kMultipart + "--frame\r\n\r\n", kFiller, 512),
     10 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"peer closes inside a part header", Reply(kMultipart + PartHeader("1") + "a\r\n--frame\r\nContent-Le"),
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, LittleEndian(1) + "a"},
    {"peer closes inside a part", Reply(kMultipart + PartHeader("4") + "ab"), 5 * kSeconds, kMiB, NILO_ERROR,
     nullptr, LittleEndian(4) + "ab"},

    // Redirects. Every connection of the loop comes back to the same place.
    {"redirect loop",
     [](ScriptedServer& server) {
         const std::string self = "http://127.0.0.1:" + std::to_string(server.Port()) + "/loop";
         for (int k = 0; k < 5; ++k)
             server.Add(Script().AwaitRequest().Send("HTTP/1.1 302 Found\r\nLocation: " + self +
                                                    "\r\nContent-Length: 0\r\n\r\n").Close());
     },
     5 * kSeconds, kMiB, NILO_ERROR, "too much redirections", std::nullopt},
    // A line break inside a Location ends its field line (a lone LF is a
    // line end), so the rest is a field of its own and never reaches the
    // next request; a lone CR fails the response, and nothing is followed.
    {"Location holding a line break",
     [](ScriptedServer& server) {
         const std::string target = "http://127.0.0.1:" + std::to_string(server.Port()) + "/a\nX-Injected: 1";
         server.Add(Script().AwaitRequest().Send("HTTP/1.1 302 Found\r\nLocation: " + target +
                                                "\r\nContent-Length: 0\r\n\r\n").Close());
         server.Add(Script().AwaitRequest().Send(kOk + "Content-Length: 8\r\n\r\nfollowed").Close());
     },
     5 * kSeconds, kMiB, NILO_END, nullptr, "followed"},
    {"Location holding a carriage return",
     [](ScriptedServer& server) {
         const std::string target = "http://127.0.0.1:" + std::to_string(server.Port()) + "/a\rX-Injected: 1";
         server.Add(Script().AwaitRequest().Send("HTTP/1.1 302 Found\r\nLocation: " + target +
                                                "\r\nContent-Length: 0\r\n\r\n").Close());
         server.Add(Script().AwaitRequest().Send(kOk + "Content-Length: 8\r\n\r\nfollowed").Close());
     },
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},

    // The connection itself
    {"peer resets before reading the request", [](ScriptedServer& server) { server.Add(Script().Abort()); },
     5 * kSeconds, kMiB, NILO_ERROR, nullptr, ""},
    {"peer sends one byte per second",
     [](ScriptedServer& server) {
         server.Add(Script().AwaitRequest().Send(kOk + "Content-Length: 3\r\n\r\n").Send("abc", 1, 1000).Close());
     },
     8 * kSeconds, kMiB, NILO_END, nullptr, "abc"},
};

// A field of this process's status in KiB: VmRSS, the resident memory now;
// VmHWM, its peak since the last ResetPeak. -1 where the system does not tell.
long long ReadStatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    }
    return -1;
}

bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

struct Outcome {
    NiloRead read;
    std::string raised;
    long long elapsedMs = 0;
    long long longestCallMs = 0;
};

// Reads the source to its end, or until the time limit has passed.
Outcome ReadToTheEnd(const char* url, int timeLimitMs) {
    Outcome outcome;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeLimitMs);
    void* handle = ConnectURL(url, 1, "", "");
    std::vector<char> buffer(kRoom);
    try {
        for (;;) {
            if (Clock::now() > deadline) break;
            unsigned size = kRoom;
            const auto before = Clock::now();
            const NILOState state = GetData(handle, buffer.data(), size);
            const long long callMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before).count();
            outcome.longestCallMs = std::max(outcome.longestCallMs, callMs);
            outcome.read.bytes.append(buffer.data(), size);
            outcome.read.results.push_back(state);
            outcome.read.sizes.push_back(size);
            if (state > NILO_MULTIPART) break;
        }
    } catch (const std::exception& e) {
        outcome.raised = e.what();
    }
    outcome.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    DisconnectNILO(handle);
    return outcome;
}

class HttpHostileTest : public testing::TestWithParam<Hostile> {};

TEST_P(HttpHostileTest, EndsInTimeWithBoundedMemory) {
    const Hostile& row = GetParam();
    ScriptedServer server;
    row.serve(server);
    const std::string url = Url(server, "/hostile");

    const bool measured = ResetPeak();
    const long long baselineKiB = ReadStatusKiB("VmRSS");
    Outcome outcome;
    // Under an emulator the work takes longer; the limit still tells bounded
    // work from work that grows with what the peer sends.
    const int timeLimitMs = row.timeLimitMs * testsupport::TimeScale();
    Capture([&] { outcome = ReadToTheEnd(url.c_str(), timeLimitMs); });
    const long long peakKiB = ReadStatusKiB("VmHWM");

    EXPECT_LE(outcome.elapsedMs, timeLimitMs) << "results " << testing::PrintToString(outcome.read.results);
    EXPECT_LE(outcome.longestCallMs, kCallLimitMs);
    if (row.raised != nullptr) {
        EXPECT_EQ(outcome.raised, row.raised);
    } else {
        EXPECT_EQ(outcome.raised, "");
        EXPECT_EQ(outcome.read.last(), row.end);
    }
    if (row.delivered) {
        EXPECT_EQ(outcome.read.bytes.size(), row.delivered->size());
        EXPECT_TRUE(outcome.read.bytes == *row.delivered)
            << "delivered " << testing::PrintToString(outcome.read.bytes.substr(0, 64));
    }
    if (measured && baselineKiB >= 0 && peakKiB >= 0) {
        EXPECT_LE(peakKiB - baselineKiB, row.memoryLimitMiB * 1024LL * kShadowScale) << "peak " << peakKiB << " KiB";
    }
}

std::string RowName(const testing::TestParamInfo<Hostile>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Peers, HttpHostileTest, testing::ValuesIn(kRows), RowName);

}  // namespace
