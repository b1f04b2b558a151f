#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A Content-Type value: "type/subtype" and its parameters (RFC 9110 section
// 8.3.1). Type and parameter names match in any letter case; a quoted value
// is unquoted. Blanks around ";" and "=" are allowed, as servers write them.
class BRHTTPMediaType {
public:
    explicit BRHTTPMediaType(std::string_view value);

    // Whether the media type is `typeSubtype` ("multipart/x-mixed-replace").
    bool Is(std::string_view typeSubtype) const;
    // The value of the first parameter of this name, or null.
    const std::string* Parameter(std::string_view name) const;

private:
    std::string type;
    std::vector<std::pair<std::string, std::string>> parameters;
};
