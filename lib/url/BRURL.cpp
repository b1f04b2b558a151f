#include "url/BRURL.h"

#include "diag/BRException.h"

namespace {

[[noreturn]] void Refuse(const char* message, int line) { throw BRException(message, line, "src"); }

bool IsNetworkScheme(const std::string& s) {
    return s == "http" || s == "https" || s == "ftp" || s == "pelix" || s == "pelixs";
}

bool IsRefusedScheme(const std::string& s) {
    return s == "mailto" || s == "news" || s == "nntp" || s == "telnet";
}

int32_t SchemeType(const std::string& s) {
    if (s == "http") return BR_URL_HTTP;
    if (s == "https") return BR_URL_HTTPS;
    if (s == "file") return BR_URL_FILE;
    if (s == "pelix") return BR_URL_PELIX;
    if (s == "pelixs") return BR_URL_PELIXS;
    return BR_URL_OTHER;
}

std::string DefaultPort(const std::string& s) {
    if (s == "http" || s == "pelix") return "80";
    if (s == "https" || s == "pelixs") return "443";
    return "23";
}

// The HTTP request is built from the URL's parts as they stand, so a control
// character would let a URL (or a redirect's Location) inject header lines or
// a second request. Blanks would break the request line, but paths of file
// URLs keep theirs.
void CheckCharacters(const std::string& url, bool blankAllowed) {
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7F || (c == ' ' && !blankAllowed)) Refuse("invalid character in URL", __LINE__);
    }
}

std::string Slice(const std::string& s, size_t from, size_t to) { return s.substr(from, to - from); }

}  // namespace

BRURL::BRURL() : type(BR_URL_OTHER), direction(1) {}

std::string BRURL::HostLiteral() const { return host.find(':') != std::string::npos ? "[" + host + "]" : host; }

BRURL::BRURL(const std::string& url, int32_t direction_) : type(BR_URL_OTHER), direction(direction_) {
    CheckCharacters(url, true);
    const size_t colon = url.find(':');
    if (colon == std::string::npos) Refuse("missing URL scheme", __LINE__);
    scheme = url.substr(0, colon);

    if (IsNetworkScheme(scheme)) {
        CheckCharacters(url, false);
        if (url.compare(colon + 1, 2, "//") != 0) Refuse("wrong URL scheme", __LINE__);
        ParseNetwork(url, colon + 3);
    } else if (scheme == "file") {
        if (url.compare(colon + 1, 2, "//") != 0) Refuse("wrong URL scheme", __LINE__);
        ParseFile(url, colon + 3);
    } else if (IsRefusedScheme(scheme)) {
        Refuse("not supported URL scheme", __LINE__);
    }
    type = SchemeType(scheme);
}

void BRURL::ParseNetwork(const std::string& url, size_t a) {
    // The "@" is searched through the whole rest of the URL, path included.
    const size_t at = url.find('@', a);
    if (at != std::string::npos) {
        const std::string userInfo = Slice(url, a, at);
        const size_t colon = userInfo.find(':');
        user = userInfo.substr(0, colon);
        if (colon != std::string::npos) password = userInfo.substr(colon + 1);
        if (user.empty()) Refuse("wrong URL scheme, user not defined", __LINE__);
        a = at + 1;
    }

    const size_t p = url.find_first_of("/?#", a);
    const std::string hostPart = Slice(url, a, p == std::string::npos ? url.size() : p);
    // An IPv6 address is written in brackets, since its colons would
    // otherwise be taken for the port's. `host` is the bare address, as the
    // resolver wants it; HostLiteral puts the brackets back.
    std::string portPart;  // what follows the host's ":", if there is one
    bool hasPort = false;
    if (!hostPart.empty() && hostPart[0] == '[') {
        const size_t close = hostPart.find(']');
        if (close == std::string::npos) Refuse("wrong URL scheme, wrong IPv6 address", __LINE__);
        host = hostPart.substr(1, close - 1);
        if (host.find(':') == std::string::npos || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            Refuse("wrong URL scheme, wrong IPv6 address", __LINE__);
        if (close + 1 < hostPart.size()) {
            if (hostPart[close + 1] != ':') Refuse("wrong URL scheme, wrong IPv6 address", __LINE__);
            portPart = hostPart.substr(close + 2);
            hasPort = true;
        }
    } else {
        const size_t colon = hostPart.find(':');
        host = hostPart.substr(0, colon);
        if (colon != std::string::npos) {
            portPart = hostPart.substr(colon + 1);
            hasPort = true;
        }
    }
    if (hasPort) {
        port = portPart;
        if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos)
            Refuse("wrong URL scheme, wrong port number", __LINE__);
        if (host.empty()) Refuse("wrong URL scheme, missing host", __LINE__);
    } else {
        port = DefaultPort(scheme);
    }
    if (p == std::string::npos) return;

    // A "?" that follows a "#" still starts the query.
    const size_t q = url.find('?', p);
    if (q != std::string::npos) {
        path = Slice(url, p, q);
        const size_t h = url.find('#', q + 1);
        if (h != std::string::npos) {
            query = Slice(url, q + 1, h);
            fragment = url.substr(h + 1);
        } else {
            query = url.substr(q + 1);
        }
        return;
    }
    const size_t h = url.find('#', p);
    if (h != std::string::npos) {
        path = Slice(url, p, h);
        fragment = url.substr(h + 1);
    } else {
        path = url.substr(p);
    }
}

void BRURL::ParseFile(const std::string& url, size_t a) {
    const size_t h = url.find_first_of("?#", a);
    if (h == std::string::npos) {
        path = url.substr(a);
        return;
    }
    path = Slice(url, a, h);
    const std::string rest = url.substr(h + 1);
    if (url[h] == '#') {
        fragment = rest;
        return;
    }
    const size_t hash = rest.find('#');
    query = rest.substr(0, hash);
    if (hash != std::string::npos) fragment = rest.substr(hash + 1);
}
