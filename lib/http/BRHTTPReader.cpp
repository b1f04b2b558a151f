#include "http/BRHTTPReader.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "diag/BRException.h"
#include "http/BRHTTPAuthentication.h"
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

// The most the work buffer holds: a part held back until its end is known,
// and what may come between two parts.
constexpr uint32_t kMostHeld = BRHTTPMultipartDecoder::kHoldLimit + BRHTTPMultipartDecoder::kHeaderLimit;

// A buffer that holds bytes for a later read (a part held back until its end
// is known) grows by as much again as it holds once its room runs low, so
// that holding a large part costs a few reallocations rather than one per
// granule; never beyond what a held part may take.
// While bytes keep coming fast (the receive room has grown), a buffer they
// pass through keeps its block: giving it back after each read and taking
// it again for the next costs more than the receive itself. Once they come
// slowly, it shrinks again as it empties.
void KeepBlock(BRDataBuffer& buffer, uint32_t room) {
    const bool fast = room > BRStandardIOBufferTCPIP::kLeastRoom;
    buffer.Keep(fast ? buffer.Size() + buffer.FreeSpace() : 0);
}

void KeepRoom(BRDataBuffer& buffer) {
    constexpr uint32_t kMost = kMostHeld;
    if (buffer.FreeSpace() >= buffer.Size() / 2 || buffer.Size() >= kMost) return;
    buffer.Reserve(std::min(buffer.Size(), kMost - buffer.Size()));
}

// How the body is delimited (RFC 9112 section 6.3): none (null) for 204 and
// 304; chunked when it is the last transfer coding, else the close; a
// multipart stream without chunked coding runs to its close delimiter,
// whatever Content-Length says; then Content-Length; then the close. Sets
// BR_DS_FAILED in flags when the header cannot frame a body.
std::unique_ptr<BRHTTPDecoder> Delimiter(const BRHTTPResponseHeader& header, bool multipart, uint32_t& flags) {
    const uint32_t status = header.StatusCode();
    if (status == 204 || status == 304) return nullptr;
    std::vector<std::string> codings;
    if (!header.TransferCodings(codings)) flags |= BR_DS_FAILED;
    if (header.Fields().Find("Transfer-Encoding") != nullptr) {
        if (codings.empty() || codings.back() != "chunked") return std::make_unique<BRHTTPCloseDecoder>();
        // Chunked applied twice cannot be undone by decoding it once.
        if (std::count(codings.begin(), codings.end(), "chunked") > 1) flags |= BR_DS_FAILED;
        flags |= BR_DS_CHUNKED;
        return std::make_unique<BRHTTPChunkedDecoder>();
    }
    if (multipart) return std::make_unique<BRHTTPCloseDecoder>();
    uint32_t length = 0;
    switch (header.ContentLength(length)) {
        case BRHTTPResponseHeader::Length::Valid:
            flags |= BR_DS_LENGTH;
            return std::make_unique<BRHTTPLengthDecoder>(length);
        case BRHTTPResponseHeader::Length::Invalid:
            flags |= BR_DS_FAILED;
            return nullptr;
        case BRHTTPResponseHeader::Length::Absent:
            break;
    }
    return std::make_unique<BRHTTPCloseDecoder>();
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

BRHTTPReader::Peer BRHTTPReader::Receive(BRDataSourceDescriptor& d, BRDataBuffer& into, uint32_t most,
                                         BRDataBuffer& target, uint32_t& received) {
    received = 0;
    d.connection->Flush();
    const uint32_t room = std::min(most, d.connection->ReceiveRoom());
    char* at = into.Reserve(room);
    // A caller that still has bytes to take must not wait for more.
    const int32_t wait = target.Size() != 0 ? 0 : BRStandardIOBufferTCPIP::kReadyWaitMilliseconds;
    try {
        d.connection->Receive(at, room, wait, received);
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
        const std::string request = BRHTTPRequest::Build(d.url, state.authorization.value);
        d.logEntry(state.authorization.value.empty() ? request
                                                     : BRHTTPRequest::Build(d.url, state.authorization.logged));
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
    BRDataBuffer& work = *d.workBuffer;
    uint32_t received = 0;
    const Peer peer = Receive(d, work, UINT32_MAX, target, received);
    work.Commit(received);
    // Interim responses (1xx) come before the final one; each round reads one.
    for (;;) {
        const std::string_view content(work.Data(), work.Size());
        size_t blockEnd = 0, next = 0;
        const BRHTTPText::End found = BRHTTPText::FindHeaderEnd(content, blockEnd, next);
        if (found == BRHTTPText::End::Never || blockEnd > kHeaderLimit) return Fail(d);
        if (found == BRHTTPText::End::NotYet) {
            // The server closed the connection it kept after a challenge
            // before it read the answer: the answer goes out again on a new one.
            if (peer == Peer::Closed && work.Size() == 0 && d.http->reusedConnection) return Reopen(d);
            if (work.Size() > kHeaderLimit || peer != Peer::Open) return Fail(d);
            return NILO_DATA;
        }
        const std::string_view block = content.substr(0, blockEnd);
        d.logEntry(block);

        BRHTTPResponseHeader header;
        d.statusCode = 0;
        // A failed header is not delivered; later reads report the failure.
        if (!header.Parse(block)) {
            d.flags |= BR_DS_FAILED;
            return NILO_DATA;
        }
        d.statusCode = header.StatusCode();
        if (d.statusCode / 100 == 1 && d.statusCode != 101) {
            work.Consume(static_cast<uint32_t>(next));
            continue;
        }
        if (!ChooseBody(d, header)) return NILO_DATA;
        work.Consume(static_cast<uint32_t>(next));
        BRHTTPReadState& state = *d.http;
        if (!state.transfer) {
            // No body: what follows the header is not this response's.
            work.Clear();
            return BRHTTPRedirect::EndOfResponse(d);
        }
        state.phase = BRHTTPReadState::Phase::Body;
        // The body bytes that came with the header.
        const uint32_t before = target.Size();
        const BRHTTPDecode result = Pump(d, work, state.skipBody ? *state.skipped : target, peer);
        KeepRoom(work);
        return Conclude(d, result, target.Size() != before);
    }
}

bool BRHTTPReader::ChooseBody(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header) {
    BRHTTPReadState& state = *d.http;
    const BRHTTPFields& fields = header.Fields();
    const uint32_t status = header.StatusCode();
    // The reader asks for no other protocol, so it cannot follow a switch.
    if (status == 101) d.flags |= BR_DS_FAILED;
    // A redirect that is followed: its body is read to its end, but the
    // caller gets only the target's. A 3xx without a Location is an
    // ordinary response. So is a 401 the source does not answer.
    if (BRHTTPRedirect::IsRedirect(status) && fields.Find("Location") != nullptr) {
        BRHTTPRedirect::TakeTarget(d, header);
        state.redirect = true;
    }
    if (status == 401) {
        const BRHTTPAuthentication::Decision decision = BRHTTPAuthentication::Decide(d, header);
        if (decision == BRHTTPAuthentication::Decision::Fail) d.flags |= BR_DS_FAILED;
        state.challenge = decision == BRHTTPAuthentication::Decision::Answer;
    }
    state.skipBody = state.redirect || state.challenge;
    if (state.skipBody) state.skipped = std::make_unique<BRDataBuffer>(kDecodedGranularity);

    std::string boundary;
    const std::string* contentType = fields.Find("Content-Type");
    const BRHTTPMediaType mediaType(contentType != nullptr ? *contentType : std::string());
    const bool multipart = mediaType.Is("multipart/x-mixed-replace") && !state.skipBody;
    if (multipart) {
        const std::string* parameter = mediaType.Parameter("boundary");
        if (parameter == nullptr || parameter->empty())
            d.flags |= BR_DS_FAILED;
        else
            boundary = *parameter;
    }

    state.transfer = Delimiter(header, multipart, d.flags);
    // A body delimited by the close leaves no connection to keep.
    state.keepAlive = header.KeepsConnection() && state.transfer && !state.transfer->PassesThrough();
    if (multipart && state.transfer) {
        d.flags |= BR_DS_MULTIPART;
        d.boundary = "--" + boundary;
        state.content = std::make_unique<BRHTTPMultipartDecoder>(
            boundary, [&d](std::string_view partHeader) { d.logEntry(partHeader); });
        if (!state.transfer->PassesThrough()) state.decoded = std::make_unique<BRDataBuffer>(kDecodedGranularity);
    }
    return !(d.flags & BR_DS_FAILED);
}

BRHTTPStep BRHTTPReader::BodyStep(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    BRHTTPReadState& state = *d.http;
    BRDataBuffer& work = *d.workBuffer;
    BRDataBuffer& out = state.skipBody ? *state.skipped : target;
    const uint32_t before = target.Size();
    // The decoder that reads the bytes as they come from the wire and hands
    // on what is the output's. Where it takes the next bytes unchanged (the
    // rest of a length, of a chunk, of a large part), they are received
    // straight into the output; the rest goes through the work buffer.
    BRHTTPDecoder* front = !state.content ? state.transfer.get() : state.decoded ? nullptr : state.content.get();
    const uint32_t straight = front != nullptr && work.Size() == 0 ? front->Straight() : 0;
    uint32_t received = 0;
    BRHTTPDecode result = BRHTTPDecode::NeedMore;
    Peer peer;
    if (straight != 0) {
        peer = Receive(d, out, straight == UINT32_MAX ? straight : straight + 1, target, received);
        const char* at = out.Data() + out.Size();
        const uint32_t taken = front->Took(received, result);
        if (received > taken && result != BRHTTPDecode::Bad) work.Append(at + taken, received - taken);
        out.Commit(taken);
    } else {
        // Never more than a held part may take: past that the stream fails anyway.
        peer = Receive(d, work, work.Size() < kMostHeld ? kMostHeld - work.Size() : 1, target, received);
        work.Commit(received);
    }
    if (result == BRHTTPDecode::NeedMore) result = Pump(d, work, out, peer);
    KeepRoom(work);
    if (state.decoded) KeepRoom(*state.decoded);
    const uint32_t room = d.connection->ReceiveRoom();
    for (BRDataBuffer* buffer : {&work, &target, state.decoded.get()})
        if (buffer != nullptr) KeepBlock(*buffer, room);
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
    if (state.skipBody) {
        state.skippedBytes += state.skipped->Size();
        state.skipped->Clear();
        if (result == BRHTTPDecode::Done && state.skippedBytes != 0)
            d.logEntry("(" + std::to_string(state.skippedBytes) + " bytes of body skipped)");
    }
    const bool multipart = state.content != nullptr;
    if (result == BRHTTPDecode::NeedMore) return multipart ? BRHTTPStep(NILO_MULTIPART) : std::nullopt;
    // Part bytes are always handed out with NILO_MULTIPART; the end, or the
    // failure, waits for the next read.
    if (multipart && handedOut) {
        state.pendingEnd = result;
        return NILO_MULTIPART;
    }
    if (result == BRHTTPDecode::Bad) return Fail(d);
    return state.challenge ? BRHTTPAuthentication::EndOfChallenge(d) : BRHTTPRedirect::EndOfResponse(d);
}

int32_t BRHTTPReader::Reopen(BRDataSourceDescriptor& d) {
    d.http->reusedConnection = false;
    d.connection.reset();
    d.connection = BRHTTPConnection::Connect(d.url);
    if (!d.connection) return Fail(d);
    d.flags &= ~static_cast<uint32_t>(BR_DS_REQUEST_SENT);
    return NILO_DATA;
}
