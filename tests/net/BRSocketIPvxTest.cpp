#include "net/BRSocketIPvx.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "DeadListener.h"
#include "NetTestHelpers.h"
#include "ScriptedServer.h"
#include "Wine.h"
#include "net/BRConnectLimit.h"
#include "net/BRSocketPlatform.h"

namespace {

using Family = ScriptedServer::Family;
using Script = ScriptedServer::Script;

int FreePort() {
    ScriptedServer server;  // the port is free again once the server is gone
    return server.Port();
}

// Receives through ReceiveIfReady until `bytes` bytes have come or the peer
// has gone quiet for ScriptedServer::kWaitMs.
std::string ReceiveAtLeast(BRSocketIPvx& socket, size_t bytes) {
    std::string received;
    char buffer[512];
    while (received.size() < bytes && socket.WaitReadable(ScriptedServer::kWaitMs)) {
        int64_t n = -1;
        EXPECT_EQ(socket.ReceiveIfReady(buffer, sizeof buffer, n), 0);
        if (n <= 0) break;
        received.append(buffer, static_cast<size_t>(n));
    }
    return received;
}

TEST(BRSocketIPvxTest, FirstSocketStartsTheLibraryAndTheLastReleasesIt) {
    ASSERT_EQ(BRSocketPlatform::LiveSockets(), 0);
    ASSERT_FALSE(BRSocketPlatform::LibraryStarted());
    const int64_t startsBefore = BRSocketPlatform::LibraryStarts();

    auto first = std::make_unique<BRSocketIPvx>();
    auto second = std::make_unique<BRSocketIPvx>();
    EXPECT_EQ(BRSocketPlatform::LiveSockets(), 2);
    EXPECT_EQ(BRSocketPlatform::LibraryStarts(), startsBefore + 1);

    first.reset();
    EXPECT_TRUE(BRSocketPlatform::LibraryStarted());
    second.reset();
    EXPECT_FALSE(BRSocketPlatform::LibraryStarted());
    EXPECT_EQ(BRSocketPlatform::LiveSockets(), 0);

    BRSocketIPvx again;
    EXPECT_EQ(BRSocketPlatform::LibraryStarts(), startsBefore + 2);
}

class BRSocketIPvxFamilyTest : public testing::TestWithParam<Family> {};

TEST_P(BRSocketIPvxFamilyTest, ExchangesBytesAndSeesThePeerClose) {
    ScriptedServer server(GetParam());
    NILO_SKIP_UNLESS_LISTENING(server);
    server.Add(Script().AwaitRequest().Send("hel", 1, 5).Send("lo").Close());  // in pieces
    const std::string request = "GET / HTTP/1.1\r\n\r\n";

    const Output output = Capture([&] {
        BRSocketIPvx socket;
        ASSERT_EQ(socket.Connect(server.Host(), server.Port()), 0);
        EXPECT_EQ(socket.HostName(), "");
        EXPECT_EQ(socket.ServiceName(), "");

        // Nothing has been sent yet: the probe gives up after about 1 ms.
        int64_t received = -1;
        char buffer[64];
        EXPECT_LT(MillisecondsTaken([&] { socket.ReceiveIfReady(buffer, sizeof buffer, received); }), kPromptMs);
        EXPECT_EQ(received, 0);
        EXPECT_FALSE(socket.IsReadable());

        int32_t sent = -1;
        EXPECT_EQ(socket.Send(request.data(), static_cast<int32_t>(request.size()), sent), 0);
        EXPECT_EQ(sent, static_cast<int32_t>(request.size()));
        EXPECT_EQ(ReceiveAtLeast(socket, 5), "hello");

        // The peer has closed: readable at once, and a receive brings 0 bytes.
        EXPECT_LT(MillisecondsTaken([&] { EXPECT_TRUE(socket.WaitReadable(500)); }), kPromptMs);
        received = -1;
        EXPECT_EQ(socket.Receive(buffer, sizeof buffer, received), 0);
        EXPECT_EQ(received, 0);
    });
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(server.Received(0), request);
}

INSTANTIATE_TEST_SUITE_P(Loopback, BRSocketIPvxFamilyTest, testing::Values(Family::IPv4, Family::IPv6), FamilyName);

struct FailedConnect {
    const char* name;
    std::string host;
    int32_t port;  // 0: a loopback port where nobody listens
    std::string errorPrefix;
    bool wholeLine;  // the error output is exactly errorPrefix
};

void PrintTo(const FailedConnect& c, std::ostream* out) { *out << c.name; }

class BRSocketIPvxFailedConnectTest : public testing::TestWithParam<FailedConnect> {};

TEST_P(BRSocketIPvxFailedConnectTest, PrintsOneLineAndLeavesAnInertSocket) {
    const FailedConnect& c = GetParam();
    const int32_t port = c.port != 0 ? c.port : FreePort();
    BRSocketIPvx socket;

    int32_t status = -1;
    Output output = Capture([&] { status = socket.Connect(c.host, port); });
    EXPECT_EQ(status, 2);
    EXPECT_EQ(output.out, "");
    ASSERT_EQ(output.err.rfind(c.errorPrefix, 0), 0u) << output.err;
    if (c.wholeLine) {
        EXPECT_EQ(output.err, c.errorPrefix);
    } else {
        EXPECT_GT(output.err.size(), c.errorPrefix.size() + 1) << "the resolver's message is missing";
        EXPECT_EQ(output.err.find('\n'), output.err.size() - 1) << "exactly one line: " << output.err;
    }

    // Without a connection: sends print "no socket" and report nothing, the
    // probes answer at once.
    int32_t sent = 77;
    output = Capture([&] { status = socket.Send("abc", 3, sent); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sent, 77);
    EXPECT_EQ(output.out, "no socket\n");

    EXPECT_LT(MillisecondsTaken([&] {
                  EXPECT_FALSE(socket.IsReadable());
                  EXPECT_FALSE(socket.WaitReadable(500));
                  int64_t received = 99;
                  char buffer[8];
                  EXPECT_EQ(socket.ReceiveIfReady(buffer, sizeof buffer, received), 0);
                  EXPECT_EQ(received, 0);
              }),
              kPromptMs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BRSocketIPvxFailedConnectTest,
    testing::Values(
        // An empty label cannot be looked up anywhere, so no name server is asked.
        FailedConnect{"UnresolvableHost", "a..b", 80, "getaddrinfo: ", false},
        FailedConnect{"NegativePort", "127.0.0.1", -1, "getaddrinfo: ", false},
        FailedConnect{"RefusedPort", "127.0.0.1", 0, "Could not connect\n", true}),
    [](const testing::TestParamInfo<FailedConnect>& info) { return std::string(info.param.name); });

// A host that drops connection attempts costs the connect limit, not the
// system's own time-out of minutes; then it counts as unreachable.
TEST(BRSocketIPvxTest, GivesUpOnAHostThatDropsConnectionAttempts) {
    DeadListener dead;
    if (!dead.Dropping()) GTEST_SKIP() << "this system refuses connections to a full listener instead of dropping them";
    constexpr int32_t kLimitMs = 200;
    BRConnectLimit::Set(kLimitMs);
    BRSocketIPvx socket;
    int32_t status = -1;
    long long taken = 0;
    const Output output = Capture([&] {
        taken = MillisecondsTaken([&] { status = socket.Connect("127.0.0.1", dead.Port()); });
    });
    BRConnectLimit::Reset();
    EXPECT_EQ(status, 2);
    EXPECT_EQ(output.err, "Could not connect\n");
    EXPECT_GE(taken, kLimitMs * 9 / 10) << "gave up before the limit: the attempt was not dropped but refused";
    EXPECT_LT(taken, 5000);
    EXPECT_FALSE(socket.WaitReadable(0));
}

// A send to a peer that has reset the connection must come back with a
// status; with a plain send a POSIX process would die of SIGPIPE.
TEST(BRSocketIPvxTest, ResetPeerGivesReadErrorAndFailedSendsWithoutSignal) {
    ScriptedServer server;
    // The reset comes once the connection is surely made: a reset that met
    // the connect itself would be taken by it.
    server.Add(Script().Pause(100).Abort());
    BRSocketIPvx socket;
    ASSERT_EQ(socket.Connect(server.Host(), server.Port()), 0);
    ASSERT_TRUE(server.WaitClosed(0));
    ASSERT_TRUE(socket.WaitReadable(ScriptedServer::kWaitMs));

    int64_t received = -1;
    char buffer[16];
    Output output = Capture([&] { EXPECT_EQ(socket.ReceiveIfReady(buffer, sizeof buffer, received), 0); });
    EXPECT_EQ(received, 0);
    // Under Wine the scripted server's abortive close reaches the client as
    // an end of stream, not as a reset.
    if (!testsupport::RunningUnderWine()) {
        EXPECT_EQ(output.out, "error in read (errno=" + std::to_string(kConnectionReset) + ")\n");
    }

    for (int attempt = 0; attempt < 3; ++attempt) {
        int32_t sent = -1;
        EXPECT_EQ(socket.Send("x", 1, sent), 3);
        EXPECT_EQ(sent, 0);
    }
}

TEST(BRSocketIPvxTest, SendToAPeerThatStopsReadingReportsThePartCount) {
    ScriptedServer server(Family::IPv4, 4096);
    server.Add(Script().Stall(ScriptedServer::kWaitMs));
    BRSocketIPvx socket;
    ASSERT_EQ(socket.Connect(server.Host(), server.Port()), 0);

    const std::string payload(8 << 20, 'p');
    int32_t sent = -1;
    int32_t status = -1;
    // The send returns at once with what fit; it does not wait for the peer.
    EXPECT_LT(MillisecondsTaken([&] { status = socket.Send(payload.data(), static_cast<int32_t>(payload.size()), sent); }),
              kPromptMs);
    EXPECT_EQ(status, 3);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int32_t>(payload.size()));

    // With the window full, nothing more fits: status 3 and nothing sent.
    int32_t more = -1;
    EXPECT_EQ(socket.Send(payload.data(), 1 << 20, more), 3);
    EXPECT_LT(more, 1 << 20);
}

}  // namespace
