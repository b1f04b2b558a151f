#pragma once

#include "css/BRCSSElement.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class BRCSSPropertyRegistry;

// Flags of the codes that classifyToken returns for one grammar alternative.
// A keyword is the only odd code; the numeric kinds carry BR_CSS_NUMBER with
// their unit, the multiplicity forms carry BR_CSS_ONE_TO_FOUR with theirs.
inline constexpr int BR_CSS_KEYWORD = 0x1;
inline constexpr int BR_CSS_NUMBER = 0x2;
inline constexpr int BR_CSS_LENGTH = 0x4;
inline constexpr int BR_CSS_PERCENT = 0x8;
inline constexpr int BR_CSS_TIME = 0x10;
inline constexpr int BR_CSS_COLOR = 0x20;
inline constexpr int BR_CSS_STRING = 0x40;
inline constexpr int BR_CSS_PROPERTY = 0x80;
inline constexpr int BR_CSS_NAME = 0x100;
inline constexpr int BR_CSS_ONE_TO_FOUR = 0x200;
inline constexpr int BR_CSS_URL = 0x400;
inline constexpr int BR_CSS_PROPERTY_REF = 0x800;
inline constexpr int BR_CSS_SUBPROPERTIES = 0x1000;
inline constexpr int BR_CSS_CUBIC_BEZIER = 0x2000;
inline constexpr int BR_CSS_FONT = 0x4000;

// One CSS property: a name, the value grammar it accepts and its current value.
//
// A grammar is a sequence of alternatives, each terminated by "|", e.g.
// "ltr|rtl|initial|inherit|". The constructor sorts the alternatives into
// keywords and value-type codes; text after the last "|" is no alternative.
// A grammar without any "|" is taken as the value itself. The value is not
// checked against the grammar.
class BRCSSBaseclassProperty : public BRCSSElement {
public:
    // `owner` may be null; otherwise it must outlive the property, because
    // classifyToken asks it which names are properties.
    BRCSSBaseclassProperty(BRCSSPropertyRegistry* owner, std::string name, std::string grammar);
    ~BRCSSBaseclassProperty() override;

    // Writes "  name:value;" with no line end.
    void write(std::ostream& out) const override;
    void setValue(const std::string& text) override;
    void appendValue(const std::string& text) override;

    // The code of one alternative: BR_CSS_KEYWORD, a type code, a multiplicity
    // code, BR_CSS_SUBPROPERTIES for a blank-separated list of parts, or
    // BR_CSS_PROPERTY_REF for the exact name of a property of `owner`.
    int classifyToken(std::string alternative) const;

    BRCSSPropertyRegistry* getOwner() const { return owner; }
    const std::string& getName() const { return name; }
    const std::string& getGrammar() const { return grammar; }
    const std::string& getValue() const { return value; }
    const std::set<std::string>& getKeywords() const { return keywords; }
    // The code of every alternative that is not a keyword, in grammar order.
    const std::vector<int32_t>& getValueTypes() const { return valueTypes; }
    // The last sub-property list of the grammar; empty when there is none.
    const std::string& getSubProperties() const { return subProperties; }

private:
    BRCSSPropertyRegistry* owner;
    std::string name;
    std::string grammar;
    std::string value;
    std::set<std::string> keywords;
    std::vector<int32_t> valueTypes;
    std::string subProperties;
};
