#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/BRHTTPFields.h"

// One response header: the status line and the field lines before the empty
// line, read by the message grammar (RFC 9112). Nothing inside a value or an
// unknown field's name can stand for a field the reader acts on.
class BRHTTPResponseHeader {
public:
    // False when the status line ("HTTP/" digit "." digit, a blank, three
    // digits, then an optional blank and reason) or a field line breaks the
    // grammar.
    bool Parse(std::string_view block);

    uint32_t StatusCode() const { return statusCode; }
    // The 1 of HTTP/1.1.
    int MinorVersion() const { return minorVersion; }
    const BRHTTPFields& Fields() const { return fields; }

    enum class Length { Absent, Valid, Invalid };
    // Content-Length: digits only; repeated fields, or a list, whose values
    // are all the same count once; different values, any other character or
    // a value beyond 32 bits make it invalid.
    Length ContentLength(uint32_t& length) const;
    // Whether the server keeps the connection open after this response:
    // HTTP/1.1 unless Connection says close, HTTP/1.0 only if it says keep-alive.
    bool KeepsConnection() const;
    // The transfer codings of every Transfer-Encoding field, in order and in
    // lower case; empty when there is none. False when a coding is not a token.
    bool TransferCodings(std::vector<std::string>& codings) const;

private:
    uint32_t statusCode = 0;
    int minorVersion = 0;
    BRHTTPFields fields;
};
