#pragma once

#include <cstdint>

#include "http/BRHTTPReader.h"

class BRDataSourceDescriptor;
class BRHTTPResponseHeader;

// Redirects: a 301, 302 or 303 response names its target in Location, which is
// followed on a new connection once the response is complete (its own body is
// read and skipped). Three redirects per descriptor are followed; the fourth
// raises "too much redirections".
class BRHTTPRedirect {
public:
    static bool IsRedirect(uint32_t statusCode) { return statusCode == 301 || statusCode == 302 || statusCode == 303; }
    // Resolves Location into the descriptor's redirect target; a refused
    // Location fails the response. An "https" target raises the int 22.
    static void TakeTarget(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header);
    // Runs when a response is complete: NILO_END, or, for a redirect whose
    // target was taken, NILO_REDIRECTED after connecting to the target
    // (NILO_ERROR when that connection fails).
    static int32_t EndOfResponse(BRDataSourceDescriptor& d);

    static constexpr int32_t kMaxRedirects = 3;
    static constexpr int kHttpsTarget = 22;
};
