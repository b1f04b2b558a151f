#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One authentication challenge of a WWW-Authenticate field: a scheme, then
// either a token68 or a list of name=value parameters.
//
//   WWW-Authenticate: Digest realm="cam", qop="auth", nonce="x1", Basic realm="cam"
//
// holds two challenges. Scheme and parameter names are case-insensitive and
// kept in lower case; values are kept as sent, quoted strings unquoted.
class BRHTTPChallenge {
public:
    std::string scheme;
    std::string token68;  // empty unless the challenge has the token68 form
    std::vector<std::pair<std::string, std::string>> params;

    // The value of the first parameter of that (lower-case) name, or nullptr.
    const std::string* Param(std::string_view lowercaseName) const;

    // Every challenge of one field value, in their order. Empty list elements
    // are skipped. A malformed challenge is left out: parsing goes on after
    // the next comma outside a quoted string, so the well-formed challenges
    // around it are still found. Work is linear in the length of the value.
    static std::vector<BRHTTPChallenge> Parse(std::string_view fieldValue);
};
