#include "diag/BRException.h"

#include <gtest/gtest.h>

namespace {

TEST(BRExceptionTest, CarriesMessageThroughCopiesAndBaseCatch) {
    try {
        throw BRException("can't create data source descriptor", __LINE__, "src");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "can't create data source descriptor");
        const auto& original = dynamic_cast<const BRException&>(e);
        EXPECT_TRUE(original.detail.empty());
        const BRException copy(original);
        const BRException passedOn(original, 42, "elsewhere");
        EXPECT_STREQ(copy.what(), e.what());
        EXPECT_STREQ(passedOn.what(), e.what());
    }
}

TEST(BRExceptionTest, CopyKeepsDetail) {
    BRException e("m", 1, "src");
    e.detail = "d";
    BRException assigned("other", 2, "src");
    assigned = e;
    EXPECT_EQ(BRException(e).detail, "d");
    EXPECT_EQ(assigned.detail, "d");
    EXPECT_STREQ(assigned.what(), "m");
}

}  // namespace
