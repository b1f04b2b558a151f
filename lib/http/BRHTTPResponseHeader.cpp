#include "http/BRHTTPResponseHeader.h"

#include "http/BRHTTPText.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Calls take(element) for each element of a comma-separated list, trimmed;
// empty elements are skipped, as the list grammar allows.
template <class Take>
bool ForEachElement(std::string_view list, Take take) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view element = BRHTTPText::Trim(list.substr(0, comma));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (!element.empty() && !take(element)) return false;
    }
    return true;
}

}  // namespace

bool BRHTTPResponseHeader::Parse(std::string_view block) {
    const size_t lf = block.find('\n');
    std::string_view line = block.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // HTTP/d.d SP ddd [SP reason]
    if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11]))
        return false;
    if (line.size() > 12 && line[12] != ' ') return false;
    for (char c : line) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    minorVersion = line[7] - '0';
    statusCode = static_cast<uint32_t>((line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0'));
    return fields.Parse(lf == std::string_view::npos ? std::string_view() : block.substr(lf + 1));
}

BRHTTPResponseHeader::Length BRHTTPResponseHeader::ContentLength(uint32_t& length) const {
    bool seen = false;
    uint32_t value = 0;
    for (std::string_view field : fields.All("Content-Length")) {
        bool fieldHasValue = false;
        const bool valid = ForEachElement(field, [&](std::string_view element) {
            uint32_t n = 0;
            for (char c : element) {
                if (!IsDigit(c)) return false;
            }
            if (BRHTTPText::DecimalU32(element, n) != BRHTTPText::Number::Ok) return false;
            if (seen && n != value) return false;
            seen = fieldHasValue = true;
            value = n;
            return true;
        });
        if (!valid || !fieldHasValue) return Length::Invalid;
    }
    if (!seen) return Length::Absent;
    length = value;
    return Length::Valid;
}

bool BRHTTPResponseHeader::KeepsConnection() const {
    bool close = false, keepAlive = false;
    for (std::string_view value : fields.All("Connection")) {
        close = close || BRHTTPText::HasToken(value, "close");
        keepAlive = keepAlive || BRHTTPText::HasToken(value, "keep-alive");
    }
    return minorVersion >= 1 ? !close : keepAlive;
}

bool BRHTTPResponseHeader::TransferCodings(std::vector<std::string>& codings) const {
    codings.clear();
    for (std::string_view field : fields.All("Transfer-Encoding")) {
        const bool valid = ForEachElement(field, [&](std::string_view element) {
            // A coding may carry parameters after ";"; its name is a token.
            const std::string_view name = BRHTTPText::Trim(element.substr(0, element.find(';')));
            if (name.empty()) return false;
            for (char c : name) {
                if (!BRHTTPText::IsTokenChar(c)) return false;
            }
            codings.push_back(BRHTTPText::Lower(name));
            return true;
        });
        if (!valid) return false;
    }
    return true;
}
