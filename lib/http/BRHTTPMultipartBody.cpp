#include "http/BRHTTPMultipartBody.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "http/BRHTTPReader.h"
#include "http/BRHTTPRedirect.h"
#include "http/BRHTTPText.h"

namespace {

// Never: a NUL byte came before the blank line, which can then never come.
enum class Header { NeedMore, Never, Close, Part, Bad };

// Looks at the front of the work buffer when a part header is due. A part
// header runs up to a blank line and must hold the boundary and, after it, a
// Content-Length of at most 32 bits. headerBytes is set to the bytes to drop.
Header ParsePartHeader(const std::string_view content, const std::string& boundary, uint32_t& length,
                       size_t& headerBytes) {
    // The close delimiter needs no blank line after it: servers send it, a
    // line end, and close.
    const std::string_view delimiter = content.substr(0, 2) == "\r\n" ? content.substr(2) : content;
    const std::string close = boundary + "--";
    if (delimiter.substr(0, close.size()) == close) {
        headerBytes = content.size();
        return Header::Close;
    }
    size_t end = 0;
    const BRHTTPText::End found = BRHTTPText::FindEnd(content, "\r\n\r\n", end);
    if (found == BRHTTPText::End::Never) return Header::Never;
    if (found == BRHTTPText::End::NotYet) return Header::NeedMore;
    headerBytes = end + 4;

    const std::string_view header = content.substr(0, end);
    const size_t at = header.find(boundary);
    if (at == std::string_view::npos) return Header::Bad;
    static constexpr std::string_view kName = "content-length:";
    const std::string lowered = BRHTTPText::Lower(header);
    const size_t name = lowered.find(kName);
    if (name == std::string::npos || name <= at) return Header::Bad;
    int64_t value = 0;
    const size_t digits = BRHTTPText::SkipSpaces(header, name + kName.size());
    if (BRHTTPText::DecimalI64(header.substr(digits), value) != BRHTTPText::Number::Ok) return Header::Bad;
    // A length that does not fit the 4-byte record would cut the stream at
    // the wrong place.
    if (value < 0 || value > INT64_C(0xFFFFFFFF)) return Header::Bad;
    length = static_cast<uint32_t>(value);
    return Header::Part;
}

void AppendLength(BRDataBuffer& target, uint32_t length) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                                    static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    target.Append(bytes, 4);
}

}  // namespace

int32_t BRHTTPMultipartBody::Step(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    if (d.flags & BR_DS_STREAM_ENDED) return BRHTTPRedirect::EndOfResponse(d);
    const bool peerGone = BRHTTPReader::Poll(d, true);
    BRDataBuffer& work = *d.workBuffer;
    // A read that hands part bytes to the caller reports NILO_MULTIPART; the
    // end of the stream, or its failure, is left for the next read. So no
    // part byte is ever handed out as if the source were not multipart.
    const uint32_t before = target.Size();
    auto handedOut = [&] { return target.Size() != before; };
    auto endOfStream = [&]() -> int32_t {
        if (!handedOut()) return BRHTTPRedirect::EndOfResponse(d);
        d.flags |= BR_DS_STREAM_ENDED;
        return NILO_MULTIPART;
    };

    for (;;) {
        if (d.remaining != 0) {
            if (work.Size() == 0) break;
            const uint32_t k = std::min(d.remaining, work.Size());
            target.Append(work.Data(), k);
            work.Consume(k);
            d.remaining -= k;
            if (d.remaining != 0) break;
        }

        const std::string_view content(work.Data(), work.Size());
        uint32_t length = 0;
        size_t headerBytes = 0;
        const Header header = ParsePartHeader(content, d.boundary, length, headerBytes);
        if (header == Header::NeedMore && work.Size() <= BRHTTPReader::kHeaderLimit) break;
        if (header == Header::NeedMore || header == Header::Never)
            return handedOut() ? NILO_MULTIPART : BRHTTPReader::Fail(d);
        if (header == Header::Close) {
            work.Clear();
            return endOfStream();
        }
        // A bad part header fails the stream in the next read, which meets it again.
        if (header == Header::Bad && handedOut()) return NILO_MULTIPART;
        d.logEntry(content.substr(0, headerBytes - 4));
        work.Consume(static_cast<uint32_t>(headerBytes));
        if (header == Header::Bad) return BRHTTPReader::Fail(d);

        d.remaining = length;
        AppendLength(target, length);
        if (d.remaining == 0) return endOfStream();
    }
    // The stream has no end of its own before its close delimiter, so a peer
    // that is gone leaves it incomplete. The next read meets the same peer.
    if (peerGone && !handedOut()) return BRHTTPReader::Fail(d);
    return NILO_MULTIPART;
}
