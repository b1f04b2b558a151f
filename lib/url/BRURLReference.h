#pragma once

#include <string>

#include "url/BRURL.h"

// Resolves a URI reference, such as a redirect's Location, against the URL it
// came with (RFC 3986 section 5.2): "/login", "next.html", "../a", "?page=2"
// and "//host/x" name a target relative to the base; a reference with a
// scheme stands for itself.
class BRURLReference {
public:
    // The target as a parsed URL with the given direction; refusals of the
    // URL parser pass through. A relative target keeps the base's user and
    // password, which belong to its authority.
    static BRURL Resolve(const BRURL& base, const std::string& reference, int32_t direction);

    // RFC 3986 section 5.2.4: "/a/b/../c/./d" becomes "/a/c/d".
    static std::string RemoveDotSegments(const std::string& path);
};
