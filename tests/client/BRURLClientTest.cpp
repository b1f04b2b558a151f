// The client manager's own checks: the direction it refuses before anything
// else, what it leaves behind after a failure, and what it closes when it goes.
#include "client/BRURLClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "FileFixture.h"
#include "api/nilo.h"
#include "diag/BRException.h"

namespace {

// The least of a few listings: under Wine and an emulator, the platform's own
// threads open files for a moment (memory maps, the server's pipes), and a
// descriptor that leaked stays in every listing.
size_t OpenDescriptorCount() {
    size_t least = SIZE_MAX;
    for (int listing = 0; listing < 5; ++listing) {
        if (listing > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        least = std::min(least, n);
    }
    return least;
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
    const std::string urls[] = {FileUrl((folder / "missing")), "no colon", "https://x/"};
    // The first round may make the platform open what it keeps for the whole
    // process (under Wine: the console, a runtime library); only the second
    // is measured.
    size_t fds = 0;
    for (int round = 0; round < 2; ++round) {
        fds = OpenDescriptorCount();
        for (const std::string& url : urls) {
            EXPECT_EQ(ConnectFailure(client, url, BR_PROTOCOL_IN), "can't create data source descriptor");
        }
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
    // As above, the first round only lets the platform open what it keeps.
    for (int round = 0; round < 2; ++round) {
        std::filesystem::remove(folder / "out.bin");
        const size_t fds = OpenDescriptorCount();
        {
            BRURLClient client;
            client.connect(FileUrl((folder / "in.bin")), BR_PROTOCOL_IN, "", "");
            BRDataSourceDescriptor* sink = client.connect(FileUrl((folder / "out.bin")), BR_PROTOCOL_OUT, "", "");
            BRDataBuffer buffer(2048);
            buffer.Append("written", 7);
            EXPECT_EQ(client.writeData(sink, buffer), NILO_DATA);
            EXPECT_EQ(client.openCount(), 2u);
            if (round == 1) {
                EXPECT_EQ(OpenDescriptorCount(), fds + 2);
            }
        }
        if (round == 1) {
            EXPECT_EQ(OpenDescriptorCount(), fds);
        }
        EXPECT_EQ(readFile((folder / "out.bin")), "written");
    }
}

}  // namespace
