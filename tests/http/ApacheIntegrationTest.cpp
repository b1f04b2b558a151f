// Reads from Apache httpd (tests/support/ApacheServer.h) through the five
// functions: its directory redirect, which it builds from the Host header.

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
