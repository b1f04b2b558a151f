#pragma once

#include <cstdint>

class BRDataSourceDescriptor;
class BRHTTPResponseHeader;
class BRURL;

// Answering a 401 challenge with the source's credentials. The first request
// of a connection never carries them; a 401 whose challenge the reader can
// answer is read to its end (its body skipped) and the request is sent again
// with an Authorization line, on the same connection when the server keeps
// it, else on a new one. A second 401 for the answered request ends the
// source, unless the first answer was a Digest answer whose nonce had only
// gone stale, which is answered once more. Credentials go only to the
// scheme, host and port of the URL the source was opened with.
class BRHTTPAuthentication {
public:
    enum class Decision { Deliver, Answer, Fail };

    // What to do with a 401 response: deliver it as an ordinary response
    // (no credentials, another origin, no challenge the reader can answer),
    // answer it at its end (the answer is prepared in the read state), or
    // fail the source (a second refusal).
    static Decision Decide(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header);

    // Runs when the challenge's body has been read: the request goes out
    // again with the answer. NILO_DATA, or NILO_ERROR when no connection
    // can be had.
    static int32_t EndOfChallenge(BRDataSourceDescriptor& d);

    // Same scheme, host (in any letter case) and port.
    static bool SameOrigin(const BRURL& a, const BRURL& b);
};
