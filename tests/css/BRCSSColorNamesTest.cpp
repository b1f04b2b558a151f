#include "css/BRCSSColorNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

TEST(BRCSSColorNamesTest, HoldsTheGrayButNotTheGreySpellings) {
    const auto names = buildCSSColorNames();
    ASSERT_EQ(names.size(), 140u);
    EXPECT_EQ(*names.begin(), "aliceblue");
    EXPECT_EQ(*names.rbegin(), "yellowgreen");
    for (const char* gray : {"darkgray", "darkslategray", "dimgray", "gray", "lightgray",
                             "lightslategray", "slategray"}) {
        EXPECT_EQ(names.count(gray), 1u) << gray;
        std::string grey = gray;
        grey.replace(grey.find("gray"), 4, "grey");
        EXPECT_EQ(names.count(grey), 0u) << grey;
    }
    for (const auto& name : names) {
        for (const char c : name) {
            EXPECT_TRUE(std::islower(static_cast<unsigned char>(c))) << name;
        }
        EXPECT_EQ(name.find("grey"), std::string::npos) << name;
    }
}

TEST(BRCSSColorNamesTest, LookupsAreExact) {
    const auto names = buildCSSColorNames();
    for (const char* absent : {"AliceBlue", "aliceBlue", "ALICEBLUE", "aliceblue ", "transparent",
                               "rebeccapurple", "currentcolor", ""}) {
        EXPECT_EQ(names.count(absent), 0u) << '"' << absent << '"';
    }
    for (const char* present : {"aliceblue", "black", "fuchsia", "lightgoldenrodyellow", "white"}) {
        EXPECT_EQ(names.count(present), 1u) << present;
    }
}

}  // namespace
