// camera_server with --user and --password, seen from a raw loopback client
// that answers its challenges with the library's authenticator: what a 401
// holds, that a right answer is served on the same connection, that every
// wrong answer is refused, and the --auth-close and --auth-stale forms.

#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/BRHTTPAuthenticator.h"

namespace {

using tooltest::CameraServerProcess;
using tooltest::LoopbackClient;

const std::string kUser = "admin";
const std::string kPassword = "se cret\xc2\xa3";

std::vector<std::string> protectedCamera(const std::string& scheme, std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--frames", "2", "--fps", "0", "--user", kUser, "--password", kPassword,
                                        "--auth", scheme};
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

std::string request(const std::string& target, const std::string& authorization = "") {
    std::string text = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n";
    if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
    return text + "\r\n";
}

using Response = testsupport::RawResponse;

Response readResponse(LoopbackClient& client) { return testsupport::readHttpResponse(client); }

std::vector<std::string> challengesOf(const Response& r) { return r.fields("WWW-Authenticate"); }

std::string answer(BRHTTPAuthenticator& authenticator, const std::vector<std::string>& challenges,
                   const std::string& target, const std::string& user = kUser,
                   const std::string& password = kPassword) {
    if (!authenticator.Choose(challenges)) return "";
    return authenticator.Authorize("GET", target, user, password).value;
}

// The 200 multipart header after an accepted answer, and the two pictures up
// to the end of the stream.
void expectServed(LoopbackClient& client) {
    const std::string header = client.readThrough("\r\n\r\n");
    EXPECT_EQ(header.substr(0, 17), "HTTP/1.1 200 OK\r\n") << header;
    bool closed = false;
    const std::string body = client.readToEnd(closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(body.size() - body.rfind("--nilo-camera-frame--\r\n"), 23u) << "the stream did not end";
}

TEST(CameraServerAuth, DigestChallengeThenServedOnTheSameConnection) {
    CameraServerProcess server(protectedCamera("digest"));
    // SHA-256 is chosen from both challenges; MD5 alone works as well.
    for (const bool md5Only : {false, true}) {
        SCOPED_TRACE(md5Only ? "MD5" : "SHA-256");
        LoopbackClient client(server.port);
        client.send(request("/cam?x=1"));
        const Response challenge = readResponse(client);
        const std::vector<std::string> offered = challengesOf(challenge);
        EXPECT_EQ(challenge.status(), 401) << challenge.header;
        ASSERT_EQ(offered.size(), 2u) << challenge.header;
        EXPECT_EQ(offered[0].find(R"(Digest realm="nilo-camera", qop="auth", algorithm=SHA-256, nonce=")"), 0u);
        EXPECT_EQ(offered[1].find(R"(Digest realm="nilo-camera", qop="auth", algorithm=MD5, nonce=")"), 0u);
        EXPECT_NE(offered[0].find(", opaque=\""), std::string::npos);
        EXPECT_FALSE(challenge.body.empty());
        EXPECT_EQ(challenge.header.find("Connection: close"), std::string::npos);

        BRHTTPAuthenticator authenticator;
        client.send(request("/cam?x=1", answer(authenticator, md5Only ? std::vector<std::string>{offered[1]} : offered,
                                               "/cam?x=1")));
        EXPECT_EQ(authenticator.Description(), md5Only ? "Digest MD5" : "Digest SHA-256");
        expectServed(client);
    }
}

TEST(CameraServerAuth, BasicChallengeThenServedOnTheSameConnection) {
    CameraServerProcess server(protectedCamera("basic"));
    LoopbackClient client(server.port);
    client.send(request("/cam"));
    const Response challenge = readResponse(client);
    EXPECT_EQ(challenge.status(), 401);
    EXPECT_EQ(challengesOf(challenge), std::vector<std::string>{R"(Basic realm="nilo-camera", charset="UTF-8")"});
    BRHTTPAuthenticator authenticator;
    client.send(request("/cam", answer(authenticator, challengesOf(challenge), "/cam")));
    expectServed(client);
}

// Each wrong answer gets another 401 on the same connection, and the next
// wrong answer after it too.
TEST(CameraServerAuth, WrongAnswersAreRefused) {
    struct Case {
        const char* name;
        const char* scheme;
        // Builds the Authorization value from the challenges of the last 401.
        std::string (*build)(const std::vector<std::string>& challenges);
    };
    const Case cases[] = {
        {"no credentials", "digest", [](const std::vector<std::string>&) { return std::string(); }},
        {"wrong password", "digest",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             return answer(a, c, "/cam", kUser, "wrong");
         }},
        {"wrong user", "digest",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             return answer(a, c, "/cam", "root");
         }},
        {"answer for another target", "digest",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             return answer(a, c, "/other");
         }},
        {"nonce the server never issued", "digest",
         [](const std::vector<std::string>& c) {
             std::string forged = c[0];
             const std::size_t at = forged.find("nonce=\"") + 7;
             forged[at] = forged[at] == 'a' ? 'b' : 'a';
             BRHTTPAuthenticator a;
             return answer(a, {forged}, "/cam");
         }},
        {"nc changed after the response was computed", "digest",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             std::string value = answer(a, c, "/cam");
             value.replace(value.find("nc=00000001"), 11, "nc=00000002");
             return value;
         }},
        {"Basic answer to a Digest challenge", "digest",
         [](const std::vector<std::string>&) {
             BRHTTPAuthenticator a;
             return answer(a, {"Basic realm=x"}, "/cam");
         }},
        {"Basic with the wrong password", "basic",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             return answer(a, c, "/cam", kUser, "wrong");
         }},
        {"Basic with the password's case changed", "basic",
         [](const std::vector<std::string>& c) {
             BRHTTPAuthenticator a;
             return answer(a, c, "/cam", kUser, "SE CRET\xc2\xa3");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraServerProcess server(protectedCamera(c.scheme));
        LoopbackClient client(server.port);
        client.send(request("/cam"));
        Response last = readResponse(client);
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(last.status(), 401) << last.header;
            client.send(request("/cam", c.build(challengesOf(last))));
            last = readResponse(client);
        }
        EXPECT_EQ(last.status(), 401) << last.header;
    }
}

TEST(CameraServerAuth, EveryPathIsProtected) {
    CameraServerProcess server(protectedCamera("digest", {"--blob-size", "10"}));
    for (const char* path : {"/blob", "/parts", "/"}) {
        LoopbackClient client(server.port);
        client.send(request(path));
        EXPECT_EQ(readResponse(client).status(), 401) << path;
    }
}

// --auth-close: the 401 says so and the connection ends; the answer on a new
// connection is served.
TEST(CameraServerAuth, AuthCloseEndsTheConnectionAfterThe401) {
    CameraServerProcess server(protectedCamera("digest", {"--auth-close"}));
    std::vector<std::string> challenges;
    {
        LoopbackClient client(server.port);
        client.send(request("/cam"));
        const Response challenge = readResponse(client);
        EXPECT_EQ(challenge.status(), 401);
        EXPECT_NE(challenge.header.find("\r\nConnection: close\r\n"), std::string::npos) << challenge.header;
        bool closed = false;
        EXPECT_EQ(client.readToEnd(closed), "");
        EXPECT_TRUE(closed);
        challenges = challengesOf(challenge);
    }
    LoopbackClient client(server.port);
    BRHTTPAuthenticator authenticator;
    client.send(request("/cam", answer(authenticator, challenges, "/cam")));
    expectServed(client);
}

// --auth-stale: the first right answer gets a 401 with stale=true and a new
// nonce; the answer with the new nonce is served.
TEST(CameraServerAuth, AuthStaleRefusesTheFirstRightAnswerOnce) {
    CameraServerProcess server(protectedCamera("digest", {"--auth-stale"}));
    LoopbackClient client(server.port);
    client.send(request("/cam"));
    const Response first = readResponse(client);
    ASSERT_EQ(first.status(), 401);
    BRHTTPAuthenticator authenticator;
    client.send(request("/cam", answer(authenticator, challengesOf(first), "/cam")));
    EXPECT_FALSE(authenticator.Stale());

    const Response stale = readResponse(client);
    ASSERT_EQ(stale.status(), 401) << stale.header;
    const std::vector<std::string> offered = challengesOf(stale);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_NE(offered[0].find(", stale=true"), std::string::npos) << offered[0];
    EXPECT_NE(offered[0], challengesOf(first)[0]);  // a new nonce
    client.send(request("/cam", answer(authenticator, challengesOf(stale), "/cam")));
    EXPECT_TRUE(authenticator.Stale());
    expectServed(client);
}

}  // namespace
