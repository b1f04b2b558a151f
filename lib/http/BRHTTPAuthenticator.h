#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/BRDigest.h"

class BRHTTPChallenge;

// Answers the authentication challenge of a 401 response: picks the strongest
// challenge it supports and builds the Authorization header value for a
// request, Basic (RFC 7617) or Digest (RFC 7616, qop=auth).
//
// Order of preference, strongest first; among equals the first offered:
//   1. Digest SHA-256        2. Digest SHA-256-sess
//   3. Digest MD5            4. Digest MD5-sess
//   5. Digest MD5 without qop (the RFC 2069 form)
//   6. Basic
// The hash decides the strength. The -sess variants come after the plain
// ones of the same hash: they add nothing for a client (they let a server
// reuse one hashed secret), and servers implement them less reliably.
// A Digest challenge without qop is answered, in the old form without client
// nonce and count, and only with MD5: older cameras still send it, and even
// so the password never crosses the network, unlike with Basic.
// Skipped: unknown schemes, unknown algorithms, Digest offering only
// qop=auth-int (it would need the request body), and Digest without realm or
// nonce.
//
// One object serves one source: it keeps the nonce count across challenges,
// so that a nonce chosen again counts on.
class BRHTTPAuthenticator {
public:
    enum class Scheme { None, Basic, Digest };

    // The Authorization header value, and the same for the log with the
    // secret masked (the Basic credentials, the Digest response).
    struct Answer {
        std::string value;
        std::string logged;
    };

    // Chooses among the challenges of all WWW-Authenticate field values of
    // one response. False when none is supported; Chosen() is then None.
    bool Choose(const std::vector<std::string>& fieldValues);

    Scheme Chosen() const { return scheme; }
    // "Basic", "Digest MD5", "Digest SHA-256-sess", ...; empty for None.
    std::string Description() const;
    // The chosen Digest challenge says stale=true: the previous answer was
    // right, only its nonce had expired, so answering again with the new
    // nonce is worth it.
    bool Stale() const { return stale; }

    // The Authorization value for one request with the chosen challenge
    // (empty when none is chosen). Each Digest answer takes a new client
    // nonce and counts the nonce count up; the count starts at 1 for each new
    // server nonce. The user and password are used as given (UTF-8 bytes).
    Answer Authorize(std::string_view method, std::string_view requestTarget, std::string_view user,
                     std::string_view password);

    // The client-nonce source. Tests replace it to get the worked examples'
    // exact response; Reset returns to RandomClientNonce.
    using ClientNonceSource = std::string (*)();
    static void SetClientNonceSource(ClientNonceSource source);
    static void ResetClientNonceSource();
    // 16 bytes from the system's random source, as 32 hexadecimal digits.
    static std::string RandomClientNonce();

    static constexpr const char* kMask = "********";

private:
    struct Candidate {
        int rank = 0;  // 0: not supported
        Scheme scheme = Scheme::None;
        BRDigest::Algorithm hash = BRDigest::Algorithm::MD5;
        bool session = false;
        bool qop = false;
    };
    static Candidate Rate(const BRHTTPChallenge& challenge);
    Answer Basic(std::string_view user, std::string_view password) const;
    Answer Digest(std::string_view method, std::string_view requestTarget, std::string_view user,
                  std::string_view password);

    Scheme scheme = Scheme::None;
    BRDigest::Algorithm hash = BRDigest::Algorithm::MD5;
    bool session = false;
    bool qop = false;
    bool stale = false;
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm;  // as the challenge wrote it; empty when it named none

    std::string countedNonce;  // the server nonce that nonceCount counts for
    uint32_t nonceCount = 0;
};
