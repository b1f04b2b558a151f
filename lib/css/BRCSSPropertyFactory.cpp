#include "css/BRCSSPropertyFactory.h"

#include <utility>

BRCSSPropertyFactory::BRCSSPropertyFactory(BRCSSPropertyRegistry* registry, std::string name,
                                           std::string grammar)
    : registry(registry), name(std::move(name)), grammar(std::move(grammar)) {}

std::unique_ptr<BRCSSBaseclassProperty> BRCSSPropertyFactory::operator()() const {
    return std::make_unique<BRCSSBaseclassProperty>(registry, name, grammar);
}
