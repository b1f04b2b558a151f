#pragma once

#include <deque>
#include <mutex>
#include <string>

// The credentials check of camera_server: Basic (RFC 7617) or Digest
// (RFC 7616, qop=auth, SHA-256 and MD5). It checks an answer exactly: the
// Digest response is recomputed from the nc and cnonce as sent, the nonce
// must be one it issued, the uri the request's target, the realm, opaque,
// qop and algorithm those it offered. Shared by all connections of a server,
// so a client may answer on another connection than the one challenged.
class CameraAuth {
public:
    enum class Scheme { None, Basic, Digest };
    enum class Verdict { Granted, Refused, Stale };

    static const char* const realm;

    // staleOnce: the first correct Digest answer is refused as stale (its
    // nonce expired), so that a client must answer again with a new nonce.
    CameraAuth(Scheme scheme, std::string user, std::string password, bool staleOnce);

    bool enabled() const { return scheme != Scheme::None; }

    // Checks the Authorization field of a request header block (request line
    // included) for a GET of `target`.
    Verdict check(const std::string& method, const std::string& target, const std::string& headerBlock);

    // The WWW-Authenticate lines of a 401, each ending in "\r\n". For Digest
    // two challenges, SHA-256 then MD5, with one fresh nonce.
    std::string challenge(bool stale);

private:
    Verdict checkDigest(const std::string& method, const std::string& target, const std::string& credentials);

    Scheme scheme;
    std::string user;
    std::string password;
    bool staleOnce;
    std::string opaque;

    std::mutex lock;
    std::deque<std::string> nonces;  // issued and not yet expired, the newest last
    bool staleSent = false;
};
