#include "http/BRHTTPLengthBody.h"

#include <algorithm>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "http/BRHTTPRedirect.h"
#include "net/BRStandardIOBufferTCPIP.h"

BRHTTPStep BRHTTPLengthBody::Begin(BRDataSourceDescriptor& d, BRDataBuffer& target, uint32_t headerBytes) {
    BRDataBuffer& work = *d.workBuffer;
    if (d.remaining != 0) {
        const uint32_t arrived = work.Size() - headerBytes;
        const uint32_t n = std::min(d.remaining, arrived);
        target.Append(work.Data() + headerBytes, n);
        d.remaining -= n;
    }
    work.Clear();
    if (d.remaining == 0) return BRHTTPRedirect::EndOfResponse(d);
    return std::nullopt;
}

BRHTTPStep BRHTTPLengthBody::Step(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    const bool peerGone = BRHTTPReader::Poll(d, false);
    BRDataBuffer& received = d.connection->ReceiveBuffer();
    const uint32_t n = received.Size();
    // More bytes than the body has left is not this response.
    if (n > d.remaining) return NILO_ERROR;
    if (n != 0) {
        target.Append(received.Data(), n);
        received.Consume(n);
        d.remaining -= n;
        if (d.remaining == 0) return BRHTTPRedirect::EndOfResponse(d);
    }
    // The body is incomplete and nothing more will come: a truncated body.
    if (peerGone) return BRHTTPReader::Fail(d);
    return std::nullopt;
}
