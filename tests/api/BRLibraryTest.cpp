// What the exported functions cannot show: how much the handle tables hold.
#include "api/BRLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "DeadListener.h"
#include "FileFixture.h"
#include "NetTestHelpers.h"
#include "ScriptedServer.h"
#include "net/BRConnectLimit.h"

namespace {

TEST(BRLibraryTest, SourceBufferStaysBoundedWhateverThePieceSize) {
    TempFolder folder;
    const std::string content = PatternBytes(512 * 1024);
    writeFile((folder / "in.bin"), content);
    BRLibrary& library = BRLibrary::instance();

    for (unsigned room : {1u, 1023u, 20000u}) {
        SCOPED_TRACE(room);
        void* h = library.connectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
        std::vector<char> destination(room);
        std::string bytes;
        uint32_t largest = 0;
        for (NILOState r = NILO_DATA; r <= NILO_MULTIPART;) {
            unsigned size = room;
            r = library.getData(h, destination.data(), size);
            bytes.append(destination.data(), size);
            largest = std::max(largest, library.bufferedBytes(h));
            if (largest >= room + 16384u) break;  // unbounded: stop before it gets slow
        }
        // At most one 16384-byte step beyond what a caller takes per call.
        EXPECT_LT(largest, room + 16384u);
        EXPECT_EQ(bytes, content);
        library.disconnect(h);
    }
}

TEST(BRLibraryTest, FailedSinkKeepsNothingBuffered) {
    NILO_SKIP_WITHOUT_FULL_DEVICE();
    BRLibrary& library = BRLibrary::instance();
    void* h = library.connectURL(FileUrl("/dev/full").c_str(), 0, nullptr, nullptr);
    const std::string bytes = PatternBytes(50000);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(library.writeData(h, bytes.data(), 50000), NILO_ERROR);
    EXPECT_EQ(library.bufferedBytes(h), 0u);
    library.disconnect(h);
}

// A host that drops connection attempts fails like one that refuses them,
// after the connect limit: ConnectURL raises, a redirect ends the source.
TEST(BRLibraryTest, AHostThatDropsConnectionAttemptsFailsWithinTheConnectLimit) {
    DeadListener dead;
    if (!dead.Dropping()) GTEST_SKIP() << "this system refuses connections to a full listener instead of dropping them";
    const std::string deadUrl = "http://127.0.0.1:" + std::to_string(dead.Port()) + "/";
    ScriptedServer redirecting;
    redirecting.Add(ScriptedServer::Script().AwaitRequest().Send("HTTP/1.1 302 Found\r\nLocation: " + deadUrl +
                                                                 "\r\nContent-Length: 0\r\n\r\n"));
    const std::string redirectingUrl = "http://127.0.0.1:" + std::to_string(redirecting.Port()) + "/";
    BRLibrary& library = BRLibrary::instance();
    constexpr int32_t kLimitMs = 200;
    BRConnectLimit::Set(kLimitMs);

    std::string raised;
    long long taken = MillisecondsTaken([&] {
        try {
            library.disconnect(library.connectURL(deadUrl.c_str(), 1, nullptr, nullptr));
        } catch (const std::exception& e) {
            raised = e.what();
        }
    });
    EXPECT_EQ(raised, "can't create data source descriptor");
    EXPECT_LT(taken, 5000);

    void* h = library.connectURL(redirectingUrl.c_str(), 1, nullptr, nullptr);
    NILOState last = NILO_NONE;
    taken = MillisecondsTaken([&] {
        for (int call = 0; call < 100 && last <= NILO_MULTIPART; ++call) {
            char buffer[100];
            unsigned size = sizeof buffer;
            last = library.getData(h, buffer, size);
        }
    });
    library.disconnect(h);
    BRConnectLimit::Reset();
    EXPECT_EQ(last, NILO_ERROR);
    EXPECT_LT(taken, 5000);
}

}  // namespace

namespace {

TEST(BRLibraryTest, LoadingBuildsTheCssRegistryAndColourSet) {
    const BRLibrary& library = BRLibrary::instance();
    EXPECT_EQ(library.propertyRegistry().getPropertyFactories().size(), 175u);
    EXPECT_EQ(library.propertyRegistry().getHelperFactories().size(), 12u);
    EXPECT_EQ(library.colorNames().size(), 140u);
}

}  // namespace
