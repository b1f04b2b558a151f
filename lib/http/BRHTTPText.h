#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Small text helpers shared by the HTTP header and body parsers. Numbers are
// read from the start of the given text; each reader says whether a number
// was there and whether it fits.
class BRHTTPText {
public:
    enum class Number { Ok, Missing, TooLarge };
    enum class End { Found, NotYet, Never };

    // Looks for the terminator of the framing text at the front of content
    // (a header block, a chunk-size line, a part header) and sets `at` to
    // its position. Framing text holds no NUL byte, so the text ends at the
    // first one: a NUL before the terminator means it can never come.
    static End FindEnd(std::string_view content, std::string_view terminator, size_t& at);
    // Looks for the empty line that ends a header block at the front of
    // content. Lines end in CRLF or in a lone LF. blockEnd is set to the end
    // of the block's last line (before its line end), next to the first byte
    // after the empty line. A NUL before the end means it can never come.
    static End FindHeaderEnd(std::string_view content, size_t& blockEnd, size_t& next);

    // The characters of a token (RFC 9110 section 5.6.2): header names,
    // parameter names, transfer codings.
    static bool IsTokenChar(char c);
    // Whether a comma-separated list of tokens holds `token`, in any case.
    static bool HasToken(std::string_view list, std::string_view token);
    // Equal in ASCII letters of either case.
    static bool EqualsIgnoringCase(std::string_view a, std::string_view b);

    // Every byte passed through the C library's tolower.
    static std::string Lower(std::string_view text);
    // A run of decimal digits that must fit in 32 bits unsigned.
    static Number DecimalU32(std::string_view text, uint32_t& value);
    // The value of a hexadecimal digit of either case, or -1.
    static int HexDigit(char c);
    // An optional sign, then decimal digits, fitting in 64 bits signed; the
    // number ends at the first other character.
    static Number DecimalI64(std::string_view text, int64_t& value);
    // A blank or a tab: the white space inside header lines.
    static bool IsBlank(char c) { return c == ' ' || c == '\t'; }
    // The text without blanks and tabs at either end.
    static std::string_view Trim(std::string_view text);
};
