// Reads from Apache httpd (tests/support/ApacheServer.h) through the five
// functions: a file it protects with Basic and with Digest authentication,
// and its directory redirect, which it builds from the Host header.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ApacheServer.h"
#include "NetTestHelpers.h"
#include "NiloRead.h"
#include "nilo.h"

namespace {

using testsupport::ApacheServer;

class ApacheIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ApacheServer::Options options;
        options.user = "viewer";
        options.password = "sec:ret \xc2\xa3";
        std::mt19937 random(5);
        options.fileBytes.resize(300 * 1024 + 1);
        for (char& c : options.fileBytes) c = static_cast<char>(random());
        options.indexBytes = "<html><body>the index of /dir/</body></html>\n";
        file = options.fileBytes;
        index = options.indexBytes;
        server = new ApacheServer(options);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->Running()) << server->Failure(); }

    static ApacheServer* server;
    static std::string file;
    static std::string index;
};

ApacheServer* ApacheIntegrationTest::server = nullptr;
std::string ApacheIntegrationTest::file;
std::string ApacheIntegrationTest::index;

TEST_F(ApacheIntegrationTest, ProtectedFileArrivesWithTheRightPassword) {
    for (const char* path : {"/basic/file.bin", "/digest/file.bin"}) {
        SCOPED_TRACE(path);
        void* h = ConnectURL(server->Url(path).c_str(), 1, "viewer", "sec:ret \xc2\xa3");
        const NiloRead read = ReadAll(h, 64 * 1024);
        const std::string log = GetLog(h);
        DisconnectNILO(h);
        EXPECT_EQ(read.last(), NILO_END);
        EXPECT_TRUE(read.bytes == file) << "delivered " << read.bytes.size() << " of " << file.size();
        EXPECT_NE(log.find("HTTP/1.1 401 Unauthorized"), std::string::npos) << log;
        EXPECT_NE(log.find("Authorization: "), std::string::npos) << log;
        EXPECT_EQ(log.find("sec:ret"), std::string::npos) << log;
    }
}

TEST_F(ApacheIntegrationTest, WrongPasswordEndsInError) {
    for (const char* path : {"/basic/file.bin", "/digest/file.bin"}) {
        SCOPED_TRACE(path);
        void* h = ConnectURL(server->Url(path).c_str(), 1, "viewer", "wrong");
        const NiloRead read = ReadAll(h, 64 * 1024);
        DisconnectNILO(h);
        EXPECT_EQ(read.last(), NILO_ERROR);
        EXPECT_EQ(read.bytes, "");
    }
}

// A user written in the URL serves as well; the password given to
// ConnectURL takes the place of the URL's.
TEST_F(ApacheIntegrationTest, CredentialsInTheUrl) {
    const std::string url = "http://viewer:sec:ret%20@127.0.0.1:" + std::to_string(server->Port()) + "/digest/file.bin";
    void* h = ConnectURL(url.c_str(), 1, "", "sec:ret \xc2\xa3");
    const NiloRead read = ReadAll(h, 64 * 1024);
    DisconnectNILO(h);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_TRUE(read.bytes == file);
}

// On a port other than 80 the redirect leads back to the same server only
// because Host carries the port.
TEST_F(ApacheIntegrationTest, FollowsTheDirectoryRedirectOnItsPort) {
    void* h = ConnectURL(server->Url("/dir").c_str(), 1, "", "");
    NiloRead read;
    const Output output = Capture([&] { read = ReadAll(h); });
    const std::string log = GetLog(h);
    DisconnectNILO(h);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_EQ(read.bytes, index);
    EXPECT_EQ(output.out, "redircounter: 1\n");
    EXPECT_NE(log.find("Location: " + server->Url("/dir/") + "\r\n"), std::string::npos) << log;
}

}  // namespace
