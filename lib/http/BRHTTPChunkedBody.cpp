#include "http/BRHTTPChunkedBody.h"

#include <algorithm>
#include <string_view>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "http/BRHTTPRedirect.h"
#include "http/BRHTTPText.h"

BRHTTPStep BRHTTPChunkedBody::Step(BRDataSourceDescriptor& d, BRDataBuffer& target) {
    const bool peerGone = BRHTTPReader::Poll(d, true);
    BRDataBuffer& work = *d.workBuffer;
    for (;;) {
        if (d.remaining == 0) {
            const std::string_view content(work.Data(), work.Size());
            size_t lineEnd = 0;
            const BRHTTPText::End found = BRHTTPText::FindEnd(content, "\r\n", lineEnd);
            if (found == BRHTTPText::End::Never) return BRHTTPReader::Fail(d);
            if (found == BRHTTPText::End::NotYet) {
                if (work.Size() > BRHTTPReader::kHeaderLimit) return BRHTTPReader::Fail(d);
                break;
            }
            uint32_t size = 0;
            const BRHTTPText::Number read = BRHTTPText::HexU32(content.substr(0, lineEnd), size);
            work.Consume(static_cast<uint32_t>(lineEnd + 2));
            // The size must leave room for the line end after the data.
            if (read != BRHTTPText::Number::Ok || size > UINT32_MAX - 2) return BRHTTPReader::Fail(d);
            // The last chunk; trailer lines are not read.
            if (size == 0) return BRHTTPRedirect::EndOfResponse(d);
            d.remaining = size + 2;
        }
        if (work.Size() == 0) break;
        // The last two bytes of each chunk are its line end, dropped unread.
        const uint32_t k = std::min(d.remaining, work.Size());
        const uint32_t dataLeft = d.remaining > 2 ? d.remaining - 2 : 0;
        target.Append(work.Data(), std::min(k, dataLeft));
        work.Consume(k);
        d.remaining -= k;
        if (d.remaining != 0) break;
    }
    if (peerGone) return BRHTTPReader::Fail(d);
    return std::nullopt;
}
