// File sources and sinks through the five exported functions of the shared
// library, as a program sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "FileFixture.h"
#include "nilo.h"

namespace {

struct Piece {
    NILOState result;
    unsigned size;
};

// Calls GetData with the given room until the result is above NILO_MULTIPART
// (or a safety limit), collecting the bytes and every call's result.
std::vector<Piece> ReadAll(void* handle, unsigned room, std::string& bytes, size_t limit = 1000000) {
    std::vector<Piece> pieces;
    std::vector<char> destination(room + 1);
    for (size_t i = 0; i < limit; ++i) {
        unsigned size = room;
        const NILOState r = GetData(handle, destination.data(), size);
        pieces.push_back({r, size});
        bytes.append(destination.data(), size);
        if (r > NILO_MULTIPART) break;
    }
    return pieces;
}

std::string ConnectFailure(const char* url, int direction) {
    try {
        void* h = ConnectURL(url, direction, nullptr, nullptr);
        DisconnectNILO(h);
        return "connected";
    } catch (const std::exception& e) {
        return e.what();
    }
}

class NiloFileTest : public ::testing::Test {
protected:
    TempFolder folder;
};

TEST_F(NiloFileTest, ReadsTwentyThousandBytesInPiecesOf1023) {
    const std::string content = PatternBytes(20000);
    writeFile((folder / "in.bin"), content);
    void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    ASSERT_NE(h, nullptr);

    std::string bytes;
    const std::vector<Piece> pieces = ReadAll(h, 1023, bytes);
    ASSERT_EQ(pieces.size(), 21u);
    for (size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(pieces[i].result, NILO_DATA) << i;
        EXPECT_EQ(pieces[i].size, 1023u) << i;
    }
    EXPECT_EQ(pieces[19].result, NILO_DATA);
    EXPECT_EQ(pieces[19].size, 563u);
    EXPECT_EQ(pieces[20].result, NILO_END);
    EXPECT_EQ(pieces[20].size, 0u);
    EXPECT_EQ(bytes, content);

    // The end is final: the descriptor is not asked again.
    char c;
    unsigned size = 1;
    EXPECT_EQ(GetData(h, &c, size), NILO_END);
    EXPECT_EQ(size, 0u);
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, DeliversExactBytesForAnyPieceSize) {
    const std::string content = PatternBytes(100000);
    writeFile((folder / "in.bin"), content);
    for (unsigned room : {1u, 1000u, 16384u, 16385u, 1u << 20}) {
        SCOPED_TRACE(room);
        void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, "", "");
        std::string bytes;
        const std::vector<Piece> pieces = ReadAll(h, room, bytes);
        EXPECT_EQ(pieces.back().result, NILO_END);
        EXPECT_EQ(bytes, content);
        DisconnectNILO(h);
    }
}

// Each call fills the caller's room, however large, until the file runs out,
// also when bytes of an earlier step still wait in the handle's buffer.
TEST_F(NiloFileTest, EveryCallFillsTheRoomUntilTheEnd) {
    const std::string content = PatternBytes(2 * (1u << 20) + 70001);
    writeFile((folder / "in.bin"), content);
    struct Case {
        unsigned first;  // room of the first call
        unsigned room;   // of every later call
    } cases[] = {{1023, 1023}, {16384, 16384}, {16385, 16385}, {65536, 65536}, {1u << 20, 1u << 20},
                 {0, 1u << 20}, {1023, 65536}, {20000, 16385}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.room));
        void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
        std::vector<char> destination(std::max(c.first, c.room));
        unsigned size = c.first;
        ASSERT_EQ(GetData(h, destination.data(), size), NILO_DATA);
        ASSERT_EQ(size, c.first);
        std::string bytes(destination.data(), size);
        const std::vector<Piece> pieces = ReadAll(h, c.room, bytes);
        ASSERT_GE(pieces.size(), 2u);
        EXPECT_EQ(pieces.back().result, NILO_END);
        const size_t lastData = pieces.size() - 2;
        for (size_t i = 0; i < lastData; ++i) {
            ASSERT_EQ(pieces[i].size, c.room) << "call " << i;
        }
        EXPECT_GT(pieces[lastData].size, 0u);
        EXPECT_LE(pieces[lastData].size, c.room);
        EXPECT_EQ(bytes, content);
        DisconnectNILO(h);
    }
}

TEST_F(NiloFileTest, EmptyFileGivesDataThenEnd) {
    writeFile((folder / "empty"), "");
    void* h = ConnectURL(FileUrl((folder / "empty")).c_str(), 1, nullptr, nullptr);
    char c;
    unsigned size = 1;
    EXPECT_EQ(GetData(h, &c, size), NILO_DATA);
    EXPECT_EQ(size, 0u);
    size = 1;
    EXPECT_EQ(GetData(h, &c, size), NILO_END);
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, SizeZeroRunsAStepAndKeepsItsBytes) {
    const std::string content = PatternBytes(20000);
    writeFile((folder / "in.bin"), content);
    void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    std::vector<char> destination(20000);

    unsigned size = 0;
    EXPECT_EQ(GetData(h, destination.data(), size), NILO_DATA);
    EXPECT_EQ(size, 0u);
    // The first 16384 bytes wait in the buffer; one more step brings the rest.
    size = 20000;
    EXPECT_EQ(GetData(h, destination.data(), size), NILO_DATA);
    ASSERT_EQ(size, 20000u);
    EXPECT_EQ(std::string(destination.data(), size), content);
    size = 20000;
    EXPECT_EQ(GetData(h, destination.data(), size), NILO_END);
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, DirectionFlagSevenOpensASourceAndZeroASink) {
    writeFile((folder / "in.bin"), "abc");
    void* source = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 7, nullptr, nullptr);
    std::string bytes;
    ReadAll(source, 10, bytes);
    EXPECT_EQ(bytes, "abc");
    DisconnectNILO(source);

    void* sink = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 0, nullptr, nullptr);
    EXPECT_EQ(readFile((folder / "in.bin")), "");  // truncated on opening
    DisconnectNILO(sink);
}

TEST_F(NiloFileTest, SinkTruncatesAndHoldsExactlyTheBytesWrittenAfterEachCall) {
    writeFile((folder / "out.bin"), std::string(5000, 'x'));
    void* h = ConnectURL(FileUrl((folder / "out.bin")).c_str(), 0, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(readFile((folder / "out.bin")), "");

    std::string expected;
    const std::vector<std::string> pieces = {std::string("a\r\nb\0c\x1a", 7), "", PatternBytes(70000), "\n"};
    for (const std::string& piece : pieces) {
        std::string copy = piece;
        EXPECT_EQ(WriteData(h, copy.data(), static_cast<unsigned>(copy.size())), NILO_DATA);
        expected += piece;
        // Each call hands its bytes to the system before it returns.
        EXPECT_EQ(readFile((folder / "out.bin")), expected);
    }
    DisconnectNILO(h);
    EXPECT_EQ(readFile((folder / "out.bin")), expected);
}

TEST_F(NiloFileTest, FailingSinkReportsErrorAndStaysFailed) {
    NILO_SKIP_WITHOUT_FULL_DEVICE();
    void* h = ConnectURL(FileUrl("/dev/full").c_str(), 0, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    std::string bytes = PatternBytes(100);
    EXPECT_EQ(WriteData(h, bytes.data(), 100), NILO_ERROR);
    EXPECT_EQ(WriteData(h, bytes.data(), 100), NILO_ERROR);
    EXPECT_EQ(WriteData(h, bytes.data(), 0), NILO_ERROR);
    // The failed bytes are not handed back as if they were source data.
    char c;
    unsigned size = 1;
    EXPECT_EQ(GetData(h, &c, size), NILO_ERROR);
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, SourceThatCannotBeReadEndsInError) {
#if defined(_WIN32)
    // A folder does not open as a file here: the source fails at once.
    EXPECT_EQ(ConnectFailure(FileUrl(folder.path).c_str(), 1), "can't create data source descriptor");
    return;
#endif
    // A folder opens like a file but every read fails.
    void* h = ConnectURL(FileUrl(folder.path).c_str(), 1, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    std::string bytes;
    const std::vector<Piece> pieces = ReadAll(h, 100, bytes, 10);
    EXPECT_EQ(pieces.back().result, NILO_ERROR);
    EXPECT_EQ(bytes, "");
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, SinkReadFromFailsAndStaysFailed) {
    void* h = ConnectURL(FileUrl((folder / "out.bin")).c_str(), 0, nullptr, nullptr);
    char buffer[10];
    unsigned size = 10;
    EXPECT_EQ(GetData(h, buffer, size), NILO_ERROR);
    EXPECT_EQ(size, 0u);
    char bytes[] = "abc";
    EXPECT_EQ(WriteData(h, bytes, 3), NILO_ERROR);
    DisconnectNILO(h);
    EXPECT_EQ(readFile((folder / "out.bin")), "");
}

TEST_F(NiloFileTest, BytesWrittenToASourceComeBackThenError) {
    writeFile((folder / "in.bin"), "file content");
    void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    char bytes[] = "written";
    EXPECT_EQ(WriteData(h, bytes, 7), NILO_ERROR);

    std::string read;
    const std::vector<Piece> pieces = ReadAll(h, 4, read);
    EXPECT_EQ(read, "written");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].result, NILO_DATA);
    EXPECT_EQ(pieces[1].result, NILO_DATA);
    EXPECT_EQ(pieces[2].result, NILO_ERROR);
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, UnknownHandlesAreRefusedWithoutTouchingAnything) {
    writeFile((folder / "in.bin"), "abc");
    void* disconnected = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    DisconnectNILO(disconnected);
    int foreign = 0;
    for (const void* h : {static_cast<const void*>(nullptr), static_cast<const void*>(&foreign),
                          static_cast<const void*>(disconnected)}) {
        char destination[4] = {'q', 'q', 'q', 'q'};
        unsigned size = 4;
        EXPECT_EQ(GetData(h, destination, size), NILO_ERROR);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(destination[0], 'q');
        char bytes[] = "xy";
        EXPECT_EQ(WriteData(h, bytes, 2), NILO_ERROR);
        EXPECT_EQ(GetLog(h), nullptr);
        DisconnectNILO(h);  // ignored
    }
    EXPECT_EQ(foreign, 0);
}

TEST_F(NiloFileTest, FileHandlesLogNothing) {
    writeFile((folder / "in.bin"), "abc");
    void* h = ConnectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    const char* first = GetLog(h);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
    std::string bytes;
    ReadAll(h, 2, bytes);
    const char* second = GetLog(h);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "");
    DisconnectNILO(h);
}

TEST_F(NiloFileTest, EveryConnectFailureReachesTheCallerAsOneMessage) {
    const std::string missing = FileUrl((folder / "missing.bin"));
    const std::string inMissingFolder = FileUrl((folder / "no/such/out.bin"));
    struct Case {
        const char* url;
        int direction;
    } cases[] = {
        {missing.c_str(), 1},           // no such file
        {inMissingFolder.c_str(), 0},   // sink in a missing folder
        {"file://", 1},                 // empty path
        {"no colon at all", 1},         // parser: missing scheme
        {"mailto:someone", 1},          // parser: refused scheme
        {"file:///a\nb", 0},            // parser: control character
        {"", 1},                        // empty URL
        {nullptr, 1},                   // no URL at all
        {"https://camera1/", 1},        // types that no transport serves
        {"pelix://camera1/", 1},
        {"ftp://camera1/", 1},
        {"gopher://camera1/", 0},
        {"http://camera1/", 0},         // HTTP as a sink
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url != nullptr ? c.url : "(null)");
        EXPECT_EQ(ConnectFailure(c.url, c.direction), "can't create data source descriptor");
    }
}

TEST_F(NiloFileTest, OpeningAFileSourcePrintsItsPathFirst) {
    const std::string path = (folder / "missing.bin");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ConnectFailure(FileUrl(path).c_str(), 1), "can't create data source descriptor");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "url path: /" + path + "\n");

    // A sink prints nothing.
    testing::internal::CaptureStdout();
    void* h = ConnectURL(FileUrl((folder / "out.bin")).c_str(), 0, nullptr, nullptr);
    DisconnectNILO(h);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
