// The request a source sends, and what its log holds.

#include <gtest/gtest.h>

#include <string>

#include "HttpCase.h"
#include "NetTestHelpers.h"

namespace {

const std::string kResponse = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string Request(const std::string& target, const std::string& host) {
    return "GET " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nAccept: */*\r\nConnection: Keep-Alive\r\nUser-Agent: Nilo/1.7 (Brantol, Nilo-lib)\r\n\r\n";
}

// The request a server on 127.0.0.1 must receive; Host carries its port.
std::string Request(const std::string& target, const ScriptedServer& server) {
    return Request(target, "127.0.0.1:" + std::to_string(server.Port()));
}

TEST(HttpRequestTest, RequestTextByteForByte) {
    const struct {
        const char* path;
        const char* target;
    } cases[] = {
        {"", "/"},
        {"/video.cgi?res=2", "/video.cgi?res=2"},
        {"/a?b=1#c", "/a?b=1#c"},
        {"#frag", "/#frag"},
        {"?q", "/?q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ScriptedServer server;
        server.Add(ScriptedServer::Script().AwaitRequest().Send(kResponse).Close());
        void* h = ConnectURL(Url(server, c.path).c_str(), 1, "viewer", "secret");
        ReadAll(h);
        DisconnectNILO(h);
        // User and password are never sent unasked.
        EXPECT_EQ(server.Received(0), Request(c.target, server));
    }
}

// An IPv6 address is written in brackets in the URL and in Host, and
// reached without them.
TEST(HttpRequestTest, IPv6LiteralHost) {
    ScriptedServer server(ScriptedServer::Family::IPv6);
    if (!server.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
    server.Add(ScriptedServer::Script().AwaitRequest().Send(kResponse).Close());
    void* h = ConnectURL(("http://[::1]:" + std::to_string(server.Port()) + "/cam").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h);
    DisconnectNILO(h);
    EXPECT_EQ(read.bytes, "ok");
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_EQ(server.Received(0), Request("/cam", "[::1]:" + std::to_string(server.Port())));
}

TEST(HttpRequestTest, SentOnceAndLoggedWithTheHeader) {
    ScriptedServer server;
    // The header comes in pieces, with pauses between them, so that it takes
    // several reads to collect.
    server.Add(ScriptedServer::Script().AwaitRequest().Send(kResponse, 10, 50).Close());
    void* h = ConnectURL(Url(server, "/x").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_GT(read.results.size(), 2u);
    EXPECT_EQ(server.Received(0), Request("/x", server));
    EXPECT_EQ(std::string(GetLog(h)), "\n" + Request("/x", server) + "\n\nHTTP/1.1 200 OK\r\nContent-Length: 2\n");
    EXPECT_EQ(std::string(GetLog(h)), "");
    DisconnectNILO(h);
}

TEST(HttpRequestTest, MultipartLogHoldsEveryPartHeader) {
    ScriptedServer server;
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=b";
    server.Add(ScriptedServer::Script()
                   .AwaitRequest()
                   .Send(header + "\r\n\r\n--b\r\nContent-Length: 1\r\n\r\nx\r\n--b\r\nContent-Length: 1\r\n\r\ny\r\n--b--\r\n")
                   .Close());
    void* h = ConnectURL(Url(server).c_str(), 1, "", "");
    EXPECT_EQ(ReadAll(h).last(), NILO_END);
    EXPECT_EQ(std::string(GetLog(h)), "\n" + Request("/", server) + "\n\n" + header + "\n\n--b\r\nContent-Length: 1\n\n" +
                                          "\r\n--b\r\nContent-Length: 1\n");
    DisconnectNILO(h);
}

// A stream that runs on logs every part header; a caller that never asks
// for the log must not pay for that with memory.
TEST(HttpRequestTest, LogOfALongStreamIsBounded) {
    ScriptedServer server;
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=b";
    const std::string part = "--b\r\nX-Padding: " + std::string(100, 'p') + "\r\nContent-Length: 1\r\n\r\nx\r\n";
    server.Add(ScriptedServer::Script().AwaitRequest().Send(header + "\r\n\r\n").SendRepeated(part, 2000).Send(
        "--b--\r\n").Close());
    void* h = ConnectURL(Url(server).c_str(), 1, "", "");
    EXPECT_EQ(ReadAll(h).last(), NILO_END);
    const std::string log = GetLog(h);
    EXPECT_LE(log.size(), 64u * 1024);
    EXPECT_GT(log.size(), 60u * 1024);
    EXPECT_EQ(log.rfind("\n" + Request("/", server) + "\n\n" + header + "\n\n--b\r\nX-Padding: ", 0), 0u);
    DisconnectNILO(h);
}

TEST(HttpRequestTest, HeaderAtTheLimit) {
    // Exactly 8192 bytes without the blank line are still collected; the
    // 8193rd fails the read.
    for (size_t size : {size_t{8192}, size_t{8193}}) {
        SCOPED_TRACE(size);
        const std::string start = "HTTP/1.1 200 OK\r\nX: ";
        ScriptedServer server;
        server.Add(ScriptedServer::Script().AwaitRequest().Send(start + std::string(size - start.size(), 'x')).FallSilent());
        void* h = ConnectURL(Url(server).c_str(), 1, "", "");
        char byte;
        unsigned room = 1;
        NILOState last = GetData(h, &byte, room);  // sends the request
        ASSERT_TRUE(server.WaitSteps(0, 2));
        // Each poll brings at most 4096 bytes; after three more, all has arrived.
        for (int call = 0; call < 4 && last != NILO_ERROR; ++call) {
            room = 1;
            last = GetData(h, &byte, room);
        }
        EXPECT_EQ(last, size == 8192 ? NILO_DATA : NILO_ERROR);
        DisconnectNILO(h);
    }
}

TEST(HttpRequestTest, UnreachableHostIsRefusedAtConnect) {
    const int freePort = ScriptedServer::UnusedPort();
    const struct {
        std::string url;
        const char* line;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(freePort) + "/", "Could not connect\n"},
        {"http://a..b/", "getaddrinfo: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string message;
        const Output output = Capture([&] {
            try {
                ConnectURL(c.url.c_str(), 1, "", "");
            } catch (const std::exception& e) {
                message = e.what();
            }
        });
        EXPECT_EQ(message, "can't create data source descriptor");
        EXPECT_EQ(output.err.rfind(c.line, 0), 0u) << output.err;
        EXPECT_EQ(output.err.find('\n'), output.err.size() - 1) << "exactly one line: " << output.err;
    }
}

}  // namespace
