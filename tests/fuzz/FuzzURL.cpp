// Parses arbitrary bytes as a URL, as a source and as a sink. A refusal is a
// BRException; anything else that escapes is a finding. An accepted URL must
// give a record whose parts come from the text, and an accepted http URL a
// request that is exactly one GET with its four header lines, whatever the
// URL held (a redirect's Location reaches the parser from the network).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/BRException.h"
#include "http/BRHTTPRequest.h"
#include "url/BRURL.h"

namespace {

// libFuzzer keeps the input that made the target abort.
void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool Within(const std::string& part, const std::string& url) { return url.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void Check(const BRURL& u, const std::string& url, int32_t direction) {
    Require(u.direction == direction, "direction kept");
    Require(url.compare(0, u.scheme.size() + 1, u.scheme + ":") == 0, "scheme is the text before the first colon");
    Require(u.scheme.find(':') == std::string::npos, "scheme holds no colon");
    for (const std::string* part : {&u.user, &u.password, &u.host, &u.path, &u.query, &u.fragment})
        Require(Within(*part, url), "every part comes from the URL");
    // A port left out is the scheme's default.
    Require(Within(u.port, url) || u.port == "80" || u.port == "443" || u.port == "23",
            "the port comes from the URL or is a default");

    const bool network = u.type == BR_URL_HTTP || u.type == BR_URL_HTTPS || u.type == BR_URL_PELIX ||
                         u.type == BR_URL_PELIXS || u.scheme == "ftp";
    if (network) {
        Require(!u.port.empty() && u.port.find_first_not_of("0123456789") == std::string::npos,
                "a network URL has a port of digits");
        Require(u.path.empty() || u.path[0] == '/' || u.path[0] == '#', "a network path starts the rest");
    } else if (u.type != BR_URL_FILE) {
        Require(u.user.empty() && u.host.empty() && u.port.empty() && u.path.empty() && u.query.empty() &&
                    u.fragment.empty(),
                "other schemes keep only their name");
    }

    BRURL copy;
    copy = u;
    Require(copy.scheme == u.scheme && copy.user == u.user && copy.password == u.password && copy.host == u.host &&
                copy.port == u.port && copy.path == u.path && copy.query == u.query &&
                copy.fragment == u.fragment && copy.type == u.type && copy.direction == u.direction,
            "a copy holds every field");

    if (u.type == BR_URL_HTTP) {
        const std::string request = BRHTTPRequest::Build(u);
        Require(request.compare(0, 5, "GET /") == 0, "the request is a GET of an absolute path");
        Require(Count(request, "\r\n") == 6 && Count(request, "\n") == 6 && Count(request, "\r") == 6,
                "the request has exactly its five lines and the blank line");
        Require(request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0,
                "the request ends with the blank line");
        const std::string line = request.substr(0, request.find("\r\n"));
        Require(Count(line, " ") == 2, "the request line has exactly two blanks");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    for (int32_t direction : {1, 2}) {
        try {
            const BRURL parsed(url, direction);
            Check(parsed, url, direction);
        } catch (const BRException&) {
            // A refusal: the expected answer to most inputs.
        }
    }
    return 0;
}
