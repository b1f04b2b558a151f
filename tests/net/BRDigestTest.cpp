#include "net/BRDigest.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Algorithm = BRDigest::Algorithm;

TEST(BRDigestTest, KnownDigests) {
    struct Case {
        std::string bytes;
        const char* md5;
        const char* sha256;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Any bytes: a NUL and a byte above 127 are hashed like the others.
        {std::string("a\0b\xff", 4), "0dd4df5b5be53b9566c53387ec9a7bac",
         "a37cc3026aae4d519e0b19c298fa913b4dccfdf0658cbccbb7deaa0226d5acdb"},
        // Many blocks.
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 8));
        EXPECT_EQ(BRDigest::MD5Hex(c.bytes), c.md5);
        EXPECT_EQ(BRDigest::SHA256Hex(c.bytes), c.sha256);
        EXPECT_EQ(BRDigest::Hex(Algorithm::SHA256, c.bytes), c.sha256);
    }
}

TEST(BRDigestTest, RandomBytesFillTheBufferDifferentlyEachTime) {
    std::set<std::vector<unsigned char>> seen;
    for (int draw = 0; draw < 3; ++draw) {
        std::vector<unsigned char> bytes(300, 0);
        ASSERT_TRUE(BRDigest::RandomBytes(bytes.data(), bytes.size()));
        // The last bytes are filled too (all zero has a chance of 2^-128).
        EXPECT_NE(std::vector<unsigned char>(bytes.end() - 16, bytes.end()), std::vector<unsigned char>(16, 0));
        seen.insert(bytes);
    }
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(BRDigest::RandomBytes(nullptr, 0));
}

}  // namespace
