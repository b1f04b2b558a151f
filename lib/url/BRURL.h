#pragma once

#include <cstdint>
#include <string>

// Scheme codes of a parsed URL. 1 and 2 are not used for schemes.
enum : int32_t {
    BR_URL_OTHER = 0,
    BR_URL_HTTP = 3,
    BR_URL_HTTPS = 4,
    BR_URL_FILE = 5,
    BR_URL_PELIX = 6,
    BR_URL_PELIXS = 7,
};

// A URL split into its parts. Accepted syntax:
//   scheme://[user[:password]@]host[:port][path][?query][#fragment]  (http, https, ftp, pelix, pelixs)
//     where host may be an IPv6 address in brackets ([::1]); `host` holds it without them
//   file://path[?query][#fragment]
// Any other scheme is accepted with nothing parsed but its name (type 0), and
// "mailto", "news", "nntp" and "telnet" are refused. Nothing is decoded and
// every comparison is exact. Refusals raise BRException.
class BRURL {
public:
    BRURL();
    BRURL(const std::string& url, int32_t direction);

    // The host as a URL or a Host header writes it: an IPv6 address in brackets.
    std::string HostLiteral() const;

    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    std::string port;
    std::string path;
    std::string query;
    std::string fragment;
    int32_t type;
    int32_t direction;

private:
    void ParseNetwork(const std::string& url, size_t authority);
    void ParseFile(const std::string& url, size_t start);
};
