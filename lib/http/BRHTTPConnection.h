#pragma once

#include <memory>

#include "net/BRStandardIOBufferTCPIP.h"
#include "url/BRURL.h"

// Opens the TCP connection for a URL: converts its port text and connects a
// new socket to its host, wrapped in a polling I/O buffer of 8192/8192.
class BRHTTPConnection {
public:
    // Null when the host cannot be resolved or no address accepts the
    // connection (the socket has printed why). A port text that is not a
    // number raises std::invalid_argument, one beyond 32 bits std::out_of_range.
    static std::unique_ptr<BRStandardIOBufferTCPIP> Connect(const BRURL& url);

    static constexpr int32_t kGranularity = 8192;
};
