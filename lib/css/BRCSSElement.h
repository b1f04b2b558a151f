#pragma once

#include <memory>
#include <ostream>
#include <string>

// The polymorphic root of the elements of a style description. The operations
// that an element does not need stay empty.
class BRCSSElement {
public:
    virtual ~BRCSSElement();

    // Takes ownership of `element` and destroys it at once; always returns 0.
    virtual int takeElement(std::unique_ptr<BRCSSElement> element);
    virtual void write(std::ostream& out) const;
    virtual void setValue(const std::string& text);
    virtual void appendValue(const std::string& text);
};
