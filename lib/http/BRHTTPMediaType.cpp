#include "http/BRHTTPMediaType.h"

#include "http/BRHTTPText.h"

BRHTTPMediaType::BRHTTPMediaType(std::string_view value) {
    const size_t semicolon = value.find(';');
    type = std::string(BRHTTPText::Trim(value.substr(0, semicolon)));
    if (semicolon == std::string_view::npos) return;
    std::string_view rest = value.substr(semicolon + 1);

    // Each round reads one parameter: name, "=", a token or a quoted string,
    // then up to the next ";". What cannot be read is skipped to that ";".
    while (!rest.empty()) {
        const size_t nameEnd = rest.find_first_of("=;");
        const std::string_view name = BRHTTPText::Trim(rest.substr(0, nameEnd));
        if (nameEnd == std::string_view::npos || rest[nameEnd] == ';') {
            rest.remove_prefix(nameEnd == std::string_view::npos ? rest.size() : nameEnd + 1);
            continue;
        }
        rest.remove_prefix(nameEnd + 1);
        while (!rest.empty() && BRHTTPText::IsBlank(rest.front())) rest.remove_prefix(1);
        std::string parameterValue;
        if (!rest.empty() && rest.front() == '"') {
            size_t i = 1;
            for (; i < rest.size() && rest[i] != '"'; ++i) {
                if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
                parameterValue += rest[i];
            }
            rest.remove_prefix(i < rest.size() ? i + 1 : rest.size());
            const size_t next = rest.find(';');
            rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
        } else {
            const size_t next = rest.find(';');
            parameterValue = std::string(BRHTTPText::Trim(rest.substr(0, next)));
            rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
        }
        if (!name.empty()) parameters.emplace_back(std::string(name), std::move(parameterValue));
    }
}

bool BRHTTPMediaType::Is(std::string_view typeSubtype) const {
    return BRHTTPText::EqualsIgnoringCase(type, typeSubtype);
}

const std::string* BRHTTPMediaType::Parameter(std::string_view name) const {
    for (const auto& p : parameters) {
        if (BRHTTPText::EqualsIgnoringCase(p.first, name)) return &p.second;
    }
    return nullptr;
}
