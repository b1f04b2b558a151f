#include "css/BRCSSBaseclassProperty.h"

#include "css/BRCSSPropertyRegistry.h"

#include <utility>

BRCSSBaseclassProperty::BRCSSBaseclassProperty(BRCSSPropertyRegistry* owner, std::string name,
                                               std::string grammar)
    : owner(owner), name(std::move(name)), grammar(std::move(grammar)) {
    std::string::size_type bar = this->grammar.find('|');
    if (bar == std::string::npos) {
        value = this->grammar;
        return;
    }
    std::string::size_type start = 0;
    while (bar != std::string::npos) {
        std::string alternative = this->grammar.substr(start, bar - start);
        start = bar + 1;
        const int code = classifyToken(alternative);
        if (code % 2 != 0) {
            keywords.insert(std::move(alternative));
        } else {
            if (code == BR_CSS_SUBPROPERTIES) {
                subProperties = std::move(alternative);
            }
            valueTypes.push_back(code);
        }
        bar = this->grammar.find('|', start);
    }
    value = "initial";
}

BRCSSBaseclassProperty::~BRCSSBaseclassProperty() = default;

void BRCSSBaseclassProperty::write(std::ostream& out) const {
    out << "  " << name << ":" << value << ";";
}

void BRCSSBaseclassProperty::setValue(const std::string& text) {
    value = text;
}

void BRCSSBaseclassProperty::appendValue(const std::string& text) {
    value += text;
}

int BRCSSBaseclassProperty::classifyToken(std::string alternative) const {
    // The order matters: "left", "top", "right", "bottom", "color" and "font"
    // are property names too, and the two multiplicity forms hold a blank.
    static const struct {
        const char* text;
        int code;
    } exact[] = {
        {"left", BR_CSS_KEYWORD},
        {"top", BR_CSS_KEYWORD},
        {"right", BR_CSS_KEYWORD},
        {"bottom", BR_CSS_KEYWORD},
        {"number", BR_CSS_NUMBER},
        {"url", BR_CSS_URL},
        {"cubic-bezier(n,n,n,n)", BR_CSS_CUBIC_BEZIER},
        {"length", BR_CSS_NUMBER | BR_CSS_LENGTH},
        {"color", BR_CSS_COLOR},
        {"string", BR_CSS_STRING},
        {"time", BR_CSS_NUMBER | BR_CSS_TIME},
        {"property", BR_CSS_PROPERTY},
        {"name", BR_CSS_NAME},
        {"%", BR_CSS_NUMBER | BR_CSS_PERCENT},
        {"1-4 length", BR_CSS_ONE_TO_FOUR | BR_CSS_LENGTH},
        {"1-4 %", BR_CSS_ONE_TO_FOUR | BR_CSS_PERCENT},
        {"font", BR_CSS_FONT},
    };
    for (const auto& entry : exact) {
        if (alternative == entry.text) {
            return entry.code;
        }
    }
    if (alternative.find(' ') != std::string::npos) {
        return BR_CSS_SUBPROPERTIES;
    }
    if (owner != nullptr && owner->hasProperty(alternative)) {
        return BR_CSS_PROPERTY_REF;
    }
    return BR_CSS_KEYWORD;
}
