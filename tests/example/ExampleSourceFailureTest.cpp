// niloexample when its source cannot be opened: one line on standard error,
// a non-zero exit code, no files, and no wait.

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ExampleRun.h"
#include "SocketShim.h"

namespace {

// A loopback port that nothing listens on: one the system just handed out
// and took back.
int closedPort() {
    using namespace testsupport;
    StartSockets();
    const intptr_t socket = OpenStreamSocket(AF_INET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = socket != kNoSocket &&
                       ::bind(Native(socket), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (socket != kNoSocket) CloseSocket(socket);
    StopSockets();
    if (!bound) throw std::runtime_error("no free port");
    return ntohs(address.sin_port);
}

TEST(ExampleSourceFailure, UnreachableSourcePrintsOneLineAndExitsNonZero) {
    const auto run = exampletest::runExample("http://127.0.0.1:" + std::to_string(closedPort()) + "/camera.mjpg", 10);

    ASSERT_TRUE(run.process.finished) << "niloexample did not end within 10 s";
    EXPECT_NE(run.process.exitCode, 0);
    // The library prints diagnostic lines of its own; the example adds one.
    std::vector<std::string> ours;
    std::istringstream lines(run.process.err);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("niloexample", 0) == 0) ours.push_back(line);
    EXPECT_EQ(ours, std::vector<std::string>{"niloexample: can't create data source descriptor"}) << run.process.err;
    EXPECT_EQ(run.process.out, "");
    EXPECT_TRUE(run.files.empty());
}

}  // namespace
