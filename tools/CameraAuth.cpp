#include "CameraAuth.h"

#include "net/BRDigest.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string base64(const std::string& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return text;
}

std::string randomHex(std::size_t bytes) {
    unsigned char buffer[32];
    bytes = std::min(bytes, sizeof buffer);
    if (!BRDigest::RandomBytes(buffer, bytes)) throw std::runtime_error("no random bytes from the system");
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < bytes; ++i) {
        hex += digits[buffer[i] >> 4];
        hex += digits[buffer[i] & 15];
    }
    return hex;
}

// The value of the Authorization field in a request header block, blanks
// around it removed; false when the block has none.
bool authorization(const std::string& block, std::string& value) {
    const std::string lowered = lower(block);
    const std::string name = "\r\nauthorization:";
    const std::size_t at = lowered.find(name);
    if (at == std::string::npos) return false;
    std::size_t begin = at + name.size();
    std::size_t end = block.find("\r\n", begin);
    if (end == std::string::npos) end = block.size();
    while (begin < end && (block[begin] == ' ' || block[begin] == '\t')) ++begin;
    while (end > begin && (block[end - 1] == ' ' || block[end - 1] == '\t')) --end;
    value = block.substr(begin, end - begin);
    return true;
}

// The name=value list after the scheme of a Digest credential: names in
// lower case, quoted values unquoted. False when it is malformed or names a
// parameter twice.
bool digestParams(const std::string& text, std::map<std::string, std::string>& params) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto blanks = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
        if (i == n) return true;
        const std::size_t nameStart = i;
        while (i < n && text[i] != '=' && text[i] != ' ' && text[i] != '\t' && text[i] != ',') ++i;
        const std::string name = lower(text.substr(nameStart, i - nameStart));
        blanks();
        if (name.empty() || i == n || text[i] != '=') return false;
        ++i;
        blanks();
        std::string value;
        if (i < n && text[i] == '"') {
            for (++i; i < n && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < n) ++i;
                value += text[i];
            }
            if (i == n) return false;
            ++i;
        } else {
            const std::size_t valueStart = i;
            while (i < n && text[i] != ',' && text[i] != ' ' && text[i] != '\t') ++i;
            value = text.substr(valueStart, i - valueStart);
        }
        if (!params.emplace(name, value).second) return false;
        blanks();
        if (i < n && text[i] != ',') return false;
    }
}

}  // namespace

const char* const CameraAuth::realm = "nilo-camera";

CameraAuth::CameraAuth(Scheme scheme, std::string user, std::string password, bool staleOnce)
    : scheme(scheme), user(std::move(user)), password(std::move(password)), staleOnce(staleOnce) {
    if (scheme == Scheme::Digest) opaque = randomHex(16);
}

std::string CameraAuth::challenge(bool stale) {
    if (scheme == Scheme::Basic) return std::string("WWW-Authenticate: Basic realm=\"") + realm + "\", charset=\"UTF-8\"\r\n";
    const std::string nonce = randomHex(24);
    {
        std::lock_guard<std::mutex> hold(lock);
        nonces.push_back(nonce);
        // A client that is challenged without end must not grow the server.
        if (nonces.size() > 1024) nonces.pop_front();
    }
    std::string lines;
    for (const char* algorithm : {"SHA-256", "MD5"}) {
        lines += std::string("WWW-Authenticate: Digest realm=\"") + realm + "\", qop=\"auth\", algorithm=" + algorithm +
                 ", nonce=\"" + nonce + "\", opaque=\"" + opaque + "\"" + (stale ? ", stale=true" : "") + "\r\n";
    }
    return lines;
}

CameraAuth::Verdict CameraAuth::check(const std::string& method, const std::string& target,
                                      const std::string& headerBlock) {
    std::string value;
    if (scheme == Scheme::None) return Verdict::Granted;
    if (!authorization(headerBlock, value)) return Verdict::Refused;
    const std::size_t blank = value.find(' ');
    const std::string schemeName = lower(value.substr(0, blank));
    const std::string credentials = blank == std::string::npos ? std::string() : value.substr(blank + 1);
    if (scheme == Scheme::Basic)
        return schemeName == "basic" && credentials == base64(user + ":" + password) ? Verdict::Granted
                                                                                     : Verdict::Refused;
    if (schemeName != "digest") return Verdict::Refused;
    return checkDigest(method, target, credentials);
}

CameraAuth::Verdict CameraAuth::checkDigest(const std::string& method, const std::string& target,
                                            const std::string& credentials) {
    std::map<std::string, std::string> p;
    if (!digestParams(credentials, p)) return Verdict::Refused;
    for (const char* required : {"username", "realm", "nonce", "uri", "response", "qop", "nc", "cnonce", "opaque"})
        if (p.count(required) == 0) return Verdict::Refused;
    const std::string algorithm = p.count("algorithm") ? p["algorithm"] : "MD5";
    if (algorithm != "SHA-256" && algorithm != "MD5") return Verdict::Refused;
    if (p["username"] != user || p["realm"] != realm || p["uri"] != target || p["qop"] != "auth" ||
        p["opaque"] != opaque)
        return Verdict::Refused;
    const std::string& nc = p["nc"];
    if (nc.size() != 8 || nc.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return Verdict::Refused;

    const auto hash = algorithm == "MD5" ? BRDigest::Algorithm::MD5 : BRDigest::Algorithm::SHA256;
    auto H = [hash](const std::string& text) { return BRDigest::Hex(hash, text); };
    const std::string ha1 = H(user + ":" + realm + ":" + password);
    const std::string ha2 = H(method + ":" + p["uri"]);
    const std::string expected = H(ha1 + ":" + p["nonce"] + ":" + nc + ":" + p["cnonce"] + ":auth:" + ha2);
    if (p["response"] != expected) return Verdict::Refused;

    std::lock_guard<std::mutex> hold(lock);
    const auto issued = std::find(nonces.begin(), nonces.end(), p["nonce"]);
    if (issued == nonces.end()) return Verdict::Refused;
    if (staleOnce && !staleSent) {
        staleSent = true;
        nonces.erase(issued);  // this nonce has expired
        return Verdict::Stale;
    }
    return Verdict::Granted;
}
