#include "css/BRCSSBaseclassProperty.h"
#include "css/BRCSSPropertyRegistry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ClassifyCase {
    std::string alternative;
    bool withRegistry;
    int code;
};

TEST(BRCSSClassifyTokenTest, ClassifiesEachAlternative) {
    BRCSSPropertyRegistry registry;
    const ClassifyCase cases[] = {
        // Property names that are keywords or type words before they are references.
        {"left", true, BR_CSS_KEYWORD},
        {"top", true, BR_CSS_KEYWORD},
        {"right", true, BR_CSS_KEYWORD},
        {"bottom", true, BR_CSS_KEYWORD},
        {"color", true, 32},
        {"font", true, 16384},
        // Type words.
        {"number", false, 2},
        {"url", false, 1024},
        {"cubic-bezier(n,n,n,n)", false, 8192},
        {"length", false, 6},
        {"color", false, 32},
        {"string", false, 64},
        {"time", false, 18},
        {"property", false, 128},
        {"name", false, 256},
        {"%", false, 10},
        {"font", false, 16384},
        // Multiplicity forms, and other texts with a blank.
        {"1-4 length", false, 516},
        {"1-4 %", false, 520},
        {"1-4 number", false, BR_CSS_SUBPROPERTIES},
        {"cubic-bezier(n, n, n, n)", false, BR_CSS_SUBPROPERTIES},
        {"length ", false, BR_CSS_SUBPROPERTIES},
        {" none", false, BR_CSS_SUBPROPERTIES},
        {"border-width border-style", true, BR_CSS_SUBPROPERTIES},
        // Property references need the registry; helper names are keywords.
        {"flex", true, BR_CSS_PROPERTY_REF},
        {"clip", true, BR_CSS_PROPERTY_REF},
        {"icon", true, BR_CSS_PROPERTY_REF},
        {"flex", false, BR_CSS_KEYWORD},
        {"clip", false, BR_CSS_KEYWORD},
        {"blur", true, BR_CSS_KEYWORD},
        {"spread", true, BR_CSS_KEYWORD},
        {"x-axis", true, BR_CSS_KEYWORD},
        {"bpos-helper", true, BR_CSS_KEYWORD},
        // Keywords: anything else, exact case, the empty text included.
        {"none", true, BR_CSS_KEYWORD},
        {"", true, BR_CSS_KEYWORD},
        {"URL", false, BR_CSS_KEYWORD},
        {"Length", false, BR_CSS_KEYWORD},
        {"NUMBER", false, BR_CSS_KEYWORD},
        {"Flex", true, BR_CSS_KEYWORD},
    };
    const BRCSSBaseclassProperty withRegistry(&registry, "p", "");
    const BRCSSBaseclassProperty withoutOwner(nullptr, "p", "");
    for (const auto& c : cases) {
        const auto& property = c.withRegistry ? withRegistry : withoutOwner;
        EXPECT_EQ(property.classifyToken(c.alternative), c.code)
            << '"' << c.alternative << '"' << (c.withRegistry ? " with" : " without") << " registry";
    }
}

}  // namespace
