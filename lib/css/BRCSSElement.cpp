#include "css/BRCSSElement.h"

BRCSSElement::~BRCSSElement() = default;

int BRCSSElement::takeElement(std::unique_ptr<BRCSSElement> element) {
    element.reset();
    return 0;
}

void BRCSSElement::write(std::ostream&) const {}

void BRCSSElement::setValue(const std::string&) {}

void BRCSSElement::appendValue(const std::string&) {}
