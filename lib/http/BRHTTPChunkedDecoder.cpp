#include "http/BRHTTPChunkedDecoder.h"

#include <algorithm>
#include <string_view>

#include "http/BRHTTPText.h"
#include "net/BRDataBuffer.h"

BRHTTPDecode BRHTTPChunkedDecoder::Decode(BRDataBuffer& in, BRDataBuffer& out) {
    if (done) return BRHTTPDecode::Done;
    const std::string_view input(in.Data(), in.Size());
    size_t at = 0;  // bytes of the input taken so far, consumed once at the end
    BRHTTPDecode result = BRHTTPDecode::NeedMore;
    for (;;) {
        if (remaining == 0) {
            const std::string_view rest = input.substr(at);
            size_t lineEnd = 0;
            const BRHTTPText::End found = BRHTTPText::FindEnd(rest, "\r\n", lineEnd);
            if (found == BRHTTPText::End::Never) {
                result = BRHTTPDecode::Bad;
                break;
            }
            if (found == BRHTTPText::End::NotYet) {
                if (rest.size() > kLineLimit) result = BRHTTPDecode::Bad;
                break;
            }
            uint32_t size = 0;
            const BRHTTPText::Number read = BRHTTPText::HexU32(rest.substr(0, lineEnd), size);
            at += lineEnd + 2;
            // The size must leave room for the line end after the data.
            if (read != BRHTTPText::Number::Ok || size > UINT32_MAX - 2) {
                result = BRHTTPDecode::Bad;
                break;
            }
            // The last chunk; trailer lines are not read.
            if (size == 0) {
                done = true;
                result = BRHTTPDecode::Done;
                break;
            }
            remaining = size + 2;
        }
        if (at == input.size()) break;
        // The last two bytes of each chunk are its line end, dropped unread.
        const uint32_t k = static_cast<uint32_t>(std::min<size_t>(remaining, input.size() - at));
        const uint32_t dataLeft = remaining > 2 ? remaining - 2 : 0;
        out.Append(input.data() + at, std::min(k, dataLeft));
        at += k;
        remaining -= k;
        if (remaining != 0) break;
    }
    in.Consume(static_cast<uint32_t>(at));
    return result;
}

// The peer closed before the last chunk: the body is cut short.
BRHTTPDecode BRHTTPChunkedDecoder::Finish(BRDataBuffer&, BRDataBuffer&, bool) {
    return done ? BRHTTPDecode::Done : BRHTTPDecode::Bad;
}
