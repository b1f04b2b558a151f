#include "css/BRCSSBaseclassProperty.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* what;
    std::string grammar;
    std::set<std::string> keywords;
    std::vector<int32_t> valueTypes;
    std::string subProperties;
    std::string value;
};

TEST(BRCSSBaseclassPropertyTest, SplitsGrammarIntoKeywordsAndValueTypes) {
    const SplitCase cases[] = {
        {"multiplicity forms", "1-4 length|1-4 %|length|%|initial|inherit|",
         {"inherit", "initial"}, {516, 520, 6, 10}, "", "initial"},
        {"sub-property list", "border-width border-style border-color|initial|inherit|",
         {"inherit", "initial"}, {4096}, "border-width border-style border-color", "initial"},
        {"one type word", "length|", {}, {6}, "", "initial"},
        {"no bar: the grammar is the value", "length", {}, {}, "", "length"},
        {"empty grammar", "", {}, {}, "", ""},
        {"missing final bar loses the last alternative", "length|auto|%|initial|inherit",
         {"auto", "initial"}, {6, 10}, "", "initial"},
        {"repeats: keyword once, type code twice", "nw-resize|length|nw-resize|length|",
         {"nw-resize"}, {6, 6}, "", "initial"},
        {"two lists: the later one is kept", "a b|c|d/e f|", {"c"}, {4096, 4096}, "d/e f",
         "initial"},
        {"empty alternatives are the empty keyword", "|x||", {"", "x"}, {}, "", "initial"},
        {"case matters", "URL|url|Length|", {"URL", "Length"}, {1024}, "", "initial"},
        {"no trimming", " auto|auto |", {}, {4096, 4096}, "auto ", "initial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BRCSSBaseclassProperty p(nullptr, "p", c.grammar);
        EXPECT_EQ(p.getName(), "p");
        EXPECT_EQ(p.getGrammar(), c.grammar);
        EXPECT_EQ(p.getKeywords(), c.keywords);
        EXPECT_EQ(p.getValueTypes(), c.valueTypes);
        EXPECT_EQ(p.getSubProperties(), c.subProperties);
        EXPECT_EQ(p.getValue(), c.value);
        EXPECT_EQ(p.getOwner(), nullptr);
    }
}

TEST(BRCSSBaseclassPropertyTest, WritesNameAndValueThroughTheBaseClass) {
    BRCSSBaseclassProperty p(nullptr, "color", "color|initial|inherit|");
    BRCSSElement& element = p;
    std::ostringstream out;
    element.write(out);
    EXPECT_EQ(out.str(), "  color:initial;");

    element.appendValue(";");
    EXPECT_EQ(p.getValue(), "initial;");
    // The value is not checked against the grammar.
    element.setValue("not a colour");
    EXPECT_EQ(p.getValue(), "not a colour");
    p.setValue(p.getValue());
    EXPECT_EQ(p.getValue(), "not a colour");
    p.appendValue(p.getValue());
    EXPECT_EQ(p.getValue(), "not a colournot a colour");
    element.setValue("");
    EXPECT_EQ(p.getValue(), "");
    std::ostringstream again;
    element.write(again);
    EXPECT_EQ(again.str(), "  color:;");
    EXPECT_EQ(p.getKeywords(), (std::set<std::string>{"inherit", "initial"}));
}

TEST(BRCSSBaseclassPropertyTest, BaseElementOperationsDoNothing) {
    BRCSSElement element;
    std::ostringstream out;
    element.write(out);
    element.setValue("x");
    element.appendValue("y");
    EXPECT_EQ(out.str(), "");
}

// Records its own destruction.
class Probe : public BRCSSElement {
public:
    explicit Probe(bool& destroyed) : destroyed(destroyed) {}
    ~Probe() override { destroyed = true; }

private:
    bool& destroyed;
};

TEST(BRCSSBaseclassPropertyTest, TakeElementDestroysWhatItIsGiven) {
    BRCSSElement element;
    BRCSSBaseclassProperty property(nullptr, "p", "a|");
    for (BRCSSElement* taker : {&element, static_cast<BRCSSElement*>(&property)}) {
        EXPECT_EQ(taker->takeElement(nullptr), 0);

        bool destroyed = false;
        EXPECT_EQ(taker->takeElement(std::make_unique<Probe>(destroyed)), 0);
        EXPECT_TRUE(destroyed);

        // A property given away is freed whole (the sanitizer build checks).
        EXPECT_EQ(taker->takeElement(std::make_unique<BRCSSBaseclassProperty>(nullptr, "q", "x y|z|")), 0);
    }
    EXPECT_EQ(property.getValue(), "initial");
}

}  // namespace
