#pragma once

#include <string>

#include "url/BRURL.h"

// The request a connection carries: a GET for the URL's path, query and
// fragment, with four fixed header lines. Host carries the port unless it is
// 80. User and password are never sent unasked: only a request that answers
// a challenge carries an Authorization line, after the fixed ones.
class BRHTTPRequest {
public:
    static std::string Build(const BRURL& url, const std::string& authorization = std::string());
    // The request-target of the request line: what a Digest answer signs.
    static std::string Target(const BRURL& url);
};
