// The server-process helper of tests/support, with camera_server as the
// server: it waits for the server's own listening socket, starts it again on
// another port when the first is taken, and reports a server that exits.

#include "ServerProcess.h"
#include "TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ServerProcess;

// Listens on a loopback port of its own, as another program would.
struct Squatter {
    Squatter() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, 1);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Squatter() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

TEST(ServerProcess, StartsAgainOnAnotherPortWhenTheFirstIsTaken) {
    testsupport::TempDir dir;
    Squatter squatter;
    std::vector<int> tried;
    {
        ServerProcess server(
            [&](int port) {
                // The first attempt gets the taken port, as if another
                // program had bound it between the choice and the start.
                tried.push_back(tried.empty() ? squatter.port : port);
                return std::vector<std::string>{CAMERA_SERVER, "--port", std::to_string(tried.back()),
                                                "--exit-after", "60"};
            },
            dir / "server.log");
        ASSERT_TRUE(server.Running()) << server.Failure();
        ASSERT_EQ(tried.size(), 2u);
        EXPECT_EQ(server.Port(), tried[1]);
        EXPECT_NE(server.Port(), squatter.port);
        EXPECT_TRUE(ServerProcess::Listening(server.Port()));
        // Our own socket is listening, but it is not the server's.
        EXPECT_TRUE(ServerProcess::Listening(squatter.port));
        server.Stop();
        EXPECT_FALSE(server.Running());
        EXPECT_FALSE(ServerProcess::Listening(tried[1]));
    }
}

TEST(ServerProcess, ReportsAServerThatExitsWithoutListening) {
    testsupport::TempDir dir;
    int attempts = 0;
    ServerProcess server(
        [&](int) {
            ++attempts;
            return std::vector<std::string>{"/bin/sh", "-c", "echo cannot start; exit 3"};
        },
        dir / "server.log", 3);
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(attempts, 3);
    EXPECT_NE(server.Failure().find("exit status 3"), std::string::npos) << server.Failure();
    EXPECT_NE(server.Failure().find("cannot start"), std::string::npos) << server.Failure();
}

}  // namespace
