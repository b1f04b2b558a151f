// The exported functions called from many threads at once, through the real
// shared library and nilo.h only. Worker threads never use the test
// framework's assertions: they collect what went wrong as text, and the main
// thread reports it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FileFixture.h"
#include "NetTestHelpers.h"
#include "ScriptedServer.h"
#include "nilo.h"

namespace {

using Script = ScriptedServer::Script;

// What went wrong on one thread.
class Problems {
public:
    void Check(bool ok, const std::string& what) {
        if (!ok) texts.push_back(what);
    }
    std::vector<std::string> texts;
};

std::string Report(const std::vector<Problems>& all) {
    std::ostringstream out;
    for (size_t t = 0; t < all.size(); ++t)
        for (const std::string& text : all[t].texts) out << "thread " << t << ": " << text << "\n";
    return out.str();
}

// Runs body(t) on `count` threads at once and returns what each found wrong.
std::vector<Problems> OnThreads(size_t count, const std::function<void(size_t, Problems&)>& body) {
    std::vector<Problems> problems(count);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < count; ++t) threads.emplace_back([&, t] {
        try {
            body(t, problems[t]);
        } catch (const std::exception& e) {
            problems[t].Check(false, std::string("exception: ") + e.what());
        }
    });
    for (std::thread& thread : threads) thread.join();
    return problems;
}

// Bytes that differ for every seed, so that bytes of one handle showing up
// at another are caught.
std::string SeededBytes(size_t count, uint32_t seed) {
    std::string s(count, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::string LittleEndian(uint32_t n) {
    return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 24)};
}

std::string HttpUrl(const ScriptedServer& server, const std::string& path) {
    return "http://" + server.Host() + ":" + std::to_string(server.Port()) + path;
}

// One GetData of up to `room` bytes, appended to `bytes`. NILO_ERROR
// delivers nothing (for a closed handle, size is left as it was).
NILOState Read(const void* handle, std::string& bytes, unsigned room = 1023) {
    char buffer[4096];
    unsigned size = room;
    const NILOState state = GetData(handle, buffer, size);
    if (state != NILO_ERROR) bytes.append(buffer, size);
    return state;
}

// An HTTP response and what a caller must receive from it: a Content-Length
// body, or a multipart stream of three parts.
struct Response {
    std::string wire;
    std::string delivered;
};

Response MakeResponse(uint32_t seed, bool multipart) {
    Response r;
    if (!multipart) {
        r.delivered = SeededBytes(20 * 1000, seed);
        r.wire = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(r.delivered.size()) + "\r\n\r\n" + r.delivered;
        return r;
    }
    r.wire = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=b\r\n\r\n";
    for (uint32_t k = 0; k < 3; ++k) {
        const std::string part = SeededBytes(6000 + 1000 * k, seed * 3 + k);
        r.wire += "--b\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(part.size()) + "\r\n\r\n" +
                  part + "\r\n";
        r.delivered += LittleEndian(static_cast<uint32_t>(part.size())) + part;
    }
    r.wire += "--b--\r\n";
    return r;
}

// Every thread has its own file source, file sink and HTTP source (on a
// server of its own), opens them, reads the two sources in turns, copies the
// file into the sink, logs and disconnects, round after round. Unlocked
// handle tables crash here within a few rounds.
TEST(NiloThreadsTest, ThreadsWithTheirOwnHandlesGetExactlyTheirOwnBytes) {
    constexpr size_t kThreads = 8;
    constexpr size_t kRounds = 40;
    TempFolder folder;
    std::vector<std::string> contents;
    for (size_t t = 0; t < kThreads; ++t) {
        contents.push_back(SeededBytes(30 * 1000 + 1000 * t, static_cast<uint32_t>(t)));
        writeFile(folder / ("in" + std::to_string(t)), contents.back());
    }

    const auto problems = OnThreads(kThreads, [&](size_t t, Problems& p) {
        ScriptedServer server;
        std::vector<Response> responses;
        for (size_t r = 0; r < kRounds; ++r) {
            responses.push_back(MakeResponse(static_cast<uint32_t>(1000 + t * kRounds + r), r % 2 == 1));
            server.Add(Script().AwaitRequest().Send(responses.back().wire).Close());
        }
        for (size_t r = 0; r < kRounds; ++r) {
            const std::string round = "round " + std::to_string(r) + ": ";
            const std::string path = "/t" + std::to_string(t) + "/r" + std::to_string(r);
            const std::string sinkName = folder / ("out" + std::to_string(t));
            void* file = ConnectURL(FileUrl(folder / ("in" + std::to_string(t))).c_str(), 1, nullptr, nullptr);
            void* sink = ConnectURL(FileUrl(sinkName).c_str(), 0, nullptr, nullptr);
            void* http = ConnectURL(HttpUrl(server, path).c_str(), 1, nullptr, nullptr);

            std::string fileBytes, httpBytes;
            NILOState fileState = NILO_NONE, httpState = NILO_NONE;
            for (int calls = 0; calls < 100000 && (fileState <= NILO_MULTIPART || httpState <= NILO_MULTIPART);
                 ++calls) {
                if (fileState <= NILO_MULTIPART) {
                    const size_t before = fileBytes.size();
                    fileState = Read(file, fileBytes);
                    if (fileBytes.size() > before) {
                        const NILOState written = WriteData(sink, &fileBytes[before],
                                                            static_cast<unsigned>(fileBytes.size() - before));
                        p.Check(written == NILO_DATA, round + "WriteData gave " + std::to_string(written));
                    }
                }
                if (httpState <= NILO_MULTIPART) httpState = Read(http, httpBytes);
            }
            p.Check(fileState == NILO_END, round + "file source ended with " + std::to_string(fileState));
            p.Check(fileBytes == contents[t], round + "file bytes differ");
            p.Check(httpState == NILO_END, round + "HTTP source ended with " + std::to_string(httpState));
            p.Check(httpBytes == responses[r].delivered, round + "HTTP bytes differ");

            const char* httpLog = GetLog(http);
            p.Check(httpLog != nullptr && std::string(httpLog).find("GET " + path + " HTTP/1.1") != std::string::npos,
                    round + "the HTTP log lacks its own request");
            const char* fileLog = GetLog(file);
            p.Check(fileLog != nullptr && std::string(fileLog).empty(), round + "the file log is not empty");

            DisconnectNILO(http);
            DisconnectNILO(file);
            DisconnectNILO(sink);
            p.Check(readFile(sinkName) == contents[t], round + "the sink file differs");
        }
    });
    EXPECT_EQ(Report(problems), "");
}

// Two threads reading one handle share its bytes: each byte reaches exactly
// one of them, in one piece of a whole call. The file holds its own offsets
// (4-byte counters), and every piece starts at a multiple of 4, so each piece
// says where it came from. On a busy machine one thread may get through the
// whole file before the other runs at all: the read is then repeated, up to
// a few times, until both had a share.
TEST(NiloThreadsTest, ThreadsSharingAHandleTakeTurns) {
    constexpr uint32_t kWords = 256 * 1024;
    std::string content;
    for (uint32_t i = 0; i < kWords; ++i) content += LittleEndian(i);
    TempFolder folder;
    writeFile(folder / "counters", content);

    bool bothHadAShare = false;
    for (int attempt = 0; attempt < 5 && !bothHadAShare; ++attempt) {
        void* h = ConnectURL(FileUrl(folder / "counters").c_str(), 1, nullptr, nullptr);
        std::vector<std::vector<std::string>> pieces(2);
        std::atomic<int> ready{0};
        std::atomic<int> started{0};  // threads that have taken a first piece
        const auto problems = OnThreads(2, [&](size_t t, Problems& p) {
            for (++ready; ready < 2;) std::this_thread::yield();
            for (NILOState state = NILO_DATA; state <= NILO_MULTIPART;) {
                std::string piece;
                state = Read(h, piece, 1024);
                p.Check(state == NILO_DATA || state == NILO_END, "GetData gave " + std::to_string(state));
                if (piece.empty()) continue;
                pieces[t].push_back(piece);
                // After its first piece a thread lets the other one catch up
                // (for a bounded time), so that a busy machine cannot let one
                // thread read the whole file before the other has begun.
                if (pieces[t].size() == 1) {
                    ++started;
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                    while (started < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
                }
            }
        });
        DisconnectNILO(h);
        ASSERT_EQ(Report(problems), "");

        std::vector<std::pair<uint32_t, std::string>> all;
        for (const auto& list : pieces)
            for (const std::string& piece : list) {
                uint32_t offset = 0;
                std::memcpy(&offset, piece.data(), piece.size() < 4 ? piece.size() : 4);
                all.emplace_back(offset * 4, piece);
            }
        std::sort(all.begin(), all.end());
        std::string joined;
        for (const auto& [offset, piece] : all) {
            ASSERT_EQ(offset, joined.size()) << "a piece is lost, repeated or torn";
            joined += piece;
        }
        ASSERT_EQ(joined, content);
        bothHadAShare = !pieces[0].empty() && !pieces[1].empty();
    }
    EXPECT_TRUE(bothHadAShare) << "one thread always got everything: nothing was shared";
}

// A GetData that waits on a silent peer (up to 500 ms per poll) holds up its
// own handle only: other handles connect, read, log and disconnect meanwhile.
// A DisconnectNILO of the waiting handle waits for that call to finish (it
// ends as a quiet poll does); every later call on the handle finds it closed.
//
// The other handle's work must be done before the waiting call's 500 ms are
// over. A machine stalled for that long proves nothing either way, so such a
// round is tried again; a lock shared by all handles fails every round.
TEST(NiloThreadsTest, ASlowCallHoldsUpOnlyItsOwnHandle) {
    constexpr int kRounds = 3;
    int provedRounds = 0;
    for (int round = 0; round < kRounds && provedRounds == 0; ++round) {
        ScriptedServer server;
        server.Add(Script().AwaitRequest().FallSilent());
        void* slow = ConnectURL(HttpUrl(server, "/").c_str(), 1, nullptr, nullptr);
        std::atomic<bool> otherDone{false};
        bool otherDoneFirst = false;
        NILOState slowState = NILO_ERROR;
        std::string slowBytes;
        std::thread waiting([&] {
            slowState = Read(slow, slowBytes);  // sends the request, then waits for an answer
            otherDoneFirst = otherDone;
        });
        ASSERT_TRUE(server.WaitReceived(0, 1)) << "the request never came";

        // The waiting call has sent its request and now polls for 500 ms.
        TempFolder folder;
        writeFile(folder / "small", "small file");
        void* other = ConnectURL(FileUrl(folder / "small").c_str(), 1, nullptr, nullptr);
        std::string bytes;
        while (Read(other, bytes) <= NILO_MULTIPART) {
        }
        EXPECT_NE(GetLog(other), nullptr);
        DisconnectNILO(other);
        otherDone = true;
        EXPECT_EQ(bytes, "small file");

        DisconnectNILO(slow);
        waiting.join();
        EXPECT_EQ(slowState, NILO_DATA) << "the waiting call did not end as a quiet poll";
        EXPECT_EQ(slowBytes, "");
        std::string after;
        EXPECT_EQ(Read(slow, after), NILO_ERROR);
        EXPECT_EQ(after, "");
        EXPECT_EQ(GetLog(slow), nullptr);
        char byte = 'x';
        EXPECT_EQ(WriteData(slow, &byte, 1), NILO_ERROR);
        DisconnectNILO(slow);  // a second time: nothing happens
        if (otherDoneFirst) ++provedRounds;
    }
    EXPECT_GT(provedRounds, 0) << "in " << kRounds << " rounds the other handle's calls never finished while the slow "
                               << "call waited: they waited for it";
}

// One thread disconnects handles that other threads are reading: file
// sources in the middle of their bytes and HTTP sources waiting on a peer
// that has fallen silent. A reader sees a prefix of its own bytes, then
// NILO_ERROR; nothing crashes, and no reader gets anybody else's bytes.
TEST(NiloThreadsTest, HandlesDisconnectedByAnotherThreadWhileBeingRead) {
    constexpr size_t kReaders = 6;
    constexpr size_t kRounds = 4;
    TempFolder folder;
    std::vector<std::string> contents;
    for (size_t t = 0; t < kReaders; ++t) {
        contents.push_back(SeededBytes(3 * 1000 * 1000, static_cast<uint32_t>(500 + t)));
        writeFile(folder / ("in" + std::to_string(t)), contents.back());
    }

    std::mutex queueLock;
    std::vector<void*> queue;  // handles for the disconnecting thread
    std::atomic<size_t> readersDone{0};
    std::thread disconnecting([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (readersDone < kReaders && std::chrono::steady_clock::now() < deadline) {
            std::vector<void*> taken;
            {
                std::lock_guard<std::mutex> hold(queueLock);
                taken.swap(queue);
            }
            for (void* h : taken) DisconnectNILO(h);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    const auto problems = OnThreads(kReaders, [&](size_t t, Problems& p) {
        ScriptedServer server;
        std::vector<std::string> bodies;
        for (size_t r = 0; r < kRounds; ++r) {
            // A header promising more than comes, part of the body, silence.
            bodies.push_back(SeededBytes(5000, static_cast<uint32_t>(7000 + t * kRounds + r)));
            server.Add(Script()
                           .AwaitRequest()
                           .Send("HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n" + bodies.back())
                           .FallSilent());
        }
        for (size_t r = 0; r < kRounds; ++r) {
            const std::string round = "round " + std::to_string(r) + ": ";
            void* file = ConnectURL(FileUrl(folder / ("in" + std::to_string(t))).c_str(), 1, nullptr, nullptr);
            void* http = ConnectURL(HttpUrl(server, "/").c_str(), 1, nullptr, nullptr);
            std::string fileBytes, httpBytes;
            // Read a little of each, then hand both over and read on until
            // the handles are gone.
            Read(file, fileBytes);
            Read(http, httpBytes);
            {
                std::lock_guard<std::mutex> hold(queueLock);
                queue.push_back(file);
                queue.push_back(http);
            }
            NILOState fileState = NILO_DATA, httpState = NILO_DATA;
            for (int calls = 0; calls < 100000 && (fileState <= NILO_MULTIPART || httpState <= NILO_MULTIPART);
                 ++calls) {
                if (fileState <= NILO_MULTIPART) fileState = Read(file, fileBytes);
                if (httpState <= NILO_MULTIPART) httpState = Read(http, httpBytes);
            }
            // The file may have ended before it was disconnected; the HTTP
            // source waits for bytes that never come, so it ends closed.
            p.Check(fileState == NILO_ERROR || (fileState == NILO_END && fileBytes == contents[t]),
                    round + "file source ended with " + std::to_string(fileState));
            p.Check(contents[t].compare(0, fileBytes.size(), fileBytes) == 0 && fileBytes.size() <= contents[t].size(),
                    round + "file bytes are not a prefix of the file");
            p.Check(httpState == NILO_ERROR, round + "HTTP source ended with " + std::to_string(httpState));
            p.Check(bodies[r].compare(0, httpBytes.size(), httpBytes) == 0 && httpBytes.size() <= bodies[r].size(),
                    round + "HTTP bytes are not a prefix of the body");
            p.Check(GetLog(http) == nullptr && GetLog(file) == nullptr, round + "a closed handle still has a log");
        }
        ++readersDone;
    });
    disconnecting.join();
    EXPECT_EQ(Report(problems), "");
}

// Diagnostic lines that threads write at the same time stay whole lines:
// "url path: " for every file source opened, "Could not connect" for every
// refused connection.
TEST(NiloThreadsTest, DiagnosticLinesFromManyThreadsStayWhole) {
    constexpr size_t kThreads = 8;
    constexpr size_t kOpens = 200;
    TempFolder folder;
    writeFile(folder / "f", "x");
    const int refused = ScriptedServer::UnusedPort();
    const std::string fileUrl = FileUrl(folder / "f");
    const std::string refusedUrl = "http://127.0.0.1:" + std::to_string(refused) + "/";

    std::vector<Problems> problems;
    const Output output = Capture([&] {
        problems = OnThreads(kThreads, [&](size_t t, Problems& p) {
            for (size_t i = 0; i < kOpens; ++i) {
                if (t % 2 == 0) {
                    DisconnectNILO(ConnectURL(fileUrl.c_str(), 1, nullptr, nullptr));
                } else {
                    try {
                        DisconnectNILO(ConnectURL(refusedUrl.c_str(), 1, nullptr, nullptr));
                        p.Check(false, "a refused port connected");
                    } catch (const std::exception&) {
                    }
                }
            }
        });
    });
    ASSERT_EQ(Report(problems), "");

    auto countLines = [](const std::string& text, const std::string& line, size_t& other) {
        size_t count = 0;
        std::istringstream in(text);
        for (std::string got; std::getline(in, got);) (got == line ? count : other) += 1;
        return count;
    };
    size_t otherOut = 0, otherErr = 0;
    // The URL path is the file URL after "file://".
    EXPECT_EQ(countLines(output.out, "url path: " + fileUrl.substr(7), otherOut), kThreads / 2 * kOpens);
    EXPECT_EQ(countLines(output.err, "Could not connect", otherErr), kThreads / 2 * kOpens);
    EXPECT_EQ(otherOut + otherErr, 0u) << output.out << output.err;
}

}  // namespace
