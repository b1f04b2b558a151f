#pragma once

#include "css/BRCSSPropertyFactory.h"

#include <map>
#include <set>
#include <string>

// Binds the CSS property names, and the helper names that shorthand grammars
// use for their parts, to factories of property objects. The factories and
// the properties they make point back at the registry, so it can be neither
// copied nor moved, and it must outlive every property it made.
class BRCSSPropertyRegistry {
public:
    BRCSSPropertyRegistry();
    ~BRCSSPropertyRegistry();
    BRCSSPropertyRegistry(const BRCSSPropertyRegistry&) = delete;
    BRCSSPropertyRegistry& operator=(const BRCSSPropertyRegistry&) = delete;

    // True exactly for the keys of getPropertyFactories(); helper names are no
    // properties.
    bool hasProperty(const std::string& name) const;

    const std::map<std::string, BRCSSPropertyFactory>& getPropertyFactories() const {
        return propertyFactories;
    }
    const std::map<std::string, BRCSSPropertyFactory>& getHelperFactories() const {
        return helperFactories;
    }
    const std::set<std::string>& getMarkedProperties() const { return markedProperties; }

private:
    std::map<std::string, BRCSSPropertyFactory> propertyFactories;
    std::map<std::string, BRCSSPropertyFactory> helperFactories;
    std::set<std::string> markedProperties;
};
