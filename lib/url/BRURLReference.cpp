#include "url/BRURLReference.h"

#include <cctype>

namespace {

// scheme ":" where scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool HasScheme(const std::string& reference) {
    if (reference.empty() || !std::isalpha(static_cast<unsigned char>(reference[0]))) return false;
    for (char c : reference) {
        if (c == ':') return true;
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return false;
}

// The base path up to its last "/", then the reference path (section 5.2.3).
std::string Merge(const BRURL& base, const std::string& path) {
    if (base.path.empty()) return "/" + path;
    return base.path.substr(0, base.path.rfind('/') + 1) + path;
}

}  // namespace

std::string BRURLReference::RemoveDotSegments(const std::string& path) {
    std::string in = path;
    std::string out;
    auto dropLastSegment = [&out] { out.erase(out.rfind('/') == std::string::npos ? 0 : out.rfind('/')); };
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) {
            in.erase(0, 3);
        } else if (in.compare(0, 2, "./") == 0) {
            in.erase(0, 2);
        } else if (in.compare(0, 3, "/./") == 0) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.compare(0, 4, "/../") == 0) {
            in.erase(0, 3);
            dropLastSegment();
        } else if (in == "/..") {
            in = "/";
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            // The first segment, with its leading "/", moves to the output.
            const size_t end = in.find('/', 1);
            out += in.substr(0, end);
            in.erase(0, end == std::string::npos ? in.size() : end);
        }
    }
    return out;
}

BRURL BRURLReference::Resolve(const BRURL& base, const std::string& reference, int32_t direction) {
    if (HasScheme(reference)) return BRURL(reference, direction);
    if (reference.compare(0, 2, "//") == 0) return BRURL(base.scheme + ":" + reference, direction);

    // Split the reference into path, query and fragment; each may be absent.
    std::string rest = reference;
    std::string fragment;
    const size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        fragment = rest.substr(hash);  // with its "#"
        rest.erase(hash);
    }
    std::string query;
    const size_t question = rest.find('?');
    if (question != std::string::npos) {
        query = rest.substr(question);  // with its "?"
        rest.erase(question);
    }

    std::string path;
    if (rest.empty()) {
        path = base.path;
        if (question == std::string::npos && !base.query.empty()) query = "?" + base.query;
    } else if (rest[0] == '/') {
        path = RemoveDotSegments(rest);
    } else {
        path = RemoveDotSegments(Merge(base, rest));
    }
    // The authority is written without the user information: a password may
    // hold any character, and it is copied over as a field instead.
    BRURL target(base.scheme + "://" + base.HostLiteral() + ":" + base.port + path + query + fragment, direction);
    target.user = base.user;
    target.password = base.password;
    return target;
}
