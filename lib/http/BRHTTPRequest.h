#pragma once

#include <string>

#include "url/BRURL.h"

// The one request a connection carries: a GET for the URL's path, query and
// fragment, with four fixed header lines. Host carries the port unless it is
// 80; user and password are never sent.
class BRHTTPRequest {
public:
    static std::string Build(const BRURL& url);
};
