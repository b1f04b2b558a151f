// Reads from a real HTTP server: nginx, started by the test on a loopback port
// with a configuration the test writes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "NiloRead.h"
#include "ServerProcess.h"
#include "nilo.h"

namespace fs = std::filesystem;

namespace {

const char* kNginx = "/usr/sbin/nginx";

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class NginxIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kNginx)) << "nginx is not installed (tools/install-deps.sh installs it)";
        dir = fs::temp_directory_path() / ("nilo-nginx-" + std::to_string(getpid()));
        fs::create_directories(dir / "www");
        std::mt19937 random(7);
        content.resize(3 * 1024 * 1024 + 17);
        for (char& c : content) c = static_cast<char>(random());
        std::ofstream(dir / "www" / "file.bin", std::ios::binary).write(content.data(), content.size());
        // A page put together as it is sent, so its length is not known up
        // front: with chunked coding off, its body runs to the close.
        fs::create_directories(dir / "www" / "ssi");
        for (int line = 0; line < 5000; ++line) included += "line " + std::to_string(line) + " of the included text\n";
        std::ofstream(dir / "www" / "ssi" / "included.txt", std::ios::binary) << included;
        std::ofstream(dir / "www" / "ssi" / "page.html", std::ios::binary)
            << "start\n<!--# include file=\"included.txt\" -->end\n";

        const std::string prefix = dir.string() + "/";
        const std::string error = (dir / "error.log").string();
        const std::string conf = (dir / "nginx.conf").string();
        server = std::make_unique<testsupport::ServerProcess>(
            [&](int candidate) {
                port = candidate;
                WriteConfig();
                return std::vector<std::string>{kNginx, "-p", prefix, "-e", error, "-c", conf};
            },
            (dir / "output.log").string());
        ASSERT_TRUE(server->Running()) << "nginx did not start: " << server->Failure();
        ASSERT_TRUE(Accepts(port));
    }

    void TearDown() override {
        server.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void WriteConfig() {
        const std::string d = dir.string();
        const std::string base = "http://127.0.0.1:" + std::to_string(port);
        std::ofstream conf(dir / "nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n  access_log off;\n"
             << "  client_body_temp_path " << d << "/tmp;\n  proxy_temp_path " << d << "/tmp;\n"
             << "  fastcgi_temp_path " << d << "/tmp;\n  uwsgi_temp_path " << d << "/tmp;\n"
             << "  scgi_temp_path " << d << "/tmp;\n"
             << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << d << "/www;\n"
             << "    location = /one { return 301 " << base << "/two; }\n"
             << "    location = /two { return 302 " << base << "/three; }\n"
             << "    location = /three { return 303 " << base << "/file.bin; }\n"
             << "    location /ssi/ { ssi on; chunked_transfer_encoding off; }\n"
             // Relative Locations, as nginx sends them with absolute_redirect off.
             << "    absolute_redirect off;\n"
             << "    location = /rel/one { return 301 two; }\n"
             << "    location = /rel/two { return 302 /rel/deep/../three; }\n"
             << "    location = /rel/three { return 303 ../file.bin; }\n"
             << "  }\n}\n";
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    fs::path dir;
    std::string content;
    std::string included;
    int port = 0;
    std::unique_ptr<testsupport::ServerProcess> server;
};

TEST_F(NginxIntegrationTest, StaticFileArrivesByteIdentical) {
    void* h = ConnectURL(Url("/file.bin").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h, 64 * 1024);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_TRUE(read.follows({NILO_DATA}));
    EXPECT_TRUE(read.bytes == content) << "delivered " << read.bytes.size() << " of " << content.size();
    const std::string log = GetLog(h);
    EXPECT_NE(log.find("GET /file.bin HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("HTTP/1.1 200 OK"), std::string::npos);
    DisconnectNILO(h);
}

TEST_F(NginxIntegrationTest, FollowsRedirectChainToItsEnd) {
    testing::internal::CaptureStdout();
    void* h = ConnectURL(Url("/one").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h, 64 * 1024);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(read.last(), NILO_END);
    int redirected = 0;
    for (NILOState s : read.results) redirected += s == NILO_REDIRECTED;
    EXPECT_EQ(redirected, 3);
    EXPECT_NE(out.find("redircounter: 1\nredircounter: 2\nredircounter: 3\n"), std::string::npos) << out;
    // The redirect responses' own bodies are skipped: the caller gets the file alone.
    EXPECT_TRUE(read.bytes == content) << "delivered " << read.bytes.size() << " of " << content.size();
    const std::string log = GetLog(h);
    for (const char* line : {"GET /one HTTP/1.1", "HTTP/1.1 301 ", "GET /two HTTP/1.1", "HTTP/1.1 302 ",
                             "GET /three HTTP/1.1", "HTTP/1.1 303 ", "GET /file.bin HTTP/1.1"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    DisconnectNILO(h);
}

TEST_F(NginxIntegrationTest, BodyDelimitedByTheCloseArrivesWhole) {
    void* h = ConnectURL(Url("/ssi/page.html").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h, 64 * 1024);
    const std::string log = GetLog(h);
    DisconnectNILO(h);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_TRUE(read.bytes == "start\n" + included + "end\n") << "delivered " << read.bytes.size() << " bytes";
    // Neither a length nor chunked coding frames it.
    EXPECT_EQ(log.find("Content-Length"), std::string::npos) << log;
    EXPECT_EQ(log.find("Transfer-Encoding"), std::string::npos) << log;
}

TEST_F(NginxIntegrationTest, FollowsRelativeRedirectsToTheFile) {
    testing::internal::CaptureStdout();
    void* h = ConnectURL(Url("/rel/one").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h, 64 * 1024);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string log = GetLog(h);
    DisconnectNILO(h);
    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_NE(out.find("redircounter: 3\n"), std::string::npos) << out;
    EXPECT_TRUE(read.bytes == content) << "delivered " << read.bytes.size() << " of " << content.size();
    for (const char* line : {"Location: two\n", "GET /rel/two HTTP/1.1", "Location: /rel/deep/../three\n",
                             "GET /rel/three HTTP/1.1", "Location: ../file.bin", "GET /file.bin HTTP/1.1"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
}

}  // namespace
