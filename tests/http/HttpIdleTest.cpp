// A peer that falls silent for longer than the idle limit ends the source with
// NILO_ERROR once the bytes it sent are delivered. The clock is moved on
// instead of waiting for the limit.

#include <gtest/gtest.h>

#include <string>

#include "HttpCase.h"
#include "client/BRDataSourceDescriptor.h"
#include "client/BRURLClient.h"
#include "net/BRClock.h"

namespace {

// A clock that stands still unless the test moves it.
const int64_t kStart = 1700000000;
int64_t gOffset = 0;
int64_t FrozenNow() { return kStart + gOffset; }

struct FrozenClock {
    FrozenClock() { BRClock::SetSource(FrozenNow); }
    ~FrozenClock() { BRClock::Reset(); }
};

TEST(HttpIdleTest, SilentPeerPastTheIdleLimitFailsTheSource) {
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
    for (const std::string& response : {header + "12345", std::string("HTTP/1.1 200 OK\r\nContent-Le")}) {
        SCOPED_TRACE(response);
        FrozenClock clock;
        gOffset = 0;
        ScriptedServer server;
        server.Add(ScriptedServer::Script().AwaitRequest().Send(response).FallSilent());
        BRURLClient client;
        BRDataSourceDescriptor* d = client.connect(Url(server), 1, "", "");
        BRDataBuffer target(2048);

        EXPECT_EQ(client.getData(d, target), NILO_DATA);
        ASSERT_TRUE(server.WaitSteps(0, 2));
        // Silent, but within the limit: the source goes on.
        EXPECT_EQ(client.getData(d, target), NILO_DATA);
        gOffset = 60;
        EXPECT_EQ(client.getData(d, target), NILO_DATA);
        gOffset = 61;
        EXPECT_EQ(client.getData(d, target), NILO_ERROR);
        EXPECT_EQ(std::string(target.Data(), target.Size()), response == header + "12345" ? "12345" : "");
        EXPECT_EQ(client.getData(d, target), NILO_ERROR);
        client.disconnect(d);
    }
}

}  // namespace
