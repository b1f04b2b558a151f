#include "http/BRHTTPAuthenticator.h"

#include <atomic>
#include <cstdio>

#include "diag/BRException.h"
#include "http/BRHTTPChallenge.h"
#include "http/BRHTTPText.h"

namespace {

std::atomic<BRHTTPAuthenticator::ClientNonceSource> clientNonceSource{&BRHTTPAuthenticator::RandomClientNonce};

std::string Base64(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += left > 1 ? alphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? alphabet[group & 63] : '=';
    }
    return text;
}

// A quoted-string: the value between quotes, with '"' and '\' escaped.
std::string Quoted(std::string_view value) {
    std::string text = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    return text + '"';
}

// Whether a comma-separated list of tokens (a qop value) holds `token`,
// compared case-insensitively.
bool ListHas(std::string_view list, std::string_view token) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view item = list.substr(start, end - start);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (BRHTTPText::Lower(item) == token) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

void BRHTTPAuthenticator::SetClientNonceSource(ClientNonceSource source) {
    clientNonceSource.store(source ? source : &RandomClientNonce);
}

void BRHTTPAuthenticator::ResetClientNonceSource() { clientNonceSource.store(&RandomClientNonce); }

std::string BRHTTPAuthenticator::RandomClientNonce() {
    unsigned char bytes[16];
    if (!BRDigest::RandomBytes(bytes, sizeof bytes)) throw BRException("can't make client nonce", __LINE__, "src");
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0x0f];
    }
    return hex;
}

BRHTTPAuthenticator::Candidate BRHTTPAuthenticator::Rate(const BRHTTPChallenge& challenge) {
    Candidate candidate;
    if (challenge.scheme == "basic") {
        candidate.rank = 1;
        candidate.scheme = Scheme::Basic;
        return candidate;
    }
    if (challenge.scheme != "digest" || !challenge.Param("realm") || !challenge.Param("nonce")) return candidate;

    const std::string* algorithm = challenge.Param("algorithm");
    const std::string name = algorithm ? BRHTTPText::Lower(*algorithm) : "md5";
    if (name == "md5" || name == "md5-sess") {
        candidate.hash = BRDigest::Algorithm::MD5;
    } else if (name == "sha-256" || name == "sha-256-sess") {
        candidate.hash = BRDigest::Algorithm::SHA256;
    } else {
        return candidate;
    }
    candidate.session = name.size() > 5 && name.compare(name.size() - 5, 5, "-sess") == 0;

    const std::string* qop = challenge.Param("qop");
    if (qop) {
        if (!ListHas(*qop, "auth")) return candidate;  // auth-int only, or nothing known
        candidate.qop = true;
    } else if (candidate.hash != BRDigest::Algorithm::MD5 || candidate.session) {
        // Without qop there is no client nonce for -sess, and no SHA-256
        // server ever sent the old form.
        return candidate;
    }
    candidate.scheme = Scheme::Digest;
    const bool sha256 = candidate.hash == BRDigest::Algorithm::SHA256;
    if (!candidate.qop)
        candidate.rank = 2;
    else
        candidate.rank = (sha256 ? 5 : 3) + (candidate.session ? 0 : 1);
    return candidate;
}

bool BRHTTPAuthenticator::Choose(const std::vector<std::string>& fieldValues) {
    Candidate best;
    BRHTTPChallenge chosen;
    for (const std::string& value : fieldValues) {
        for (BRHTTPChallenge& challenge : BRHTTPChallenge::Parse(value)) {
            const Candidate candidate = Rate(challenge);
            if (candidate.rank > best.rank) {
                best = candidate;
                chosen = std::move(challenge);
            }
        }
    }
    scheme = best.scheme;
    hash = best.hash;
    session = best.session;
    qop = best.qop;
    auto param = [&chosen](std::string_view name) {
        const std::string* value = chosen.Param(name);
        return value ? *value : std::string();
    };
    realm = param("realm");
    nonce = param("nonce");
    opaque = param("opaque");
    algorithm = param("algorithm");
    stale = best.scheme == Scheme::Digest && BRHTTPText::Lower(param("stale")) == "true";
    return scheme != Scheme::None;
}

std::string BRHTTPAuthenticator::Description() const {
    switch (scheme) {
    case Scheme::None:
        return "";
    case Scheme::Basic:
        return "Basic";
    case Scheme::Digest:
        break;
    }
    std::string text = hash == BRDigest::Algorithm::MD5 ? "Digest MD5" : "Digest SHA-256";
    if (session) text += "-sess";
    if (!qop) text += " without qop";
    return text;
}

BRHTTPAuthenticator::Answer BRHTTPAuthenticator::Authorize(std::string_view method, std::string_view requestTarget,
                                                           std::string_view user, std::string_view password) {
    switch (scheme) {
    case Scheme::None:
        return {};
    case Scheme::Basic:
        return Basic(user, password);
    case Scheme::Digest:
        break;
    }
    return Digest(method, requestTarget, user, password);
}

BRHTTPAuthenticator::Answer BRHTTPAuthenticator::Basic(std::string_view user, std::string_view password) const {
    std::string credentials(user);
    credentials += ':';
    credentials += password;
    return {"Basic " + Base64(credentials), std::string("Basic ") + kMask};
}

BRHTTPAuthenticator::Answer BRHTTPAuthenticator::Digest(std::string_view method, std::string_view requestTarget,
                                                        std::string_view user, std::string_view password) {
    auto H = [this](const std::string& text) { return BRDigest::Hex(hash, text); };

    std::string cnonce, nc;
    if (qop) {
        cnonce = clientNonceSource.load()();
        if (nonce != countedNonce) {
            countedNonce = nonce;
            nonceCount = 0;
        }
        char count[9];
        std::snprintf(count, sizeof count, "%08x", ++nonceCount);
        nc = count;
    }

    std::string ha1 = H(std::string(user) + ":" + realm + ":" + std::string(password));
    if (session) ha1 = H(ha1 + ":" + nonce + ":" + cnonce);
    const std::string ha2 = H(std::string(method) + ":" + std::string(requestTarget));
    const std::string response = qop ? H(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                                     : H(ha1 + ":" + nonce + ":" + ha2);

    // The parameters in the order of RFC 7616's example; algorithm only when
    // the challenge named one, echoed as written.
    std::string head = "Digest username=" + Quoted(user) + ", realm=" + Quoted(realm) +
                       ", uri=" + Quoted(requestTarget);
    if (!algorithm.empty()) head += ", algorithm=" + algorithm;
    head += ", nonce=" + Quoted(nonce);
    if (qop) head += ", nc=" + nc + ", cnonce=" + Quoted(cnonce) + ", qop=auth";
    head += ", response=";
    const std::string tail = opaque.empty() ? std::string() : ", opaque=" + Quoted(opaque);
    return {head + Quoted(response) + tail, head + Quoted(kMask) + tail};
}
