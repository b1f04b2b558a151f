#pragma once

#include "css/BRCSSBaseclassProperty.h"

#include <memory>
#include <string>

class BRCSSPropertyRegistry;

// Makes new properties of one name and grammar whose owner is the registry
// that stored the factory. Each call returns a new object owned by the caller.
class BRCSSPropertyFactory {
public:
    BRCSSPropertyFactory(BRCSSPropertyRegistry* registry, std::string name, std::string grammar);

    std::unique_ptr<BRCSSBaseclassProperty> operator()() const;

private:
    BRCSSPropertyRegistry* registry;
    std::string name;
    std::string grammar;
};
