#include "http/BRHTTPText.h"

#include <cctype>
#include <limits>

int BRHTTPText::HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view BRHTTPText::Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string BRHTTPText::Lower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

BRHTTPText::End BRHTTPText::FindEnd(std::string_view content, std::string_view terminator, size_t& at) {
    // Only the text before the terminator is searched for a NUL: the bytes
    // after it (the body) may hold any.
    at = content.find(terminator);
    if (content.substr(0, at).find('\0') != std::string_view::npos) return End::Never;
    return at != std::string_view::npos ? End::Found : End::NotYet;
}

BRHTTPText::End BRHTTPText::FindHeaderEnd(std::string_view content, size_t& blockEnd, size_t& next) {
    size_t lineStart = 0;
    for (;;) {
        // An empty line: a line end right at the start of a line.
        size_t empty = std::string_view::npos;
        if (content.compare(lineStart, 1, "\n") == 0) empty = 1;
        if (content.compare(lineStart, 2, "\r\n") == 0) empty = 2;
        if (empty != std::string_view::npos) {
            // The line end of the block's last line goes with the empty line.
            blockEnd = lineStart;
            if (blockEnd > 0 && content[blockEnd - 1] == '\n') --blockEnd;
            if (blockEnd > 0 && content[blockEnd - 1] == '\r') --blockEnd;
            next = lineStart + empty;
            break;
        }
        const size_t lf = content.find('\n', lineStart);
        if (lf == std::string_view::npos) {
            return content.find('\0') != std::string_view::npos ? End::Never : End::NotYet;
        }
        lineStart = lf + 1;
    }
    return content.substr(0, blockEnd).find('\0') != std::string_view::npos ? End::Never : End::Found;
}

bool BRHTTPText::IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool BRHTTPText::HasToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view element = Trim(list.substr(0, comma));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (EqualsIgnoringCase(element, token)) return true;
    }
    return false;
}

bool BRHTTPText::EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

BRHTTPText::Number BRHTTPText::DecimalU32(std::string_view text, uint32_t& value) {
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > UINT32_MAX) return Number::TooLarge;
    }
    if (i == 0) return Number::Missing;
    value = static_cast<uint32_t>(v);
    return Number::Ok;
}

BRHTTPText::Number BRHTTPText::DecimalI64(std::string_view text, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t first = i;
    // Accumulate as a negative number so that the most negative value fits.
    int64_t v = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (v < (kMin + digit) / 10) return Number::TooLarge;
        v = v * 10 - digit;
    }
    if (i == first) return Number::Missing;
    if (!negative) {
        if (v == kMin) return Number::TooLarge;
        v = -v;
    }
    value = v;
    return Number::Ok;
}

