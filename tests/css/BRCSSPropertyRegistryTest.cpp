#include "css/BRCSSPropertyRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using Keywords = std::set<std::string>;
using Codes = std::vector<int32_t>;

TEST(BRCSSPropertyRegistryTest, HoldsThePropertyAndHelperNames) {
    const BRCSSPropertyRegistry registry;
    const auto& properties = registry.getPropertyFactories();
    const auto& helpers = registry.getHelperFactories();
    ASSERT_EQ(properties.size(), 175u);
    ASSERT_EQ(helpers.size(), 12u);
    EXPECT_EQ(properties.begin()->first, "align-content");
    EXPECT_EQ(properties.rbegin()->first, "z-index");
    EXPECT_EQ(helpers.begin()->first, "%");
    EXPECT_EQ(helpers.rbegin()->first, "z-axis");
    for (const auto& helper : helpers) {
        EXPECT_EQ(properties.count(helper.first), 0u) << helper.first << " is both";
    }
    EXPECT_EQ(registry.getMarkedProperties(),
              (Keywords{"animation", "background", "border-top", "box-shadow", "transition"}));

    for (const char* name : {"left", "color", "font", "cursor", "z-index"}) {
        EXPECT_TRUE(registry.hasProperty(name)) << name;
    }
    for (const char* name : {"blur", "x-axis", "bpos-helper", "length", "%", "", "Color", "color "}) {
        EXPECT_FALSE(registry.hasProperty(name)) << '"' << name << '"';
    }
}

// Every factory makes a property of its own name owned by the registry, and
// the parts of every shorthand name properties, helpers or plain types.
TEST(BRCSSPropertyRegistryTest, EveryFactoryMakesAWellFormedProperty) {
    BRCSSPropertyRegistry registry;
    std::set<std::string> helpersNamed;
    for (const auto* factories : {&registry.getPropertyFactories(), &registry.getHelperFactories()}) {
        for (const auto& [name, factory] : *factories) {
            SCOPED_TRACE(name);
            const auto property = factory();
            ASSERT_NE(property, nullptr);
            EXPECT_EQ(property->getOwner(), &registry);
            EXPECT_EQ(property->getName(), name);
            ASSERT_FALSE(property->getGrammar().empty());
            EXPECT_EQ(property->getGrammar().back(), '|');
            EXPECT_EQ(property->getValue(), "initial");

            const auto& types = property->getValueTypes();
            const auto lists = std::count(types.begin(), types.end(), BR_CSS_SUBPROPERTIES);
            EXPECT_EQ(lists, property->getSubProperties().empty() ? 0 : 1);

            const std::string& list = property->getSubProperties();
            std::string::size_type start = 0;
            while (start < list.size()) {
                const auto end = std::min(list.find(' ', start), list.find('/', start));
                const std::string part = list.substr(start, end - start);
                const bool typeWord = part == "name" || part == "number" || part == "color";
                const bool helper = registry.getHelperFactories().count(part) != 0;
                EXPECT_TRUE(typeWord || helper || registry.hasProperty(part)) << '"' << part << '"';
                if (helper) {
                    helpersNamed.insert(part);
                }
                start = end == std::string::npos ? end : end + 1;
            }
        }
    }
    // Only these helpers stand on their own.
    for (const auto& helper : registry.getHelperFactories()) {
        const bool alone = helper.first == "verbpos" || helper.first == "length" || helper.first == "%";
        EXPECT_NE(helpersNamed.count(helper.first) != 0, alone) << helper.first;
    }
}

struct FactoryCase {
    const char* name;
    Keywords keywords;
    Codes valueTypes;
    std::string subProperties;
};

TEST(BRCSSPropertyRegistryTest, FactoriesSplitTheirGrammars) {
    BRCSSPropertyRegistry registry;
    const FactoryCase cases[] = {
        {"border-top", {"inherit", "initial"}, {4096}, "border-width border-style border-color"},
        {"perspective", {"none"}, {6}, ""},
        {"display",
         {"block", "inherit", "initial", "inline", "inline-block", "inline-flex", "inline-table",
          "list-item", "none", "run-in", "table", "table-caption", "table-cell", "table-column",
          "table-column-group", "table-footer-group", "table-header-group", "table-row",
          "table-row-group"},
         {2048},
         ""},
        {"font",
         {"caption", "inherit", "initial", "menu", "message-box", "small-caption", "status-bar"},
         {4096, 2048},
         "font-style font-variant font-weight font-size/line-height"},
        {"text-overflow", {"ellipsis", "inherit", "initial"}, {2048, 64}, ""},
        {"border-radius", {"inherit", "initial"}, {516, 520, 6, 10}, ""},
        {"box-shadow", {"inherit", "initial", "inset", "none"}, {4096}, "h-shadow v-shadow blur spread color"},
        {"counter-reset", {"inherit", "initial", "none"}, {4096}, "name number"},
        {"animation-timing-function", {"ease", "ease-in", "ease-out", "inherit", "initial", "linear"}, {8192}, ""},
        {"icon", {"URL", "auto", "inherit", "initial"}, {}, ""},
        {"bpos-helper", {"bottom", "center", "left", "right", "top"}, {6, 10}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto found = registry.getPropertyFactories().find(c.name);
        if (found == registry.getPropertyFactories().end()) {
            found = registry.getHelperFactories().find(c.name);
            ASSERT_NE(found, registry.getHelperFactories().end());
        }
        const auto property = found->second();
        EXPECT_EQ(property->getName(), c.name);
        EXPECT_EQ(property->getKeywords(), c.keywords);
        EXPECT_EQ(property->getValueTypes(), c.valueTypes);
        EXPECT_EQ(property->getSubProperties(), c.subProperties);
    }
}

TEST(BRCSSPropertyRegistryTest, CursorKeepsItsRepeatedKeywordOnce) {
    const BRCSSPropertyRegistry registry;
    const auto cursor = registry.getPropertyFactories().at("cursor")();
    const std::string& grammar = cursor->getGrammar();
    const auto first = grammar.find("|nw-resize|");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(grammar.find("|nw-resize|", first + 1), first + 10);
    EXPECT_EQ(cursor->getKeywords().size(), 39u);  // 40 alternatives, one repeated
    EXPECT_EQ(cursor->getKeywords().count("nw-resize"), 1u);
    EXPECT_EQ(cursor->getKeywords().count("URL"), 1u);
    EXPECT_TRUE(cursor->getValueTypes().empty());
}

TEST(BRCSSPropertyRegistryTest, EachCallMakesANewProperty) {
    const BRCSSPropertyRegistry registry;
    const auto& factory = registry.getPropertyFactories().at("margin");
    const auto a = factory();
    const auto b = factory();
    ASSERT_NE(a.get(), b.get());
    a->setValue("0");
    EXPECT_EQ(b->getValue(), "initial");
    EXPECT_EQ(a->getGrammar(), b->getGrammar());
    EXPECT_EQ(a->getKeywords(), b->getKeywords());
    EXPECT_EQ(a->getValueTypes(), (Codes{6, 516, 10}));
    EXPECT_EQ(b->getValueTypes(), a->getValueTypes());
}

}  // namespace
