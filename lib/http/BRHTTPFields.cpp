#include "http/BRHTTPFields.h"

#include "http/BRHTTPText.h"

bool BRHTTPFields::Parse(std::string_view block) {
    fields.clear();
    while (!block.empty()) {
        // One line: up to its LF, without the CR before it. Any other CR is
        // a lone one, which some parsers take for a line end and others do
        // not: such a block cannot be read the same way by everyone.
        const size_t lf = block.find('\n');
        std::string_view line = block.substr(0, lf);
        block.remove_prefix(lf == std::string_view::npos ? block.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos) return false;

        if (!line.empty() && BRHTTPText::IsBlank(line.front())) {
            if (fields.empty()) return false;
            const std::string_view more = BRHTTPText::Trim(line);
            if (!more.empty()) {
                std::string& value = fields.back().value;
                if (!value.empty()) value += ' ';
                value += more;
            }
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        const std::string_view name = line.substr(0, colon);
        for (char c : name) {
            if (!BRHTTPText::IsTokenChar(c)) return false;
        }
        fields.push_back({std::string(name), std::string(BRHTTPText::Trim(line.substr(colon + 1)))});
    }
    return true;
}

const std::string* BRHTTPFields::Find(std::string_view name) const {
    for (const Field& f : fields) {
        if (BRHTTPText::EqualsIgnoringCase(f.name, name)) return &f.value;
    }
    return nullptr;
}

std::vector<std::string_view> BRHTTPFields::All(std::string_view name) const {
    std::vector<std::string_view> values;
    for (const Field& f : fields) {
        if (BRHTTPText::EqualsIgnoringCase(f.name, name)) values.push_back(f.value);
    }
    return values;
}
