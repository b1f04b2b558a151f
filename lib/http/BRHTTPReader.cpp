#include "http/BRHTTPReader.h"

#include <algorithm>
#include <string_view>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "diag/BRException.h"
#include "http/BRHTTPChunkedDecoder.h"
#include "http/BRHTTPCloseDecoder.h"
#include "http/BRHTTPConnection.h"
#include "http/BRHTTPLengthDecoder.h"
#include "http/BRHTTPMediaType.h"
#include "http/BRHTTPMultipartDecoder.h"
#include "http/BRHTTPReadState.h"
#include "http/BRHTTPRedirect.h"
#include "http/BRHTTPRequest.h"
#include "http/BRHTTPResponseHeader.h"
#include "http/BRHTTPText.h"
#include "net/BRStandardIOBufferTCPIP.h"

namespace {

constexpr uint32_t kDecodedGranularity = 16384;

// A buffer that holds bytes for a later read (a part held back until its end
// is known) grows by as much again as it holds once its room runs low, so
// that holding a large part costs a few reallocations rather than one per
// granule; never beyond what a held part may take.
void KeepRoom(BRDataBuffer& buffer) {
    constexpr uint32_t kMost = BRHTTPMultipartDecoder::kHoldLimit + BRHTTPMultipartDecoder::kHeaderLimit;
    if (buffer.FreeSpace() >= buffer.Size() / 2 || buffer.Size() >= kMost) return;
    buffer.Reserve(std::min(buffer.Size(), kMost - buffer.Size()));
}

void MoveAll(BRDataBuffer& from, BRDataBuffer& to) {
    to.Append(from.Data(), from.Size());
    from.Clear();
}

}  // namespace

void BRHTTPReader::Open(BRDataSourceDescriptor& d) {
    d.connection = BRHTTPConnection::Connect(d.url);
    if (!d.connection) throw BRException("can't connect to host", __LINE__, "src");
    d.workBuffer = std::make_unique<BRDataBuffer>(16384);
    d.http = std::make_unique<BRHTTPReadState>();
    d.flags |= BR_DS_OPEN;
    d.redirectCount = 0;
}

BRHTTPReader::Peer BRHTTPReader::Poll(BRDataSourceDescriptor& d) {
    d.connection->Flush();
    try {
        d.connection->Poll();
    } catch (...) {
        // A poll raises only for a peer that has closed or has been idle past
        // the limit; the bytes buffered so far are still handled.
        return d.connection->PeerClosed() ? Peer::Closed : Peer::Idle;
    }
    return Peer::Open;
}

int32_t BRHTTPReader::Fail(BRDataSourceDescriptor& d) {
    d.flags |= BR_DS_FAILED;
    return NILO_ERROR;
}

int32_t BRHTTPReader::ReadStep(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    if (d.url.direction != BR_PROTOCOL_IN || !d.connection || !d.workBuffer || !d.http || (d.flags & BR_DS_FAILED))
        return NILO_ERROR;

    BRHTTPReadState& state = *d.http;
    if (state.pendingEnd) {
        const BRHTTPDecode end = *state.pendingEnd;
        state.pendingEnd.reset();
        return end == BRHTTPDecode::Done ? BRHTTPRedirect::EndOfResponse(d) : Fail(d);
    }

    if (!(d.flags & BR_DS_REQUEST_SENT)) {
        const std::string request = BRHTTPRequest::Build(d.url);
        d.logEntry(request);
        d.connection->SendBuffer().Append(request.data(), static_cast<uint32_t>(request.size()));
        d.connection->Flush();
        d.flags |= BR_DS_REQUEST_SENT;
    }

    if (state.phase == BRHTTPReadState::Phase::Header) {
        if (BRHTTPStep done = HeaderPhase(d, target)) return *done;
    }
    if (BRHTTPStep done = BodyStep(d, target)) return *done;
    return NILO_DATA;
}

BRHTTPStep BRHTTPReader::HeaderPhase(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    const Peer peer = Poll(d);
    BRDataBuffer& work = *d.workBuffer;
    MoveAll(d.connection->ReceiveBuffer(), work);
    const std::string_view content(work.Data(), work.Size());
    size_t end = 0;
    const BRHTTPText::End found = BRHTTPText::FindEnd(content, "\r\n\r\n", end);
    if (found == BRHTTPText::End::Never) return Fail(d);
    if (found == BRHTTPText::End::NotYet) {
        if (work.Size() > kHeaderLimit || peer != Peer::Open) return Fail(d);
        return NILO_DATA;
    }

    const BRHTTPResponseHeader header(content.substr(0, end));
    d.logEntry(header.Block());

    d.statusCode = 0;
    if (!header.StatusCode(d.statusCode)) d.flags |= BR_DS_FAILED;
    if (BRHTTPRedirect::IsRedirect(d.statusCode)) BRHTTPRedirect::TakeTarget(d, header);

    // How the body is delimited, and whether it is a multipart stream.
    BRHTTPReadState& state = *d.http;
    bool hasBody = true;
    std::string boundary;
    const size_t contentType = header.Find("content-type:");
    const BRHTTPMediaType mediaType(contentType == std::string::npos ? std::string()
                                                                     : header.Value(contentType, "content-type:"));
    const bool multipart = mediaType.Is("multipart/x-mixed-replace");
    if (multipart) {
        const std::string* parameter = mediaType.Parameter("boundary");
        if (parameter == nullptr || parameter->empty())
            d.flags |= BR_DS_FAILED;
        else
            boundary = *parameter;
    }
    const size_t encoding = header.Find("transfer-encoding:");
    const size_t length = header.Find("content-length:");
    if (encoding != std::string::npos) {
        if (header.LoweredValue(encoding, "transfer-encoding:").find("chunked") != std::string::npos) {
            d.flags |= BR_DS_CHUNKED;
            state.transfer = std::make_unique<BRHTTPChunkedDecoder>();
        } else {
            hasBody = false;
        }
    } else if (multipart) {
        // A multipart stream without chunked coding runs to its close
        // delimiter; any Content-Length beside it is not its length.
        state.transfer = std::make_unique<BRHTTPCloseDecoder>();
    } else if (length != std::string::npos) {
        uint32_t bodyLength = 0;
        if (!(d.flags & BR_DS_FAILED)) {
            d.flags |= BR_DS_LENGTH;
            if (!header.ContentLength(length, bodyLength)) d.flags |= BR_DS_FAILED;
        }
        state.transfer = std::make_unique<BRHTTPLengthDecoder>(bodyLength);
    } else {
        state.transfer = std::make_unique<BRHTTPCloseDecoder>();
    }
    if (multipart && hasBody) {
        d.flags |= BR_DS_MULTIPART;
        d.boundary = "--" + boundary;
        state.content = std::make_unique<BRHTTPMultipartDecoder>(
            boundary, [&d](std::string_view partHeader) { d.logEntry(partHeader); });
        if (!state.transfer->PassesThrough()) state.decoded = std::make_unique<BRDataBuffer>(kDecodedGranularity);
    }

    // A failed header is not delivered; later reads report the failure.
    if (d.flags & BR_DS_FAILED) return work.Size() > kHeaderLimit ? Fail(d) : NILO_DATA;
    work.Consume(static_cast<uint32_t>(end + 4));
    if (!hasBody) {
        work.Clear();
        return BRHTTPRedirect::EndOfResponse(d);
    }
    state.phase = BRHTTPReadState::Phase::Body;
    // The body bytes that came with the header.
    const uint32_t before = target.Size();
    const BRHTTPDecode result = Pump(d, work, target, peer);
    KeepRoom(work);
    return Conclude(d, result, target.Size() != before);
}

BRHTTPStep BRHTTPReader::BodyStep(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    const Peer peer = Poll(d);
    BRDataBuffer& received = d.connection->ReceiveBuffer();
    BRDataBuffer& work = *d.workBuffer;
    // Bytes go from the receive side straight into the decoders; what they
    // leave for a later read waits in the work buffer.
    BRDataBuffer* in = &received;
    if (work.Size() != 0) {
        MoveAll(received, work);
        in = &work;
    }
    const uint32_t before = target.Size();
    const BRHTTPDecode result = Pump(d, *in, target, peer);
    if (received.Size() != 0) MoveAll(received, work);
    KeepRoom(work);
    if (d.http->decoded) KeepRoom(*d.http->decoded);
    return Conclude(d, result, target.Size() != before);
}

BRHTTPDecode BRHTTPReader::Pump(BRDataSourceDescriptor& d, BRDataBuffer& in, BRDataBuffer& target, Peer peer) {
    BRHTTPReadState& state = *d.http;
    BRHTTPDecoder& transfer = *state.transfer;
    const bool ended = peer != Peer::Open;
    if (!state.content) {
        BRHTTPDecode result = transfer.Decode(in, target);
        if (result == BRHTTPDecode::NeedMore && ended)
            result = peer == Peer::Closed ? transfer.Finish(in, target, false) : BRHTTPDecode::Bad;
        return result;
    }

    // The content layer reads what the transfer layer decoded, or the
    // input itself when the transfer layer passes it through unchanged.
    BRDataBuffer& middle = state.decoded ? *state.decoded : in;
    BRHTTPDecode delimited = BRHTTPDecode::NeedMore;
    if (state.decoded) delimited = transfer.Decode(in, middle);
    if (delimited == BRHTTPDecode::NeedMore && ended) {
        if (peer == Peer::Idle)
            delimited = BRHTTPDecode::Bad;
        else
            delimited = state.decoded ? transfer.Finish(in, middle, false) : BRHTTPDecode::Done;
    }
    const BRHTTPDecode cut = state.content->Decode(middle, target);
    if (cut != BRHTTPDecode::NeedMore || delimited == BRHTTPDecode::NeedMore) return cut;
    // The body has ended, where its framing said or cut off: the content
    // layer hands out what it holds.
    const BRHTTPDecode last =
        state.content->Finish(middle, target, delimited == BRHTTPDecode::Done && transfer.EndsExplicitly());
    return delimited == BRHTTPDecode::Bad ? BRHTTPDecode::Bad : last;
}

BRHTTPStep BRHTTPReader::Conclude(BRDataSourceDescriptor& d, BRHTTPDecode result, bool handedOut) {
    BRHTTPReadState& state = *d.http;
    d.remaining = state.content ? state.content->Remaining() : state.transfer->Remaining();
    const bool multipart = state.content != nullptr;
    if (result == BRHTTPDecode::NeedMore) return multipart ? BRHTTPStep(NILO_MULTIPART) : std::nullopt;
    // Part bytes are always handed out with NILO_MULTIPART; the end, or the
    // failure, waits for the next read.
    if (multipart && handedOut) {
        state.pendingEnd = result;
        return NILO_MULTIPART;
    }
    return result == BRHTTPDecode::Done ? BRHTTPRedirect::EndOfResponse(d) : Fail(d);
}
