#include "net/BRStandardIOBufferTCPIP.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NetTestHelpers.h"
#include "ScriptedServer.h"
#include "Wine.h"
#include "diag/BRException.h"
#include "net/BRClock.h"

namespace {

using Family = ScriptedServer::Family;
using Script = ScriptedServer::Script;

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26 + (i / 26) % 7);
    return s;
}

std::string Content(BRDataBuffer& side) { return std::string(side.Data(), side.Size()); }

std::unique_ptr<BRStandardIOBufferTCPIP> ConnectedBuffer(const ScriptedServer& server) {
    auto socket = std::make_unique<BRSocketIPvx>();
    EXPECT_EQ(socket->Connect(server.Host(), server.Port()), 0);
    return std::make_unique<BRStandardIOBufferTCPIP>(8192, 8192, socket.release());
}

// Polls until the receive side holds `bytes` bytes; every poll may add at most
// the receive room. Gives up after a bounded number of polls.
void PollUntil(BRStandardIOBufferTCPIP& io, size_t bytes) {
    for (int polls = 0; io.ReceiveBuffer().Size() < bytes && polls < 20; ++polls) {
        const uint32_t before = io.ReceiveBuffer().Size();
        const uint32_t room = io.ReceiveRoom();
        io.Poll();
        EXPECT_LE(io.ReceiveBuffer().Size() - before, room);
    }
    ASSERT_EQ(io.ReceiveBuffer().Size(), bytes);
}

void ExpectRaises(BRStandardIOBufferTCPIP& io, const std::string& message) {
    try {
        io.Poll();
        ADD_FAILURE() << "Poll did not raise \"" << message << "\"";
    } catch (const BRException& e) {
        EXPECT_EQ(e.message, message);
    }
}

TEST(BRStandardIOBufferTest, NullSocketRaisesNoClient) {
    try {
        BRStandardIOBufferTCPIP io(8192, 8192, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const BRException& e) {
        EXPECT_STREQ(e.what(), "no client");
    }

    BRStandardIOBuffer plain(16, 16);
    EXPECT_FALSE(plain.Poll());
    plain.Flush();
    EXPECT_FALSE(plain.IsClosed());
}

TEST(BRStandardIOBufferTest, UnconnectedSocketNeverWaitsAndKeepsWhatItCouldNotSend) {
    auto socket = std::make_unique<BRSocketIPvx>();
    Capture([&] { socket->Connect("a..b", 80); });
    BRStandardIOBufferTCPIP io(8192, 8192, socket.release());

    EXPECT_EQ(Capture([&] { io.Flush(); }).out, "") << "an empty send side must not reach the socket";
    io.SendBuffer().Append("abc", 3);
    EXPECT_EQ(Capture([&] { io.Flush(); }).out, "no socket\n");
    EXPECT_EQ(Content(io.SendBuffer()), "abc");

    EXPECT_LT(MillisecondsTaken([&] { EXPECT_FALSE(io.Poll()); }), kPromptMs);
    EXPECT_FALSE(io.IsClosed());
}

class BRStandardIOBufferFamilyTest : public testing::TestWithParam<Family> {};

// The whole life of a read: 10000 bytes waiting come in receives of at most
// the receive room (8 KiB to start with), then the closed peer gives one
// empty ready poll and after that "strange number of bytes at poll" on every
// poll, promptly each time.
TEST_P(BRStandardIOBufferFamilyTest, TakesWhatIsThereUpToItsRoomThenReportsThePeerGone) {
    ScriptedServer server(GetParam());
    NILO_SKIP_UNLESS_LISTENING(server);
    const std::string payload = Pattern(10000);
    server.Add(Script().Send(payload).Close());
    auto io = ConnectedBuffer(server);
    ASSERT_TRUE(server.WaitSteps(0, 1));  // all 10000 bytes are on their way

    EXPECT_TRUE(io->Poll());
    EXPECT_EQ(io->ReceiveBuffer().Size(), BRStandardIOBufferTCPIP::kLeastRoom);
    PollUntil(*io, payload.size());
    EXPECT_EQ(Content(io->ReceiveBuffer()), payload);

    EXPECT_LT(MillisecondsTaken([&] { EXPECT_TRUE(io->Poll()); }), kPromptMs);
    EXPECT_LT(MillisecondsTaken([&] { ExpectRaises(*io, "strange number of bytes at poll"); }), kPromptMs);
    ExpectRaises(*io, "strange number of bytes at poll");
    EXPECT_EQ(Content(io->ReceiveBuffer()), payload) << "a failed poll must leave the buffer as it was";
    EXPECT_FALSE(io->IsClosed());
}

// While receives keep filling the room it doubles, to 64 KiB, so a fast
// peer costs few receives; a wait that finds the socket quiet brings it back.
TEST_P(BRStandardIOBufferFamilyTest, ReceiveRoomGrowsWhileDataKeepsComingAndShrinksWhenQuiet) {
    ScriptedServer server(GetParam());
    NILO_SKIP_UNLESS_LISTENING(server);
    const std::string payload = Pattern(2 * 1024 * 1024);
    server.Add(Script().Send(payload).FallSilent());
    auto io = ConnectedBuffer(server);
    uint32_t most = 0;
    for (int polls = 0; polls < 1000 && most < BRStandardIOBufferTCPIP::kMostRoom; ++polls) {
        io->Poll();
        most = std::max(most, io->ReceiveRoom());
        io->ReceiveBuffer().Clear();
    }
    EXPECT_EQ(most, BRStandardIOBufferTCPIP::kMostRoom);
    // Drain what is left, then a quiet wait.
    while (io->Poll()) io->ReceiveBuffer().Clear();
    EXPECT_EQ(io->ReceiveRoom(), BRStandardIOBufferTCPIP::kLeastRoom);
}

TEST_P(BRStandardIOBufferFamilyTest, SilentPeerReturnsFalseAfterTheReadinessWait) {
    ScriptedServer server(GetParam());
    NILO_SKIP_UNLESS_LISTENING(server);
    server.Add(Script().FallSilent());
    auto io = ConnectedBuffer(server);

    const long long taken = MillisecondsTaken([&] { EXPECT_FALSE(io->Poll()); });
    EXPECT_GE(taken, 450);
    EXPECT_LT(taken, 3000);
    EXPECT_EQ(io->ReceiveBuffer().Size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Loopback, BRStandardIOBufferFamilyTest, testing::Values(Family::IPv4, Family::IPv6),
                         FamilyName);

TEST(BRStandardIOBufferTest, ResetPeerEndsInTheSameException) {
    // Under Wine the scripted server's abortive close reaches the client as
    // an end of stream, not as a reset.
    if (testsupport::RunningUnderWine()) GTEST_SKIP() << "no connection reset under Wine";
    ScriptedServer server;
    // The reset comes once the connection is surely made: a reset that met
    // the connect itself would be taken by it.
    server.Add(Script().Pause(100).Abort());
    auto io = ConnectedBuffer(server);
    ASSERT_TRUE(server.WaitClosed(0));

    const Output output = Capture([&] { EXPECT_TRUE(io->Poll()); });
    EXPECT_EQ(output.out, "error in read (errno=" + std::to_string(kConnectionReset) + ")\n");
    ExpectRaises(*io, "strange number of bytes at poll");
}

// Replays receive results instead of reading the socket, so that empty ready
// polls and receipts can be interleaved at will.
class ReplayingBuffer : public BRStandardIOBufferTCPIP {
public:
    ReplayingBuffer(BRSocketIPvx* socket, std::deque<std::string> results)
        : BRStandardIOBufferTCPIP(8192, 8192, socket), results(std::move(results)) {}

    int32_t ReceiveRaw(char* buffer, int32_t capacity, int64_t& received) override {
        EXPECT_EQ(capacity, static_cast<int32_t>(BRStandardIOBufferTCPIP::kLeastRoom));
        EXPECT_EQ(received, 0) << "the count is preset to 0";
        if (results.empty()) return 0;
        const std::string next = results.front();
        results.pop_front();
        next.copy(buffer, next.size());
        received = static_cast<int64_t>(next.size());
        return 0;
    }

private:
    std::deque<std::string> results;
};

TEST(BRStandardIOBufferTest, BytesBetweenEmptyReadyPollsResetTheCount) {
    ScriptedServer server;
    server.Add(Script().Send("x").FallSilent());  // keeps the socket readable
    auto socket = std::make_unique<BRSocketIPvx>();
    ASSERT_EQ(socket->Connect(server.Host(), server.Port()), 0);
    ReplayingBuffer io(socket.release(), {"", "ab", "", "cd", "", ""});

    EXPECT_TRUE(io.Poll());
    EXPECT_TRUE(io.Poll());
    EXPECT_TRUE(io.Poll()) << "bytes in between must reset the empty-receive count";
    EXPECT_TRUE(io.Poll());
    EXPECT_TRUE(io.Poll());
    ExpectRaises(io, "strange number of bytes at poll");
    EXPECT_EQ(Content(io.ReceiveBuffer()), "abcd");
}

int64_t fakeNow = 1'000'000;
int64_t FakeNow() { return fakeNow; }

class BRStandardIOBufferClockTest : public testing::Test {
protected:
    void SetUp() override { BRClock::SetSource(&FakeNow); }
    void TearDown() override { BRClock::Reset(); }
};

// The limit is strictly more than 60 whole seconds since the last receipt
// (or construction), and every receipt moves it on.
TEST_F(BRStandardIOBufferClockTest, SilenceBeyondTheIdleLimitRaisesSocketTimeout) {
    const int64_t start = 1'000'000;
    fakeNow = start;
    ScriptedServer server;
    server.Add(Script().AwaitRequest().Send("x").FallSilent());
    auto io = ConnectedBuffer(server);

    fakeNow = start + 60;
    EXPECT_FALSE(io->Poll());

    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    io->SendBuffer().Append(request.data(), static_cast<uint32_t>(request.size()));
    io->Flush();
    PollUntil(*io, 1);  // received at start + 60: the limit moves to start + 120

    fakeNow = start + 61;
    EXPECT_FALSE(io->Poll()) << "a receipt must move the limit on";
    fakeNow = start + 120;
    EXPECT_FALSE(io->Poll());
    fakeNow = start + 121;
    ExpectRaises(*io, "socket timeout");
    ExpectRaises(*io, "socket timeout");
    EXPECT_EQ(Content(io->ReceiveBuffer()), "x");
}

TEST(BRStandardIOBufferTest, PartialFlushKeepsTheRestAtTheFront) {
    ScriptedServer server(Family::IPv4, 4096);
    // The server reads nothing for a while, so the first flush cannot go
    // through whole; then it reads everything.
    server.Add(Script().Stall(1000).FallSilent());
    auto io = ConnectedBuffer(server);

    const std::string payload = Pattern(8 << 20);
    io->SendBuffer().Append(payload.data(), static_cast<uint32_t>(payload.size()));
    io->Flush();
    const uint32_t rest = io->SendBuffer().Size();
    ASSERT_GT(rest, 0u);
    ASSERT_LT(rest, payload.size());
    EXPECT_EQ(Content(io->SendBuffer()), payload.substr(payload.size() - rest));

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (io->SendBuffer().Size() > 0 && std::chrono::steady_clock::now() < giveUp) {
        io->Flush();
        if (io->SendBuffer().Size() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(io->SendBuffer().Size(), 0u);
    ASSERT_TRUE(server.WaitReceived(0, payload.size()));
    EXPECT_TRUE(server.Received(0) == payload) << "bytes were lost, repeated or reordered";
}

#if !defined(_WIN32)
// A descriptor set on Windows is a list of handles, so handle numbers do not
// matter there.

// Opens descriptors until the next free number is at least `above`, so that
// the next socket gets such a number. Closes them again at the end.
class HighDescriptors {
public:
    explicit HighDescriptors(int above) {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit raised = saved;
        if (raised.rlim_cur < static_cast<rlim_t>(above) + 64) {
            raised.rlim_cur = std::min<rlim_t>(raised.rlim_max, static_cast<rlim_t>(above) + 64);
            setrlimit(RLIMIT_NOFILE, &raised);
        }
        const int source = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (source < 0) return;
        fillers.push_back(source);
        for (;;) {
            const int fd = fcntl(source, F_DUPFD_CLOEXEC, 0);  // the lowest free number
            if (fd < 0) break;
            if (fd >= above) {
                close(fd);
                reached = true;
                break;
            }
            fillers.push_back(fd);
        }
    }
    ~HighDescriptors() {
        for (int fd : fillers) close(fd);
        setrlimit(RLIMIT_NOFILE, &saved);
    }
    bool reached = false;

private:
    rlimit saved{};
    std::vector<int> fillers;
};

// A descriptor set of the select interface holds numbers below 1024 only;
// the readiness probes must work for any number.
TEST(BRStandardIOBufferTest, WorksOnADescriptorAbove1024) {
    ScriptedServer server;
    server.Add(Script().AwaitRequest().Send("pong").FallSilent());
    HighDescriptors high(1100);
    if (!high.reached) GTEST_SKIP() << "cannot open enough descriptors here";
    auto io = ConnectedBuffer(server);

    io->SendBuffer().Append("ping\r\n\r\n", 8);
    io->Flush();
    PollUntil(*io, 4);
    EXPECT_EQ(Content(io->ReceiveBuffer()), "pong");
    EXPECT_FALSE(io->Poll());
    EXPECT_EQ(server.Received(0), "ping\r\n\r\n");
}
#endif

// Urgent data alone makes no bytes to read; taking it for readiness would
// block the receive.
TEST(BRStandardIOBufferTest, UrgentByteAloneIsNotReadiness) {
    ScriptedServer server;
    server.Add(Script().SendUrgent('!').FallSilent());
    auto io = ConnectedBuffer(server);
    ASSERT_TRUE(server.WaitSteps(0, 1));

    EXPECT_FALSE(io->Poll());
    EXPECT_EQ(io->ReceiveBuffer().Size(), 0u);
}

}  // namespace
