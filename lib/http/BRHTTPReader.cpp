#include "http/BRHTTPReader.h"

#include <string_view>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "diag/BRException.h"
#include "http/BRHTTPChunkedBody.h"
#include "http/BRHTTPConnection.h"
#include "http/BRHTTPLengthBody.h"
#include "http/BRHTTPMultipartBody.h"
#include "http/BRHTTPRedirect.h"
#include "http/BRHTTPRequest.h"
#include "http/BRHTTPResponseHeader.h"
#include "http/BRHTTPText.h"
#include "net/BRStandardIOBufferTCPIP.h"

namespace {

constexpr uint32_t kPhaseMask = 0x3E;  // every flag but BR_DS_OPEN
constexpr uint32_t kHeaderPhase = BR_DS_REQUEST_SENT;
constexpr uint32_t kLengthPhase = BR_DS_REQUEST_SENT | BR_DS_LENGTH;
constexpr uint32_t kChunkedPhase = BR_DS_REQUEST_SENT | BR_DS_CHUNKED;
constexpr uint32_t kMultipartPhase = BR_DS_REQUEST_SENT | BR_DS_MULTIPART;

enum class Framing { None, Length, Chunked, Multipart, NoBody };

}  // namespace

void BRHTTPReader::Open(BRDataSourceDescriptor& d) {
    d.connection = BRHTTPConnection::Connect(d.url);
    if (!d.connection) throw BRException("can't connect to host", __LINE__, "src");
    d.workBuffer = std::make_unique<BRDataBuffer>(16384);
    d.flags |= BR_DS_OPEN;
    d.redirectCount = 0;
}

bool BRHTTPReader::Poll(BRDataSourceDescriptor& d, bool intoWorkBuffer) {
    bool peerGone = false;
    d.connection->Flush();
    try {
        d.connection->Poll();
    } catch (...) {
        // A poll raises only for a closed or idle peer; the bytes buffered so
        // far are still handled, and the caller decides whether they suffice.
        peerGone = true;
    }
    if (intoWorkBuffer) {
        BRDataBuffer& received = d.connection->ReceiveBuffer();
        d.workBuffer->Append(received.Data(), received.Size());
        received.Clear();
    }
    return peerGone;
}

int32_t BRHTTPReader::Fail(BRDataSourceDescriptor& d) {
    d.flags |= BR_DS_FAILED;
    return NILO_ERROR;
}

int32_t BRHTTPReader::ReadStep(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    if (d.url.direction != BR_PROTOCOL_IN || !d.connection || !d.workBuffer || (d.flags & BR_DS_FAILED))
        return NILO_ERROR;

    if (!(d.flags & BR_DS_REQUEST_SENT)) {
        const std::string request = BRHTTPRequest::Build(d.url);
        d.logEntry(request);
        d.connection->SendBuffer().Append(request.data(), static_cast<uint32_t>(request.size()));
        d.connection->Flush();
        d.flags |= BR_DS_REQUEST_SENT;
    }

    if ((d.flags & kPhaseMask) == kHeaderPhase) {
        if (BRHTTPStep done = HeaderPhase(d, target)) return *done;
    }
    switch (d.flags & kPhaseMask) {
        case kLengthPhase:
            if (BRHTTPStep done = BRHTTPLengthBody::Step(d, target)) return *done;
            break;
        case kChunkedPhase:
            if (BRHTTPStep done = BRHTTPChunkedBody::Step(d, target)) return *done;
            break;
        case kMultipartPhase:
            return BRHTTPMultipartBody::Step(d, target);
        default:
            break;
    }
    return NILO_DATA;
}

BRHTTPStep BRHTTPReader::HeaderPhase(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    const bool peerGone = Poll(d, true);
    BRDataBuffer& work = *d.workBuffer;
    const std::string_view content(work.Data(), work.Size());
    size_t end = 0;
    const BRHTTPText::End found = BRHTTPText::FindEnd(content, "\r\n\r\n", end);
    if (found == BRHTTPText::End::Never) return Fail(d);
    if (found == BRHTTPText::End::NotYet) {
        if (work.Size() > kHeaderLimit || peerGone) return Fail(d);
        return NILO_DATA;
    }

    const BRHTTPResponseHeader header(content.substr(0, end));
    d.logEntry(header.Block());

    d.statusCode = 0;
    if (!header.StatusCode(d.statusCode)) d.flags |= BR_DS_FAILED;
    if (BRHTTPRedirect::IsRedirect(d.statusCode)) BRHTTPRedirect::TakeTarget(d, header);

    Framing framing = Framing::None;
    const size_t encoding = header.Find("transfer-encoding:");
    const size_t contentType = header.Find("content-type:");
    const size_t multipart =
        contentType == std::string::npos ? std::string::npos : header.Find("multipart/x-mixed-replace", contentType);
    const size_t length = header.Find("content-length:");
    if (encoding != std::string::npos) {
        if (header.LoweredValue(encoding, "transfer-encoding:").find("chunked") != std::string::npos) {
            d.flags |= BR_DS_CHUNKED;
            d.remaining = 0;
            framing = Framing::Chunked;
        } else {
            framing = Framing::NoBody;
        }
    } else if (multipart != std::string::npos) {
        d.flags |= BR_DS_MULTIPART;
        if (!header.Boundary(multipart, d.boundary)) d.flags |= BR_DS_FAILED;
        d.remaining = 0;
        framing = Framing::Multipart;
    } else if (length != std::string::npos) {
        if (!(d.flags & BR_DS_FAILED)) {
            d.flags |= BR_DS_LENGTH;
            if (!header.ContentLength(length, d.remaining)) d.flags |= BR_DS_FAILED;
            framing = Framing::Length;
        }
    } else {
        d.flags |= BR_DS_FAILED;
    }

    if (!(d.flags & BR_DS_FAILED)) {
        const uint32_t headerBytes = static_cast<uint32_t>(end + 4);
        switch (framing) {
            case Framing::Length:
                if (BRHTTPStep done = BRHTTPLengthBody::Begin(d, target, headerBytes)) return done;
                break;
            case Framing::NoBody:
                work.Clear();
                return BRHTTPRedirect::EndOfResponse(d);
            case Framing::Chunked:
            case Framing::Multipart:
                // What follows the header stays as the start of the body.
                work.Consume(headerBytes);
                break;
            case Framing::None:
                break;
        }
    }
    if (work.Size() > kHeaderLimit) return Fail(d);
    return std::nullopt;
}
