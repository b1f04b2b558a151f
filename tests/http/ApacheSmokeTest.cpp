// Apache httpd as the tests start it (tests/support/ApacheServer.h), seen from
// a raw loopback client: the protected paths challenge as expected, the
// library's authenticator gets the file from both, a wrong password does not,
// and /dir redirects to /dir/ by the Host header.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ApacheServer.h"
#include "LoopbackClient.h"
#include "http/BRHTTPAuthenticator.h"
#include "http/BRHTTPChallenge.h"

namespace {

using testsupport::ApacheServer;
using testsupport::LoopbackClient;
using testsupport::RawResponse;

std::string request(const std::string& path, const std::string& host, const std::string& authorization = "") {
    std::string text = "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
    return text + "\r\n";
}

class ApacheSmokeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ApacheServer::Options options;
        options.user = "nilo";
        options.password = "open sesame\xc2\xa3";
        std::mt19937 random(11);
        options.fileBytes.resize(200 * 1024 + 3);
        for (char& c : options.fileBytes) c = static_cast<char>(random());
        file = options.fileBytes;
        password = options.password;
        server = new ApacheServer(options);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->Running()) << server->Failure(); }

    std::string Host() const { return "127.0.0.1:" + std::to_string(server->Port()); }

    static ApacheServer* server;
    static std::string file;
    static std::string password;
};

ApacheServer* ApacheSmokeTest::server = nullptr;
std::string ApacheSmokeTest::file;
std::string ApacheSmokeTest::password;

TEST_F(ApacheSmokeTest, ProtectedPathsChallenge) {
    struct Case {
        std::string path;
        std::string scheme;
        std::vector<std::pair<std::string, std::string>> params;  // that the challenge must hold
    };
    const Case cases[] = {
        {"/basic/file.bin", "basic", {{"realm", "nilo-test"}}},
        {"/digest/file.bin", "digest", {{"realm", "nilo-test"}, {"algorithm", "MD5"}, {"qop", "auth"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        LoopbackClient client(server->Port());
        client.send(request(c.path, Host()));
        const RawResponse response = testsupport::readHttpResponse(client);
        EXPECT_EQ(response.status(), 401) << response.header;
        const auto values = response.fields("WWW-Authenticate");
        ASSERT_EQ(values.size(), 1u) << response.header;
        const auto challenges = BRHTTPChallenge::Parse(values[0]);
        ASSERT_EQ(challenges.size(), 1u) << values[0];
        EXPECT_EQ(challenges[0].scheme, c.scheme);
        for (const auto& [name, value] : c.params) {
            ASSERT_NE(challenges[0].Param(name), nullptr) << name;
            EXPECT_EQ(*challenges[0].Param(name), value) << name;
        }
        if (c.scheme == "digest") {
            EXPECT_NE(challenges[0].Param("nonce"), nullptr);
        }
    }
}

// The answer goes on the same connection, as Apache keeps it open after a 401.
TEST_F(ApacheSmokeTest, AuthenticatorAnswersBothSchemes) {
    for (const char* path : {"/basic/file.bin", "/digest/file.bin"}) {
        for (const bool right : {true, false}) {
            SCOPED_TRACE(std::string(path) + (right ? " right password" : " wrong password"));
            LoopbackClient client(server->Port());
            client.send(request(path, Host()));
            const RawResponse challenge = testsupport::readHttpResponse(client);
            ASSERT_EQ(challenge.status(), 401);
            BRHTTPAuthenticator authenticator;
            ASSERT_TRUE(authenticator.Choose(challenge.fields("WWW-Authenticate")));
            const auto answer = authenticator.Authorize("GET", path, "nilo", right ? password : "wrong");
            client.send(request(path, Host(), answer.value));
            const RawResponse response = testsupport::readHttpResponse(client);
            if (right) {
                EXPECT_EQ(response.status(), 200) << response.header;
                EXPECT_TRUE(response.body == file) << response.body.size() << " bytes";
            } else {
                EXPECT_EQ(response.status(), 401) << response.header;
            }
        }
    }
}

TEST_F(ApacheSmokeTest, DirectoryRedirectFollowsTheHostHeader) {
    for (const std::string& host : {Host(), "localhost:" + std::to_string(server->Port()), std::string("camera.test")}) {
        SCOPED_TRACE(host);
        LoopbackClient client(server->Port());
        client.send(request("/dir", host));
        const RawResponse response = testsupport::readHttpResponse(client);
        EXPECT_EQ(response.status(), 301) << response.header;
        EXPECT_EQ(response.fields("Location"), std::vector<std::string>{"http://" + host + "/dir/"});

        client.send(request("/dir/", host));
        const RawResponse index = testsupport::readHttpResponse(client);
        EXPECT_EQ(index.status(), 200) << index.header;
        EXPECT_EQ(index.body, "<html><body>index</body></html>\n");
    }
}

}  // namespace
