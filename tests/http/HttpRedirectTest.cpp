// Redirects: 301, 302 and 303 are followed to their Location on a new
// connection, three times per source; the fourth raises.

#include <gtest/gtest.h>

#include <string>

#include "HttpCase.h"
#include "NetTestHelpers.h"

namespace {

using Script = ScriptedServer::Script;

std::string Redirect(int status, const std::string& location, const std::string& body = "") {
    return "HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string HostOf(const ScriptedServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }

const std::string kFinal = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone";

class HttpRedirectTest : public testing::Test {
protected:
    // Connection k of the server plays responses[k].
    void Serve(const std::vector<std::string>& responses, size_t pieceSize = 0) {
        for (const std::string& r : responses) server.Add(Script(pieceSize).AwaitRequest().Send(r).Close());
    }
    std::string At(const std::string& path) const { return Url(server, path); }

    ScriptedServer server;
};

TEST_F(HttpRedirectTest, FollowsThreeAndRaisesAtTheFourth) {
    Serve({Redirect(301, At("/2")), Redirect(302, At("/3"), "moved"), Redirect(303, At("/4")),
           Redirect(302, At("/5")), kFinal});
    void* h = ConnectURL(At("/1").c_str(), 1, "", "");
    std::string message;
    NiloRead read;
    const Output output = Capture([&] {
        try {
            read = ReadAll(h);
        } catch (const std::exception& e) {
            message = e.what();
        }
    });
    EXPECT_EQ(message, "too much redirections");
    EXPECT_EQ(output.out, "redircounter: 1\nredircounter: 2\nredircounter: 3\nredircounter: 4\n");
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(server.Received(k).rfind("GET /" + std::to_string(k + 1) + " HTTP/1.1\r\nHost: " + HostOf(server) +
                                               "\r\n",
                                           0),
                  0u)
            << k;
    // The source has failed: reading on neither asks the fourth target nor
    // follows it, so a server cannot keep a caller reconnecting for ever.
    char byte;
    unsigned room = 1;
    EXPECT_EQ(GetData(h, &byte, room), NILO_ERROR);
    EXPECT_EQ(room, 0u);
    EXPECT_EQ(server.Received(4), "");
    DisconnectNILO(h);
}

// A followed redirect's body is read to its end, so the connection stays in
// step, but not handed out: the caller gets the target's bytes alone, and
// the read that completes the redirect returns NILO_REDIRECTED without data.
TEST_F(HttpRedirectTest, RedirectBodyIsSkippedAndTheTargetRead) {
    for (size_t pieceSize : {size_t{0}, size_t{1}}) {
        SCOPED_TRACE(pieceSize);
        ScriptedServer local;
        for (const std::string& r : {Redirect(301, "http://127.0.0.1:" + std::to_string(local.Port()) + "/next", "moved"),
                                     kFinal})
            local.Add(Script(pieceSize).AwaitRequest().Send(r).Close());
        void* h = ConnectURL(Url(local, "/first").c_str(), 1, "", "");
        NiloRead read;
        Capture([&] { read = ReadAll(h); });
        EXPECT_EQ(read.bytes, "done");
        EXPECT_EQ(read.last(), NILO_END);
        int redirected = 0;
        for (size_t i = 0; i < read.results.size(); ++i) {
            if (read.results[i] != NILO_REDIRECTED) continue;
            ++redirected;
            EXPECT_EQ(read.sizes[i], 0u);
        }
        EXPECT_EQ(redirected, 1);
        EXPECT_NE(std::string(GetLog(h)).find("\n(5 bytes of body skipped)\n"), std::string::npos);
        DisconnectNILO(h);
    }
}

TEST_F(HttpRedirectTest, LocationsThatCannotBeFollowed) {
    const int freePort = ScriptedServer::UnusedPort();
    const struct {
        std::string location;
        NILOState last;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(freePort) + "/gone", NILO_ERROR},  // nothing listens there
        {"pelix://127.0.0.1:" + std::to_string(freePort) + "/", NILO_ERROR},
        {"http://127.0.0.1/a\x7f", NILO_ERROR},                                // invalid character
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        ScriptedServer local;
        local.Add(Script().AwaitRequest().Send(Redirect(302, c.location)).Close());
        void* h = ConnectURL(Url(local).c_str(), 1, "", "");
        NiloRead read;
        Capture([&] { read = ReadAll(h); });
        EXPECT_EQ(read.last(), c.last);
        EXPECT_EQ(read.bytes, "");
        DisconnectNILO(h);
    }
}

// A relative Location names a target on the server that sent it, resolved
// against the URL of the response that carried it.
TEST_F(HttpRedirectTest, RelativeLocationsAreResolvedAgainstTheResponse) {
    const struct {
        const char* from;
        const char* location;  // "//" stands for "//127.0.0.1:port"
        const char* target;
    } cases[] = {
        {"/a/b/c", "/login", "/login"},
        {"/a/b/c", "next.html", "/a/b/next.html"},
        {"/a/b/c", "../x", "/a/x"},
        {"/a/b/c", "./d/./e/../f", "/a/b/d/f"},
        {"/a/b/c?q=1", "?page=2", "/a/b/c?page=2"},
        {"/a/b/c", "../../../../up", "/up"},
        {"/cam", "///other", "/other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        ScriptedServer local;
        std::string location = c.location;
        if (location.rfind("//", 0) == 0) location = "//127.0.0.1:" + std::to_string(local.Port()) + location.substr(2);
        local.Add(Script().AwaitRequest().Send(Redirect(302, location)).Close());
        local.Add(Script().AwaitRequest().Send(kFinal).Close());
        void* h = ConnectURL(Url(local, c.from).c_str(), 1, "", "");
        NiloRead read;
        const Output output = Capture([&] { read = ReadAll(h); });
        EXPECT_EQ(read.bytes, "done");
        EXPECT_EQ(read.last(), NILO_END);
        EXPECT_EQ(output.out, "redircounter: 1\n");
        EXPECT_EQ(local.Received(1).rfind("GET " + std::string(c.target) + " HTTP/1.1\r\nHost: " + HostOf(local) + "\r\n",
                                          0),
                  0u)
            << local.Received(1);
        DisconnectNILO(h);
    }
}

TEST_F(HttpRedirectTest, RedirectToPelixIsConnectedThenFails) {
    Serve({Redirect(303, "pelix://127.0.0.1:" + std::to_string(server.Port()) + "/p")});
    server.Add(Script().FallSilent());  // the pelix connection: accepted, never spoken to
    void* h = ConnectURL(At("/").c_str(), 1, "", "");
    NiloRead read;
    const Output output = Capture([&] { read = ReadAll(h); });
    EXPECT_EQ(output.out, "redircounter: 1\n");
    ASSERT_GE(read.results.size(), 2u);
    EXPECT_EQ(read.results[read.results.size() - 2], NILO_REDIRECTED);
    EXPECT_EQ(read.last(), NILO_ERROR);
    // The connection to the target was made (the server may take a moment to accept it).
    EXPECT_TRUE(server.WaitReceived(1, 0));
    EXPECT_EQ(server.Accepted(), 2u);
    DisconnectNILO(h);
}

TEST_F(HttpRedirectTest, HttpsLocationRaisesTheInteger22) {
    Serve({Redirect(302, "https://127.0.0.1/secure")});
    void* h = ConnectURL(At("/").c_str(), 1, "", "");
    int raised = 0;
    for (int call = 0; call < 20 && raised == 0; ++call) {
        char byte;
        unsigned room = 1;
        try {
            GetData(h, &byte, room);
        } catch (int e) {
            raised = e;
        }
    }
    EXPECT_EQ(raised, 22);
    DisconnectNILO(h);
}

// Only 301, 302 and 303 with a Location are followed; any other response,
// a 3xx without Location included, is the caller's.
TEST_F(HttpRedirectTest, OtherStatusCodesAreReadLikeOk) {
    for (int status : {300, 307, 308}) {
        SCOPED_TRACE(status);
        ScriptedServer local;
        local.Add(Script().AwaitRequest().Send(Redirect(status, Url(local, "/elsewhere"), "body")).Close());
        void* h = ConnectURL(Url(local).c_str(), 1, "", "");
        const NiloRead read = ReadAll(h);
        EXPECT_EQ(read.bytes, "body");
        EXPECT_EQ(read.last(), NILO_END);
        EXPECT_EQ(local.Accepted(), 1u);
        DisconnectNILO(h);
    }
}

TEST_F(HttpRedirectTest, RedirectWithoutLocationIsAnOrdinaryResponse) {
    for (int status : {301, 302, 303}) {
        SCOPED_TRACE(status);
        ScriptedServer local;
        local.Add(Script().AwaitRequest().Send("HTTP/1.1 " + std::to_string(status) +
                                               " Moved\r\nContent-Length: 4\r\n\r\nbody").Close());
        void* h = ConnectURL(Url(local).c_str(), 1, "", "");
        const NiloRead read = ReadAll(h);
        EXPECT_EQ(read.bytes, "body");
        EXPECT_EQ(read.last(), NILO_END);
        DisconnectNILO(h);
    }
}

// A line break in a Location ends its field line; what follows it is a
// field of the response, never a line of the next request.
TEST_F(HttpRedirectTest, LineBreakInLocationReachesNoRequest) {
    Serve({"HTTP/1.1 302 Found\r\nLocation: " + At("/next") + "\nX-Injected: 1\r\nContent-Length: 0\r\n\r\n", kFinal});
    void* h = ConnectURL(At("/").c_str(), 1, "", "");
    NiloRead read;
    Capture([&] { read = ReadAll(h); });
    EXPECT_EQ(read.bytes, "done");
    EXPECT_EQ(server.Received(1), "GET /next HTTP/1.1\r\nHost: " + HostOf(server) +
                                      "\r\nAccept: */*\r\nConnection: Keep-Alive\r\nUser-Agent: Nilo/1.7 (Brantol, "
                                      "Nilo-lib)\r\n\r\n");
    DisconnectNILO(h);
}

TEST_F(HttpRedirectTest, BlanksBeforeTheLocationAreSkipped) {
    Serve({"HTTP/1.1 302 Found\r\nLocation:    " + At("/next") + "\r\nContent-Length: 0\r\n\r\n", kFinal});
    void* h = ConnectURL(At("/").c_str(), 1, "", "");
    NiloRead read;
    Capture([&] { read = ReadAll(h); });
    EXPECT_EQ(read.bytes, "done");
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_EQ(server.Received(1).rfind("GET /next HTTP/1.1\r\n", 0), 0u);
    DisconnectNILO(h);
}

}  // namespace
