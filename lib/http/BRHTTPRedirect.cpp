#include "http/BRHTTPRedirect.h"

#include <iostream>
#include <string>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "diag/BRException.h"
#include "http/BRHTTPConnection.h"
#include "http/BRHTTPResponseHeader.h"

void BRHTTPRedirect::TakeTarget(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header) {
    const size_t location = header.Find("location:");
    if (location == std::string::npos) {
        d.flags |= BR_DS_FAILED;
        return;
    }
    try {
        d.redirectURL = BRURL(header.Location(location), d.url.direction);
    } catch (const BRException&) {
        // A relative reference or a malformed URL cannot be followed.
        d.flags |= BR_DS_FAILED;
    }
    // Nothing here speaks TLS. The header stays unconsumed, so a later read
    // meets the same target and raises again.
    if (d.redirectURL.type == BR_URL_HTTPS) throw kHttpsTarget;
}

int32_t BRHTTPRedirect::EndOfResponse(BRDataSourceDescriptor& d) {
    if (!IsRedirect(d.statusCode)) return NILO_END;

    d.url = d.redirectURL;
    d.connection.reset();
    d.workBuffer.reset();
    d.connection = BRHTTPConnection::Connect(d.url);
    if (!d.connection) {
        // The target cannot be reached: without a connection every later
        // read reports NILO_ERROR.
        d.flags = BR_DS_OPEN | BR_DS_FAILED;
        return NILO_ERROR;
    }
    d.workBuffer = std::make_unique<BRDataBuffer>(16384);
    ++d.redirectCount;
    d.flags = BR_DS_OPEN;
    std::cout << ("redircounter: " + std::to_string(d.redirectCount) + "\n") << std::flush;  // one write: lines stay whole
    if (d.redirectCount > kMaxRedirects) {
        // The source has failed: a caller that reads on gets NILO_ERROR
        // instead of sending the request and following the next redirect,
        // which would let a server keep it reconnecting for ever.
        d.flags |= BR_DS_FAILED;
        throw BRException("too much redirections", __LINE__, "src");
    }
    return NILO_REDIRECTED;
}
