// Answering 401 challenges with the source's credentials, against scripted
// servers: the reads go through the library object, so that the client
// nonce can be fixed and a worked example give its exact response.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpCase.h"
#include "NetTestHelpers.h"
#include "api/BRLibrary.h"
#include "http/BRHTTPAuthenticator.h"

namespace {

using Script = ScriptedServer::Script;

// RFC 7616 section 3.9.1.
const std::string kNonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
const std::string kOpaque = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
std::string FixedClientNonce() { return "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"; }

std::string Challenge(const std::string& algorithm, const std::string& nonce = kNonce, bool stale = false) {
    return "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=" + algorithm +
           ", nonce=\"" + nonce + "\", opaque=\"" + kOpaque + "\"" + (stale ? ", stale=true" : "") + "\r\n";
}

std::string Unauthorized(const std::string& challenges, const std::string& more = "") {
    return "HTTP/1.1 401 Unauthorized\r\n" + challenges + more + "Content-Length: 6\r\n\r\ndenied";
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone";

// Reads a source to its end through the library object, as GetData would.
struct Source {
    explicit Source(const std::string& url, const char* user = "Mufasa", const char* password = "Circle of Life")
        : handle(BRLibrary::instance().connectURL(url.c_str(), 1, user, password)) {}
    ~Source() { BRLibrary::instance().disconnect(handle); }
    NiloRead Read() {
        NiloRead read;
        char buffer[1000];
        for (int call = 0; call < 1000; ++call) {
            unsigned size = sizeof buffer;
            const NILOState state = BRLibrary::instance().getData(handle, buffer, size);
            read.bytes.append(buffer, size);
            read.results.push_back(state);
            read.sizes.push_back(size);
            if (state > NILO_MULTIPART) break;
        }
        return read;
    }
    std::string Log() { return BRLibrary::instance().getLog(handle); }
    void* handle;
};

// The requests a connection received, one string each.
std::vector<std::string> Requests(const std::string& received) {
    std::vector<std::string> requests;
    for (size_t at = 0; at < received.size();) {
        const size_t end = received.find("\r\n\r\n", at);
        if (end == std::string::npos) break;
        requests.push_back(received.substr(at, end + 4 - at));
        at = end + 4;
    }
    return requests;
}

std::string AuthorizationOf(const std::string& request) {
    const size_t at = request.find("\r\nAuthorization: ");
    if (at == std::string::npos) return "";
    const size_t start = at + 17;
    return request.substr(start, request.find("\r\n", start) - start);
}

class HttpAuthTest : public testing::Test {
protected:
    void SetUp() override { BRHTTPAuthenticator::SetClientNonceSource(&FixedClientNonce); }
    void TearDown() override { BRHTTPAuthenticator::ResetClientNonceSource(); }
    std::string At(const std::string& path) const { return Url(server, path); }
    ScriptedServer server;
};

// The worked examples of RFC 7616: the answer goes on the connection the
// server kept, after the first request went out without credentials. With
// both hashes offered, SHA-256 is chosen.
TEST_F(HttpAuthTest, DigestAnswersTheWorkedExamples) {
    const struct {
        std::string challenges;
        const char* response;
    } cases[] = {
        {Challenge("MD5"), "8ca523f5e9506fed4657c9700eebdbec"},
        {Challenge("SHA-256"), "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        {Challenge("MD5") + Challenge("SHA-256"), "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.challenges);
        ScriptedServer local;
        local.Add(Script().AwaitRequest().Send(Unauthorized(c.challenges)).AwaitRequest().Send(kOk).Close());
        Source source(Url(local, "/dir/index.html"));
        const NiloRead read = source.Read();
        EXPECT_EQ(read.bytes, "done");
        EXPECT_EQ(read.last(), NILO_END);
        EXPECT_EQ(local.Accepted(), 1u);
        const std::vector<std::string> requests = Requests(local.Received(0));
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(AuthorizationOf(requests[0]), "");
        const std::string answer = AuthorizationOf(requests[1]);
        EXPECT_NE(answer.find("response=\"" + std::string(c.response) + "\""), std::string::npos) << answer;
        EXPECT_NE(answer.find("uri=\"/dir/index.html\""), std::string::npos) << answer;
        EXPECT_NE(answer.find("opaque=\"" + kOpaque + "\""), std::string::npos) << answer;
        // Both exchanges are in the log, the response masked.
        const std::string log = source.Log();
        EXPECT_NE(log.find("HTTP/1.1 401 Unauthorized"), std::string::npos);
        EXPECT_NE(log.find("Authorization: Digest username=\"Mufasa\""), std::string::npos) << log;
        EXPECT_EQ(log.find(c.response), std::string::npos) << log;
        EXPECT_NE(log.find("(6 bytes of body skipped)"), std::string::npos) << log;
    }
}

TEST_F(HttpAuthTest, BasicSendsTheCredentialsAsUtf8) {
    server.Add(Script().AwaitRequest().Send(Unauthorized("WWW-Authenticate: Basic realm=\"cam\"\r\n")).AwaitRequest()
                   .Send(kOk).Close());
    Source source(At("/"), "test", "123\xc2\xa3");
    const NiloRead read = source.Read();
    EXPECT_EQ(read.bytes, "done");
    EXPECT_EQ(read.last(), NILO_END);
    const std::vector<std::string> requests = Requests(server.Received(0));
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(AuthorizationOf(requests[1]), "Basic dGVzdDoxMjPCow==");
    const std::string log = source.Log();
    EXPECT_NE(log.find("Authorization: Basic ********\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("dGVzdDoxMjPCow=="), std::string::npos);
}

// stale=true: the answer was right but its nonce had expired; it is answered
// once more with the new nonce, counted from 1 again.
TEST_F(HttpAuthTest, StaleNonceIsAnsweredOnceMore) {
    server.Add(Script()
                   .AwaitRequest()
                   .Send(Unauthorized(Challenge("SHA-256")))
                   .AwaitRequest()
                   .Send(Unauthorized(Challenge("SHA-256", "fresh-nonce", true)))
                   .AwaitRequest()
                   .Send(kOk)
                   .Close());
    Source source(At("/cam"));
    const NiloRead read = source.Read();
    EXPECT_EQ(read.bytes, "done");
    EXPECT_EQ(read.last(), NILO_END);
    const std::vector<std::string> requests = Requests(server.Received(0));
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(AuthorizationOf(requests[1]).find("nonce=\"" + kNonce + "\""), std::string::npos);
    EXPECT_NE(AuthorizationOf(requests[2]).find("nonce=\"fresh-nonce\", nc=00000001"), std::string::npos)
        << requests[2];
}

// A refusal of the answer ends the source: a wrong password after exactly
// two requests; a nonce that goes stale is answered once more, and a second
// stale refusal ends it too. Never a loop.
TEST_F(HttpAuthTest, RefusedAnswerEndsInError) {
    const struct {
        const char* name;
        bool staleAgain;
        size_t requests;
    } cases[] = {{"wrong password", false, 2}, {"stale twice", true, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer local;
        Script script;
        script.AwaitRequest().Send(Unauthorized(Challenge("SHA-256", "n1")));
        for (int k = 2; k < 6; ++k)
            script.AwaitRequest().Send(Unauthorized(Challenge("SHA-256", "n" + std::to_string(k), c.staleAgain)));
        local.Add(script.Close());
        Source source(Url(local, "/cam"));
        const NiloRead read = source.Read();
        EXPECT_EQ(read.last(), NILO_ERROR);
        EXPECT_EQ(read.bytes, "");
        EXPECT_EQ(Requests(local.Received(0)).size(), c.requests);
    }
}

// A server that closes after its challenge: the answer goes out on a new
// connection, whether the server said so (Connection: close) or not.
TEST_F(HttpAuthTest, ServerThatClosesAfterTheChallenge) {
    for (const std::string& header : {std::string("Connection: close\r\n"), std::string()}) {
        SCOPED_TRACE(header);
        ScriptedServer local;
        local.Add(Script().AwaitRequest().Send(Unauthorized(Challenge("MD5"), header)).Close());
        local.Add(Script().AwaitRequest().Send(kOk).Close());
        Source source(Url(local, "/dir/index.html"));
        const NiloRead read = source.Read();
        EXPECT_EQ(read.bytes, "done");
        EXPECT_EQ(read.last(), NILO_END);
        ASSERT_EQ(local.Accepted(), 2u);
        EXPECT_NE(AuthorizationOf(local.Received(1)).find("response=\"8ca523f5e9506fed4657c9700eebdbec\""),
                  std::string::npos)
            << local.Received(1);
    }
}

// Without credentials, for a scheme the reader cannot answer, and on another
// origin than the one the source was opened with, the 401 is the caller's.
TEST_F(HttpAuthTest, ChallengesThatAreNotAnsweredAreDelivered) {
    const struct {
        const char* name;
        std::string challenge;
        const char* user;
        bool elsewhere;  // the challenge comes from another origin, after a redirect
    } cases[] = {
        {"no credentials", Unauthorized(Challenge("MD5")), "", false},
        {"unknown scheme", Unauthorized("WWW-Authenticate: Negotiate\r\n"), "Mufasa", false},
        {"no challenge", Unauthorized(""), "Mufasa", false},
        {"another origin", Unauthorized(Challenge("MD5")), "Mufasa", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer local;
        ScriptedServer other;
        if (c.elsewhere) {
            local.Add(Script().AwaitRequest().Send("HTTP/1.1 302 Found\r\nLocation: " + Url(other, "/elsewhere") +
                                                   "\r\nContent-Length: 0\r\n\r\n").Close());
            other.Add(Script().AwaitRequest().Send(c.challenge).Close());
        } else {
            local.Add(Script().AwaitRequest().Send(c.challenge).Close());
        }
        Source source(Url(local, "/"), c.user);
        NiloRead read;
        Capture([&] { read = source.Read(); });
        EXPECT_EQ(read.bytes, "denied");
        EXPECT_EQ(read.last(), NILO_END);
        for (const ScriptedServer* s : {&local, &other})
            for (size_t k = 0; k < s->Accepted(); ++k) EXPECT_EQ(AuthorizationOf(s->Received(k)), "");
    }
}

// A user or password that would break the Authorization line is refused at
// ConnectURL.
TEST_F(HttpAuthTest, ControlCharactersInCredentialsAreRefused) {
    for (const auto& credentials : std::vector<std::pair<const char*, const char*>>{
             {"user\r\nX-Injected: 1", "pw"}, {"user", "pw\n"}, {"user", "p\x7fw"}}) {
        try {
            Source source(At("/"), credentials.first, credentials.second);
            ADD_FAILURE() << "accepted";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "can't create data source descriptor");
        }
    }
    EXPECT_EQ(server.Accepted(), 0u);
}

}  // namespace
