// The client manager's own checks: the direction it refuses before anything
// else, what it leaves behind after a failure, and what it closes when it goes.
#include "client/BRURLClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "FileFixture.h"
#include "api/nilo.h"
#include "diag/BRException.h"

namespace {

size_t OpenDescriptorCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

std::string ConnectFailure(BRURLClient& client, const std::string& url, int32_t direction) {
    try {
        client.connect(url, direction, "", "");
        return "connected";
    } catch (const BRException& e) {
        return e.what();
    }
}

TEST(BRURLClientTest, RefusesDirectionsOtherThanInAndOut) {
    TempFolder folder;
    BRURLClient client;
    for (int32_t direction : {0, 3, -1}) {
        EXPECT_EQ(ConnectFailure(client, FileUrl((folder / "out.bin")), direction),
                  "direction must be BR_PROTOCOL_IN or BR_PROTOCOL_OUT");
    }
    EXPECT_EQ(client.openCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists((folder / "out.bin")));
}

TEST(BRURLClientTest, FailuresLeaveNothingRegistered) {
    TempFolder folder;
    BRURLClient client;
    const size_t fds = OpenDescriptorCount();
    for (const std::string& url : {FileUrl((folder / "missing")), std::string("no colon"), std::string("https://x/")}) {
        EXPECT_EQ(ConnectFailure(client, url, BR_PROTOCOL_IN), "can't create data source descriptor");
    }
    EXPECT_EQ(client.openCount(), 0u);
    EXPECT_EQ(OpenDescriptorCount(), fds);
}

TEST(BRURLClientTest, DisconnectedDescriptorsCountAsUnknown) {
    TempFolder folder;
    writeFile((folder / "in.bin"), "abc");
    BRURLClient client;
    BRDataSourceDescriptor* d = client.connect(FileUrl((folder / "in.bin")), BR_PROTOCOL_IN, "", "");
    EXPECT_TRUE(client.isOpen(d));
    client.disconnect(d);
    EXPECT_EQ(client.openCount(), 0u);

    BRDataBuffer buffer(2048);
    buffer.Append("x", 1);
    for (const void* p : {static_cast<const void*>(d), static_cast<const void*>(nullptr)}) {
        EXPECT_EQ(client.getData(p, buffer), NILO_ERROR);
        EXPECT_EQ(client.writeData(p, buffer), NILO_ERROR);
        EXPECT_EQ(client.getLog(p), "");
        client.disconnect(p);
    }
    EXPECT_EQ(buffer.Size(), 1u);
}

TEST(BRURLClientTest, DestructionClosesEveryOpenDescriptor) {
    TempFolder folder;
    writeFile((folder / "in.bin"), "abc");
    const size_t fds = OpenDescriptorCount();
    {
        BRURLClient client;
        client.connect(FileUrl((folder / "in.bin")), BR_PROTOCOL_IN, "", "");
        BRDataSourceDescriptor* sink = client.connect(FileUrl((folder / "out.bin")), BR_PROTOCOL_OUT, "", "");
        BRDataBuffer buffer(2048);
        buffer.Append("written", 7);
        EXPECT_EQ(client.writeData(sink, buffer), NILO_DATA);
        EXPECT_EQ(client.openCount(), 2u);
        EXPECT_EQ(OpenDescriptorCount(), fds + 2);
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(readFile((folder / "out.bin")), "written");
}

}  // namespace
