#include "http/BRHTTPRedirect.h"

#include <string>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "diag/BRConsole.h"
#include "diag/BRException.h"
#include "http/BRHTTPConnection.h"
#include "http/BRHTTPReadState.h"
#include "http/BRHTTPResponseHeader.h"
#include "url/BRURLReference.h"

void BRHTTPRedirect::TakeTarget(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header) {
    const std::string* location = header.Fields().Find("Location");
    if (location == nullptr) return;
    try {
        // A relative reference ("/login", "next.html") names a target on the
        // server that sent it.
        d.redirectURL = BRURLReference::Resolve(d.url, *location, d.url.direction);
    } catch (const BRException&) {
        // A malformed URL cannot be followed.
        d.flags |= BR_DS_FAILED;
    }
    // Nothing here speaks TLS. The header stays unconsumed, so a later read
    // meets the same target and raises again.
    if (d.redirectURL.type == BR_URL_HTTPS) throw kHttpsTarget;
}

int32_t BRHTTPRedirect::EndOfResponse(BRDataSourceDescriptor& d) {
    if (!d.http->redirect) return NILO_END;

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
    d.http = std::make_unique<BRHTTPReadState>();
    ++d.redirectCount;
    d.flags = BR_DS_OPEN;
    BRConsole::Out("redircounter: " + std::to_string(d.redirectCount));
    if (d.redirectCount > kMaxRedirects) {
        // The source has failed: a caller that reads on gets NILO_ERROR
        // instead of sending the request and following the next redirect,
        // which would let a server keep it reconnecting for ever.
        d.flags |= BR_DS_FAILED;
        throw BRException("too much redirections", __LINE__, "src");
    }
    return NILO_REDIRECTED;
}
