#include "net/BRDataBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Checks the invariants every operation must keep: the content is where it
// should be and a zero byte follows it.
void ExpectContent(const BRDataBuffer& b, const std::string& content) {
    ASSERT_EQ(b.Size(), content.size());
    EXPECT_EQ(std::string(b.Data(), b.Size()), content);
    EXPECT_EQ(b.Data()[b.Size()], 0);
}

std::string Bytes(size_t n, char first = 'a') {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 23);
    return s;
}

TEST(BRDataBufferTest, WorkedFiguresForGranularity2048) {
    BRDataBuffer b(2048);
    EXPECT_EQ(b.FreeSpace(), 2048u);
    ExpectContent(b, "");

    const std::string first = Bytes(3000);
    EXPECT_EQ(b.Append(first.data(), 3000), 3000u);
    EXPECT_EQ(b.FreeSpace(), 3144u);  // grew by 4096
    ExpectContent(b, first);

    const std::string second = Bytes(5000, 'A');
    b.Append(second.data(), 5000);
    EXPECT_EQ(b.FreeSpace(), 2240u);  // grew by 4096 again: block 10241
    ExpectContent(b, first + second);

    EXPECT_EQ(b.Consume(8000), 8000u);  // 10240 spare > 8192: shrinks
    EXPECT_EQ(b.FreeSpace(), 4096u);
    ExpectContent(b, "");
}

TEST(BRDataBufferTest, ExactFreeSpaceFitsOneMoreByteGrows) {
    for (uint32_t granularity : {1u, 2u, 2048u}) {
        SCOPED_TRACE(granularity);
        BRDataBuffer b(granularity);
        const std::string fill = Bytes(granularity);
        b.Append(fill.data(), granularity);
        EXPECT_EQ(b.FreeSpace(), 0u);
        b.Append("z", 1);
        // Two granules for granularity >= 2, three for granularity 1.
        const uint32_t grown = granularity == 1 ? 3 : 2 * granularity;
        EXPECT_EQ(b.FreeSpace(), grown - 1);
        ExpectContent(b, fill + "z");
    }
}

TEST(BRDataBufferTest, ZeroGranularityMeansOne) {
    BRDataBuffer b(0);
    EXPECT_EQ(b.Granularity(), 1u);
    EXPECT_EQ(b.FreeSpace(), 1u);
    b.Append("xy", 2);
    ExpectContent(b, "xy");
}

TEST(BRDataBufferTest, ZeroLengthAndClampedConsume) {
    BRDataBuffer b(16);
    b.Append("abc", 3);
    const char* before = b.Data();
    EXPECT_EQ(b.Append("ignored", 0), 0u);
    EXPECT_EQ(b.Consume(0), 0u);
    EXPECT_EQ(b.Data(), before);
    ExpectContent(b, "abc");
    EXPECT_EQ(b.Consume(1), 1u);
    ExpectContent(b, "bc");
    EXPECT_EQ(b.Consume(100), 2u);
    ExpectContent(b, "");
}

TEST(BRDataBufferTest, TerminatorFollowsContentHoldingZeroBytes) {
    BRDataBuffer b(4);
    const std::string zeros("\0\0x\0", 4);
    b.Append(zeros.data(), 4);
    b.Append(zeros.data(), 4);
    ExpectContent(b, zeros + zeros);
    b.Consume(3);
    ExpectContent(b, zeros.substr(3) + zeros);
    b.Clear();
    ExpectContent(b, "");
}

TEST(BRDataBufferTest, KeepsItsBlockUntilMoreThanFourGranulesAreSpare) {
    BRDataBuffer b(2048);
    const std::string content = Bytes(20000);
    b.Append(content.data(), 20000);
    const uint32_t spare = b.FreeSpace();
    const char* block = b.Data();
    const uint32_t untilShrink = 4 * 2048 - spare;  // consuming this much leaves exactly 4 granules spare
    b.Consume(untilShrink);
    EXPECT_EQ(b.Data(), block);
    EXPECT_EQ(b.FreeSpace(), 4u * 2048u);
    ExpectContent(b, content.substr(untilShrink));
    b.Consume(1);
    EXPECT_EQ(b.FreeSpace(), 2u * 2048u);
    ExpectContent(b, content.substr(untilShrink + 1));
    b.Clear();
    EXPECT_EQ(b.FreeSpace(), 4096u);  // block of 4097 bytes
}

// A holder that refills the buffer as soon as it is drained keeps its block
// while it says so; room beyond what it keeps goes back, down to the kept
// room; Keep(0) brings back the usual rule.
TEST(BRDataBufferTest, KeptRoomStaysUntilReleased) {
    BRDataBuffer b(2048);
    const std::string content = Bytes(20000);
    for (int round = 0; round < 3; ++round) {
        b.Append(content.data(), 20000);
        b.Keep(b.Size() + b.FreeSpace());
        const char* block = b.Data();
        const uint32_t spare = b.FreeSpace();
        b.Consume(1023);
        ExpectContent(b, content.substr(1023));
        b.Clear();
        ExpectContent(b, "");
        EXPECT_EQ(b.Data(), block);  // a shrink would have moved to a new block
        EXPECT_EQ(b.FreeSpace(), spare + 20000);
    }
    b.Keep(10000);
    b.Append("abc", 3);
    b.Consume(1);
    EXPECT_EQ(b.FreeSpace(), 10000u);
    ExpectContent(b, "bc");
    b.Keep(0);
    b.Consume(1);
    EXPECT_EQ(b.FreeSpace(), 2u * 2048u);
    ExpectContent(b, "c");
}

TEST(BRDataBufferTest, SpareStorageIsWritableScratch) {
    BRDataBuffer b(16384);
    // A file source reads straight into the spare storage of an empty buffer.
    std::vector<char> scratch(b.FreeSpace() + 1, 'x');
    std::copy(scratch.begin(), scratch.end(), b.Data());
    EXPECT_EQ(b.Size(), 0u);
    b.Append("k", 1);
    ExpectContent(b, "k");
}

}  // namespace

namespace {

TEST(BRDataBufferTest, ReserveGrowsLikeAppendAndCommitTakesWhatWasWritten) {
    BRDataBuffer appended(2048);
    BRDataBuffer reserved(2048);
    const std::string bytes = Bytes(3000);
    appended.Append(bytes.data(), 3000);
    char* at = reserved.Reserve(3000);
    EXPECT_EQ(reserved.Size(), 0u);
    std::copy(bytes.begin(), bytes.end(), at);
    reserved.Commit(3000);
    EXPECT_EQ(reserved.FreeSpace(), appended.FreeSpace());
    ExpectContent(reserved, bytes);

    // A producer may write less than it reserved.
    reserved.Reserve(100);
    reserved.Data()[reserved.Size()] = 'x';
    reserved.Commit(1);
    ExpectContent(reserved, bytes + "x");
    reserved.Commit(0);
    ExpectContent(reserved, bytes + "x");
    // One that wrote into the room and then takes none of it (a read that
    // failed) leaves the content followed by its zero byte all the same.
    std::fill_n(reserved.Reserve(10), 10, 'y');
    reserved.Commit(0);
    ExpectContent(reserved, bytes + "x");
    EXPECT_THROW(reserved.Commit(reserved.FreeSpace() + 1), std::length_error);
    ExpectContent(reserved, bytes + "x");
}

}  // namespace
